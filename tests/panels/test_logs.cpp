// The user-time table in "logres.txt", the diagnostic log "LogError.txt" and the bounded reading
// of text files, on real files in a scratch working directory.

#include "diagnostic_log.h"
#include "user_time_log.h"

#include <QRegularExpression>
#include <QtTest>

namespace {
QByteArray contents(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

// The file one measurement writes, with its time as the time stands in it.
QByteArray expectedTable(const QByteArray& time) {
    return "\\begin{center}\n"
           "\\begin{tabular}{|c| p{6cm}|c|c|c|c|}\n"
           "\\hline\n"
           "It. & Entities & \\# Constraints & Solver Time & Solver It. & RE\\\\ \\hline\n"
           "\\end{tabular}\n"
           "\\end{center}\\begin{center}\n"
           "\\begin{tabular}{|c|c|}\n"
           "\\hline\n"
           "User Time & " +
           time +
           "\\\\\n"
           "\\hline\\end{tabular}\n"
           "\\end{center}";
}

QByteArray timeIn(const QByteArray& table) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("User Time & ([^\\\\]*)\\\\")).match(QString::fromLatin1(table));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}
} // namespace

class TestLogs : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString previous;

private slots:
    void initTestCase() {
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
    void cleanupTestCase() { QDir::setCurrent(previous); }

    void aMeasurementWritesTheTablesByteForByte() {
        UserTimeLog log;
        QVERIFY(log.toggle());
        QVERIFY(log.isMeasuring());
        QTest::qWait(30);
        QVERIFY(!log.toggle());
        const QByteArray table = contents(QStringLiteral("logres.txt"));
        const QByteArray time = timeIn(table);
        QCOMPARE(table, expectedTable(time));
        QCOMPARE(time, QString::number(log.lastSeconds(), 'g', 6).toLatin1());
        QVERIFY(log.lastSeconds() >= 0.03 && log.lastSeconds() < 30);
    }

    void aSecondMeasurementLeavesNoTailOfAnOlderFile() {
        write(QStringLiteral("logres.txt"), QByteArray(5000, 'x') + "\nold table\n");
        UserTimeLog log;
        log.toggle();
        log.toggle();
        const QByteArray table = contents(QStringLiteral("logres.txt"));
        QCOMPARE(table, expectedTable(timeIn(table)));
    }

    void aMeasurementRunsWhenTheFileCannotBeWritten() {
        QVERIFY(QDir().mkpath(QStringLiteral("blocked.txt"))); // a folder where the file would go
        UserTimeLog log;
        QVERIFY(log.toggle(QStringLiteral("blocked.txt")));
        QVERIFY(!log.toggle(QStringLiteral("blocked.txt")));
        QVERIFY(QFileInfo(QStringLiteral("blocked.txt")).isDir());
    }

    void theDiagnosticLogIsEmptiedByTheFirstMessageOfARun() {
        write(QStringLiteral("LogError.txt"), "a line of an earlier run\n");
        logMessage("Compiled ok...");
        logMessage("Init Try no %d Failed", 3);
        const QByteArray longFormat = QByteArray(2000, 'y') + " %d";
        logMessage(longFormat.constData(), 7);
        const QList<QByteArray> lines = contents(QStringLiteral("LogError.txt")).split('\n');
        QCOMPARE(lines.size(), 4); // three lines and the empty rest after the last break
        QCOMPARE(lines[0], QByteArray("Compiled ok..."));
        QCOMPARE(lines[1], QByteArray("Init Try no 3 Failed"));
        QCOMPARE(lines[2], QByteArray(1023, 'y')); // cut to the message buffer
        QCOMPARE(lines[3], QByteArray());
    }

    void textFilesAreReadWholeUpToTheBound() {
        write(QStringLiteral("shader.fs"), "void main() {}\n");
        QCOMPARE(readTextFile("shader.fs").value_or("<none>"), QByteArray("void main() {}\n"));
        QVERIFY(!readTextFile("absent.fs"));
        const QByteArray full(int(MaxTextFileBytes), 'a');
        write(QStringLiteral("full.fs"), full);
        QCOMPARE(readTextFile("full.fs").value_or("<none>"), full);
        write(QStringLiteral("long.fs"), full + "b");
        QVERIFY(!readTextFile("long.fs"));
    }
};

QTEST_GUILESS_MAIN(TestLogs)
#include "test_logs.moc"
