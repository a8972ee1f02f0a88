#pragma once
// Moving objects into and out of groups. No vertex moves: a fragment's matrix already holds its
// whole placement, so an object keeps its world placement whichever group holds it. What changes
// is which objects hold the constraints: every constraint stays attached to exactly the two
// objects its ends name, and each end names an object containing the fragment it was picked on.

#include <vector>

class Constraint;
class FragGroup;
class GeometrObj;

// Side k of c goes from the object it names to `to`, its points with it.
void repointSide(Constraint& c, int k, GeometrObj& to);

// Moves objs (members of one parent, or all top level) into group, which already has its place
// in the graph. A constraint of a moved object whose other end lies outside the moved objects now
// ends at group; one between two moved objects keeps both ends. Returns the constraints re-pointed.
std::vector<Constraint*> moveIntoGroup(FragGroup& group, const std::vector<GeometrObj*>& objs);

// Hands every constraint group holds to the member holding the fragment its end was picked on,
// before the members leave the group. Returns the constraints handed on.
std::vector<Constraint*> returnConstraintsToMembers(FragGroup& group);

// Takes obj out of its parent to the top level. The constraints its ancestors hold with an end
// picked in obj end at obj; then obj's constraints (and its members') whose other end lies deeper
// than the object they now join move to that end's ancestor at the right level. Returns the
// constraints changed.
std::vector<Constraint*> excludeFromParent(GeometrObj& obj);
