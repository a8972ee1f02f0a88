#include "project_writer.h"

#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "staged_file.h"
#include "total_graph.h"
#include "xml_text.h"

#include <QFileInfo>
#include <QIODevice>

QString writtenMeshPath(const Fragment& f, const QDir& folder) {
    if (!f.pathRelativeToProject())
        return f.meshPath();
    return folder.relativeFilePath(QFileInfo(f.meshPath()).absoluteFilePath());
}

namespace {
constexpr char Q = '"';

void writePoints(QTextStream& out, const Constraint::PointRange& points) {
    for (const auto& [key, p] : points)
        out << "<point coord=" << Q << formatNumber(p.x()) << ' ' << formatNumber(p.y()) << ' '
            << formatNumber(p.z()) << Q << " />";
}

QString keyOf(const ObjId* id) {
    return id ? id->key() : QStringLiteral("-1:-1");
}

void writeName(QTextStream& out, const GeometrObj& o) {
    if (o.nameWasSet())
        out << "<Name value=" << Q << escapeAttribute(o.rawName()) << Q << " />";
}
} // namespace

void writeHeader(QTextStream& out, GeometrObj& o, const QString& tag) {
    out << '<' << tag << " id=" << Q << o.key() << Q << " >";
    out << "<Transformation matr=" << Q;
    const Matrix44d m = o.getMatrix();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out << formatNumber(m(r, c)) << ' ';
    out << Q << " />";
}

void writeCloser(QTextStream& out, const QString& tag) {
    out << "</" << tag << '>';
}

void writeXml(QTextStream& out, GeometrObj& o, const QDir& folder) {
    if (auto* f = dynamic_cast<Fragment*>(&o)) {
        const QString tag = QStringLiteral("Fragment");
        writeHeader(out, *f, tag);
        out << "<Mesh path=" << Q << escapeAttribute(writtenMeshPath(*f, folder)) << Q << " />";
        writeName(out, *f);
        writeCloser(out, tag);
        return;
    }
    auto& g = static_cast<FragGroup&>(o);
    const QString tag = QStringLiteral("FragGroup");
    writeHeader(out, g, tag);
    out << "<Hidden value=" << Q << (g.isHidden() ? 1 : 0) << Q << " />";
    out << "<Visible value=" << Q << (g.GeometrObj::isVisible() ? 1 : 0) << Q << " />";
    writeName(out, g);
    for (const auto& [id, child] : g.childMap())
        writeXml(out, *child, folder);
    writeCloser(out, tag);
}

void writeXml(QTextStream& out, Constraint& c) {
    const QString type = c.typeName();
    out << '<' << type << " id=" << Q << c.id() << Q << " frags=" << Q << keyOf(c.frag(0)) << ' '
        << keyOf(c.frag(1)) << Q << " stiff=" << Q << c.stiffness() << Q << " lfrags=" << Q
        << keyOf(c.leafFragCount() > 0 ? c.leafFrag(0) : nullptr) << ' '
        << keyOf(c.leafFragCount() > 1 ? c.leafFrag(1) : nullptr) << Q << " >";
    out << "<points>";
    for (int k = 0; k < 2; ++k) {
        out << "<sample" << k << '>';
        writePoints(out, c.samplePoints(k));
        out << "</sample" << k << '>';
    }
    for (int k = 0; k < 2; ++k) {
        out << "<sample" << k << "r>";
        writePoints(out, c.refSamplePoints(k));
        out << "</sample" << k << "r>";
    }
    out << "</points></" << type << '>';
}

void writeXml(QTextStream& out, const TotalGraph& graph, const QDir& folder) {
    out << "<Graph><Fragments>";
    for (const auto& [id, o] : graph.objectTable())
        if (o->isTopLevel())
            writeXml(out, *o, folder);
    out << "</Fragments><Constraints>";
    for (const auto& [id, c] : graph.constraintTable())
        writeXml(out, *c);
    out << "</Constraints></Graph>";
}

QByteArray projectFileText(const TotalGraph& graph, const QDir& folder) {
    QByteArray bytes;
    {
        QTextStream out(&bytes, QIODevice::WriteOnly);
        out << "<Project>";
        writeXml(out, graph, folder);
        out << "</Project>";
    }
    return bytes;
}

bool saveProjectFile(const QString& path, const TotalGraph& graph, QString& error) {
    return writeFileAtomically(path, projectFileText(graph, QFileInfo(path).absoluteDir()), error);
}

KeptMeshes keepMeshes(const TotalGraph& graph, const QDir& folder) {
    KeptMeshes kept;
    for (const auto& [id, o] : graph.objectTable())
        if (const auto* group = dynamic_cast<const FragGroup*>(o))
            for (const auto& [childId, child] : group->childMap())
                if (const auto* f = dynamic_cast<const Fragment*>(child))
                    kept[{f->key(), writtenMeshPath(*f, folder)}] = {f->sharedMesh(), f->meshPath(),
                                                                     f->pathRelativeToProject()};
    return kept;
}
