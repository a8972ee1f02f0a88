#pragma once
// Text in the 3D views: the id labels of constraints, placed the same way in every view (working
// areas, solved area, zoom window), and the title line in a view's top-left corner.

#include "geometry_types.h"

#include <Eigen/Core>
#include <QFont>
#include <QPointF>
#include <QString>
#include <array>
#include <vector>

class QFontMetricsF;
class QPainter;

// The font of all view text: "Helvetica" (or DejaVu Sans where it is missing), 12 pixels.
QFont sceneLabelFont();

// Where a labelled scene point and the sphere drawn around it land in the window: device pixels,
// x from the left, y from the bottom.
struct WindowDisc {
    Eigen::Vector2d centre;
    double radius = 0.0;
};

// The disc of point p with a sphere of sceneRadius (scene units, 0 for none) around it, in a frame
// drawn with these matrices (column vectors) and viewport (x, y, width, height). False when p lies
// behind the eye.
bool projectDisc(const Point3d& p, double sceneRadius, const Eigen::Matrix4d& projection,
                 const Eigen::Matrix4d& modelView, const std::array<int, 4>& viewport, WindowDisc& out);

// A label to place: the centre and on-screen radius of the sphere it names (widget pixels, y down
// from the top; radius 0 where no sphere is drawn) and its text.
struct LabelSpot {
    QPointF centre;
    double radius = 0.0;
    QString text;
};

// The spot of disc d on a widget of that height (widget pixels) and device pixel ratio.
LabelSpot labelSpot(const WindowDisc& d, double widgetHeight, double pixelRatio, const QString& text);

// Gap in pixels between a sphere and its label.
constexpr double LabelGap = 2.0;

// The baseline origin of each label's text, in spot order. The labels of coincident points (closer
// than half a pixel) form one block, one line each in spot order. A block stands LabelGap pixels
// right of its sphere, its first line's digits centred vertically on the sphere's centre. Where
// that would cover a block placed before or another sphere, it stands left of the sphere instead,
// or on either side moved up or down by a few whole lines, the nearest free place first; where
// none is free, right of the sphere and moved down until it overlaps no label.
std::vector<QPointF> placeLabels(const std::vector<LabelSpot>& spots, const QFontMetricsF& metrics);

// Draws the labels where placeLabels puts them, white, in sceneLabelFont(). The painter must not
// be in native painting.
void drawLabels(QPainter& painter, const std::vector<LabelSpot>& spots);

// One line of text in the top-left corner, as the views title their content: with a = half the
// font's ascent, a pixels from the left edge and the baseline 4a pixels below the top.
void drawCornerLabel(QPainter& painter, const QString& text);
