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

    void marksTheFacesInsideTheOtherSphere() {
        const QString marksPath = dir.filePath("marks.json");
        const CliRun r = interpenetration({project, "--marks", marksPath});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        // One line per fragment, one per direction, then the times.
        const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(
            lines.filter(QRegularExpression("^fragment .*sphere_\\d\\.ply: \\d+ faces, \\d+ marked$")).size(),
            2);
        QCOMPARE(lines.filter(QRegularExpression("^direction \\+[xyz]: \\d+ passes, [0-9.]+ s$")).size(), 3);
        QVERIFY(lines.last().startsWith("total "));

        QFile file(marksPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(root.value("tolerance").toDouble(), double(1e-5f));
        const QJsonArray fragments = root.value("fragments").toArray();
        QCOMPARE(fragments.size(), 2);
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
            QVERIFY2(precision >= 0.95 && recall >= 0.95,
                     qPrintable(QStringLiteral("precision %1, recall %2").arg(precision).arg(recall)));
            // The printed count is the file's.
            QVERIFY(r.out.contains(QStringLiteral("%1 faces, %2 marked")
                                       .arg(meshes[std::size_t(i)].faces.size())
                                       .arg(f.value("marked").toArray().size())));
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
              QStringList{project, "--tolerance", "-1"}, QStringList{project, "--fast"}}) {
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

    void withoutAnXServerItSaysSo() {
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral(OSTRAKIT_CLI_PATH), {"interpenetration", project});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(cli.readAllStandardError().contains("no usable OpenGL context"), "no message");
    }
};

OSTRAKIT_GL_TEST_MAIN(TestCliInterpenetration)
#include "test_cli_interpenetration.moc"
