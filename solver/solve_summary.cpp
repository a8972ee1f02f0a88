#include "solve_summary.h"

#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "solve_diagnosis.h"
#include "total_graph.h"

#include <QCoreApplication>
#include <algorithm>
#include <cmath>

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("SolveSummary", text);
}

QString number(double v) {
    return QString::number(v, 'g', 4);
}

// "the energy 12.5 -> 0.031, 3 objects moved" over every level run.
QString energyAndMotion(const std::vector<SolveLevelReport>& reports) {
    double before = 0.0, after = 0.0;
    int moved = 0;
    for (const SolveLevelReport& r : reports) {
        before += r.energyBefore;
        after += r.energy;
        moved += r.moved;
    }
    const QString motion = moved == 0   ? tr("nothing moved: no motion brings the points closer")
                           : moved == 1 ? tr("1 object moved")
                                        : tr("%1 objects moved").arg(moved);
    return tr("energy %1 → %2, %3").arg(number(before), number(after), motion);
}

// "largest error: RBand 4, RE: 12.5%", or empty without constraints.
QString largestError(const TotalGraph& graph) {
    const Constraint* worst = nullptr;
    for (const auto& [id, c] : graph.constraintTable())
        if (std::isfinite(c->error()) && (!worst || c->error() > worst->error()))
            worst = c;
    if (!worst)
        return QString();
    return tr("largest error: %1 %2, %3")
        .arg(worst->typeName())
        .arg(worst->id())
        .arg(BaseGraph::relativeErrorText(worst->error()));
}

QString withoutMeshes(const QStringList& names) {
    return tr("No mesh for %1: not shown.").arg(shortList(names));
}
} // namespace

QStringList fragmentsWithoutMesh(const TotalGraph& graph) {
    QStringList names;
    for (const auto& [id, o] : graph.objectTable())
        if (const auto* group = dynamic_cast<const FragGroup*>(o); group && o->isTopLevel()) {
            std::vector<Fragment*> fragments;
            group->collectFragments(fragments);
            for (const Fragment* f : fragments)
                if (f->mesh().faces.empty())
                    names << f->displayName();
        }
    return names;
}

QString solveSummary(const std::vector<SolveLevelReport>& reports, const TotalGraph& graph) {
    QStringList parts;
    const bool failed =
        std::any_of(reports.begin(), reports.end(), [](const SolveLevelReport& r) { return r.failed; });
    if (failed)
        parts << tr("The solve failed: nothing was moved at some level.");
    else if (reports.empty())
        parts << tr(
            "Nothing to solve: no constraint was added or changed since the last Solve; nothing moved.");
    else
        parts << (reports.size() == 1 ? tr("Solved 1 level: ")
                                      : tr("Solved %1 levels: ").arg(reports.size())) +
                     energyAndMotion(reports) + '.';
    if (const QString worst = largestError(graph); !worst.isEmpty())
        parts << worst.left(1).toUpper() + worst.mid(1) + '.';
    if (const QStringList missing = fragmentsWithoutMesh(graph); !missing.isEmpty())
        parts << withoutMeshes(missing);
    return parts.join(QLatin1Char(' '));
}
