// Project files, ALN and group exports: exact text, round trips to the last bit, escaping, import
// renumbering, damaged files, failed writes and moved project folders.

#include "../scene/scene_fixtures.h"
#include "file_size_limit.h"
#include "frag_mesh.h"
#include "placement_export.h"
#include "ply_writer.h"
#include "project_reader.h"
#include "project_writer.h"
#include "xml_text.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <map>
#include <random>

namespace {
const QString Identity = QStringLiteral("1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 ");

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeText(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

// Matrices of every fragment, and points of every constraint, keyed for comparison.
QList<double> allNumbers(const TotalGraph& g) {
    QList<double> v;
    for (const auto& [id, o] : g.objectTable()) {
        std::vector<GeometrObj*> objs{o};
        if (auto* w = dynamic_cast<FragGroup*>(o); w && w->wrappedFragment())
            objs.push_back(w->wrappedFragment());
        for (GeometrObj* x : objs) {
            const Matrix44d m = x->getMatrix();
            v.append(QList<double>(m.data(), m.data() + 16));
        }
    }
    for (const auto& [id, c] : g.constraintTable())
        for (int k = 0; k < 2; ++k) {
            for (const auto& [key, p] : c->samplePoints(k))
                v << p.x() << p.y() << p.z();
            for (const auto& [key, p] : c->refSamplePoints(k))
                v << p.x() << p.y() << p.z();
        }
    return v;
}
// A wavy square of 2 n^2 triangles at offset, as a binary PLY.
QString writeWavyGrid(const QTemporaryDir& dir, const QString& name, int n, double offset) {
    FragMesh m;
    for (int y = 0; y <= n; ++y)
        for (int x = 0; x <= n; ++x)
            m.vertices.emplace_back(offset + x, y, std::sin(0.3 * x) * std::cos(0.2 * y));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const auto a = std::uint32_t(y * (n + 1) + x), b = a + 1, c = a + std::uint32_t(n) + 2,
                       d = a + std::uint32_t(n) + 1;
            m.faces.push_back({a, b, c});
            m.faces.push_back({a, c, d});
        }
    QString error;
    const QString path = dir.filePath(name);
    if (!writeBinaryPly(path, m, error))
        qFatal("%s", qPrintable(error));
    return path;
}

// One entry of an ALN file: the mesh as the file names it, and its placement.
struct AlnEntry {
    QString mesh;
    Matrix44d placement;
};

// Reads an ALN file as other programs do: the count, then per mesh its name, "#" and four rows of
// the matrix, then "0". Empty when the file does not follow that form.
std::vector<AlnEntry> readAlnFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QTextStream in(&file);
    bool ok = false;
    const int count = in.readLine().toInt(&ok);
    std::vector<AlnEntry> entries;
    for (int i = 0; ok && i < count; ++i) {
        AlnEntry e{in.readLine(), Matrix44d::Zero()};
        ok = in.readLine() == QLatin1String("#");
        for (int r = 0; ok && r < 4; ++r) {
            const QStringList row = in.readLine().split(QLatin1Char(' '), Qt::SkipEmptyParts);
            ok = row.size() == 4;
            for (int c = 0; ok && c < 4; ++c)
                e.placement(r, c) = row[c].toDouble(&ok);
        }
        entries.push_back(e);
    }
    if (!ok || in.readAll() != QLatin1String("0"))
        return {};
    return entries;
}

} // namespace

class TestProjectFile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    // Two tetrahedra in wrappers 0 and 1 and a group 2 holding a third, joined by two constraints.
    void buildProject(TotalGraph& g) {
        FragGroup* a = addFragment(g, writeTetrahedron(dir, "a.ply"));
        FragGroup* b = addFragment(g, writeTetrahedron(dir, "b.ply", {3, 0, 0}));
        FragGroup* c = addFragment(g, writeTetrahedron(dir, "c.ply", {0, 3, 0}));
        FragGroup* grp = addGroup(g);
        grp->addChild(c);
        const Matrix44d m = translation(0.1, 0.2, 512345.678) * rotationZ(1.0 / 3.0);
        b->applyTransform(&m);
        grp->applyTransform(&m);
        RBand* ab = addBand(g, a, b, {1.0 / 3.0, 0, 1e-7}, {3, 0, 0});
        ab->setStiffness(4);
        addBand(g, b, grp, {3, 1, 0}, {0, 3.5, 0});
        a->setVisible(true);
    }

