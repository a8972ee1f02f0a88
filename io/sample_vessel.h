#pragma once
// A sample reassembly made by our own code: a lathed vessel with surface relief and painted vertex
// colours (about 200,000 triangles), broken into pieces along irregular fracture lines, each piece
// moved by a random rigid motion and written as a binary PLY, plus "sample.prproj" with three
// constraints (one point each side, at points both pieces shared before the break) between every
// two touching pieces. Used by the command-line tool, the tests and the benchmarks.

#include "geometry_types.h"

#include <QString>
#include <vector>

struct SampleVessel {
    QString projectPath;
    std::vector<QString> meshPaths; // one per piece, in project order (wrapper ids 0, 1, ...)
    std::vector<Matrix44d> motions; // the rigid motion that moved each piece away after the break
    std::vector<std::size_t> pieceTriangles;
    int constraintCount = 0;
    double size = 0; // diagonal of the unbroken vessel's box
};

struct SampleVesselOptions {
    int around = 400;    // vertices around the body
    int up = 245;        // vertex rings from foot to rim
    unsigned seed = 1;   // chooses the motions
    double spread = 3.0; // translations are drawn from [-spread, spread] per axis
};

// Writes the sample into folder (which must exist). Mesh paths are stored as bare file names, so
// the folder can be moved. On failure returns false with error set.
bool writeSampleVessel(const QString& folder, SampleVessel& out, QString& error,
                       const SampleVesselOptions& options = {});
