#include "project_reader.h"

#include "mesh_loading.h"
#include "mesh_texture.h"

#include "frag_group.h"
#include "fragment.h"
#include "rband.h"
#include "total_graph.h"
#include "xml_text.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <limits>
#include <memory>
#include <set>
#include <vector>

namespace {

// Bounds far beyond any real project (each constraint, picked by hand, takes about 500 bytes, so
// 64 MiB hold some 130,000); they keep a hostile file from taking the reader's memory or stack.
constexpr int MaxGroupDepth = 1000;
constexpr qint64 MaxProjectBytes = qint64(64) << 20;
constexpr qint64 MaxTagBytes = qint64(1) << 20;

// Relative here and on the system that may have written it: a drive letter or a leading backslash
// starts an absolute path of another system, not a name below the project's folder.
bool isRelativeEverywhere(const QString& path) {
    const bool drive = path.size() >= 3 && path[0].isLetter() && path[1] == QLatin1Char(':') &&
                       (path[2] == QLatin1Char('/') || path[2] == QLatin1Char('\\'));
    return QFileInfo(path).isRelative() && !drive && !path.startsWith(QLatin1Char('\\'));
}

// why, with the line of the text where the reader found it.
QString atLine(const QXmlStreamReader& xml, const QString& why) {
    return QStringLiteral("line %1: %2").arg(xml.lineNumber()).arg(why);
}

// Where a mesh path written in a project may be found: as written, relative to the project's
// folder, and as a bare file name in that folder.
QStringList meshCandidates(const QString& written, const QDir& meshFolder) {
    QStringList candidates{written};
    if (isRelativeEverywhere(written))
        candidates << meshFolder.filePath(written);
    QString bare = written;
    bare.replace(QLatin1Char('\\'), QLatin1Char('/'));
    candidates << meshFolder.filePath(QFileInfo(bare).fileName());
    candidates.removeDuplicates();
    return candidates;
}

// Reads one "Graph" element. Every object and constraint it creates is remembered until the read
// is complete, so that a failure anywhere can delete exactly what was made.
class GraphReader {
public:
    GraphReader(TotalGraph& g, QXmlStreamReader& r, const QDir& folder, const KeptMeshes* kept,
                std::vector<MeshLoad>* preloaded = nullptr)
        : graph(g), xml(r), meshFolder(folder), keptMeshes(kept), preloadedMeshes(preloaded) {}

    ProjectReadReport run() {
        ProjectReadReport report;
        if (!readGraphElement() || !checkConsistency()) {
            discardEverything();
            report.status = ProjectReadReport::BadlyWritten;
            report.detail = error;
            return report;
        }
        report.missingMeshes = missing;
        report.missingTextures = missingTextures;
        report.meshFolders = searchedFolders;
        return report;
    }

private:
    // The first problem, with the line the reader stands on.
    bool fail(const QString& why) {
        if (error.isEmpty())
            error = atLine(xml, xml.hasError() ? xml.errorString() : why);
        return false;
    }

    bool isStart(QLatin1String name) const { return xml.isStartElement() && xml.name() == name; }
    bool isEnd(QLatin1String name) const { return xml.isEndElement() && xml.name() == name; }

    // Advances one token; false (with a message) at a reader error or the end of the input.
    bool next() {
        xml.readNext();
        if (xml.hasError())
            return fail(xml.errorString());
        if (xml.atEnd())
            return fail(QStringLiteral("the file ends inside the project"));
        return true;
    }

    QString attribute(const char* name) const {
        return xml.attributes().value(QLatin1String(name)).toString();
    }

    bool readObjId(const QString& text, ObjId& out) {
        const QStringList parts = text.split(QLatin1Char(':'));
        if (parts.size() != 2 || !parseInteger(parts[0], out.parent) || !parseInteger(parts[1], out.id) ||
            out.id < 0)
            return fail(QStringLiteral("bad object key \"%1\"").arg(text));
        return true;
    }

