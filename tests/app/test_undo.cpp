// Undo and redo in the real window: a Solve undone and redone through the Edit menu and its keys
// (project text byte for byte, vertices back where they were), a deleted piece brought back after
// its mesh file was removed, a randomised run of every kind of change undone to the start and
// redone to the end, and the question before New, Load and Exit drop unsaved changes.

#include "../gl_test_main.h"
#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "mod_constr_panel.h"
#include "panel_gl_area.h"
#include "project_history.h"
#include "recovery_file.h"
#include "solved_container.h"
#include "wa_container.h"
#include "window_fixtures.h"

#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <numeric>
#include <random>
#include <unistd.h>

namespace {
using Positions = std::map<int, std::vector<Point3d>>;

// Every fragment's vertices, by id.
Positions positionsOf(const TotalGraph& graph) {
    Positions out;
    for (const auto& [id, o] : graph.objectTable())
        if (auto* g = dynamic_cast<FragGroup*>(o); g && g->wrappedFragment())
            out[id] = g->wrappedFragment()->mesh().vertices;
    return out;
}

// The largest distance of a vertex of now from where it was in then, over the fragments of then.
double largestMove(const Positions& then, const Positions& now) {
    double worst = 0;
    for (const auto& [id, was] : then) {
        const auto it = now.find(id);
        if (it == now.end() || it->second.size() != was.size())
            return std::numeric_limits<double>::infinity();
        for (std::size_t i = 0; i < was.size(); ++i)
            worst = std::max(worst, (it->second[i] - was[i]).norm());
    }
    return worst;
}

Fragment* firstFragment(GeometrObj* o) {
    std::vector<Fragment*> leaves;
    dynamic_cast<FragGroup*>(o)->collectFragments(leaves);
    return leaves.front();
}

// Answers the next message boxes, one after the other, with buttons once each is shown; texts
// gets what they said.
void answerBoxes(QList<QMessageBox::StandardButton> buttons, QStringList* texts = nullptr, int tries = 200) {
    if (buttons.isEmpty() || tries == 0)
        return;
    QTimer::singleShot(0, [buttons, texts, tries] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) { // not shown yet
            answerBoxes(buttons, texts, tries - 1);
            return;
        }
        if (texts)
            *texts << box->text();
        answerBoxes(buttons.mid(1), texts);
        box->button(buttons.front())->click();
    });
}

} // namespace

