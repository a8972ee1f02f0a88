// "ostrakit-cli interpenetration" on project files under an X server: marks of two spheres pushed
// into each other against the faces that lie inside the other exactly, the marks file, an exact
// assembly without marks, and the refusals (bad options, unreadable project, unwritable marks
// file, no X server at all).

#include "../gl_test_main.h"
#include "../view/closed_shapes.h"
#include "cli_commands.h"
#include "cli_interpenetration.h"
#include "cli_run.h"
#include "mesh_readers.h"
#include "project_writer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>
#include <cstdio>

namespace {
CliRun interpenetration(const QStringList& args) {
    return runCli(runInterpenetration, args);
}

// Faces whose three vertices lie inside the sphere (c, r); those crossing its surface are left out.
QSet<int> facesInside(const FragMesh& m, const Point3d& c, double r, QSet<int>& crossing) {
    QSet<int> inside;
    for (std::size_t k = 0; k < m.faces.size(); ++k) {
        int in = 0;
        for (std::uint32_t v : m.faces[k])
            in += (m.vertices[v] - c).norm() < r ? 1 : 0;
        if (in == 3)
            inside.insert(int(k));
        else if (in > 0)
            crossing.insert(int(k));
    }
    return inside;
}
} // namespace

class TestCliInterpenetration : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString project;
    std::vector<FragMesh> meshes;
    const std::vector<Point3d> centres = {{0, 0, 0}, {1.3, 0.1, 0}};