    // Whitespace-separated numbers; every token must be a number. A last number without a space
    // after it counts too.
    bool readNumbers(const QString& text, std::vector<double>& out, const char* what) {
        out.clear();
        qsizetype start = -1;
        for (qsizetype i = 0; i <= text.size(); ++i) {
            const bool space = i == text.size() || text[i].isSpace();
            if (!space && start < 0)
                start = i;
            if (space && start >= 0) {
                const QStringView token = QStringView(text).mid(start, i - start);
                double v = 0;
                if (!parseNumber(token, v))
                    return fail(
                        QStringLiteral("bad number \"%1\" in %2").arg(token.toString(), QLatin1String(what)));
                out.push_back(v);
                start = -1;
            }
        }
        return true;
    }

    bool readTransformation(GeometrObj& o) {
        std::vector<double> v;
        if (!readNumbers(attribute("matr"), v, "a transformation"))
            return false;
        if (v.size() < 16)
            return fail(QStringLiteral("a transformation has %1 numbers instead of 16").arg(v.size()));
        Matrix44d m;
        for (int i = 0; i < 16; ++i)
            m(i / 4, i % 4) = v[static_cast<std::size_t>(i)];
        o.setMatrix(m);
        return true;
    }

    bool readFlag(bool& out) {
        int v = 0;
        if (!parseInteger(attribute("value"), v))
            return fail(QStringLiteral("bad flag value \"%1\"").arg(attribute("value")));
        out = v != 0;
        return true;
    }

    template <class T> T* remember(T* o) {
        createdObjects.emplace_back(o);
        return o;
    }

    // The key of an object element: its parent must be the enclosing group (-1 at the top), so
    // that parent links follow the nesting of the file and can never form a cycle.
    bool readPlacedKey(ObjId& out, int enclosing) {
        if (!readObjId(attribute("id"), out))
            return false;
        if (out.parent != enclosing)
            return fail(QStringLiteral("object %1 lies in %2 but names %3 as its parent")
                            .arg(out.key(), enclosing < 0 ? QStringLiteral("the top level")
                                                          : QStringLiteral("group %1").arg(enclosing))
                            .arg(out.parent));
        return true;
    }

    // Group ids are taken when their element starts, so that no id is used twice at any level.
    bool claimGroupId(int id) {
        if (!claimedGroupIds.insert(id).second)
            return fail(QStringLiteral("object id %1 is used twice").arg(id));
        return true;
    }

    bool addMember(FragGroup& g, GeometrObj* child) {
        if (g.getChild(child->id()))
            return fail(
                QStringLiteral("object id %1 is used twice in group %2").arg(child->id()).arg(g.id()));
        g.addChild(child);
        return true;
    }

    // depth counts the groups from the top level (1) down to this one.
    FragGroup* readFragGroup(int enclosing, int depth) {
        if (depth > MaxGroupDepth) {
            fail(QStringLiteral("groups are nested more than %1 levels deep").arg(MaxGroupDepth));
            return nullptr;
        }
        auto* g = remember(new FragGroup(&graph));
        if (!readPlacedKey(g->objId(), enclosing) || !claimGroupId(g->id()))
            return nullptr;
        bool haveTransformation = false;
        for (;;) {
            if (!next())
                return nullptr;
            if (isEnd(QLatin1String("FragGroup")))
                return g;
            if (!xml.isStartElement())
                continue;
            if (isStart(QLatin1String("Transformation"))) {
                if (!haveTransformation && !readTransformation(*g))
                    return nullptr;
                haveTransformation = true;
            } else if (isStart(QLatin1String("Hidden"))) {
                bool hidden = false;
                if (!readFlag(hidden))
                    return nullptr;
                g->setHidden(hidden);
            } else if (isStart(QLatin1String("Visible"))) {
                bool visible = false;
                if (!readFlag(visible))
                    return nullptr;
                g->GeometrObj::setVisible(visible);
            } else if (isStart(QLatin1String("Name"))) {
                g->setName(attribute("value"));
            } else if (isStart(QLatin1String("Fragment"))) {
                Fragment* f = readFragment(g->id());
                if (!f || !addMember(*g, f))
                    return nullptr;
            } else if (isStart(QLatin1String("FragGroup"))) {
                FragGroup* h = readFragGroup(g->id(), depth + 1);
                if (!h)
                    return nullptr;
                graph.addObject(h);
                if (!addMember(*g, h))
                    return nullptr;
            } else {
                xml.skipCurrentElement();
            }
        }
    }