private slots:
    void initTestCase() { installMeshReaders(); }

    void numbersKeepTheirShortFormWhenExact_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("one") << 1.0 << "1";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("half") << 0.5 << "0.5";
        QTest::newRow("ten") << 10.0 << "10";
        QTest::newRow("tiny") << 1e-7 << "1e-07";
        QTest::newRow("negative") << -2.25 << "-2.25";
        QTest::newRow("georeferenced") << 512345.678 << "512345.678";
        QTest::newRow("third") << 1.0 / 3.0 << "0.3333333333333333";
        QTest::newRow("large") << 1.5e300 << "1.5e+300";
    }
    void numbersKeepTheirShortFormWhenExact() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(formatNumber(value), text);
        double back = 0;
        QVERIFY(parseNumber(text, back));
        QCOMPARE(back, value);
    }

    void emptyProjectText() {
        TotalGraph g;
        QCOMPARE(projectFileText(g),
                 QByteArray(
                     "<Project><Graph><Fragments></Fragments><Constraints></Constraints></Graph></Project>"));
    }

    void wrapperAndConstraintText() {
        TotalGraph g;
        FragGroup* w = addFragment(g, QStringLiteral("c:/scan/a.ply"));
        const QString expected =
            "<Project><Graph><Fragments><FragGroup id=\"-1:0\" ><Transformation matr=\"" + Identity +
            "\" /><Hidden value=\"1\" /><Visible value=\"0\" /><Fragment id=\"0:0\" >"
            "<Transformation matr=\"" +
            Identity +
            "\" /><Mesh path=\"c:/scan/a.ply\" /></Fragment></FragGroup></Fragments>"
            "<Constraints></Constraints></Graph></Project>";
        QCOMPARE(QString::fromUtf8(projectFileText(g)), expected);

        FragGroup* v = addFragment(g, QStringLiteral("b.ply"));
        RBand* c = addBand(g, w, v, {1, 2, 3}, {0.5, 0, -1});
        c->setStiffness(7);
        c->transformSamples(&w->objId(), translation(1, 0, 0));
        QByteArray text;
        {
            QTextStream out(&text);
            writeXml(out, static_cast<Constraint&>(*c));
        }
        QCOMPARE(text,
                 QByteArray("<RBand id=\"0\" frags=\"-1:0 -1:1\" stiff=\"7\" lfrags=\"0:0 1:1\" ><points>"
                            "<sample0><point coord=\"2 2 3\" /></sample0>"
                            "<sample1><point coord=\"0.5 0 -1\" /></sample1>"
                            "<sample0r><point coord=\"1 2 3\" /></sample0r>"
                            "<sample1r><point coord=\"0.5 0 -1\" /></sample1r></points></RBand>"));
    }

    void writeReadWriteIsIdentical() {
        TotalGraph g;
        buildProject(g);
        const QString path = dir.filePath("round.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, g, error));
        TotalGraph back;
        const ProjectReadReport report = readProjectFile(path, back);
        QVERIFY2(report.ok(), qPrintable(report.detail));
        QVERIFY(report.missingMeshes.isEmpty());
        QCOMPARE(projectFileText(back), readAll(path));
        QCOMPARE(allNumbers(back), allNumbers(g));
        QVERIFY(back.validate().isEmpty());
        // Same objects, flags, constraint sides and vertices.
        QCOMPARE(back.objectCount(), g.objectCount());
        QCOMPARE(back.hiddenObjectCount(), 3);
        QVERIFY(back.getObject(0)->isVisible());
        QVERIFY(!back.getObject(1)->isVisible());
        QCOMPARE(back.getConstraint(0)->stiffness(), 4);
        QCOMPARE(back.getConstraint(1)->frag(1), &back.getObject(3)->objId());
        auto vertices = [](TotalGraph& t, int id) {
            return dynamic_cast<FragGroup*>(t.getObject(id))->wrappedFragment()->mesh().vertices;
        };
        QCOMPARE(vertices(back, 1), vertices(g, 1));
        QCOMPARE(vertices(back, 2), vertices(g, 2));
        auto* rb = dynamic_cast<RBand*>(back.getConstraint(0));
        QVERIFY(rb->radius(0) > 0.0f);
    }

    // Meshes are read ahead on several threads; one thread must give the same project, fragment for
    // fragment, including which meshes are missing.
    void meshesReadOnAnyNumberOfThreadsGiveTheSameProject() {
        TotalGraph g;
        std::vector<FragGroup*> pieces;
        for (int i = 0; i < 7; ++i)
            pieces.push_back(addFragment(
                g, writeWavyGrid(dir, QStringLiteral("wavy%1.ply").arg(i), 60 + 10 * i, 100.0 * i)));
        const Matrix44d m = translation(1.5, -2.0, 3e5) * rotationZ(0.7);
        pieces[3]->applyTransform(&m);
        addBand(g, pieces[0], pieces[3], {1, 1, 0}, {301, 1, 0});
        const QString path = dir.filePath("threads.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, g, error));
        QVERIFY(QFile::remove(dir.filePath("wavy5.ply"))); // one mesh gone

        auto read = [&](unsigned threads, TotalGraph& into) {
            MeshLoadOptions options;
            options.threads = threads;
            int calls = 0;
            options.progress = [&calls](int done, int total) {
                ++calls;
                return done >= 0 && done <= total;
            };
            const ProjectReadReport report = readProjectFile(path, into, nullptr, options);
            QVERIFY2(report.ok(), qPrintable(report.detail));
            QCOMPARE(report.missingMeshes.size(), 1);
            QVERIFY2(report.missingMeshes[0].contains(QLatin1String("wavy5.ply: ")),
                     qPrintable(report.missingMeshes[0]));
            QVERIFY(calls >= 1);
        };
        TotalGraph one, two;
        read(1, one);
        read(2, two);
        QCOMPARE(projectFileText(two), projectFileText(one));
        QCOMPARE(projectFileText(one), readAll(path));
        QVERIFY(two.validate().isEmpty());
        for (int id = 0; id < 7; ++id) {
            const FragMesh& a = dynamic_cast<FragGroup*>(one.getObject(id))->wrappedFragment()->mesh();
            const FragMesh& b = dynamic_cast<FragGroup*>(two.getObject(id))->wrappedFragment()->mesh();
            QCOMPARE(b.vertices, a.vertices);
            QCOMPARE(b.vertexNormals, a.vertexNormals);
            QCOMPARE(b.faceNormals, a.faceNormals);
            QVERIFY(b.adjacency.size() == a.adjacency.size() &&
                    std::equal(a.adjacency.begin(), a.adjacency.end(), b.adjacency.begin(),
                               [](const FaceAdjacency& x, const FaceAdjacency& y) {
                                   return x.face == y.face && x.edge == y.edge;
                               }));
            QCOMPARE(dynamic_cast<FragGroup*>(two.getObject(id))->wrappedFragment()->currentCentroid(),
                     dynamic_cast<FragGroup*>(one.getObject(id))->wrappedFragment()->currentCentroid());
        }
        QVERIFY(!dynamic_cast<FragGroup*>(two.getObject(5))->wrappedFragment()->hasMesh());
        // The placed piece is where the first project had it.
        const FragMesh& placed = dynamic_cast<FragGroup*>(two.getObject(3))->wrappedFragment()->mesh();
        const FragMesh& original = pieces[3]->wrappedFragment()->mesh();
        for (std::size_t v = 0; v < placed.vertices.size(); v += 97)
            QVERIFY((placed.vertices[v] - original.vertices[v]).norm() < 1e-6); // the file holds floats
    }

    void randomPlacementsSurviveToTheLastBit() {
        std::mt19937_64 rng(7);
        std::uniform_real_distribution<double> any(-1e6, 1e6);
        TotalGraph g;
        FragGroup* a = addFragment(g, writeTetrahedron(dir, "r0.ply"));
        FragGroup* b = addFragment(g, writeTetrahedron(dir, "r1.ply"));
        RBand* c = addBand(g, a, b, {any(rng), any(rng), any(rng)}, {any(rng), any(rng), any(rng)});
        for (int i = 0; i < 20; ++i)
            c->addPoint(&a->objId(), {any(rng) * 1e-9, any(rng), any(rng) * 1e9});
        Matrix44d m = Matrix44d::Identity();
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 4; ++k)
                m(r, k) = any(rng) / 7.0;
        a->applyTransform(&m);
        const QString path = dir.filePath("random.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, g, error));
        TotalGraph back;
        QVERIFY(readProjectFile(path, back).ok());
        QCOMPARE(allNumbers(back), allNumbers(g));
    }

    void escapedTextRoundTrips() {
        QTemporaryDir own;
        const QString odd = own.filePath(QStringLiteral("a&b <c> \"d\" é.ply"));
        QVERIFY(QFile::copy(writeTetrahedron(own, "plain.ply"), odd));
        TotalGraph g;
        FragGroup* w = addFragment(g, odd);
        FragGroup* grp = addGroup(g);
        grp->setName(QStringLiteral("Rim & <base> \"left\""));
        w->wrappedFragment()->setName(QStringLiteral("sherd \"7\""));
        // Characters no XML file can hold would make the file unreadable: they are replaced.
        FragGroup* pasted = addGroup(g);
        pasted->setName(QStringLiteral("rim") + QChar(0x01) + QChar(0xD800) + QStringLiteral("x") +
                        QString::fromUtf16(u"\U0001F3FA"));
        const QString path = own.filePath("escaped.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, g, error));
        const QByteArray text = readAll(path);
        QVERIFY(text.contains(
            "<Visible value=\"0\" /><Name value=\"Rim &amp; &lt;base&gt; &quot;left&quot;\" />"));
        QVERIFY(text.contains(
            "&amp;b &lt;c&gt; &quot;d&quot; \xc3\xa9.ply\" /><Name value=\"sherd &quot;7&quot;\" />"));
        QVERIFY(!text.startsWith("<?xml"));
        TotalGraph back;
        const ProjectReadReport report = readProjectFile(path, back);
        QVERIFY2(report.ok(), qPrintable(report.detail));
        QVERIFY(report.missingMeshes.isEmpty());
        auto* bw = dynamic_cast<FragGroup*>(back.getObject(0));
        QCOMPARE(bw->wrappedFragment()->meshPath(), odd);
        QVERIFY(bw->wrappedFragment()->hasMesh());
        QCOMPARE(bw->displayName(), QStringLiteral("Fragment: sherd \"7\""));
        QCOMPARE(back.getObject(1)->displayName(), QStringLiteral("Rim & <base> \"left\""));
        QCOMPARE(back.getObject(2)->displayName(),
                 QStringLiteral("rim") + QChar(QChar::ReplacementCharacter) +
                     QChar(QChar::ReplacementCharacter) + QStringLiteral("x") +
                     QString::fromUtf16(u"\U0001F3FA"));
        QCOMPARE(projectFileText(back), text);
    }

    void handWrittenFilesAreTolerated() {
        // Whitespace between elements, a last matrix number without a space after it, unknown
        // elements, old files without names.
        const QString mesh = writeTetrahedron(dir, "hand.ply");
        const QByteArray text =
            "<Project>\n  <Graph>\n <Fragments>\n"
            "  <FragGroup id=\"-1:5\" >\n <Transformation matr=\"1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\" />"
            "<Comment text=\"kept aside\" /><Hidden value=\"1\" />\n<Visible value=\"1\" />"
            "<Fragment id=\"5:5\" >\n<Transformation matr=\"1 0 0 2\t0 1 0 0 0 0 1 0 0 0 0 1\" />\n"
            "<Mesh path=\"" +
            mesh.toUtf8() +
            "\" />\n</Fragment>\n</FragGroup>\n</Fragments>\n"
            "<Constraints>\n</Constraints>\n</Graph>\n</Project>\n";
        const QString path = dir.filePath("hand.prproj");
        QVERIFY(writeText(path, text));
        TotalGraph g;
        const ProjectReadReport report = readProjectFile(path, g);
        QVERIFY2(report.ok(), qPrintable(report.detail));
        auto* w = dynamic_cast<FragGroup*>(g.getObject(5));
        QVERIFY(w && w->isHidden() && w->isVisible());
        QCOMPARE(w->getMatrix()(3, 3), 1.0);
        QCOMPARE(w->wrappedFragment()->mesh().vertices[0], Point3d(2, 0, 0)); // placement baked in
    }

    void damagedFilesAreRefused_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("reason"); // how the reason starts: where the text is at fault
        const QByteArray group =
            "<FragGroup id=\"-1:0\" ><Transformation matr=\"1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 \" />"
            "<Hidden value=\"0\" /><Visible value=\"0\" /></FragGroup>";
        const QByteArray group1 = QByteArray(group).replace("-1:0", "-1:1");
        auto project = [](const QByteArray& frags, const QByteArray& constraints) {
            return "<Project><Graph><Fragments>" + frags + "</Fragments><Constraints>" + constraints +
                   "</Constraints></Graph></Project>";
        };
        const QByteArray band =
            "<RBand id=\"0\" frags=\"-1:0 -1:1\" stiff=\"1\" lfrags=\"0:0 1:1\" ><points>"
            "<sample0><point coord=\"0 0 0\" /></sample0><sample1><point coord=\"1 0 0\" /></sample1>"
            "</points></RBand>";
        const QByteArray groupBand = QByteArray(band).replace("lfrags=\"0:0 1:1\"", "lfrags=\"-1:0 -1:1\"");
        // Fragments (whose meshes are missing, which does not stop the read) that bands can join.
        const QByteArray wrappers =
            "<FragGroup id=\"-1:0\" ><Transformation matr=\"1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 \" />"
            "<Hidden value=\"1\" /><Visible value=\"0\" /><Fragment id=\"0:0\" >"
            "<Mesh path=\"none.ply\" /></Fragment></FragGroup>";
        const QByteArray two = wrappers + QByteArray(wrappers).replace("0:0", "1:1").replace("-1:0", "-1:1");
        const QByteArray three = two + QByteArray(wrappers).replace("0:0", "2:2").replace("-1:0", "-1:2");
        const QString xmlError = QStringLiteral("line 1: "); // then the XML reader's own words
        QTest::newRow("not XML") << QByteArray("this is not a project") << xmlError;
        static const char png[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10"; // how every PNG file starts
        QTest::newRow("PNG renamed") << QByteArray(png, sizeof png - 1) << xmlError;
        QTest::newRow("empty file") << QByteArray() << "the file is empty";
        QTest::newRow("no graph") << QByteArray("<Project></Project>") << "the file holds no project";
        QTest::newRow("two graphs") << QByteArray("<Project><Graph></Graph>\n<Graph></Graph></Project>")
                                    << "line 2: the file holds two projects";
        QTest::newRow("truncated") << project(group, {}).left(60) << xmlError;
        QTest::newRow("mismatched tags")
            << QByteArray("<Project><Graph><Fragments></Graph></Project>") << xmlError;
        QTest::newRow("group outside Fragments")
            << QByteArray("<Project><Graph>" + group + "</Graph></Project>")
            << "line 1: a group outside the fragment list";
        QTest::newRow("constraint outside Constraints")
            << project(group + group1 + groupBand, {}) << "line 1: a constraint outside the constraint list";
        QTest::newRow("frags name a missing object")
            << project(group, groupBand) << "line 1: constraint 0 names a missing object";
        QTest::newRow("lfrags name a missing object")
            << project(group + group1, band) << "line 1: constraint 0 names a missing object";
        QTest::newRow("one frags item")
            << project(group + group1, QByteArray(groupBand).replace("frags=\"-1:0 -1:1\"", "frags=\"-1:0\""))
            << "line 1: constraint 0 does not name two objects";
        QTest::newRow("non-numeric matrix")
            << project(QByteArray(group).replace("0 0 1 0 0", "0 0 x 0 0"), {})
            << "line 1: bad number \"x\" in a transformation";
        QTest::newRow("short matrix") << project(QByteArray(group).replace("0 0 0 1 \"", "\""), {})
                                      << "line 1: a transformation has 12 numbers instead of 16";
        QTest::newRow("non-numeric point")
            << project(two, QByteArray(band).replace("coord=\"1 0 0\"", "coord=\"1 zero 0\""))
            << "line 1: bad number \"zero\" in a point";
        QTest::newRow("two coordinates")
            << project(two, QByteArray(band).replace("coord=\"1 0 0\"", "coord=\"1 0\""))
            << "line 1: bad point in constraint 0";
        QTest::newRow("non-numeric stiffness")
            << project(group + group1, QByteArray(groupBand).replace("stiff=\"1\"", "stiff=\"hard\""))
            << "line 1: bad stiffness \"hard\" of constraint 0";
        QTest::newRow("non-numeric id") << project(QByteArray(group).replace("-1:0", "-1:zero"), {})
                                        << "line 1: bad object key \"-1:zero\"";
        QTest::newRow("non-numeric flag")
            << project(QByteArray(group).replace("Hidden value=\"0\"", "Hidden value=\"\""), {})
            << "line 1: bad flag value \"\"";
        QTest::newRow("same id twice") << project(group + group, {}) << "line 1: object id 0 is used twice";
        QTest::newRow("constraint id twice")
            << project(two, band + band) << "line 1: constraint id 0 is used twice";
        // The line is where the reader stood, in a file written over several lines by hand.
        QTest::newRow("fault on the fourth line")
            << QByteArray("<Project>\n<Graph>\n<Fragments>\n" +
                          QByteArray(group).replace("0 0 1 0 0", "0 0 x 0 0") +
                          "\n</Fragments>\n</Graph>\n</Project>\n")
            << "line 4: bad number \"x\" in a transformation";
        QTest::newRow("picked outside the joined object")
            << project(three, QByteArray(band).replace("lfrags=\"0:0 1:1\"", "lfrags=\"0:0 2:2\""))
            << "line 1: constraint 0 was picked outside the object it joins";
    }
    void damagedFilesAreRefused() {
        QFETCH(QByteArray, text);
        const QString path = dir.filePath("damaged.prproj");
        QVERIFY(writeText(path, text));
        TotalGraph g;
        const ProjectReadReport report = readProjectFile(path, g);
        QFETCH(QString, reason);
        QCOMPARE(report.status, ProjectReadReport::BadlyWritten);
        QVERIFY2(report.detail.startsWith(reason), qPrintable(report.detail));
        QVERIFY(report.detail.size() > reason.size() || !reason.endsWith(QLatin1Char(' ')));
        QVERIFY(g.isEmpty());
        QVERIFY(g.constraintTable().empty());
    }

    // Files made to hang, crash, leak or poison the reader: each is refused with its reason and
    // leaves nothing behind.
    void hostileFilesAreRefused_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("phrase");
        auto group = [](const QByteArray& key, const QByteArray& inside = {}) {
            return "<FragGroup id=\"" + key + "\" ><Hidden value=\"0\" /><Visible value=\"0\" />" + inside +
                   "</FragGroup>";
        };
        auto fragment = [](const QByteArray& key) {
            return "<Fragment id=\"" + key + "\" ><Mesh path=\"none.ply\" /></Fragment>";
        };
        auto project = [](const QByteArray& frags, const QByteArray& constraints = {}) {
            return "<Project><Graph><Fragments>" + frags + "</Fragments><Constraints>" + constraints +
                   "</Constraints></Graph></Project>";
        };
        const QByteArray selfParent = "<Graph><Fragments><FragGroup id=\"-0:0\"></FragGroup>"
                                      "<FragGroup id=\"-0:1\"><Fragment id=\"1:1\"/>";
        QCOMPARE(selfParent.size(), 92);
        QTest::newRow("group is its own parent") << selfParent << "0:0 lies in the top level but names 0";
        QTest::newRow("two groups name each other")
            << project(group("1:0") + group("0:1", group("1:2"))) << "0 lies in the top level but names 1";
        QTest::newRow("member names another parent")
            << project(group("-1:0", group("2:1")) + group("-1:2")) << "1 lies in group 0 but names 2";
        QTest::newRow("fragment names another parent")
            << project(group("-1:0", fragment("3:0"))) << "3:0 lies in group 0 but names 3";
        QTest::newRow("two fragments with one id in a group")
            << project(group("-1:0", fragment("0:0") + fragment("0:0")))
            << "object id 0 is used twice in group 0";
        QTest::newRow("group id inside itself")
            << project(group("-1:3", group("3:3", group("3:4")))) << "object id 3 is used twice";
        QTest::newRow("group id at two levels")
            << project(group("-1:1", group("1:2")) + group("-1:2")) << "object id 2 is used twice";
        const QByteArray wrappers = group("-1:0", fragment("0:0")) + group("-1:1", fragment("1:1"));
        const QByteArray band = "<RBand id=\"0\" frags=\"-1:0 -1:1\" stiff=\"1\" lfrags=\"0:0 1:1\" ><points>"
                                "<sample0><point coord=\"0 0 0\" /></sample0>"
                                "<sample1><point coord=\"1 0 0\" /></sample1></points></RBand>";
        QTest::newRow("point not a number")
            << project(wrappers, QByteArray(band).replace("\"0 0 0\"", "\"nan 0 0\""))
            << "bad number \"nan\" in a point";
        QTest::newRow("point at infinity")
            << project(wrappers, QByteArray(band).replace("\"1 0 0\"", "\"1 -inf 0\""))
            << "bad number \"-inf\"";
        QTest::newRow("point beyond the largest double")
            << project(wrappers, QByteArray(band).replace("\"1 0 0\"", "\"1 0 1e400\""))
            << "bad number \"1e400\"";
        const QByteArray poisoned = "<Transformation matr=\"nan inf -inf 1e400 0 1 0 0 0 0 1 0 0 0 0 1 \" />";
        QTest::newRow("matrix not finite")
            << project(group("-1:0", poisoned)) << "bad number \"nan\" in a transformation";
        QTest::newRow("matrix overflowing")
            << project(group("-1:0", QByteArray(poisoned).replace("nan inf -inf ", "1 0 0 ")))
            << "bad number \"1e400\" in a transformation";
        QTest::newRow("stiffness beyond an int")
            << project(wrappers, QByteArray(band).replace("stiff=\"1\"", "stiff=\"99999999999\""))
            << "bad stiffness \"99999999999\" of constraint 0 (a whole number from 1 to 2147483647)";
        QTest::newRow("stiffness zero")
            << project(wrappers, QByteArray(band).replace("stiff=\"1\"", "stiff=\"0\""))
            << "bad stiffness \"0\"";
        QTest::newRow("stiffness negative")
            << project(wrappers, QByteArray(band).replace("stiff=\"1\"", "stiff=\"-4\""))
            << "bad stiffness \"-4\"";
        QTest::newRow("attribute beyond 1 MiB")
            << project(group("-1:0", "<Name value=\"" + QByteArray((1 << 20) + 1, 'x') + "\" />"))
            << "a single tag, attribute or text is longer than 1 MiB, beyond any real project";
        QTest::newRow("text beyond 1 MiB") << project(QByteArray((1 << 20) + 1, ' ')) << "longer than 1 MiB";
    }
    void hostileFilesAreRefused() {
        QFETCH(QByteArray, text);
        QFETCH(QString, phrase);
        const QString path = dir.filePath("hostile.prproj");
        QVERIFY(writeText(path, text));
        TotalGraph g;
        const ProjectReadReport report = readProjectFile(path, g);
        QCOMPARE(report.status, ProjectReadReport::BadlyWritten);
        QVERIFY2(report.detail.contains(phrase), qPrintable(report.detail));
        QVERIFY(g.isEmpty());
        QVERIFY(g.constraintTable().empty());
    }

    // Groups nested 1,000 deep are read and written back; one level more is refused, and so is a
    // file nested far deeper than the stack could follow.
    void nestingDepthIsBounded_data() {
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("1000 levels") << 1000 << true;
        QTest::newRow("1001 levels") << 1001 << false;
        QTest::newRow("100000 levels") << 100000 << false;
    }
    void nestingDepthIsBounded() {
        QFETCH(int, depth);
        QFETCH(bool, accepted);
        QByteArray text = "<Project><Graph><Fragments>";
        for (int level = 0; level < depth; ++level)
            text += "<FragGroup id=\"" + QByteArray::number(level - 1) + ':' + QByteArray::number(level) +
                    "\" ><Hidden value=\"0\" /><Visible value=\"0\" />";
        for (int level = 0; level < depth; ++level)
            text += "</FragGroup>";
        text += "</Fragments><Constraints></Constraints></Graph></Project>";
        const QString path = dir.filePath("deep.prproj");
        QVERIFY(writeText(path, text));
        TotalGraph g;
        const ProjectReadReport report = readProjectFile(path, g);
        QCOMPARE(report.ok(), accepted);
        if (!accepted) {
            QCOMPARE(report.detail, QStringLiteral("line 1: groups are nested more than 1000 levels deep"));
            QVERIFY(g.isEmpty());
            return;
        }
        QCOMPARE(g.objectCount(), depth);
        QCOMPARE(g.maxLevel(), depth - 1);
        QVERIFY(g.validate().isEmpty());
        QCOMPARE(projectFileText(g).count("<FragGroup "), qsizetype(depth));
    }

    // A file larger than any project is refused before it is read (the file here is sparse).
    void oversizedFileIsRefused() {
        const QString path = dir.filePath("huge.prproj");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QVERIFY(f.write("<Project><Graph><Fragments>") > 0);
            QVERIFY(f.resize((qint64(64) << 20) + 1));
        }
        TotalGraph g;
        const ProjectReadReport report = readProjectFile(path, g);
        QCOMPARE(report.status, ProjectReadReport::BadlyWritten);
        QCOMPARE(report.detail, QStringLiteral("the file is larger than 64 MiB, beyond any real project"));
        QFile::remove(path);
    }

    // Tabs and line breaks in names come back as they were, not as spaces.
    void tabsAndLineBreaksInNamesSurvive() {
        TotalGraph g;
        FragGroup* w = addFragment(g, writeTetrahedron(dir, "tabs.ply"));
        FragGroup* grp = addGroup(g);
        const QString groupName = QStringLiteral("rim\tleft\nupper\r\nrow");
        grp->setName(groupName);
        w->wrappedFragment()->setName(QStringLiteral("\tsherd 7\n"));
        const QString path = dir.filePath("tabs.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, g, error));
        const QByteArray text = readAll(path);
        QVERIFY(text.contains("<Name value=\"rim&#9;left&#10;upper&#13;&#10;row\" />"));
        QVERIFY(!text.contains('\t') && !text.contains('\n') && !text.contains('\r'));
        TotalGraph back;
        QVERIFY(readProjectFile(path, back).ok());
        QCOMPARE(back.getObject(1)->displayName(), groupName);
        QCOMPARE(dynamic_cast<FragGroup*>(back.getObject(0))->wrappedFragment()->displayName(),
                 QStringLiteral("\tsherd 7\n"));
        QCOMPARE(projectFileText(back), text);
    }

    void numbersIgnoreTheUsersLocale() {
        // Where a locale with a decimal comma is installed, files still get decimal points.
        const QByteArray previous = std::setlocale(LC_NUMERIC, nullptr);
        bool commaLocale = false;
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "it_IT.UTF-8"})
            if (std::setlocale(LC_NUMERIC, name) && std::localeconv()->decimal_point[0] == ',') {
                commaLocale = true;
                break;
            }
        if (!commaLocale) {
            std::setlocale(LC_NUMERIC, previous.constData());
            QSKIP("no locale with a decimal comma is installed here");
        }
        const QString half = formatNumber(0.5), geo = formatNumber(512345.678);
        TotalGraph g;
        FragGroup* w = addFragment(g, writeTetrahedron(dir, "locale.ply"));
        const Matrix44d m = translation(0.5, 0.25, 512345.678);
        w->applyTransform(&m);
        QString error;
        const bool saved = saveProjectFile(dir.filePath("locale.prproj"), g, error);
        TotalGraph back;
        const bool read = readProjectFile(dir.filePath("locale.prproj"), back).ok();
        std::setlocale(LC_NUMERIC, previous.constData());
        QCOMPARE(half, QStringLiteral("0.5"));
        QCOMPARE(geo, QStringLiteral("512345.678"));
        QVERIFY(saved && read);
        QCOMPARE(allNumbers(back), allNumbers(g));
    }

    void missingFileCannotBeOpened() {
        TotalGraph g;
        QCOMPARE(readProjectFile(dir.filePath("nowhere.prproj"), g).status, ProjectReadReport::CannotOpen);
    }

    void importIntoItselfRenumbersEverything() {
        TotalGraph g;
        RecordingListener listener;
        buildProject(g);
        g.setListener(&listener);
        const QString path = dir.filePath("self.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, g, error));
        const QByteArray before = projectFileText(g);
        TotalGraph imported;
        QVERIFY(readProjectFile(path, imported).ok());
        g.importGraph(&imported);
        imported.clear();
        QVERIFY2(g.validate().isEmpty(), qPrintable(g.validate().join("; ")));
        QCOMPARE(g.objectCount(), 8);
        QCOMPARE(g.constraintTable().size(), std::size_t(4));
        // The originals are untouched: the first part of the new file is the old project.
        const QByteArray after = projectFileText(g);
        const QByteArray oldFragments = before.mid(0, before.indexOf("</Fragments>"));
        QVERIFY(after.startsWith(oldFragments));
        // Imported objects got ids 4..7, the group's member followed its wrapper.
        auto* importedGroup = dynamic_cast<FragGroup*>(g.getObject(7));
        QVERIFY(importedGroup && !importedGroup->isHidden());
        QCOMPARE(importedGroup->childCount(), 1);
        QCOMPARE(importedGroup->childMap().begin()->second->id(), 6);
        QCOMPARE(dynamic_cast<FragGroup*>(g.getObject(6))->wrappedFragment()->id(), 6);
        QCOMPARE(g.getConstraint(3)->frag(1), &g.getObject(7)->objId());
        QCOMPARE(g.getConstraint(3)->leafFrag(1)->key(), QStringLiteral("6:6"));
        QCOMPARE(listener.thumbnails.size(), std::size_t(0)); // no thumbnail reports from importing
    }

    void alnOfTwoFragments() {
        TotalGraph g;
        FragGroup* a = addFragment(g, writeTetrahedron(dir, "a.ply"));
        FragGroup* b = addFragment(g, writeTetrahedron(dir, "b.ply"));
        Q_UNUSED(a);
        const Matrix44d m = translation(10, 0, 0);
        b->applyTransform(&m);
        QByteArray text;
        {
            QTextStream out(&text);
            writeAln(out, g, QDir(dir.path()));
        }
        QCOMPARE(text, QByteArray("2\na.ply\n#\n1 0 0 0 \n0 1 0 0 \n0 0 1 0 \n0 0 0 1 \n"
                                  "b.ply\n#\n1 0 0 10 \n0 1 0 0 \n0 0 1 0 \n0 0 0 1 \n0"));
        // Fragments inside a group come at the group's place, by wrapper id.
        TotalGraph h;
        FragGroup* x = addFragment(h, writeTetrahedron(dir, "x.ply"));
        FragGroup* grp = addGroup(h);
        FragGroup* y = addFragment(h, writeTetrahedron(dir, "y.ply"));
        FragGroup* z = addFragment(h, writeTetrahedron(dir, "z.ply"));
        grp->addChild(z);
        grp->addChild(x);
        Q_UNUSED(y);
        QByteArray grouped;
        {
            QTextStream out(&grouped);
            writeAln(out, h, QDir(dir.path()));
        }
        QVERIFY(grouped.startsWith("3\nx.ply\n"));
        QVERIFY(grouped.indexOf("z.ply") < grouped.indexOf("y.ply"));
        TotalGraph empty;
        QString error;
        QVERIFY(exportAlnFile(dir.filePath("empty.aln"), empty, error));
        QCOMPARE(readAll(dir.filePath("empty.aln")), QByteArray("0\n0"));
    }

    // Meshes in other folders than the ALN file (below it, beside it, and in a sibling folder),
    // placed by turns, translations and a group: each entry, resolved against the ALN's folder,
    // names a mesh file that, read and placed by its matrix, lies where the fragment lies now.
    void alnWrittenAwayFromTheMeshesLandsOnThem() {
        QTemporaryDir site;
        for (const char* folder : {"scans/deep", "proj/parts"})
            QVERIFY(QDir(site.path()).mkpath(folder));
        TotalGraph g;
        FragGroup* a = addFragment(g, writeTetrahedron(site, "scans/a.ply"));
        FragGroup* b = addFragment(g, writeCube(site, "scans/deep/b.ply", {3, 0, 0}, 1.0));
        FragGroup* c = addFragment(g, writeTetrahedron(site, "proj/c.ply", {0, 3, 0}));
        FragGroup* d = addFragment(g, writeTetrahedron(site, "proj/parts/d.ply", {0, 0, 3}));
        FragGroup* grp = addGroup(g);
        grp->addChild(b);
        grp->addChild(d);
        const Matrix44d georeferenced = translation(0.1, -0.2, 512345.678) * rotationZ(1.0 / 3.0);
        const Matrix44d turned = rotationZ(-0.7) * translation(1, 2, 3);
        a->applyTransform(&georeferenced);
        grp->applyTransform(&turned);
        c->applyTransform(&turned);
        c->applyTransform(&georeferenced);

        const QString aln = site.filePath("proj/placed.aln");
        QString error;
        QVERIFY2(exportAlnFile(aln, g, error), qPrintable(error));
        const std::vector<AlnEntry> entries = readAlnFile(aln);
        QCOMPARE(entries.size(), std::size_t(4));
        std::map<QString, const Fragment*> byFile;
        for (FragGroup* w : {a, b, c, d})
            byFile[QFileInfo(w->wrappedFragment()->meshPath()).canonicalFilePath()] = w->wrappedFragment();
        QStringList names;
        for (const AlnEntry& e : entries) {
            names << e.mesh;
            const QString resolved = QFileInfo(QDir(site.filePath("proj")), e.mesh).canonicalFilePath();
            QVERIFY2(byFile.count(resolved), qPrintable(e.mesh));
            const Fragment& f = *byFile[resolved];
            FragMesh read;
            QVERIFY2(readPreparedMesh(resolved, read, error), qPrintable(error));
            QCOMPARE(read.vertices.size(), f.mesh().vertices.size());
            for (std::size_t v = 0; v < read.vertices.size(); ++v) {
                const Point3d placed = transformPoint(e.placement, read.vertices[v]);
                const Point3d now = f.mesh().vertices[v];
                QVERIFY2((placed - now).norm() <= 1e-12 * (1 + now.norm()),
                         qPrintable(QStringLiteral("%1 vertex %2").arg(e.mesh).arg(v)));
            }
        }
        // Beside the ALN a mesh keeps its bare name, as before.
        QCOMPARE(names, (QStringList{"../scans/a.ply", "c.ply", "../scans/deep/b.ply", "parts/d.ply"}));
    }

    void groupExportIsImportable() {
        TotalGraph g;
        buildProject(g);
        GeometrObj* member = dynamic_cast<FragGroup*>(g.getObject(3))->childMap().begin()->second;
        const QString path = dir.filePath("group.prproj");
        QString error;
        QVERIFY(exportGroupFile(path, *member, error));
        QCOMPARE(member->parentId(), 3);
        QVERIFY(readAll(path).startsWith("<Graph><Fragments><FragGroup id=\"-1:2\" >"));
        QVERIFY(!readAll(path).contains("Constraints"));
        // A fragment goes out in its wrapper, so that "Import" brings it in.
        FragGroup* wrapperA = dynamic_cast<FragGroup*>(g.getObject(0));
        QVERIFY(exportGroupFile(dir.filePath("fragment.prproj"), *wrapperA->wrappedFragment(), error));
        QVERIFY(readAll(dir.filePath("fragment.prproj"))
                    .startsWith("<Graph><Fragments><FragGroup id=\"-1:0\" >"));
        TotalGraph single;
        QVERIFY(readProjectFile(dir.filePath("fragment.prproj"), single).ok());
        QCOMPARE(single.objectCount(), 1);
        QVERIFY(exportGroupFile(dir.filePath("group3.prproj"), *g.getObject(3), error));
        TotalGraph imported;
        QVERIFY(readProjectFile(dir.filePath("group3.prproj"), imported).ok());
        g.importGraph(&imported);
        imported.clear();
        QCOMPARE(g.objectCount(), 6);
        QCOMPARE(g.constraintTable().size(), std::size_t(2));
        QVERIFY2(g.validate().isEmpty(), qPrintable(g.validate().join("; ")));
    }

    // A write limit of 256 bytes stands for a full disk. Each new text is longer than that; the
    // small ones are shorter than the buffer a save file writes out only at the end.
    void saveThatCannotCompleteKeepsTheOldFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("constraints");
        QTest::newRow("small project") << "project" << 4;
        QTest::newRow("large project") << "project" << 400;
        QTest::newRow("ALN") << "aln" << 0;
        QTest::newRow("group export") << "group" << 0;
    }
    void saveThatCannotCompleteKeepsTheOldFile() {
        QFETCH(QString, kind);
        QFETCH(int, constraints);
        QTemporaryDir own;
        TotalGraph g;
        std::vector<FragGroup*> wrappers;
        for (int i = 0; i < 8; ++i)
            wrappers.push_back(addFragment(g, writeTetrahedron(own, QStringLiteral("w%1.ply").arg(i))));
        for (int i = 0; i < constraints; ++i)
            addBand(g, wrappers[0], wrappers[1], {double(i), 0, 0}, {0, double(i), 0});
        FragGroup* grp = addGroup(g);
        for (int i = 2; i < 8; ++i)
            grp->addChild(wrappers[std::size_t(i)]);

        const QString path = own.filePath("old." + kind);
        const QByteArray old = "the previous content, which must survive\n";
        QVERIFY(writeText(path, old));
        const QStringList before = QDir(own.path()).entryList(QDir::Files | QDir::Hidden);
        QByteArray text;
        {
            QTextStream out(&text);
            if (kind == QLatin1String("aln"))
                writeAln(out, g, QDir(own.path()));
        }
        if (kind == QLatin1String("project"))
            text = projectFileText(g);
        else if (kind == QLatin1String("group"))
            text = groupFileText(*grp);
        QVERIFY(text.size() > 256);
        QCOMPARE(text.size() > 16384, constraints > 100);

        const LimitedRun run = runWithFileSizeLimit(256, [&](QByteArray& message) {
            QString error;
            const bool ok = kind == QLatin1String("aln")     ? exportAlnFile(path, g, error)
                            : kind == QLatin1String("group") ? exportGroupFile(path, *grp, error)
                                                             : saveProjectFile(path, g, error);
            message = error.toUtf8();
            return ok ? 0 : 1;
        });
        QVERIFY(run.exited);
        QCOMPARE(run.status, 1);
        QCOMPARE(QString::fromUtf8(run.message), QString::fromLocal8Bit(std::strerror(EFBIG)));
        QCOMPARE(readAll(path), old);
        QCOMPARE(QDir(own.path()).entryList(QDir::Files | QDir::Hidden), before);
    }

    void saveIntoMissingFolderCreatesNothing() {
        QTemporaryDir own;
        TotalGraph small;
        QString error;
        QVERIFY(!saveProjectFile(own.filePath("no/such/folder/p.prproj"), small, error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!exportAlnFile(own.filePath("no/such/folder/p.aln"), small, error));
        QVERIFY(QDir(own.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    }

    // A mesh path that is relative in the file stays relative to the file it is saved in, through
    // any number of moves of the project folder.
    void relativeMeshPathsStayRelativeThroughMovesAndSaves() {
        QTemporaryDir place;
        const QString first = place.filePath("first");
        QVERIFY(QDir().mkpath(first + "/meshes"));
        QVERIFY(QFile::copy(writeTetrahedron(dir, "rel.ply", {2, 0, 0}), first + "/meshes/rel.ply"));
        const QString elsewhere = writeTetrahedron(dir, "abs.ply");
        const QByteArray text =
            "<Project><Graph><Fragments>"
            "<FragGroup id=\"-1:0\" ><Hidden value=\"1\" /><Visible value=\"0\" /><Fragment id=\"0:0\" >"
            "<Mesh path=\"meshes/rel.ply\" /></Fragment></FragGroup>"
            "<FragGroup id=\"-1:1\" ><Hidden value=\"1\" /><Visible value=\"0\" /><Fragment id=\"1:1\" >"
            "<Mesh path=\"" +
            elsewhere.toUtf8() +
            "\" /></Fragment></FragGroup>"
            "</Fragments><Constraints></Constraints></Graph></Project>";
        QVERIFY(writeText(first + "/p.prproj", text));

        const QString second = place.filePath("second");
        QVERIFY(QDir().rename(first, second));
        {
            TotalGraph g;
            const ProjectReadReport report = readProjectFile(second + "/p.prproj", g);
            QVERIFY2(report.ok() && report.missingMeshes.isEmpty(),
                     qPrintable(report.detail + report.missingMeshes.join("; ")));
            QString error;
            QVERIFY(saveProjectFile(second + "/p.prproj", g, error));
            QVERIFY(QDir().mkpath(second + "/copies"));
            QVERIFY(saveProjectFile(second + "/copies/q.prproj", g, error));
        }
        QVERIFY(readAll(second + "/p.prproj").contains("<Mesh path=\"meshes/rel.ply\" />"));
        QVERIFY(readAll(second + "/copies/q.prproj").contains("<Mesh path=\"../meshes/rel.ply\" />"));
        QVERIFY(readAll(second + "/p.prproj").contains("<Mesh path=\"" + elsewhere.toUtf8() + "\" />"));

        const QString third = place.filePath("third");
        QVERIFY(QDir().rename(second, third));
        for (const QString& project : {third + "/p.prproj", third + "/copies/q.prproj"}) {
            TotalGraph g;
            const ProjectReadReport report = readProjectFile(project, g);
            QVERIFY2(report.ok() && report.missingMeshes.isEmpty(),
                     qPrintable(project + ": " + report.detail + report.missingMeshes.join("; ")));
            const Fragment* f = dynamic_cast<FragGroup*>(g.getObject(0))->wrappedFragment();
            QCOMPARE(QFileInfo(f->meshPath()).canonicalFilePath(),
                     QFileInfo(third + "/meshes/rel.ply").canonicalFilePath());
            QCOMPARE(f->mesh().vertices[0], Point3d(2, 0, 0));
        }
    }

    void movedProjectFolderStillOpens() {
        QTemporaryDir place;
        const QString original = place.filePath("site");
        QVERIFY(QDir().mkpath(original));
        TotalGraph g;
        const QString meshA = writeTetrahedron(dir, "m0.ply");
        QVERIFY(QFile::copy(meshA, original + "/m0.ply"));
        addFragment(g, original + "/m0.ply");
        QVERIFY(QFile::copy(writeTetrahedron(dir, "m1.ply", {1, 1, 1}), original + "/m1.ply"));
        FragGroup* rel = addFragment(g, original + "/m1.ply");
        rel->wrappedFragment()->setPath(QStringLiteral("sub/../m1.ply")); // a relative path, as hand-written
        QString error;
        QVERIFY(saveProjectFile(original + "/p.prproj", g, error));
        const QString moved = place.filePath("moved");
        QVERIFY(QDir().rename(original, moved));

        TotalGraph back;
        const ProjectReadReport report = readProjectFile(moved + "/p.prproj", back);
        QVERIFY2(report.ok(), qPrintable(report.detail));
        QVERIFY2(report.missingMeshes.isEmpty(), qPrintable(report.missingMeshes.join("; ")));
        auto* f0 = dynamic_cast<FragGroup*>(back.getObject(0))->wrappedFragment();
        QVERIFY(f0->hasMesh());
        QCOMPARE(QFileInfo(f0->meshPath()).canonicalFilePath(),
                 QFileInfo(moved + "/m0.ply").canonicalFilePath());
        QVERIFY(dynamic_cast<FragGroup*>(back.getObject(1))->wrappedFragment()->hasMesh());
    }

    void missingMeshesAreListedAndReadingGoesOn() {
        TotalGraph g;
        addFragment(g, dir.filePath("gone.ply"));
        addFragment(g, writeTetrahedron(dir, "here.ply"));
        const QString path = dir.filePath("missing.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, g, error));
        TotalGraph back;
        const ProjectReadReport report = readProjectFile(path, back);
        QVERIFY(report.ok());
        // The path once, with the reason; where the mesh was looked for.
        QCOMPARE(report.missingMeshes, QStringList{dir.filePath("gone.ply") + ": the file does not exist"});
        QCOMPARE(report.meshFolders, QStringList{dir.path()});
        QCOMPARE(back.objectCount(), 2);
        QVERIFY(!dynamic_cast<FragGroup*>(back.getObject(0))->wrappedFragment()->hasMesh());
        // The path is kept as written.
        QCOMPARE(projectFileText(back), readAll(path));

        // A relative path is looked for below the project's folder and beside it; a damaged mesh
        // says what is wrong with it.
        QTemporaryDir site;
        QVERIFY(QDir(site.path()).mkpath("p"));
        QVERIFY(writeText(site.filePath("p/broken.ply"), "ply\nformat ascii 1.0\n"));
        QVERIFY(writeText(site.filePath("p/r.prproj"),
                          "<Project><Graph><Fragments>"
                          "<FragGroup id=\"-1:0\" ><Fragment id=\"0:0\" ><Mesh path=\"scans/lost.ply\" />"
                          "</Fragment></FragGroup><FragGroup id=\"-1:1\" ><Fragment id=\"1:1\" >"
                          "<Mesh path=\"broken.ply\" /></Fragment></FragGroup>"
                          "</Fragments><Constraints></Constraints></Graph></Project>"));
        TotalGraph relative;
        const ProjectReadReport lost = readProjectFile(site.filePath("p/r.prproj"), relative);
        QVERIFY2(lost.ok(), qPrintable(lost.detail));
        QCOMPARE(lost.missingMeshes.size(), 2);
        QCOMPARE(lost.missingMeshes[0], site.filePath("p/scans/lost.ply") + ": the file does not exist");
        QVERIFY2(lost.missingMeshes[1].startsWith(site.filePath("p/broken.ply") + ": ") &&
                     lost.missingMeshes[1].count("broken.ply") == 1 &&
                     !lost.missingMeshes[1].contains("does not exist"),
                 qPrintable(lost.missingMeshes[1]));
        QVERIFY(lost.meshFolders.contains(site.filePath("p/scans")));
        QVERIFY(lost.meshFolders.contains(site.filePath("p")));
        QCOMPARE(lost.meshFolders.count(site.filePath("p")), 1);
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "test_project_file.moc"