private slots:
    void initTestCase() {
        QDir::setCurrent(dir.path()); // the logs go here
        installMeshReaders();
        project = writeSphereProject(dir.path(), centres, 96, 48, meshes);
        QVERIFY(!project.isEmpty());
    }

    void marksTheFacesInsideTheOtherSphere_data() {
        QTest::addColumn<QString>("method");
        QTest::addColumn<double>("least"); // precision and recall
        QTest::newRow("exact (the default)") << QString() << 0.99;
        QTest::newRow("depth peeling") << QStringLiteral("peeling") << 0.95;
    }

    void marksTheFacesInsideTheOtherSphere() {
        QFETCH(QString, method);
        QFETCH(double, least);
        const QString marksPath = dir.filePath("marks.json");
        QStringList args{project, "--marks", marksPath};
        if (!method.isEmpty())
            args << "--method" << method;
        const CliRun r = interpenetration(args);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        // One line per fragment; exact: one per pair that interpenetrates and the tree and query
        // figures; peeling: one per direction; then the times.
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(
            lines.filter(QRegularExpression("^fragment .*sphere_\\d\\.ply: \\d+ faces, \\d+ marked$")).size(),
            2);
        const bool exact = method.isEmpty();
        QCOMPARE(lines.filter(QRegularExpression("^direction \\+[xyz]: \\d+ passes, [0-9.]+ s$")).size(),
                 exact ? 0 : 3);
        QCOMPARE(lines
                     .filter(QRegularExpression("^pair .*sphere_0\\.ply - .*sphere_1\\.ply: \\d+ faces, area "
                                                "[0-9.]+, greatest depth [0-9.]+$"))
                     .size(),
                 exact ? 1 : 0);
        QCOMPARE(lines.filter(QRegularExpression("^trees [0-9.]+ s, [0-9.]+ bytes per triangle$")).size(),
                 exact ? 1 : 0);
        QVERIFY(lines.last().startsWith("total "));

        QFile file(marksPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(root.value("method").toString(),
                 exact ? QStringLiteral("exact") : QStringLiteral("peeling"));
        // Exact: 1e-4 of the diagonal of the two unit spheres' box, in model units.
        const double diagonal = Point3d(3.3, 2.1, 2.0).norm();
        QVERIFY(std::abs(root.value("tolerance").toDouble() - (exact ? 1e-4 * diagonal : double(1e-5f))) <
                1e-9);
        const QJsonArray fragments = root.value("fragments").toArray();
        QCOMPARE(fragments.size(), 2);
        std::size_t allMarked = 0;
        for (int i = 0; i < 2; ++i) {
            const QJsonObject f = fragments[i].toObject();
            QCOMPARE(f.value("mesh").toString(), dir.filePath(QStringLiteral("sphere_%1.ply").arg(i)));
            QCOMPARE(f.value("faces").toInteger(), qint64(meshes[std::size_t(i)].faces.size()));
            QSet<int> crossing;
            const QSet<int> inside =
                facesInside(meshes[std::size_t(i)], centres[std::size_t(1 - i)], 1.0, crossing);
            QVERIFY(inside.size() > 300);
            int markedInside = 0, markedOutside = 0;
            for (const QJsonValue v : f.value("marked").toArray()) {
                const int k = v.toInt();
                if (inside.contains(k))
                    ++markedInside;
                else if (!crossing.contains(k))
                    ++markedOutside;
            }
            const double precision = double(markedInside) / std::max(1, markedInside + markedOutside);
            const double recall = double(markedInside) / double(inside.size());
            QVERIFY2(precision >= least && recall >= least,
                     qPrintable(QStringLiteral("precision %1, recall %2").arg(precision).arg(recall)));
            // The printed count is the file's.
            QVERIFY(r.out.contains(QStringLiteral("%1 faces, %2 marked")
                                       .arg(meshes[std::size_t(i)].faces.size())
                                       .arg(f.value("marked").toArray().size())));
            allMarked += std::size_t(f.value("marked").toArray().size());
        }
        const QJsonArray pairs = root.value("pairs").toArray();
        QCOMPARE(pairs.size(), exact ? 1 : 0);
        if (exact) {
            const QJsonObject pair = pairs[0].toObject();
            QCOMPARE(pair.value("first").toString(), dir.filePath("sphere_0.ply"));
            QCOMPARE(pair.value("faces").toInteger(), qint64(allMarked));
            // The spheres overlap by 2 - |c1 - c0| along the line of their centres: the deepest
            // face lies about that far below the other sphere's surface.
            const double overlap = 2.0 - (centres[1] - centres[0]).norm();
            QVERIFY(std::abs(pair.value("depth").toDouble() - overlap) < 0.01);
            QVERIFY(pair.value("area").toDouble() > 0.5);
        }
    }

    void aSolvedExactAssemblyHasNoMarks() {
        const QString sample = dir.filePath("sample");
        QCOMPARE(runCli(runCliCommand, {"make-sample", sample}).status, 0);
        const CliRun r = interpenetration({sample + "/sample.prproj", "--solve", "--tolerance", "0.0001"});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QVERIFY(
            r.out.contains(QRegularExpression("^level 0: 8 entities", QRegularExpression::MultilineOption)));
        QCOMPARE(r.out.count(QRegularExpression("faces, 0 marked\\n")), 8);
    }

    void refusals() {
        // Options it does not know, a tolerance that is no number or negative, no project.
        for (const QStringList& args :
             {QStringList{}, QStringList{project, "--tolerance"}, QStringList{project, "--tolerance", "abc"},
              QStringList{project, "--tolerance", "-1"}, QStringList{project, "--fast"},
              QStringList{project, "--method", "fast"}, QStringList{project, "--method"}}) {
            const CliRun r = interpenetration(args);
            QCOMPARE(r.status, 2);
            QVERIFY(r.err.contains("usage:"));
        }
        const CliRun missing = interpenetration({dir.filePath("none.prproj")});
        QCOMPARE(missing.status, 1);
        QVERIFY(missing.err.contains("couldn't open the project"));

        // A marks file that cannot be written: exit 1, and what was there before stays.
        const QString folder = dir.filePath("taken");
        QVERIFY(QDir().mkpath(folder));
        const CliRun unwritable = interpenetration({project, "--marks", folder});
        QCOMPARE(unwritable.status, 1);
        QVERIFY2(unwritable.err.contains("couldn't write"), qPrintable(unwritable.err));
        QVERIFY(QFileInfo(folder).isDir());
    }

    // Exact marks need no window system; depth peeling says it has none.
    void withoutAnXServer() {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(OSTRAKIT_CLI_PATH), {"interpenetration", project, "--method", "peeling"});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(cli.readAllStandardError().contains("no usable OpenGL context"), "no message");

        cli.start(QStringLiteral(OSTRAKIT_CLI_PATH), {"interpenetration", project});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY(cli.readAllStandardOutput().contains("\npair "));
    }
};

OSTRAKIT_GL_TEST_MAIN(TestCliInterpenetration)
#include "test_cli_interpenetration.moc"