    Fragment* readFragment(int enclosing) {
        auto* f = remember(new Fragment(&graph));
        if (!readPlacedKey(f->objId(), enclosing))
            return nullptr;
        bool haveMesh = false;
        QString userName;
        bool named = false;
        for (;;) {
            if (!next())
                return nullptr;
            if (isEnd(QLatin1String("Fragment")))
                break;
            if (!xml.isStartElement())
                continue;
            if (isStart(QLatin1String("Mesh")) && !haveMesh) {
                haveMesh = true;
                const QString written = attribute("path");
                if (!adoptKeptMesh(*f, written) && !adoptPreloadedMesh(*f, written))
                    loadMesh(*f, written);
            } else if (isStart(QLatin1String("Transformation"))) {
                if (!readTransformation(*f))
                    return nullptr;
            } else if (isStart(QLatin1String("Name"))) {
                userName = attribute("value");
                named = true;
            } else {
                xml.skipCurrentElement();
            }
        }
        if (named)
            f->setName(userName);
        f->syncPlacement(); // bake the stored placement into the vertices
        return f;
    }

    bool adoptKeptMesh(Fragment& f, const QString& written) {
        if (!keptMeshes)
            return false;
        const auto it = keptMeshes->find({f.key(), written});
        if (it == keptMeshes->end() || !it->second.mesh)
            return false;
        f.setPath(it->second.path);
        f.setPathNames();
        f.setPathRelativeToProject(it->second.relative);
        f.adoptMesh(it->second.mesh);
        return true;
    }

    // The mesh read ahead for this fragment, when the project's meshes were read ahead (in the
    // order the fragments appear).
    bool adoptPreloadedMesh(Fragment& f, const QString& written) {
        if (!preloadedMeshes || nextPreloaded >= preloadedMeshes->size())
            return false;
        MeshLoad& load = (*preloadedMeshes)[nextPreloaded];
        if (load.candidates != meshCandidates(written, meshFolder))
            return false;
        ++nextPreloaded;
        adoptLoad(f, written, load);
        return true;
    }

    // Reads the mesh now, from the first of meshCandidates that can be read.
    void loadMesh(Fragment& f, const QString& written) {
        std::vector<MeshLoad> one{MeshLoad{meshCandidates(written, meshFolder), nullptr, -1, {}}};
        MeshLoadOptions here;
        here.threads = 1;
        loadMeshes(one, here);
        adoptLoad(f, written, one.front());
    }

    // The fragment keeps where the mesh was found (as written when an absolute path worked); a
    // relative path stays relative to the project wherever it is saved next.
    void adoptLoad(Fragment& f, const QString& written, MeshLoad& load) {
        const bool relative = isRelativeEverywhere(written);
        f.setPathRelativeToProject(relative);
        if (!load.mesh) {
            meshNotRead(f, written, load.error);
            return;
        }
        placeFound(f, load.candidates[load.used], relative);
        if (load.mesh->texture)
            missingTextures << load.mesh->texture->problems();
        f.adoptMesh(std::move(load.mesh));
        f.computeCentroid();
    }

    static void placeFound(Fragment& f, const QString& candidate, bool relative) {
        f.setPath(relative ? QDir::cleanPath(QFileInfo(candidate).absoluteFilePath()) : candidate);
        f.setPathNames();
    }

