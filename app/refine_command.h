#pragma once
// The window's side of Refine: the job runs on a worker thread while a window-modal progress
// dialog offers Cancel (the views keep repainting), and the matched samples become dots for the
// solved view.

#include "panel_gl_area.h"
#include "refine_driver.h"

class QWidget;

// The outcome of the job; cancelled when the user pressed Cancel (nothing is to be applied then).
RefineOutcome runRefineWithProgress(QWidget* parent, const RefineJob& job);

// A dot halfway between the two sides of each matched sample, green where they meet, turning to
// red as their distance reaches the contact distance.
std::vector<PanelGLArea::Dot> matchDots(const RefineOutcome& outcome, double contactDistance);