class TestUndo : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    SampleVessel sample;
    std::unique_ptr<MainWindow> window;

    TotalGraph& graph() { return *window->projectGraph(); }
    QByteArray text() { return projectFileText(graph(), QDir(dir.path())); }
    QUndoStack& stack() { return window->projectHistory().stack(); }
    QAction& undoAction() { return *window->widgets().undo; }
    QAction& redoAction() { return *window->widgets().redo; }
    bool validates() {
        const QStringList problems = graph().validate();
        if (!problems.isEmpty())
            qWarning() << problems;
        return problems.isEmpty();
    }

    void open(const QString& path) {
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(window->openProject(path));
    }

    MyTreeWidgetItem* topItem(int i) {
        return dynamic_cast<MyTreeWidgetItem*>(fragmentTree(*window).topLevelItem(i));
    }

    static constexpr int ChangeKinds = 12;

    // One change of the kind, its details picked by the dice, made as the user makes it; false if
    // it did not apply now.
    bool change(int kind, std::mt19937& dice) {
        QTreeWidget& tree = fragmentTree(*window);
        QListWidget& rows = constraintRows(*window);
        TreePanel& panel = *window->widgets().listPans->treePanel();
        const auto pick = [&dice](int n) { return std::uniform_int_distribution<int>(0, n - 1)(dice); };
        const int tops = tree.topLevelItemCount();
        switch (kind) {
        case 0:
            window->solve();
            return true;
        case 1: { // group two top-level items
            if (tops < 2)
                return false;
            const int a = pick(tops);
            const int b = (a + 1 + pick(tops - 1)) % tops;
            select(tree, {tree.topLevelItem(a), tree.topLevelItem(b)});
            return runEntry(panel, "Group");
        }
        case 2: // split a group
            for (int i = 0; i < tops; ++i)
                if (!topItem(i)->isFragment()) {
                    select(tree, {tree.topLevelItem(i)});
                    return runEntry(panel, "Split");
                }
            return false;
        case 3: // exclude a member
            for (int i = 0; i < tops; ++i)
                if (tree.topLevelItem(i)->childCount() > 0) {
                    select(tree, {tree.topLevelItem(i)->child(0)});
                    return runEntry(panel, "Exclude");
                }
            return false;
        case 4: // rename
            if (tops == 0)
                return false;
            return panel.renameItem(topItem(pick(tops)), QStringLiteral("piece %1").arg(pick(1000)));
        case 5: // delete a top-level object
            if (tops < 3)
                return false;
            select(tree, {tree.topLevelItem(pick(tops))});
            leftButton(*window, "Delete Geometries")->click();
            return true;
        case 6: // delete a constraint
            if (rows.count() == 0)
                return false;
            rows.setCurrentRow(pick(rows.count()));
            leftButton(*window, "Delete Constraint")->click();
            return true;
        case 7: { // edit a constraint's point and stiffness, then Apply
            if (rows.count() == 0)
                return false;
            rows.setCurrentRow(pick(rows.count()));
            ModConstrPanel& edit = *window->widgets().listPans->modifyConstraintPanel();
            edit.contentWidget().side(pick(2)).coordinate(pick(3)).spinBox().stepBy(1 + pick(3));
            edit.contentWidget().stiffness().spinBox().setValue(1 + pick(5));
            edit.apply();
            return true;
        }
        case 9: // import the sample
            if (tops > 12)
                return false;
            return window->importProject(sample.projectPath);
        case 10: // exclude a group's member, once there is a group
            for (int i = 0; i < tops; ++i)
                if (tree.topLevelItem(i)->childCount() > 1) {
                    select(tree, {tree.topLevelItem(i)->child(1)});
                    return runEntry(panel, "Exclude");
                }
            return false;
        case 8: // add a fragment
            window->widgets().listPans->addFragmentFiles({sample.meshPaths[std::size_t(pick(3))]});
            return true;
        default: { // add a constraint between the first fragments of two objects, as picking ends
            if (tops < 2)
                return false;
            GeometrObj* a = actionObject(topItem(0));
            GeometrObj* b = actionObject(topItem(1));
            const Point3d pa = a->currentCentroid(), pb = b->currentCentroid();
            const ObjId* leafA = &firstFragment(a)->objId();
            const ObjId* leafB = &firstFragment(b)->objId();
            window->HandlePicking(1, 1 + pick(4));
            window->addConstraintPick(*leafA, pa.x(), pa.y(), pa.z(), a->objId());
            window->joinConstraintPicks();
            window->addConstraintPick(*leafB, pb.x(), pb.y(), pb.z(), b->objId());
            window->joinConstraintPicks();
            return true;
        }
        }
    }

