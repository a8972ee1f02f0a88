#pragma once
// What a Solve left wrong, one sentence each for the status bar and the command line: pieces that
// no chain of constraints joins to the rest, two pieces free to turn about the point or line their
// constraints share, and constraints whose points stay far apart while the others meet (likely
// picked in the wrong place).

#include "solve_driver.h"

#include <QString>
#include <QStringList>
#include <vector>

class BaseGraph;
class Constraint;
class GeometrObj;

// Distance between a constraint's two current points (the first point of each side), whatever
// its stiffness; NaN when a side has no point.
double constraintGap(const Constraint& c);

// What the gaps are weighed against: the diagonal of the box around every fragment's current mesh;
// without any mesh, around every constraint's current points.
double assemblySize(const BaseGraph& graph);

// A constraint is a misfit when its gap is more than MedianFactor times the median gap of all
// constraints and more than SizeShare of the assembly's size: a gap far above the rest rather than
// the small disagreement every real pick carries. A mis-pick pulls its pieces away from their other
// constraints, which can then pass both bars too; so of the constraints that pass and share an
// object, directly or through one another, only the one with the largest gap is named (once it is
// fixed, the next Solve shows whether another one is wrong).
struct Misfits {
    static constexpr double MedianFactor = 5.0;
    static constexpr double SizeShare = 0.01;
    std::vector<int> ids; // ascending
    double medianGap = 0.0;
};
Misfits misfitConstraints(const BaseGraph& graph);

// The first few names joined by commas, then how many more: "a, b, c and 4 more".
QString shortList(const QStringList& names);

// The sentences about the pieces left unconnected and the open joints of the reports, then one
// about each misfit constraint of the graph; empty when nothing is wrong.
QStringList solveDiagnosis(const std::vector<SolveLevelReport>& reports, const BaseGraph& graph);
