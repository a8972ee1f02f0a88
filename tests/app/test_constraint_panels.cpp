// The constraint panels in the real window: selecting a row shows the constraint's points and
// stiffness, edits move it at once and its row follows, Cancel and another row take unapplied
// edits back bit for bit, Apply keeps them, loading never moves a point (far and tiny
// coordinates), the panel lets go of a constraint that is deleted in any way, "Add Constraint"
// picks with its stiffness, Solve uses edited points, and a band picked in the wrong place shows
// red and is named after the Solve.

#include "../gl_test_main.h"
#include "constraint.h"
#include "frag_group.h"
#include "fragment.h"
#include "mispicked_sample.h"
#include "mod_constr_panel.h"
#include "project_reader.h"
#include "rband.h"
#include "wa_container.h"
#include "window_fixtures.h"

#include <QFile>
#include <QRegularExpression>
#include <QStatusBar>
#include <QtTest>

namespace {
// The first sample and reference points of both sides, as stored.
struct Points {
    std::array<Point3d, 2> sample;
    std::array<Point3d, 2> ref;
    bool operator==(const Points&) const = default;
};

Points pointsOf(const Constraint& c) {
    Points p;
    for (int k = 0; k < 2; ++k) {
        p.sample[k] = c.samplePoints(k).begin()->second;
        p.ref[k] = c.refSamplePoints(k).begin()->second;
    }
    return p;
}

Point3d vertexMean(GeometrObj* wrapper) {
    const auto& v = dynamic_cast<FragGroup*>(wrapper)->wrappedFragment()->mesh().vertices;
    Point3d sum = Point3d::Zero();
    for (const Point3d& p : v)
        sum += p;
    return sum / double(v.size());
}

QByteArray projectText(const TotalGraph& graph, const QString& path) {
    QString error;
    if (!saveProjectFile(path, graph, error))
        return {};
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Types text into the box as a user does, replacing what it shows.
void typeInto(QAbstractSpinBox& box, const QString& text) {
    box.selectAll();
    QTest::keyClicks(&box, text);
    QTest::keyClick(&box, Qt::Key_Return);
}
} // namespace

class TestConstraintPanels : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString project;      // bands 0 (a-b), 1 (a-far, far and tiny coordinates), 2 (b-far, stiffness 3)
    QString alignedBands; // three bands a-b whose two points coincide
    std::unique_ptr<MainWindow> window;

    TotalGraph& graph() { return *window->projectGraph(); }
    ModConstrPanel& panel() { return *window->widgets().listPans->modifyConstraintPanel(); }
    ConstrCoordSpinbox& coordinate(int side, int index) {
        return panel().contentWidget().side(side).coordinate(index);
    }
    QSpinBox& stiffnessBox() { return panel().contentWidget().stiffness().spinBox(); }
    Constraint& constraint(int id) { return *graph().getConstraint(id); }
    QString rowText(int id) { return window->widgets().listPans->constraintRow(id)->text(); }
    QString describe(int id) {
        QString text;
        graph().constraintDescription(text, &constraint(id));
        return text;
    }

    // Clicks the constraint's row in the list.
    void selectRow(int id) {
        QListWidget& rows = constraintRows(*window);
        QListWidgetItem* row = window->widgets().listPans->constraintRow(id);
        rows.scrollToItem(row);
        QTest::mouseClick(rows.viewport(), Qt::LeftButton, Qt::NoModifier, rows.visualItemRect(row).center());
    }

