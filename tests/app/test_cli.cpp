// ostrakit-cli end to end on files: the sample, solving it, info, and every refusal with its
// message and exit status, never leaving a partial file behind.

#include "../io/file_size_limit.h"
#include "../scene/scene_fixtures.h"
#include "cli_commands.h"
#include "cli_run.h"
#include "mispicked_sample.h"
#include "project_reader.h"
#include "project_writer.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
CliRun cli(const QStringList& args) {
    return runCli(runCliCommand, args);
}
} // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() { QDir::setCurrent(dir.path()); }

    void helpAndVersionAnswerWithoutRunning_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out"); // a pattern
        QTest::newRow("--version") << QStringList{"--version"} << 0
                                   << R"(^ostrakit-cli \d+\.\d+ \(Qt 6\.[0-9.]+\)\n$)";
        QTest::newRow("--help")
            << QStringList{"--help"} << 0
            << R"(^usage:\n  ostrakit-cli solve .*\n  ostrakit-cli info FILE\n.*--version \| COMMAND --help\n$)";
        QTest::newRow("-h") << QStringList{"-h"} << 0 << "^usage:\n";
        QTest::newRow("solve --help, nothing read") << QStringList{"solve", "missing.prproj", "--help"} << 0
                                                    << "^usage:\n  ostrakit-cli solve PROJECT .*\n\nSolves ";
        QTest::newRow("interpenetration --help")
            << QStringList{"interpenetration", "--help"} << 0
            << "^usage:\n  ostrakit-cli interpenetration .*needs an X server\.\n$";
        QTest::newRow("a command") << QStringList{"info", "mesh.ply"} << -1 << "^$";
        QTest::newRow("an unknown command's help") << QStringList{"frobnicate", "--help"} << -1 << "^$";
        QTest::newRow("nothing") << QStringList{} << -1 << "^$";
    }

    void helpAndVersionAnswerWithoutRunning() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, out);
        const CliRun r = runCli(
            [](const QStringList& a, std::FILE* o, std::FILE*) { return cliHelpOrVersion(a, o); }, args);
        QCOMPARE(r.status, status);
        const QRegularExpression pattern(out, QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(pattern.match(r.out).hasMatch(), qPrintable(r.out));
        QVERIFY(!QFile::exists("missing.prproj"));
    }

    void sampleSolvesAndWritesBothFiles() {
        const QString sample = dir.filePath("sample");
        CliRun made = cli({"make-sample", sample});
        QCOMPARE(made.status, 0);
        QVERIFY(made.out.contains("8 pieces"));
        QVERIFY(QFile::exists(sample + "/sample.prproj"));
        QCOMPARE(QDir(sample).entryList({"*.ply"}).size(), 8);

        CliRun info = cli({"info", sample + "/sample.prproj"});
        QCOMPARE(info.status, 0);
        QVERIFY(info.out.contains("objects 8 (8 fragments, 0 groups)"));
        QVERIFY(info.out.contains("tree depth 1"));
        QVERIFY(info.out.contains(
            "RBand: 0 connecting Fragment: piece_1.ply to Fragment: piece_2.ply. RE: 100%"));
        QVERIFY(!info.out.contains("mesh not read"));

        CliRun meshInfo = cli({"info", sample + "/piece_1.ply"});
        QCOMPARE(meshInfo.status, 0);
        QVERIFY(meshInfo.out.contains("colours yes"));
        QVERIFY(meshInfo.out.contains("prepare for drawing"));

        const QString solved = dir.filePath("solved.prproj"), aln = dir.filePath("placed.aln");
        CliRun run = cli({"solve", sample + "/sample.prproj", "--output", solved, "--aln", aln});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains("level 0: 8 entities, 36 point pairs"), qPrintable(run.out));
        // Put back exactly, the vessel leaves nothing to diagnose: the level line is all.
        QCOMPARE(run.out.count('\n'), 1);
        // The solved project reads back with every constraint met.
        TotalGraph back;
        QVERIFY(readProjectFile(solved, back).ok());
        for (const auto& [id, c] : back.constraintTable())
            QVERIFY2(c->error() < 1e-6, qPrintable(QString::number(c->error())));
        QFile placement(aln);
        QVERIFY(placement.open(QIODevice::ReadOnly));
        const QByteArray text = placement.readAll();
        // The ALN names each mesh from its own folder.
        QVERIFY(text.startsWith("8\nsample/piece_1.ply\n#\n1 0 0 0 \n"));
        QVERIFY(text.endsWith("\n0"));
        // The sample names its meshes relative to its folder; so does the solved project, from its own.
        QFile solvedFile(solved);
        QVERIFY(solvedFile.open(QIODevice::ReadOnly));
        QVERIFY(solvedFile.readAll().contains("<Mesh path=\"sample/piece_1.ply\" />"));
    }

    // One band picked in the wrong place among the vessel's exact ones: after the level line, one
    // line names it and says what to do.
    void solveNamesTheBandPickedInTheWrongPlace() {
        MispickedSample sample;
        QString error;
        QVERIFY(QDir().mkpath(dir.filePath("mispicked")));
        QVERIFY2(writeMispickedSample(dir.filePath("mispicked"), sample, error), qPrintable(error));
        CliRun run = cli({"solve", sample.projectPath});
        QCOMPARE(run.status, 0);
        const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() == 2, qPrintable(run.out));
        QVERIFY2(
            lines[0].startsWith(QString("level 0: 8 entities, %1 point pairs").arg(sample.constraintCount)),
            qPrintable(run.out));
        const QRegularExpression named("^RBand 4 disagrees with the others \\(distance [0-9.]+, [0-9.]+× the "
                                       "median\\): likely picked in the wrong place; check it\\.$");
        QVERIFY2(named.match(lines[1]).hasMatch(), qPrintable(lines[1]));
    }

    // Outputs that cannot be written completely (a file-size limit, as on a full disk): the run
    // fails with the system's reason, and both old files stay as they were.
    void solveThatCannotWriteKeepsBothOldFiles() {
        const QString sample = dir.filePath("limited");
        QCOMPARE(cli({"make-sample", sample}).status, 0);
        const QString solved = sample + "/solved.prproj", aln = sample + "/placed.aln";
        const QByteArray oldProject = "old project", oldAln = "old placement";
        for (const auto& [path, text] : {std::pair{solved, oldProject}, std::pair{aln, oldAln}}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(text), text.size());
        }
        const QStringList before = QDir(sample).entryList(QDir::Files | QDir::Hidden);
        for (const QStringList& order :
             {QStringList{"--output", solved, "--aln", aln}, QStringList{"--aln", aln, "--output", solved}}) {
            const LimitedRun run = runWithFileSizeLimit(256, [&](QByteArray& message) {
                char* text = nullptr;
                std::size_t length = 0;
                std::FILE* err = open_memstream(&text, &length);
                std::FILE* out = std::fopen("/dev/null", "w");
                const int status =
                    runCliCommand(QStringList{"solve", sample + "/sample.prproj"} + order, out, err);
                std::fclose(out);
                std::fclose(err);
                message = QByteArray(text, qsizetype(length));
                std::free(text);
                return status;
            });
            QVERIFY(run.exited);
            QCOMPARE(run.status, 1);
            QVERIFY2(run.message.contains("couldn't write"), run.message.constData());
            QVERIFY2(run.message.contains(std::strerror(EFBIG)), run.message.constData());
            QCOMPARE(QDir(sample).entryList(QDir::Files | QDir::Hidden), before);
            for (const auto& [path, text] : {std::pair{solved, oldProject}, std::pair{aln, oldAln}}) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll(), text);
            }
        }
    }

    void refusalsNameTheCauseAndWriteNothing() {
        CliRun none = cli({});
        QCOMPARE(none.status, 2);
        QVERIFY(none.err.contains("usage:"));
        QCOMPARE(cli({"polish", "x"}).status, 2);
        QCOMPARE(cli({"solve", "a.prproj", "--colour", "red"}).status, 2);

        const QString missing = dir.filePath("absent.prproj");
        CliRun absent = cli({"solve", missing, "--output", dir.filePath("never.prproj")});
        QCOMPARE(absent.status, 1);
        QVERIFY(absent.err.contains("couldn't open the project"));
        QVERIFY(absent.err.contains("absent.prproj"));
        QVERIFY(!QFile::exists(dir.filePath("never.prproj")));

        const QString bad = dir.filePath("bad.prproj");
        {
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<Project><Graph><Fragments>");
        }
        CliRun damaged = cli({"info", bad});
        QCOMPARE(damaged.status, 1);
        // The file, the line where the reader stopped and what it found there.
        QVERIFY2(damaged.err.startsWith("ostrakit-cli: badly written project file " + bad + ": line 1: "),
                 qPrintable(damaged.err));
        {
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        }
        QCOMPARE(cli({"info", bad}).err,
                 "ostrakit-cli: badly written project file " + bad + ": the file is empty\n");
        {
            QFile f(bad);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("<Graph><Fragments><FragGroup id=\"-0:0\"></FragGroup><FragGroup id=\"-0:1\"><Fragment "
                    "id=\"1:1\"/>");
        }
        CliRun cycle = cli({"info", bad});
        QCOMPARE(cycle.status, 1);
        QVERIFY2(cycle.err.contains("badly written project file") &&
                     cycle.err.contains("names 0 as its parent"),
                 qPrintable(cycle.err));

        CliRun garbageMesh = cli({"info", bad.left(bad.size() - 7) + ".ply"});
        QCOMPARE(garbageMesh.status, 1);
        QVERIFY(!garbageMesh.err.isEmpty());

        // An output that cannot be written: neither file appears.
        QVERIFY(cli({"make-sample", dir.filePath("s2")}).status == 0);
        const QString aln = dir.filePath("ok.aln");
        CliRun unwritable = cli({"solve", dir.filePath("s2/sample.prproj"), "--aln", aln, "--output",
                                 dir.filePath("no/such/folder/out.prproj")});
        QCOMPARE(unwritable.status, 1);
        QVERIFY(unwritable.err.contains("out.prproj"));
        QVERIFY(!QFile::exists(aln));
    }

    void projectInfoListsMissingMeshesAndDepth() {
        TotalGraph g;
        installMeshReaders();
        FragGroup* a = addFragment(g, writeTetrahedron(dir, "in.ply"));
        FragGroup* lost = addFragment(g, dir.filePath("lost.ply"));
        FragGroup* grp = addGroup(g);
        grp->addChild(a);
        addBand(g, grp, lost, {0, 0, 0}, {1, 0, 0});
        const QString path = dir.filePath("depth.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, g, error));
        CliRun info = cli({"info", path});
        QCOMPARE(info.status, 0);
        QVERIFY(info.out.contains("tree depth 2"));
        QVERIFY2(info.out.contains("missing mesh " + dir.filePath("lost.ply") +
                                   ": the file does not exist\n" + "meshes looked for in " + dir.path() +
                                   "\n"),
                 qPrintable(info.out));
        QVERIFY(info.out.contains("(mesh not read)"));
        QVERIFY(info.out.contains("constraints 1"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