private slots:
    void initTestCase() {
        const QString error = setUpSampleFolder(dir, sample);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanup() { window.reset(); }

    void solveIsOneStepOfTheEditMenu() {
        open(sample.projectPath);
        QVERIFY(!window->isWindowModified());
        QCOMPARE(undoAction().text(), QStringLiteral("Undo"));
        QVERIFY(!undoAction().isEnabled());
        const QByteArray before = text();
        const Positions where = positionsOf(graph());
        window->solve();
        const QByteArray after = text();
        const Positions solved = positionsOf(graph());
        QVERIFY(after != before);
        QVERIFY(window->isWindowModified());
        QCOMPARE(undoAction().text(), QStringLiteral("Undo Solve"));

        undoAction().trigger();
        QCOMPARE(text(), before);
        QVERIFY(largestMove(where, positionsOf(graph())) < 1e-12 * sample.size);
        QVERIFY(!window->isWindowModified());
        QCOMPARE(redoAction().text(), QStringLiteral("Redo Solve"));
        QCOMPARE(constraintRows(*window).count(), sample.constraintCount);
        QCOMPARE(fragmentTree(*window).topLevelItemCount(), 8);
        QVERIFY(validates());

        // The keys: Ctrl+Shift+Z and Ctrl+Y redo, Ctrl+Z undoes.
        QApplication::setActiveWindow(window.get());
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(text(), after);
        QVERIFY(largestMove(solved, positionsOf(graph())) < 1e-12 * sample.size);
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(text(), before);
        QTest::keyClick(window.get(), Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(text(), after);
        QVERIFY(window->isWindowModified());
        QVERIFY(validates());
    }

    void undoLeavesPickingFirst() {
        open(sample.projectPath);
        window->solve();
        PanelGLArea& solvedArea = window->widgets().solvedGlarea->area();
        window->HandlePicking(1, 2);
        QVERIFY(solvedArea.inPickMode());
        QApplication::setActiveWindow(window.get());
        QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(!solvedArea.inPickMode());
        QVERIFY(window->pendingPicks().empty());
        QVERIFY(!stack().canUndo());
        QVERIFY(validates());
    }

    void aDeletedPieceComesBackWithoutItsMeshFile() {
        QTemporaryDir own;
        SampleVessel copy;
        QString error;
        QVERIFY2(writeSmallSample(own.path(), copy, error), qPrintable(error));
        open(copy.projectPath);
        const QByteArray before = projectFileText(graph(), QDir(dir.path()));
        const Positions where = positionsOf(graph());
        GeometrObj* piece = actionObject(topItem(0));
        const int id = piece->id();
        const std::size_t attached = piece->constraintList().size();
        QVERIFY(attached > 0);
        select(fragmentTree(*window), {fragmentTree(*window).topLevelItem(0)});
        leftButton(*window, "Delete Geometries")->click();
        QVERIFY(!graph().getObject(id));
        QCOMPARE(undoAction().text(), QStringLiteral("Undo Delete Geometries"));
        QVERIFY(QFile::remove(copy.meshPaths[0]));

        undoAction().trigger();
        QVERIFY(graph().getObject(id));
        QCOMPARE(graph().getObject(id)->constraintList().size(), attached);
        QCOMPARE(projectFileText(graph(), QDir(dir.path())), before);
        QVERIFY(largestMove(where, positionsOf(graph())) < 1e-12 * copy.size);
        QCOMPARE(constraintRows(*window).count(), copy.constraintCount);
        QVERIFY(validates());
        // And goes again, and comes back again.
        redoAction().trigger();
        QVERIFY(!graph().getObject(id));
        undoAction().trigger();
        QCOMPARE(projectFileText(graph(), QDir(dir.path())), before);
    }

    void editsNotAppliedBelongToNoStep() {
        open(sample.projectPath);
        const QByteArray before = text();
        constraintRows(*window).setCurrentRow(0);
        ModConstrPanel& edit = *window->widgets().listPans->modifyConstraintPanel();
        edit.contentWidget().side(0).coordinate(0).spinBox().stepBy(2);
        QVERIFY(text() != before);
        // A rename is the step; the edit is taken back, not carried into it.
        QVERIFY(window->widgets().listPans->treePanel()->renameItem(topItem(1), "renamed"));
        QCOMPARE(stack().count(), 1);
        undoAction().trigger();
        QCOMPARE(text(), before);

        // Unapplied edits count as unsaved work, and a Save keeps them as one step.
        constraintRows(*window).setCurrentRow(0);
        edit.contentWidget().side(1).coordinate(2).spinBox().stepBy(1);
        QVERIFY(!window->isWindowModified());
        answerBoxes({QMessageBox::Cancel});
        window->widgets().newproj->trigger();
        QVERIFY(!graph().objectTable().empty());
        const QByteArray edited = text();
        QVERIFY(window->saveProject(dir.filePath("edited.prproj")));
        QCOMPARE(undoAction().text(), QStringLiteral("Undo Modify Constraint"));
        QFile saved(dir.filePath("edited.prproj"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), projectFileText(graph(), QDir(dir.path())));
        QCOMPARE(text(), edited);
        QVERIFY(!window->isWindowModified());
    }

    void aRandomRunUndoesToTheStartAndRedoesToTheEnd() {
        open(sample.projectPath);
        const QByteArray start = text();
        const Positions first = positionsOf(graph());
        std::mt19937 dice(20261208);
        int made = 0;
        // Every kind once in a shuffled order, then kinds at random.
        std::vector<int> kinds(ChangeKinds);
        std::iota(kinds.begin(), kinds.end(), 0);
        std::shuffle(kinds.begin(), kinds.end(), dice);
        for (int attempt = 0; attempt < 300 && made < 30; ++attempt) {
            const int steps = stack().count();
            const int kind = attempt < ChangeKinds
                                 ? kinds[std::size_t(attempt)]
                                 : std::uniform_int_distribution<int>(0, ChangeKinds - 1)(dice);
            change(kind, dice);
            QVERIFY2(validates(), qPrintable(QStringLiteral("after attempt %1").arg(attempt)));
            made += stack().count() > steps;
        }
        QCOMPARE(made, 30);
        const QByteArray end = text();
        QSet<QString> names;
        for (int i = 0; i < stack().count(); ++i)
            names << stack().text(i);
        for (const char* kind :
             {"Solve", "Group", "Split", "Exclude", "Rename", "Delete Geometries", "Delete Constraint",
              "Modify Constraint", "Add Fragments", "Add Constraint", "Import"})
            QVERIFY2(names.contains(kind), kind);

        while (stack().canUndo()) {
            undoAction().trigger();
            QVERIFY(validates());
        }
        QCOMPARE(text(), start);
        QVERIFY(largestMove(first, positionsOf(graph())) < 1e-12 * sample.size);
        while (stack().canRedo()) {
            redoAction().trigger();
            QVERIFY(validates());
        }
        QCOMPARE(text(), end);
    }

    void unsavedChangesAreAskedAbout() {
        QTemporaryDir own;
        SampleVessel copy;
        QString error;
        QVERIFY2(writeSmallSample(own.path(), copy, error), qPrintable(error));
        open(copy.projectPath);
        QCOMPARE(window->windowTitle(), QStringLiteral("sample.prproj[*] - Ostrakit"));
        window->solve();
        QVERIFY(window->isWindowModified());
        const QByteArray solved = text();

        // New: Cancel keeps the project, Discard drops it.
        QStringList asked;
        answerBoxes({QMessageBox::Cancel}, &asked);
        window->widgets().newproj->trigger();
        QCOMPARE(asked, QStringList{"Save changes to the project?"});
        QCOMPARE(text(), solved);
        QVERIFY(window->isWindowModified());
        answerBoxes({QMessageBox::Discard});
        window->widgets().newproj->trigger();
        QVERIFY(graph().objectTable().empty());
        QVERIFY(!window->isWindowModified());
        QVERIFY(!stack().canUndo());

        // Load and Exit: Cancel keeps everything as it was.
        QVERIFY(window->openProject(copy.projectPath));
        window->solve();
        answerBoxes({QMessageBox::Cancel});
        window->widgets().loadproj->trigger();
        QCOMPARE(text(), solved);
        answerBoxes({QMessageBox::Cancel});
        window->widgets().exit->trigger();
        QVERIFY(window->isVisible());
        QCOMPARE(text(), solved);

        // A Save that fails leaves the project open, as it was.
        QTemporaryDir gone;
        const QString lost = gone.filePath("lost.prproj");
        QVERIFY(window->saveProject(lost));
        window->solve();
        window->widgets().listPans->treePanel()->renameItem(topItem(0), "renamed");
        const QByteArray renamed = text();
        QVERIFY(gone.remove());
        QStringList said;
        answerBoxes({QMessageBox::Save, QMessageBox::Ok}, &said);
        window->widgets().exit->trigger();
        QCOMPARE(said.size(), 2);
        QVERIFY(window->isVisible() && window->isWindowModified());
        QCOMPARE(text(), renamed);
        QVERIFY(window->saveProject(copy.projectPath));
        QVERIFY(window->widgets().listPans->treePanel()->renameItem(topItem(0), "renamed again"));

        // Closing the window: Save writes the project first, and the mark goes.
        answerBoxes({QMessageBox::Save});
        QVERIFY(window->close());
        QFile file(copy.projectPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), projectFileText(graph(), QFileInfo(copy.projectPath).absoluteDir()));
        QVERIFY(!window->isWindowModified());
    }

    // Run as a separate process by the next case: solves the project named in the environment,
    // writes the project text beside it once the recovery file is there, and is killed.
    void childSolvesAndIsKilled() {
        const QByteArray project = qgetenv("OSTRAKIT_TEST_CHILD_PROJECT");
        if (project.isEmpty())
            QSKIP("only run by a parent case");
        open(QString::fromLocal8Bit(project));
        window->setRecoveryInterval(0);
        window->solve();
        QTRY_VERIFY(QFileInfo::exists(window->recoveryFile().path()));
        QFile expected(QString::fromLocal8Bit(project) + ".expected");
        QVERIFY(expected.open(QIODevice::WriteOnly));
        expected.write(projectFileText(graph(), QFileInfo(QString::fromLocal8Bit(project)).absoluteDir()));
        expected.close();
        ::kill(::getpid(), SIGKILL);
    }

    void aKilledProcessLeavesItsWorkToTheNextStart() {
        QTemporaryDir own;
        SampleVessel copy;
        QString error;
        QVERIFY2(writeSmallSample(own.path(), copy, error), qPrintable(error));
        QFile::remove(RecoveryFile::defaultPath());
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("OSTRAKIT_TEST_CHILD_PROJECT", copy.projectPath);
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(dir.path());
        child.start(QCoreApplication::applicationFilePath(), {"childSolvesAndIsKilled"});
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QFile expected(copy.projectPath + ".expected");
        QVERIFY(expected.open(QIODevice::ReadOnly));

        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(window->recoveryFile().isOwned()); // the dead program's lock is taken over
        answerBoxes({QMessageBox::Yes});
        QVERIFY(window->offerRecovery());
        QCOMPARE(projectFileText(graph(), QFileInfo(copy.projectPath).absoluteDir()), expected.readAll());
        QVERIFY(window->isWindowModified());
        QCOMPARE(window->projectFile(), copy.projectPath);
        QVERIFY(validates());
    }

    void aKilledSessionIsOfferedBackAtTheNextStart() {
        QTemporaryDir own;
        SampleVessel copy;
        QString error;
        QVERIFY2(writeSmallSample(own.path(), copy, error), qPrintable(error));
        open(copy.projectPath);
        const QString recoveryPath = window->recoveryFile().path();
        QFile::remove(recoveryPath);
        window->setRecoveryInterval(0);
        window->solve();
        QTRY_VERIFY(QFileInfo::exists(recoveryPath));
        // Undoing to the saved state removes it, redoing writes it again.
        undoAction().trigger();
        QTRY_VERIFY(!QFileInfo::exists(recoveryPath));
        redoAction().trigger();
        QTRY_VERIFY(QFileInfo::exists(recoveryPath));
        const QByteArray expected = text();
        {
            // A second program started now neither offers nor touches this one's work.
            RecoveryFile other(recoveryPath);
            QVERIFY(!other.isOwned() && !other.exists());
            other.remove();
            QVERIFY(QFileInfo::exists(recoveryPath));
        }
        window.reset(); // gone without a clean exit, as when killed

        window = std::make_unique<MainWindow>();
        window->show();
        QStringList asked;
        answerBoxes({QMessageBox::Yes}, &asked);
        QVERIFY(window->offerRecovery());
        QVERIFY(asked.value(0).contains("not saved"));
        QCOMPARE(text(), expected);
        QVERIFY(window->isWindowModified());
        QCOMPARE(window->projectFile(), copy.projectPath);
        QCOMPARE(constraintRows(*window).count(), copy.constraintCount);
        QVERIFY(validates());

        // A Save removes it; so does a clean exit after a change.
        QVERIFY(window->saveProject(copy.projectPath));
        QVERIFY(!QFileInfo::exists(recoveryPath));
        QVERIFY(!window->isWindowModified());
        window->setRecoveryInterval(0);
        QVERIFY(window->widgets().listPans->treePanel()->renameItem(topItem(0), "renamed"));
        QTRY_VERIFY(QFileInfo::exists(recoveryPath));
        answerBoxes({QMessageBox::Discard});
        QVERIFY(window->close());
        QVERIFY(!QFileInfo::exists(recoveryPath));
    }

    void aDamagedRecoveryFileIsSetAsideWithAMessage() {
        window = std::make_unique<MainWindow>();
        const QString recoveryPath = window->recoveryFile().path();
        QVERIFY(QDir().mkpath(QFileInfo(recoveryPath).absolutePath()));
        {
            QFile damaged(recoveryPath);
            QVERIFY(damaged.open(QIODevice::WriteOnly));
            damaged.write("<Project><Graph><Fragments><FragGroup id=");
        }
        QStringList said;
        answerBoxes({QMessageBox::Yes, QMessageBox::Ok}, &said);
        QVERIFY(!window->offerRecovery());
        QCOMPARE(said.size(), 2);
        QVERIFY(said[1].contains("kept as"));
        QVERIFY(!QFileInfo::exists(recoveryPath));
        const QStringList aside =
            QFileInfo(recoveryPath).absoluteDir().entryList({"recovery.prproj.unreadable-*"});
        QVERIFY(!aside.isEmpty());
        QVERIFY(said[1].contains(aside.back()));
        QVERIFY(graph().objectTable().empty());
        for (const QString& name : aside)
            QFile::remove(QFileInfo(recoveryPath).absoluteDir().filePath(name));
    }
};

OSTRAKIT_GL_TEST_MAIN(TestUndo)
#include "test_undo.moc"