    void click(QPushButton* button) {
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QPushButton* panelButton(const QString& text) {
        for (QPushButton* b : panel().findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }

    void open(const QString& path) {
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QVERIFY(window->openProject(path));
    }

    // Ids of the constraints whose rows are drawn in red: some pixels of the row clearly red.
    std::vector<int> redRows() {
        QListWidget& rows = constraintRows(*window);
        std::vector<int> red;
        for (const auto& [id, c] : graph().constraintTable()) {
            QListWidgetItem* row = window->widgets().listPans->constraintRow(id);
            rows.scrollToItem(row);
            const QImage picture = rows.viewport()->grab(rows.visualItemRect(row)).toImage();
            bool found = false;
            for (int y = 0; y < picture.height() && !found; ++y)
                for (int x = 0; x < picture.width() && !found; ++x) {
                    const QRgb p = picture.pixel(x, y);
                    found = qRed(p) > 150 && qGreen(p) < 90 && qBlue(p) < 90;
                }
            if (found)
                red.push_back(id);
        }
        return red;
    }

    bool panelIsReset() {
        return panel().currentId() == -1 && !panel().current() &&
               panel().groupBox().title() == QStringLiteral("Modify the selected constraint") &&
               panel().contentWidget().side(0).groupBox().title() == QStringLiteral("No Constraint Selected");
    }

private slots:
    void initTestCase() {
        installMeshReaders();
        QDir::setCurrent(dir.path()); // the solver leaves its files in the current folder
        TotalGraph g;
        FragGroup* a = addFragment(g, writeTetrahedron(dir, "a.ply"));
        FragGroup* b = addFragment(g, writeTetrahedron(dir, "b.ply", {3, 0, 0}));
        FragGroup* far = addFragment(g, writeTetrahedron(dir, "far.ply", {512345, 0, -4}));
        addBand(g, a, b, {2.0, 0.1, 0.2}, {3.0, 0.1, 0.2});
        addBand(g, a, far, {1e-7, 0.5, 0}, {512345.678, 1e-7, -3.25});
        addBand(g, b, far, {3.2, 0.2, 0.2}, {512345.25, 0.5, -3.5})->setStiffness(3);
        project = savedProject(g, dir.filePath("bands.prproj"));
        QVERIFY(!project.isEmpty());

        TotalGraph h;
        FragGroup* c = addFragment(h, writeTetrahedron(dir, "c.ply"));
        FragGroup* d = addFragment(h, writeTetrahedron(dir, "d.ply", {3, 0, 0}));
        for (const Point3d& p : {Point3d(3, 0, 0), Point3d(4, 0, 0), Point3d(3, 1, 0)})
            addBand(h, c, d, p, p);
        alignedBands = savedProject(h, dir.filePath("aligned.prproj"));
        QVERIFY(!alignedBands.isEmpty());
    }

    void cleanup() { window.reset(); }

    void selectingShowsTheConstraintAndCancelTakesAnEditBackExactly() {
        open(project);
        const Points before = pointsOf(constraint(0));
        const QString text = rowText(0);
        selectRow(0);
        QCOMPARE(panel().currentId(), 0);
        QCOMPARE(panel().groupBox().title(), QStringLiteral("Modify the selected constraint 0"));
        QCOMPARE(panel().contentWidget().side(0).groupBox().title(),
                 QStringLiteral("Sample in Fragment: a.ply"));
        QCOMPARE(panel().contentWidget().side(1).groupBox().title(),
                 QStringLiteral("Sample in Fragment: b.ply"));
        QCOMPARE(coordinate(0, 0).spinBox().value(), 2.0);
        QCOMPARE(coordinate(1, 1).spinBox().value(), 0.1);
        QCOMPARE(stiffnessBox().value(), 1);
        QCOMPARE(pointsOf(constraint(0)), before);

        // X of side 0 typed as 2.5 moves the sample and reference points.
        typeInto(coordinate(0, 0).spinBox(), QStringLiteral("2.5"));
        const Points edited = pointsOf(constraint(0));
        for (const auto* side : {&edited.sample, &edited.ref}) {
            QCOMPARE((*side)[0], Point3d(2.5, 0.1, 0.2));
            QCOMPARE((*side)[1], before.sample[1]);
        }
        QCOMPARE(rowText(0), describe(0));

        click(panelButton("Cancel"));
        QVERIFY(pointsOf(constraint(0)) == before);
        QCOMPARE(coordinate(0, 0).spinBox().value(), 2.0);
        QCOMPARE(rowText(0), text);
        QVERIFY(graph().validate().isEmpty());
    }

    void applyKeepsTheStiffnessAndAnotherRowTakesUnappliedEditsBack() {
        open(project);
        selectRow(2);
        QCOMPARE(stiffnessBox().value(), 3);
        stiffnessBox().setValue(5);
        QCOMPARE(constraint(2).stiffness(), 5);
        click(panelButton("Apply"));
        selectRow(0);
        QCOMPARE(constraint(2).stiffness(), 5);
        selectRow(2);
        QCOMPARE(stiffnessBox().value(), 5);

        // The stiffness never goes below 1; Cancel goes back to the applied 5.
        stiffnessBox().stepBy(-10);
        QCOMPARE(stiffnessBox().value(), 1);
        QCOMPARE(constraint(2).stiffness(), 1);
        click(panelButton("Cancel"));
        QCOMPARE(constraint(2).stiffness(), 5);

        // Unapplied: another row puts the points and stiffness back.
        selectRow(0);
        const Points before = pointsOf(constraint(0));
        coordinate(1, 2).spinBox().stepBy(3);
        coordinate(0, 1).spinBox().stepBy(-1);
        stiffnessBox().setValue(8);
        selectRow(1);
        QCOMPARE(panel().currentId(), 1);
        QVERIFY(pointsOf(constraint(0)) == before);
        QCOMPARE(constraint(0).stiffness(), 1);
        QVERIFY(!constraint(0).isFocused() && constraint(1).isFocused());
    }

    void loadingNeverMovesAPointFarOrTiny() {
        open(project);
        const Points before = pointsOf(constraint(1));
        selectRow(1);
        QVERIFY(pointsOf(constraint(1)) == before);
        QCOMPARE(coordinate(1, 0).spinBox().value(), 512345.678);
        QCOMPARE(coordinate(1, 2).spinBox().value(), -3.25);
        QCOMPARE(coordinate(0, 0).spinBox().value(), 0.0); // 1e-7 is shown rounded

        // Editing one coordinate writes that one only; the far and tiny ones stay as they were.
        coordinate(1, 2).spinBox().stepBy(1);
        Points edited = pointsOf(constraint(1));
        QCOMPARE(edited.sample[1].x(), before.sample[1].x());
        QCOMPARE(edited.sample[1].y(), before.sample[1].y());
        QCOMPARE(edited.sample[1].z(), -2.25);
        QCOMPARE(edited.sample[0], before.sample[0]);

        // Up and back down on a value the box rounds is no change at all.
        coordinate(0, 0).spinBox().stepBy(1);
        QCOMPARE(pointsOf(constraint(1)).sample[0].x(), before.sample[0].x() + 1.0);
        coordinate(0, 0).spinBox().stepBy(-1);
        QCOMPARE(pointsOf(constraint(1)).sample[0], before.sample[0]);

        click(panelButton("Cancel"));
        QVERIFY(pointsOf(constraint(1)) == before);
        // Showing it again after Apply leaves it where it is as well.
        click(panelButton("Apply"));
        selectRow(0);
        selectRow(1);
        QVERIFY(pointsOf(constraint(1)) == before);
    }

    void editingWithNothingShownChangesNothing() {
        open(project);
        const QByteArray before = projectText(graph(), dir.filePath("before.prproj"));
        QVERIFY(!before.isEmpty());
        QVERIFY(panelIsReset());
        for (int k = 0; k < 2; ++k)
            for (int i = 0; i < 3; ++i)
                coordinate(k, i).spinBox().setValue(7.0 + i);
        stiffnessBox().setValue(9);
        click(panelButton("Apply"));
        click(panelButton("Cancel"));
        QCOMPARE(projectText(graph(), dir.filePath("after.prproj")), before);
    }

    void deletingTheShownConstraintReleasesThePanel() {
        open(project);

        // By the button and by the Delete key: the row that becomes current is the one shown.
        selectRow(0);
        click(leftButton(*window, "Delete Constraint"));
        QVERIFY(!graph().getConstraint(0));
        QVERIFY(panel().currentId() != 0);
        QCOMPARE(panel().currentId(),
                 dynamic_cast<ConstrListWidgetItem*>(constraintRows(*window).currentItem())->id());
        const int shown = panel().currentId();
        QApplication::setActiveWindow(window.get());
        constraintRows(*window).setFocus();
        QTest::keyClick(&constraintRows(*window), Qt::Key_Delete);
        QVERIFY(!graph().getConstraint(shown));
        QVERIFY(panel().currentId() != shown);
        QVERIFY(graph().validate().isEmpty());

        // With its object: nothing is shown or current, and edits go nowhere.
        open(project);
        selectRow(2);
        window->deleteGeometry(graph().getConstraint(2)->frag(0)->id);
        QVERIFY(!graph().getConstraint(2));
        QVERIFY(panelIsReset());
        QVERIFY(!constraintRows(*window).currentItem());
        coordinate(0, 0).spinBox().stepBy(1);
        stiffnessBox().setValue(4);
        click(panelButton("Cancel"));
        QVERIFY(graph().validate().isEmpty());

        // By New, and by opening another project.
        selectRow(1);
        window->newProject();
        QVERIFY(panelIsReset());
        QVERIFY(window->openProject(project));
        selectRow(1);
        QVERIFY(window->openProject(alignedBands));
        QVERIFY(panelIsReset());
    }

    void addConstraintPicksWithTheChosenStiffness() {
        window = std::make_unique<MainWindow>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        FragGroup* left = addFragment(graph(), writeSquare(dir, "left.ply", 0, 0));
        FragGroup* right = addFragment(graph(), writeSquare(dir, "right.ply", 5, 0));
        QVERIFY(window->putInWorkingArea(left, 0));
        QVERIFY(window->putInWorkingArea(right, 1));
        WGLArea& areaA = window->widgets().wacont->area(0);
        WGLArea& areaB = window->widgets().wacont->area(1);
        waitForFrame(areaA);
        waitForFrame(areaB);

        AddConstrWidget& add = *window->widgets().listPans->addConstraintPanel();
        QCOMPARE(add.groupBox().title(), QStringLiteral("Add a new constraint"));
        typeInto(add.contentWidget().spinBox(), QStringLiteral("4"));
        click(leftButton(*window, "Add Constraint"));
        QVERIFY(areaA.inPickMode() && areaB.inPickMode());
        clickAndHold(areaA, QPoint(areaA.width() / 2, areaA.height() / 2));
        clickAndHold(areaB, QPoint(areaB.width() / 2, areaB.height() / 2));
        QCOMPARE(graph().constraintTable().size(), std::size_t(1));
        auto* band = dynamic_cast<RBand*>(graph().constraintTable().begin()->second);
        QVERIFY(band);
        QCOMPARE(band->stiffness(), 4);

        const QString saved = savedProject(graph(), dir.filePath("added.prproj"));
        QVERIFY(!saved.isEmpty());
        TotalGraph reread;
        QVERIFY(readProjectFile(saved, reread).ok());
        QCOMPARE(reread.constraintTable().size(), std::size_t(1));
        QCOMPARE(reread.constraintTable().begin()->second->stiffness(), 4);
    }

    void solveUsesTheEditedPoints() {
        open(alignedBands);
        GeometrObj* c = graph().getObject(graph().constraintTable().begin()->second->frag(0)->id);
        GeometrObj* d = graph().getObject(graph().constraintTable().begin()->second->frag(1)->id);
        const Point3d apart = vertexMean(d) - vertexMean(c);
        // Every point on d one further along x, applied band by band; the last one left unapplied.
        for (const auto& [id, band] : graph().constraintTable()) {
            selectRow(id);
            coordinate(1, 0).spinBox().stepBy(1);
            if (id != graph().constraintTable().rbegin()->first)
                click(panelButton("Apply"));
        }
        window->solve();
        const Point3d moved = vertexMean(d) - vertexMean(c);
        QVERIFY((moved - (apart - Point3d(1, 0, 0))).norm() < 1e-9);
        // The status bar says what the Solve did: three bands 1 apart, brought together.
        QString said = window->statusBar()->currentMessage();
        QVERIFY2(said.startsWith("Solved 1 level: energy 3 → ") && said.contains(", 1 object moved."),
                 qPrintable(said));
        QVERIFY2(said.contains(QRegularExpression("Largest error: RBand \\d, RE: [0-9.e-]+%\\.$")),
                 qPrintable(said));
        // The panel shows where the solve put the shown constraint's point.
        const int shown = panel().currentId();
        const Point3d now = pointsOf(constraint(shown)).sample[1];
        for (int i = 0; i < 3; ++i)
            QVERIFY(std::abs(coordinate(1, i).spinBox().value() - now[i]) < 1e-5);

        // Solved, the bands' errors are 0; a nudge shows a new RE in the row at once, and another
        // row takes it back to the solved one.
        const QString solvedText = rowText(shown);
        coordinate(0, 1).spinBox().stepBy(2);
        QVERIFY(rowText(shown) != solvedText);
        QCOMPARE(rowText(shown), describe(shown));
        selectRow(graph().constraintTable().begin()->first);
        QCOMPARE(rowText(shown), solvedText);
        QVERIFY(graph().validate().isEmpty());
    }

    // The solved vessel with one point of one band set 1.15 off and applied: moving its piece
    // toward it would pull that piece's exact bands apart, so the energy cannot drop and nothing
    // moves. The Solve says so and names the band left off.
    void aSolveThatMovesNothingSaysSo() {
        SampleVessel sample;
        QTemporaryDir vessel;
        QString error;
        QVERIFY2(writeSmallSample(vessel.path(), sample, error), qPrintable(error));
        open(sample.projectPath);
        window->solve();
        selectRow(0);
        typeInto(coordinate(0, 0).spinBox(), QString::number(coordinate(0, 0).spinBox().value() + 1.15));
        click(panelButton("Apply"));
        std::vector<Point3d> before;
        for (const auto& [id, o] : graph().objectTable())
            before.push_back(vertexMean(o));
        window->solve();
        std::size_t i = 0;
        for (const auto& [id, o] : graph().objectTable())
            QCOMPARE(vertexMean(o), before[i++]);
        const QString said = window->statusBar()->currentMessage();
        QVERIFY2(said.startsWith("Solved 1 level: energy ") &&
                     said.contains(", nothing moved: no motion brings the points closer.") &&
                     said.contains("Largest error: RBand 0, RE: "),
                 qPrintable(said));
    }

    // One band picked in the wrong place among the vessel's exact ones. After the Solve its row is
    // drawn red and the status bar names it after the summary, the whole line also in its tool
    // tip. The colour follows the project: gone when the Solve is undone, back when it is redone,
    // and there when the solved project is loaded.
    void aBandPickedInTheWrongPlaceShowsRedAndIsNamed() {
        QTemporaryDir folder;
        MispickedSample sample;
        QString error;
        QVERIFY2(writeMispickedSample(folder.path(), sample, error), qPrintable(error));
        open(sample.projectPath);
        QCOMPARE(redRows(), std::vector<int>{});
        window->solve();
        const std::vector<int> wrong{MispickedSample::WrongBand};
        QCOMPARE(redRows(), wrong);
        const QString said = window->statusBar()->currentMessage();
        const QRegularExpression named(
            "^Solved 1 level: .*\\. RBand 4 disagrees with the others \\(distance [0-9.]+, [0-9.]+× the "
            "median\\): likely picked in the wrong place; check it\\.$");
        QVERIFY2(named.match(said).hasMatch(), qPrintable(said));
        QCOMPARE(window->statusBar()->toolTip(), said);

        window->widgets().undo->trigger();
        QCOMPARE(redRows(), std::vector<int>{});
        window->widgets().redo->trigger();
        QCOMPARE(redRows(), wrong);
        const QString solved = savedProject(graph(), folder.filePath("solved.prproj"));
        QVERIFY(!solved.isEmpty());
        QVERIFY(window->openProject(solved));
        QCOMPARE(redRows(), wrong);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestConstraintPanels)
#include "test_constraint_panels.moc"
