#include "placement_export.h"

#include "frag_group.h"
#include "fragment.h"
#include "project_writer.h"
#include "staged_file.h"
#include "total_graph.h"
#include "xml_text.h"

#include <QFileInfo>
#include <QIODevice>
#include <vector>

QString alnMeshPath(const Fragment& f, const QDir& folder) {
    // A path that is not absolute here (another system's, of a mesh that was not found) is no
    // better for being made relative: it is written as the fragment names it.
    const QFileInfo mesh(f.meshPath());
    return mesh.isAbsolute() ? folder.relativeFilePath(mesh.filePath()) : f.meshPath();
}

void writeAlnEntry(QTextStream& out, const Fragment& f, const QDir& folder) {
    out << alnMeshPath(f, folder) << "\n#\n";
    const Matrix44d m = f.getMatrix();
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            out << formatNumber(m(r, c)) << ' ';
        out << '\n';
    }
}

void writeAln(QTextStream& out, const TotalGraph& graph, const QDir& folder) {
    std::vector<Fragment*> fragments;
    for (const auto& [id, o] : graph.objectTable())
        if (o->isTopLevel())
            if (auto* g = dynamic_cast<FragGroup*>(o))
                g->collectFragments(fragments);
    out << fragments.size() << '\n';
    for (const Fragment* f : fragments)
        writeAlnEntry(out, *f, folder);
    out << '0';
}

bool exportAlnFile(const QString& path, const TotalGraph& graph, QString& error) {
    QByteArray bytes;
    {
        QTextStream out(&bytes, QIODevice::WriteOnly);
        writeAln(out, graph, QFileInfo(path).absoluteDir());
    }
    return writeFileAtomically(path, bytes, error);
}

QByteArray groupFileText(GeometrObj& chosen, const QDir& folder) {
    // A fragment goes out in its wrapper: project files hold groups at the top.
    GeometrObj* wrapper = chosen.isFragment() ? chosen.parentObject() : nullptr;
    GeometrObj& o = wrapper ? *wrapper : chosen;
    const int parent = o.objId().parent;
    o.objId().parent = -1;
    QByteArray bytes;
    {
        QTextStream out(&bytes, QIODevice::WriteOnly);
        out << "<Graph><Fragments>";
        writeXml(out, o, folder);
        out << "</Fragments></Graph>";
    }
    o.objId().parent = parent;
    return bytes;
}

bool exportGroupFile(const QString& path, GeometrObj& o, QString& error) {
    return writeFileAtomically(path, groupFileText(o, QFileInfo(path).absoluteDir()), error);
}
