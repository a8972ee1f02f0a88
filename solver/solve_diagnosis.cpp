#include "solve_diagnosis.h"

#include "base_graph.h"
#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <map>
#include <set>

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("SolveDiagnosis", text);
}

QString number(double v) {
    return QString::number(v, 'g', 3);
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    const std::size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(half), values.end());
    const double upper = values[half];
    if (values.size() % 2 == 1)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + std::ptrdiff_t(half));
    return (lower + upper) / 2.0;
}

std::vector<const Fragment*> allFragments(const BaseGraph& graph) {
    std::vector<Fragment*> found;
    for (const auto& [id, o] : graph.objectTable())
        if (const auto* group = dynamic_cast<const FragGroup*>(o); group && o->isTopLevel())
            group->collectFragments(found);
    return {found.begin(), found.end()};
}

Box3d constraintPointBox(const BaseGraph& graph) {
    Box3d box;
    for (const auto& [id, c] : graph.constraintTable())
        for (int k = 0; k < 2; ++k)
            for (const auto& [key, p] : c->samplePoints(k))
                box.add(p);
    return box;
}

// Object clusters: each object id points towards the representative of its cluster.
class ObjectClusters {
public:
    int find(int id) {
        auto [it, fresh] = parent.try_emplace(id, id);
        if (fresh || it->second == id)
            return id;
        return it->second = find(it->second);
    }
    void join(int a, int b) { parent[find(a)] = find(b); }

private:
    std::map<int, int> parent;
};

// Ids, ascending, of the constraint with the largest gap among each set of constraints joined by
// shared objects.
std::vector<int> largestOfEachCluster(const std::vector<std::pair<const Constraint*, double>>& gaps) {
    ObjectClusters clusters;
    for (const auto& [c, gap] : gaps)
        clusters.join(c->frag(0)->id, c->frag(1)->id);
    std::map<int, std::pair<const Constraint*, double>> largest; // by cluster
    for (const auto& entry : gaps) {
        auto [it, fresh] = largest.try_emplace(clusters.find(entry.first->frag(0)->id), entry);
        if (!fresh && entry.second > it->second.second)
            it->second = entry;
    }
    std::vector<int> ids;
    for (const auto& [cluster, entry] : largest)
        ids.push_back(entry.first->id());
    std::sort(ids.begin(), ids.end());
    return ids;
}

QString objectName(const BaseGraph& graph, int id) {
    const GeometrObj* o = graph.getObject(id);
    return o ? shortName(*o) : tr("object %1").arg(id);
}

// "RBand 12 disagrees with the others (distance 0.35, 14× the median): ..."
QString misfitSentence(const Constraint& c, double medianGap) {
    const double gap = constraintGap(c);
    QString figures;
    if (medianGap > 0.0) {
        const double times = gap / medianGap;
        figures = tr("distance %1, %2× the median")
                      .arg(number(gap), QString::number(times, 'f', times < 10.0 ? 1 : 0));
    } else {
        figures = tr("distance %1 while the others meet").arg(number(gap));
    }
    return tr("%1 %2 disagrees with the others (%3): likely picked in the wrong place; check it.")
        .arg(c.typeName())
        .arg(c.id())
        .arg(figures);
}

// The entities of every level that no constraint joins to the level's fixed one, in report order.
std::vector<int> unconnectedEntities(const std::vector<SolveLevelReport>& reports) {
    std::vector<int> ids;
    std::set<int> seen;
    for (const SolveLevelReport& r : reports)
        for (int id : r.unconnected)
            if (seen.insert(id).second)
                ids.push_back(id);
    return ids;
}

QString unconnectedSentence(const std::vector<int>& ids, const BaseGraph& graph) {
    if (ids.size() == 1)
        return tr("%1 is not connected to the rest: kept where it was.").arg(objectName(graph, ids.front()));
    QStringList names;
    for (int id : ids)
        names << objectName(graph, id);
    return tr("%1 pieces are not connected to the rest: %2 kept where they were.")
        .arg(ids.size())
        .arg(shortList(names));
}

QString openJointSentence(const OpenJoint& joint, const BaseGraph& graph) {
    const QString pair =
        objectName(graph, joint.objectA) + QStringLiteral(" – ") + objectName(graph, joint.objectB);
    if (joint.points < 2)
        return tr("%1: the turn about their one shared point is not fixed; add two points away from it.")
            .arg(pair);
    return tr("%1: the turn about the line through their %2 points is not fixed; add a point off that line.")
        .arg(pair)
        .arg(joint.points);
}
} // namespace

double constraintGap(const Constraint& c) {
    const Constraint::PointRange s0 = c.samplePoints(0), s1 = c.samplePoints(1);
    if (s0.empty() || s1.empty())
        return std::numeric_limits<double>::quiet_NaN();
    return (s0.begin()->second - s1.begin()->second).norm();
}

double assemblySize(const BaseGraph& graph) {
    Box3d box;
    for (const Fragment* f : allFragments(graph))
        if (f->hasMesh())
            box.add(f->mesh().bbox);
    return box.isNull() ? constraintPointBox(graph).diag() : box.diag();
}

Misfits misfitConstraints(const BaseGraph& graph) {
    std::vector<std::pair<const Constraint*, double>> gaps;
    for (const auto& [id, c] : graph.constraintTable())
        if (const double gap = constraintGap(*c); std::isfinite(gap))
            gaps.emplace_back(c, gap);
    std::vector<double> values;
    for (const auto& [c, gap] : gaps)
        values.push_back(gap);
    Misfits misfits;
    misfits.medianGap = median(values);
    const double bar =
        std::max(Misfits::MedianFactor * misfits.medianGap, Misfits::SizeShare * assemblySize(graph));
    std::vector<std::pair<const Constraint*, double>> above;
    std::copy_if(gaps.begin(), gaps.end(), std::back_inserter(above),
                 [bar](const auto& g) { return g.second > bar; });
    misfits.ids = largestOfEachCluster(above);
    return misfits;
}

QString shortList(const QStringList& names) {
    constexpr int Named = 3;
    const QString list = names.mid(0, Named).join(QStringLiteral(", "));
    return names.size() > Named ? tr("%1 and %2 more").arg(list).arg(names.size() - Named) : list;
}

QStringList solveDiagnosis(const std::vector<SolveLevelReport>& reports, const BaseGraph& graph) {
    QStringList sentences;
    if (const std::vector<int> apart = unconnectedEntities(reports); !apart.empty())
        sentences << unconnectedSentence(apart, graph);
    for (const SolveLevelReport& r : reports)
        for (const OpenJoint& joint : r.openJoints)
            sentences << openJointSentence(joint, graph);
    const Misfits misfits = misfitConstraints(graph);
    for (int id : misfits.ids)
        sentences << misfitSentence(*graph.getConstraint(id), misfits.medianGap);
    return sentences;
}
