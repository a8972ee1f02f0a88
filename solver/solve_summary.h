#pragma once
// What a Solve did, in one line for the status bar: the levels run, the energy before and after,
// whether anything moved, the constraint left with the largest error, and the fragments that
// have no mesh (they take part in the solve but cannot be shown).

#include "solve_driver.h"

#include <QString>
#include <QStringList>
#include <vector>

class TotalGraph;

// Display names of the fragments whose mesh could not be read, in id order.
QStringList fragmentsWithoutMesh(const TotalGraph& graph);

QString solveSummary(const std::vector<SolveLevelReport>& reports, const TotalGraph& graph);
