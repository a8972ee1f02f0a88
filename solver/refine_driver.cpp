#include "refine_driver.h"

#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "solve_driver.h"
#include "total_graph.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <chrono>
#include <set>

namespace {
QString tr(const char* text) {
    return QCoreApplication::translate("Refine", text);
}

std::vector<Fragment*> fragmentsInside(GeometrObj* o) {
    std::vector<Fragment*> inside;
    if (auto* g = dynamic_cast<FragGroup*>(o))
        g->collectFragments(inside);
    else if (auto* f = dynamic_cast<Fragment*>(o))
        inside.push_back(f);
    return inside;
}

// Builds the job: fragments once each, stages by the parent of their siblings.
class JobBuilder {
public:
    explicit JobBuilder(RefineJob& job) : job(job) {}

    std::size_t fragmentIndex(Fragment* f) {
        const auto [it, added] = index.emplace(f, job.fragments.size());
        if (added) {
            job.fragments.push_back(pieceOf(f->mesh()));
            job.meshes.push_back(f->sharedMesh());
        }
        return it->second;
    }

    // The body of stage s that object o is, added on first use.
    std::size_t bodyOf(RefineStage& s, GeometrObj* o) {
        const auto found = std::find(s.objects.begin(), s.objects.end(), o->id());
        if (found != s.objects.end())
            return std::size_t(found - s.objects.begin());
        s.objects.push_back(o->id());
        std::vector<std::size_t> fragments;
        for (Fragment* f : fragmentsInside(o))
            fragments.push_back(fragmentIndex(f));
        s.fragmentsOf.push_back(std::move(fragments));
        job.names[o->id()] = shortName(*o);
        return s.objects.size() - 1;
    }

    // A fragment a side's points move with: every fragment inside the side's object moves alike.
    std::optional<std::size_t> fragmentOfSide(GeometrObj* side) {
        const std::vector<Fragment*> inside = fragmentsInside(side);
        if (inside.empty())
            return std::nullopt;
        return fragmentIndex(inside.front());
    }

private:
    RefineJob& job;
    std::map<const Fragment*, std::size_t> index;
};

// A body whose surfaces meet none of the bodies it is joined to is left where it is: without a
// surface to fit, its points alone would move it, which is Solve's work, not Refine's.
void keepUntouchedBodies(const RefineStage& s, RefineResult& r) {
    std::vector<bool> touches(s.objects.size(), false);
    for (const auto& joint : s.joined)
        if (std::find(r.withoutContact.begin(), r.withoutContact.end(), joint) == r.withoutContact.end())
            touches[joint.first] = touches[joint.second] = true;
    for (std::size_t b = 0; b < touches.size() && b < r.motions.size(); ++b)
        if (!touches[b])
            r.motions[b] = Matrix44d::Identity();
}

bool isIdentity(const Matrix44d& m) {
    return (m - Matrix44d::Identity()).cwiseAbs().maxCoeff() < 1e-12;
}

QString number(double v) {
    return QLocale().toString(v, 'g', 3);
}
} // namespace

RefineJob prepareRefine(TotalGraph& graph, const std::vector<int>& shownIds, double contactFraction) {
    RefineJob job;
    JobBuilder builder(job);
    const std::set<int> shown(shownIds.begin(), shownIds.end());
    Box3d box;
    for (int id : shownIds)
        for (Fragment* f : fragmentsInside(graph.getObject(id)))
            box.add(f->mesh().bbox);
    job.contactFraction = contactFraction;
    job.contactDistance = contactFraction * box.diag();

    // Deepest level first; siblings under one parent form one stage.
    std::map<std::pair<int, int>, RefineStage> stages;
    for (const auto& [id, c] : graph.constraintTable()) {
        const auto [a, b] = carriersOf(graph, c);
        if (!a || !b || !shown.count(a->rootId()) || !shown.count(b->rootId()) || c->stiffness() <= 0)
            continue;
        GeometrObj* sideA = graph.getObject(c->frag(0)->id);
        GeometrObj* sideB = graph.getObject(c->frag(1)->id);
        const std::optional<std::size_t> fragmentA = sideA ? builder.fragmentOfSide(sideA) : std::nullopt;
        const std::optional<std::size_t> fragmentB = sideB ? builder.fragmentOfSide(sideB) : std::nullopt;
        if (!fragmentA || !fragmentB)
            continue;
        RefineStage& s = stages[{-a->level(), a->isTopLevel() ? -1 : a->parentId()}];
        const std::size_t bodyA = builder.bodyOf(s, a), bodyB = builder.bodyOf(s, b);
        const std::pair<std::size_t, std::size_t> joint{std::min(bodyA, bodyB), std::max(bodyA, bodyB)};
        if (std::find(s.joined.begin(), s.joined.end(), joint) == s.joined.end())
            s.joined.push_back(joint);
        // Points of the two sides are paired by rank, as Solve pairs them.
        const Constraint::PointRange side0 = c->samplePoints(0), side1 = c->samplePoints(1);
        auto p1 = side1.begin();
        for (auto p0 = side0.begin(); p0 != side0.end() && p1 != side1.end(); ++p0, ++p1)
            s.pairs.push_back(
                {bodyA, bodyB, *fragmentA, *fragmentB, p0->second, p1->second, double(c->stiffness())});
    }
    for (auto& [key, s] : stages)
        job.stages.push_back(std::move(s));
    return job;
}

