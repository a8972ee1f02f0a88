#pragma once

#include "base_graph.h"

// The graph the main window owns: adds constraint removal, the id allocation of constraints and
// the clearing operations.
class TotalGraph : public BaseGraph {
public:
    TotalGraph() = default;
    // Deletes whatever is still held, without reporting to the listener.
    ~TotalGraph() override;

    // Hides and unlists the constraint, detaches it from both objects and deletes it.
    void removeConstraint(int id) override;
    // Deletes every object and constraint and resets the counters.
    void deleteAll();
    // Empties the tables and resets the counters without deleting anything (the contents were
    // handed over to another graph).
    void clear();
    // 0 for no constraints; else the largest unused id below the constraint count, or one past
    // the largest id when there is no gap.
    int nextConstraintId() const;

    // Merges an imported project into this one. Imported objects whose ids are in use here get the
    // smallest id free in both graphs (a wrapper's fragment follows its wrapper); imported
    // constraints whose ids are in use get nextConstraintId(). Top-level objects take this graph's
    // colour for their id and are announced with addTreeItems, constraints with
    // addConstraintItem. Afterwards imported only holds pointers it no longer owns: clear() it.
    void importGraph(TotalGraph* imported);
    // Takes every object and constraint of other, which must be the freshly read project, while
    // this graph is empty; ids, entity indices and counters are kept. Nothing is reported.
    void takeOver(TotalGraph& other);
};
