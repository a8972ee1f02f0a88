#pragma once
// Projects the window suites open: the generated vessel at a size that keeps the suites quick, and
// graphs built by a test saved as project files.

#include "project_writer.h"
#include "sample_vessel.h"
#include "total_graph.h"

#include <QString>

// The vessel with 60 vertices around and 40 rings, written into folder.
inline bool writeSmallSample(const QString& folder, SampleVessel& sample, QString& error) {
    SampleVesselOptions options;
    options.around = 60;
    options.up = 40;
    return writeSampleVessel(folder, sample, error, options);
}

// graph saved as path; empty when it could not be written.
inline QString savedProject(const TotalGraph& graph, const QString& path) {
    QString error;
    return saveProjectFile(path, graph, error) ? path : QString();
}
