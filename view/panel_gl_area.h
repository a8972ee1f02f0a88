#pragma once

#include "error_view.h"
#include "igl_area.h"

#include <set>
#include <utility>
#include <vector>

class Constraint;

// The solved area: every object the user put into it, in the placement the solver gave it, with
// the constraints chosen for display. Bands join objects whose roots are both visible; a
// constraint with one visible root shows that side's sphere only.
class PanelGLArea : public IGLArea {
    Q_OBJECT
public:
    explicit PanelGLArea(QWidget* parent = nullptr);

    void reset() override { clearContent(); }
    bool isEmpty() const override { return shownObjects.empty(); }
    Box3d contentBox() const override { return box; }
    Point3f contentCenter() const override;
    // Forgets what is shown; the fit box keeps its value.
    void clearContent() override;
    void drawContent() override;
    void paintOverlay(QPainter* painter) override;
    GeometrObj* pickObject(std::vector<std::uint32_t>& hits) override;
    std::unique_ptr<FragGroup> makeFragmentGroup() override;

    void addObject(int id);
    // The object stops being shown, placed and visible.
    void removeObject(int id);
    // The fit box of what is shown and visible: the meshes and the constraint ends drawn.
    void refitBox();
    bool isShown(int id) const { return shownObjects.count(id) != 0; }
    void showConstraint(int id) { shownConstraints.insert(id); }
    void hideConstraint(int id) { shownConstraints.erase(id); }
    bool anyShownContains(int id) const;
    // Recomputes the interpenetration marks of every shown object with the listener's tolerance,
    // and repaints. Without an error view nothing is computed.
    ErrorReport updateErrors();
    void setErrorView(ErrorView* v) { errorView = v; }

    const std::set<int>& shownObjectIds() const { return shownObjects; }
    const std::set<int>& shownConstraintIds() const { return shownConstraints; }

    // Small dots drawn over the scene (world coordinates), e.g. where Refine matched two surfaces;
    // empty: none.
    struct Dot {
        Point3d at;
        Color4b colour;
    };
    void setDots(std::vector<Dot> d);
    const std::vector<Dot>& dots() const { return shownDots; }

private:
    GeometrObj* object(int id) const;
    void drawDots();
    // The box of the visible objects' meshes and of the constraint ends drawn with them.
    Box3d shownBox() const;
    // Root objects of the two sides of c, null where missing.
    std::pair<GeometrObj*, GeometrObj*> roots(Constraint* c) const;

    Box3d box;
    std::set<int> shownObjects;     // graph object ids
    std::set<int> shownConstraints; // constraint ids
    ErrorView* errorView = nullptr; // not owned
    std::vector<Dot> shownDots;
};
