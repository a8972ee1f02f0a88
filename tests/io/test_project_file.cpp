// Project files, ALN and group exports: exact text, round trips to the last bit, escaping, import
// renumbering, damaged files, failed writes and moved project folders.

#include "../scene/scene_fixtures.h"
#include "placement_export.h"
#include "project_reader.h"
#include "project_writer.h"
#include "xml_text.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <clocale>
#include <csignal>
#include <random>
#include <sys/resource.h>

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
        QTest::newRow("not XML") << QByteArray("this is not a project");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("no graph") << QByteArray("<Project></Project>");
        QTest::newRow("truncated") << project(group, {}).left(60);
        QTest::newRow("mismatched tags") << QByteArray("<Project><Graph><Fragments></Graph></Project>");
        QTest::newRow("group outside Fragments")
            << QByteArray("<Project><Graph>" + group + "</Graph></Project>");
        QTest::newRow("constraint outside Constraints") << project(group + group1 + groupBand, {});
        QTest::newRow("frags name a missing object") << project(group, groupBand);
        QTest::newRow("lfrags name a missing object") << project(group + group1, band);
        QTest::newRow("one frags item") << project(
            group + group1, QByteArray(groupBand).replace("frags=\"-1:0 -1:1\"", "frags=\"-1:0\""));
        QTest::newRow("non-numeric matrix")
            << project(QByteArray(group).replace("0 0 1 0 0", "0 0 x 0 0"), {});
        QTest::newRow("short matrix") << project(QByteArray(group).replace("0 0 0 0 1 ", ""), {});
        QTest::newRow("non-numeric point") << project(
            group + group1, QByteArray(groupBand).replace("coord=\"1 0 0\"", "coord=\"1 zero 0\""));
        QTest::newRow("two coordinates")
            << project(group + group1, QByteArray(groupBand).replace("coord=\"1 0 0\"", "coord=\"1 0\""));
        QTest::newRow("non-numeric stiffness")
            << project(group + group1, QByteArray(groupBand).replace("stiff=\"1\"", "stiff=\"hard\""));
        QTest::newRow("non-numeric id") << project(QByteArray(group).replace("-1:0", "-1:zero"), {});
        QTest::newRow("non-numeric flag")
            << project(QByteArray(group).replace("Hidden value=\"0\"", "Hidden value=\"\""), {});
        QTest::newRow("same id twice") << project(group + group, {});
        QTest::newRow("constraint id twice") << project(group + group1, groupBand + groupBand);
        const QByteArray wrappers =
            "<FragGroup id=\"-1:0\" ><Transformation matr=\"1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 \" />"
            "<Hidden value=\"1\" /><Visible value=\"0\" /><Fragment id=\"0:0\" >"
            "<Mesh path=\"none.ply\" /></Fragment></FragGroup>";
        QByteArray three = wrappers + QByteArray(wrappers).replace("0:0", "1:1").replace("-1:0", "-1:1") +
                           QByteArray(wrappers).replace("0:0", "2:2").replace("-1:0", "-1:2");
        QTest::newRow("picked outside the joined object")
            << project(three, QByteArray(band).replace("lfrags=\"0:0 1:1\"", "lfrags=\"0:0 2:2\""));
    }
    void damagedFilesAreRefused() {
        QFETCH(QByteArray, text);
        const QString path = dir.filePath("damaged.prproj");
        QVERIFY(writeText(path, text));
        TotalGraph g;
        const ProjectReadReport report = readProjectFile(path, g);
        QCOMPARE(report.status, ProjectReadReport::BadlyWritten);
        QVERIFY(!report.detail.isEmpty());
        QVERIFY(g.isEmpty());
        QVERIFY(g.constraintTable().empty());
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
            writeAln(out, g);
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
            writeAln(out, h);
        }
        QVERIFY(grouped.startsWith("3\nx.ply\n"));
        QVERIFY(grouped.indexOf("z.ply") < grouped.indexOf("y.ply"));
        TotalGraph empty;
        QString error;
        QVERIFY(exportAlnFile(dir.filePath("empty.aln"), empty, error));
        QCOMPARE(readAll(dir.filePath("empty.aln")), QByteArray("0\n0"));
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

    void failedSaveKeepsThePreviousFile() {
        QTemporaryDir own;
        TotalGraph small;
        const QString path = own.filePath("keep.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, small, error));
        const QByteArray old = readAll(path);

        TotalGraph big;
        FragGroup* a = addFragment(big, writeTetrahedron(own, "k0.ply"));
        FragGroup* b = addFragment(big, writeTetrahedron(own, "k1.ply"));
        for (int i = 0; i < 2000; ++i)
            addBand(big, a, b, {double(i), 0, 0}, {0, double(i), 0});
        // A full disk: writes beyond 4 KiB fail.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tight = saved;
        tight.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &tight);
        const bool saved_ok = saveProjectFile(path, big, error);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!saved_ok);
        QVERIFY(!error.isEmpty());
        QCOMPARE(readAll(path), old);
        QCOMPARE(QDir(own.path()).entryList({"*.prproj*"}, QDir::Files), QStringList{"keep.prproj"});
        // Saving into a folder that does not exist fails too, without creating anything.
        QVERIFY(!saveProjectFile(own.filePath("no/such/folder/p.prproj"), small, error));
        QVERIFY(!exportAlnFile(own.filePath("no/such/folder/p.aln"), small, error));
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
        QCOMPARE(report.missingMeshes.size(), 1);
        QVERIFY(report.missingMeshes[0].startsWith(dir.filePath("gone.ply")));
        QCOMPARE(back.objectCount(), 2);
        QVERIFY(!dynamic_cast<FragGroup*>(back.getObject(0))->wrappedFragment()->hasMesh());
        // The path is kept as written.
        QCOMPARE(projectFileText(back), readAll(path));
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "test_project_file.moc"