    // The fragment keeps the path where its mesh belongs; the report names that path once, with
    // the reason and the folders searched.
    void meshNotRead(Fragment& f, const QString& written, const QString& why) {
        f.setPath(isRelativeEverywhere(written) ? meshFolder.filePath(written) : written);
        f.setPathNames();
        const QStringList candidates = meshCandidates(written, meshFolder);
        missing << f.meshPath() + QStringLiteral(": ") + withoutFileName(why, candidates);
        for (const QString& candidate : candidates)
            if (const QString folder = QFileInfo(candidate).absolutePath(); !searchedFolders.contains(folder))
                searchedFolders << folder;
    }

    // The mesh readers start their reasons with the name of the file they read, which the report
    // already gives with its path.
    static QString withoutFileName(const QString& why, const QStringList& candidates) {
        for (const QString& candidate : candidates)
            if (const QString named = QFileInfo(candidate).fileName() + QStringLiteral(": ");
                why.startsWith(named))
                return why.mid(named.size());
        return why;
    }

    RBand* readRBand() {
        int id = 0, stiff = 1;
        if (!parseInteger(attribute("id"), id) || id < 0) {
            fail(QStringLiteral("bad constraint id \"%1\"").arg(attribute("id")));
            return nullptr;
        }
        if (graph.getConstraint(id)) {
            fail(QStringLiteral("constraint id %1 is used twice").arg(id));
            return nullptr;
        }
        if (!parseInteger(attribute("stiff"), stiff) || stiff < 1) {
            fail(QStringLiteral("bad stiffness \"%1\" of constraint %2 (a whole number from 1 to %3)")
                     .arg(attribute("stiff"))
                     .arg(id)
                     .arg(std::numeric_limits<int>::max()));
            return nullptr;
        }
        auto* c = new RBand(id);
        createdConstraints.emplace_back(c);
        c->setStiffness(stiff);
        const QStringList frags = attribute("frags").split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QStringList lfrags = attribute("lfrags").split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (frags.size() < 2 || lfrags.size() < 2) {
            fail(QStringLiteral("constraint %1 does not name two objects").arg(id));
            return nullptr;
        }
        for (int k = 0; k < 2; ++k) {
            ObjId side, leaf;
            if (!readObjId(frags[k], side) || !readObjId(lfrags[k], leaf))
                return nullptr;
            GeometrObj* o = graph.getObject(side.id);
            auto* holder = dynamic_cast<FragGroup*>(graph.getObject(leaf.parent));
            GeometrObj* leafObject = holder ? holder->getChild(leaf.id) : nullptr;
            if (!o || !leafObject) {
                fail(QStringLiteral("constraint %1 names a missing object").arg(id));
                return nullptr;
            }
            if (!o->containsId(leafObject->id())) {
                fail(QStringLiteral("constraint %1 was picked outside the object it joins").arg(id));
                return nullptr;
            }
            c->setFrag(k, &o->objId());
            c->addLeafFrag(&leafObject->objId());
        }
        return readPoints(*c) ? c : nullptr;
    }

    bool readPoints(Constraint& c) {
        enum Target { None, Samples, Recorded } target = None;
        ObjId* key = nullptr;
        for (;;) {
            if (!next())
                return false;
            if (isEnd(QLatin1String("RBand")))
                return true;
            if (!xml.isStartElement())
                continue;
            const QStringView name = xml.name();
            if (name == QLatin1String("points")) {
                continue;
            } else if (name == QLatin1String("sample0") || name == QLatin1String("sample1")) {
                target = Samples;
                key = c.frag(name.back() == QLatin1Char('0') ? 0 : 1);
            } else if (name == QLatin1String("sample0r") || name == QLatin1String("sample1r")) {
                target = Recorded;
                key = c.frag(name.at(6) == QLatin1Char('0') ? 0 : 1);
            } else if (name == QLatin1String("point")) {
                std::vector<double> v;
                if (!readNumbers(attribute("coord"), v, "a point"))
                    return false;
                if (v.size() != 3 || target == None)
                    return fail(QStringLiteral("bad point in constraint %1").arg(c.id()));
                const Point3d p(v[0], v[1], v[2]);
                if (target == Samples)
                    c.addSamplePoint(key, p);
                else
                    c.addRefSamplePoint(key, p);
            } else {
                xml.skipCurrentElement();
            }
        }
    }