RefineOutcome runRefine(RefineJob job, unsigned threads, const std::atomic<bool>* cancel,
                        const std::function<void(double)>& progress) {
    const auto start = std::chrono::steady_clock::now();
    RefineOutcome outcome;
    InterpenetrationControl control;
    control.threads = threads;
    control.cancel = cancel;
    buildMissingTrees(job.fragments, threads, control);
    if (cancel && *cancel) {
        outcome.cancelled = true;
        return outcome;
    }
    const std::size_t n = job.fragments.size();
    std::vector<Matrix44d> base(n), moved(n, Matrix44d::Identity());
    for (std::size_t i = 0; i < n; ++i) {
        base[i] = job.fragments[i].tree->worldFromLocal(job.fragments[i].placement);
        outcome.trees.push_back(job.fragments[i].tree);
    }
    std::vector<std::size_t> matchFragment; // the fragment each collected match moves with
    for (std::size_t si = 0; si < job.stages.size(); ++si) {
        const RefineStage& s = job.stages[si];
        std::vector<RefineBody> bodies(s.objects.size());
        std::vector<std::size_t> bodyOfFragment(n, s.objects.size());
        for (std::size_t b = 0; b < bodies.size(); ++b)
            for (std::size_t f : s.fragmentsOf[b]) {
                bodies[b].trees.push_back(job.fragments[f].tree);
                bodies[b].worldFromLocal.push_back(moved[f] * base[f]);
                bodyOfFragment[f] = b;
            }
        std::vector<RefinePointPair> pairs;
        for (const RefineStage::Pair& p : s.pairs)
            pairs.push_back({p.bodyA, p.bodyB, transformPoint(moved[p.fragmentA], p.onA),
                             transformPoint(moved[p.fragmentB], p.onB), p.stiffness});
        RefineOptions options;
        options.contactDistance = job.contactDistance;
        options.threads = threads;
        options.cancel = cancel;
        if (progress)
            options.progress = [&](int, double fraction) {
                progress((double(si) + fraction) / double(job.stages.size()));
            };
        RefineResult r = refineBodies(bodies, s.joined, pairs, options);
        if (r.cancelled) {
            outcome.cancelled = true;
            return outcome;
        }
        keepUntouchedBodies(s, r);
        for (std::size_t b = 0; b < bodies.size() && b < r.motions.size(); ++b)
            for (std::size_t f : s.fragmentsOf[b])
                moved[f] = r.motions[b] * moved[f];
        // Matches of earlier stages move with the bodies that carry them now.
        for (std::size_t k = 0; k < outcome.matches.size(); ++k)
            if (const std::size_t b = bodyOfFragment[matchFragment[k]]; b < r.motions.size()) {
                outcome.matches[k].onA = transformPoint(r.motions[b], outcome.matches[k].onA);
                outcome.matches[k].onB = transformPoint(r.motions[b], outcome.matches[k].onB);
            }
        for (const RefineMatch& m : r.matches) {
            outcome.matches.push_back(m);
            matchFragment.push_back(s.fragmentsOf[m.bodyA].empty() ? 0 : s.fragmentsOf[m.bodyA].front());
        }
        outcome.stages.push_back(std::move(r));
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

int applyRefine(TotalGraph& graph, const RefineJob& job, const RefineOutcome& outcome) {
    if (outcome.cancelled)
        return 0;
    std::set<int> movedObjects;
    for (std::size_t si = 0; si < job.stages.size() && si < outcome.stages.size(); ++si) {
        const RefineStage& s = job.stages[si];
        const RefineResult& r = outcome.stages[si];
        for (std::size_t b = 0; b < s.objects.size() && b < r.motions.size(); ++b) {
            GeometrObj* o = graph.getObject(s.objects[b]);
            if (!o || isIdentity(r.motions[b]))
                continue;
            o->applyTransform(&r.motions[b]);
            movedObjects.insert(s.objects[b]);
        }
    }
    for (std::size_t i = 0; i < job.meshes.size() && i < outcome.trees.size(); ++i)
        if (outcome.trees[i] && outcome.trees[i]->builtFrom(*job.meshes[i]))
            job.meshes[i]->tree = outcome.trees[i];
    return int(movedObjects.size());
}

QStringList refineReport(const RefineJob& job, const RefineOutcome& outcome, int moved) {
    QStringList lines;
    if (job.stages.empty())
        return {tr("Refine: no two pieces in the solved view are joined by a constraint")};
    double meanBefore = 0, meanAfter = 0, largestBefore = 0, largestAfter = 0;
    int measured = 0;
    for (const RefineResult& r : outcome.stages) {
        if (r.largestBefore <= 0 && r.largestAfter <= 0)
            continue;
        meanBefore += r.meanBefore;
        meanAfter += r.meanAfter;
        largestBefore = std::max(largestBefore, r.largestBefore);
        largestAfter = std::max(largestAfter, r.largestAfter);
        ++measured;
    }
    QString summary = moved == 0   ? tr("Refine: nothing moved")
                      : moved == 1 ? tr("Refine: 1 piece moved")
                                   : tr("Refine: %1 pieces moved").arg(moved);
    if (measured)
        summary +=
            tr("; the matched surfaces were %1 apart on average (largest %2) before, %3 (largest %4) after")
                .arg(number(meanBefore / measured), number(largestBefore), number(meanAfter / measured),
                     number(largestAfter));
    lines << summary;
    const QString percent = QLocale().toString(100.0 * job.contactFraction, 'g', 2);
    for (std::size_t si = 0; si < job.stages.size() && si < outcome.stages.size(); ++si) {
        const RefineStage& s = job.stages[si];
        const auto name = [&](std::size_t body) { return job.names.at(s.objects[body]); };
        for (const auto& [a, b] : outcome.stages[si].withoutContact)
            lines << tr("%1 – %2: their surfaces do not meet within %3 % of their size; check their "
                        "constraints")
                         .arg(name(a), name(b), percent);
        for (std::size_t b : outcome.stages[si].strayed)
            lines
                << tr("%1: its surfaces matched nowhere near where its points put it; it follows its points")
                       .arg(name(b));
    }
    return lines;
}
