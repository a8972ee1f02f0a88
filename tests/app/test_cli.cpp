// ostrakit-cli end to end on files: the sample, solving it, info, and every refusal with its
// message and exit status, never leaving a partial file behind.

#include "../scene/scene_fixtures.h"
#include "cli_commands.h"
#include "project_reader.h"
#include "project_writer.h"

#include <QDir>
#include <QtTest>
#include <cstdio>

namespace {
struct CliRun {
    int status = 0;
    QString out, err;
};

QString readStream(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    QByteArray bytes;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes.append(buffer, qsizetype(n));
    return QString::fromLocal8Bit(bytes);
}

CliRun cli(const QStringList& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CliRun run;
    run.status = runCliCommand(args, out, err);
    run.out = readStream(out);
    run.err = readStream(err);
    std::fclose(out);
    std::fclose(err);
    return run;
}
} // namespace

class TestCli : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() { QDir::setCurrent(dir.path()); }

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
        // The solved project reads back with every constraint met.
        TotalGraph back;
        QVERIFY(readProjectFile(solved, back).ok());
        for (const auto& [id, c] : back.constraintTable())
            QVERIFY2(c->error() < 1e-6, qPrintable(QString::number(c->error())));
        QFile placement(aln);
        QVERIFY(placement.open(QIODevice::ReadOnly));
        const QByteArray text = placement.readAll();
        QVERIFY(text.startsWith("8\npiece_1.ply\n#\n1 0 0 0 \n"));
        QVERIFY(text.endsWith("\n0"));
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
        QVERIFY(damaged.err.contains("badly written project file"));

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
        QVERIFY(info.out.contains("missing mesh " + dir.filePath("lost.ply")));
        QVERIFY(info.out.contains("(mesh not read)"));
        QVERIFY(info.out.contains("constraints 1"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