    bool readGraphElement() {
        int section = 0, phase = 0;
        for (;;) {
            if (!next())
                return false;
            if (isEnd(QLatin1String("Graph")))
                return true;
            if (isEnd(QLatin1String("Fragments")))
                section = 2;
            else if (isEnd(QLatin1String("Constraints")))
                phase = 2;
            if (!xml.isStartElement())
                continue;
            if (isStart(QLatin1String("Fragments"))) {
                section = 1;
            } else if (isStart(QLatin1String("Constraints"))) {
                section = 2;
                phase = 1;
            } else if (isStart(QLatin1String("FragGroup"))) {
                if (section != 1)
                    return fail(QStringLiteral("a group outside the fragment list"));
                FragGroup* g = readFragGroup(-1, 1);
                if (!g)
                    return false;
                g->setColorFrom(graph.objectColor(g->objId()));
                graph.addObject(g);
            } else if (isStart(QLatin1String("RBand"))) {
                if (section != 2 || phase != 1)
                    return fail(QStringLiteral("a constraint outside the constraint list"));
                RBand* c = readRBand();
                if (!c)
                    return false;
                graph.addConstraint(c);
                for (int k = 0; k < 2; ++k) {
                    GeometrObj* o = graph.getObject(c->frag(k)->id);
                    o->attachConstraint(c);
                    c->setRadius(k, RBand::radiusFor(*o));
                }
                c->updateColor();
            } else {
                xml.skipCurrentElement();
            }
        }
    }

    // Problems between objects belong to no line of the file.
    bool checkConsistency() {
        const QStringList problems = graph.validate();
        if (!problems.isEmpty() && error.isEmpty())
            error = problems.first();
        return problems.isEmpty();
    }

    // Forgets the tables without trusting them (ids may have collided), then deletes exactly what
    // this read created.
    void discardEverything() {
        graph.clear();
        createdObjects.clear();
        createdConstraints.clear();
    }

    TotalGraph& graph;
    QXmlStreamReader& xml;
    QDir meshFolder;
    const KeptMeshes* keptMeshes;           // may be null
    std::vector<MeshLoad>* preloadedMeshes; // may be null
    std::size_t nextPreloaded = 0;
    QString error;
    QStringList missing, missingTextures;
    QStringList searchedFolders;
    std::set<int> claimedGroupIds;
    std::vector<std::unique_ptr<GeometrObj>> createdObjects;
    std::vector<std::unique_ptr<Constraint>> createdConstraints;

public:
    // After a successful read the graph owns everything.
    void release() {
        for (auto& o : createdObjects)
            o.release();
        for (auto& c : createdConstraints)
            c.release();
    }
};

} // namespace

ProjectReadReport readGraph(TotalGraph& graph, QXmlStreamReader& reader, const QDir& meshFolder,
                            const KeptMeshes* kept) {
    GraphReader r(graph, reader, meshFolder, kept);
    ProjectReadReport report = r.run();
    if (report.ok())
        r.release();
    return report;
}

namespace {
QString mebibytes(qint64 bytes) {
    return QStringLiteral("%1 MiB").arg(bytes >> 20);
}

// The whole file, refused (with why) when it is larger than any real project.
bool readBounded(QFile& file, QByteArray& text, QString& why) {
    const QString tooLarge =
        QStringLiteral("the file is larger than %1, beyond any real project").arg(mebibytes(MaxProjectBytes));
    if (!file.isSequential() && file.size() > MaxProjectBytes) {
        why = tooLarge;
        return false;
    }
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(MaxTagBytes);
        if (chunk.isEmpty()) {
            if (file.error() == QFileDevice::NoError)
                break;
            why = file.errorString();
            return false;
        }
        if (text.size() + chunk.size() > MaxProjectBytes) {
            why = tooLarge;
            return false;
        }
        text += chunk;
    }
    return true;
}

