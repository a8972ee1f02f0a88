#pragma once
// The generated vessel, small, with one band picked in the wrong place: the second end of band
// WrongBand lies on its piece's surface a fifth of the piece's size away from where the piece
// meets its neighbour. Every other band is exact, so after a Solve that band is the one far off.

#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "project_reader.h"
#include "project_writer.h"
#include "sample_vessel.h"
#include "total_graph.h"

#include <QDir>
#include <QString>

struct MispickedSample {
    static constexpr int WrongBand = 4;
    QString projectPath; // "mispicked.prproj" beside the pieces
    int constraintCount = 0;
    QString wrongPiece; // the file name of the piece with the wrong end, without suffix
};

// The vertex of the fragment's mesh whose distance from p is nearest to distance.
inline Point3d vertexAtDistance(const Fragment& f, const Point3d& p, double distance) {
    Point3d best = p;
    for (const Point3d& v : f.mesh().vertices)
        if (std::abs((v - p).norm() - distance) < std::abs((best - p).norm() - distance))
            best = v;
    return best;
}

inline bool writeMispickedSample(const QString& folder, MispickedSample& out, QString& error) {
    SampleVessel sample;
    SampleVesselOptions options;
    options.around = 60;
    options.up = 40;
    if (!writeSampleVessel(folder, sample, error, options))
        return false;
    TotalGraph graph;
    if (const ProjectReadReport read = readProjectFile(sample.projectPath, graph); !read.ok()) {
        error = read.detail;
        return false;
    }
    Constraint* band = graph.getConstraint(MispickedSample::WrongBand);
    auto* wrapper = dynamic_cast<FragGroup*>(graph.getObject(band->frag(1)->id));
    const Fragment& piece = *wrapper->wrappedFragment();
    const Point3d wrong =
        vertexAtDistance(piece, band->firstPoint(band->frag(1)), 0.2 * piece.getMeshBBox().diag());
    band->setFirstPoints(band->frag(1), wrong, wrong);
    out.projectPath = QDir(folder).filePath(QStringLiteral("mispicked.prproj"));
    out.constraintCount = sample.constraintCount;
    out.wrongPiece = QFileInfo(piece.meshPath()).completeBaseName();
    return saveProjectFile(out.projectPath, graph, error);
}
