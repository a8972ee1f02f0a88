#pragma once

#include <QString>
#include <cstdint>

// Identity of a geometry object: the id of the group that holds it (-1 at top level) and its own
// id. Constraints point at the ObjId inside the objects they join, so an object's ObjId must stay
// at a fixed address for the object's life.
struct ObjId {
    std::int32_t parent = -1;
    std::int32_t id = 0;

    // "parent:id", e.g. "-1:4" for top-level group 4 and "4:4" for the fragment inside wrapper 4.
    QString key() const { return QString::number(parent) + QLatin1Char(':') + QString::number(id); }
    bool operator==(const ObjId&) const = default;
};