// Every tag (with its attributes) and every text between tags lies between two '<', so a long
// stretch without one is the only way to a single huge token, which the XML reader would
// otherwise hold in memory many times over.
bool tokensWithinBound(const QByteArray& text, QString& why) {
    qsizetype last = -1;
    for (;;) {
        const qsizetype next = text.indexOf('<', last + 1);
        const qsizetype end = next < 0 ? text.size() : next;
        if (end - last - 1 > MaxTagBytes) {
            why = QStringLiteral("a single tag, attribute or text is longer than %1, beyond any real project")
                      .arg(mebibytes(MaxTagBytes));
            return false;
        }
        if (next < 0)
            return true;
        last = next;
    }
}

// The mesh path of every fragment (its first "Mesh" child), in the order the fragments appear.
// Text the reader would refuse may give any list: it is only used to read meshes ahead, and the
// reader checks each against what it finds.
QStringList fragmentMeshPaths(const QByteArray& text) {
    QStringList paths;
    QXmlStreamReader xml(text);
    std::vector<bool> inFragment; // per open element: a Fragment still without its mesh
    while (!xml.atEnd() && !xml.hasError()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("Mesh") && !inFragment.empty() && inFragment.back()) {
                paths << xml.attributes().value(QLatin1String("path")).toString();
                inFragment.back() = false;
            }
            inFragment.push_back(xml.name() == QLatin1String("Fragment"));
        } else if (xml.isEndElement() && !inFragment.empty()) {
            inFragment.pop_back();
        }
    }
    return paths;
}

ProjectReadReport badlyWritten(TotalGraph& graph, const QString& why) {
    graph.deleteAll();
    ProjectReadReport report;
    report.status = ProjectReadReport::BadlyWritten;
    report.detail = why;
    return report;
}
} // namespace

ProjectReadReport readProjectFile(const QString& path, TotalGraph& graph, const QDir* meshFolder,
                                  const MeshLoadOptions& loading) {
    ProjectReadReport report;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        report.status = ProjectReadReport::CannotOpen;
        report.detail = file.errorString();
        return report;
    }
    QByteArray text;
    QString why;
    if (!readBounded(file, text, why) || !tokensWithinBound(text, why))
        return badlyWritten(graph, why);
    file.close();
    return readProjectText(text, graph, meshFolder ? *meshFolder : QFileInfo(path).absoluteDir(), nullptr,
                           loading);
}

ProjectReadReport readProjectText(const QByteArray& text, TotalGraph& graph, const QDir& folder,
                                  const KeptMeshes* kept, const MeshLoadOptions& loading) {
    ProjectReadReport report;
    if (text.isEmpty())
        return badlyWritten(graph, QStringLiteral("the file is empty"));
    // Meshes kept in memory need no reading; otherwise all are read ahead, on all cores.
    std::vector<MeshLoad> preloaded;
    if (!kept) {
        for (const QString& written : fragmentMeshPaths(text))
            preloaded.push_back(MeshLoad{meshCandidates(written, folder), nullptr, -1, {}});
        loadMeshes(preloaded, loading);
    }
    QBuffer buffer; // read through a device, so that the text is decoded piece by piece
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&buffer);
    bool sawGraph = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("Graph")) {
            if (sawGraph)
                return badlyWritten(graph, atLine(xml, QStringLiteral("the file holds two projects")));
            GraphReader r(graph, xml, folder, kept, kept ? nullptr : &preloaded);
            report = r.run();
            if (!report.ok())
                return report;
            r.release();
            sawGraph = true;
        }
    }
    if (xml.hasError())
        return badlyWritten(graph, atLine(xml, xml.errorString()));
    if (!sawGraph)
        return badlyWritten(graph, QStringLiteral("the file holds no project"));
    return report;
}
