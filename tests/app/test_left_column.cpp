// The left column in the real window: the constraint list mirrors the project's constraints
// (texts, focus, deletion by button and by the Delete key, rows dropped with their objects, New),
// and the option dialog answers as the user chose.

#include "../gl_test_main.h"
#include "choose_dialog.h"
#include "constraint.h"
#include "list_panel.h"
#include "list_panel_container.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "mesh_readers.h"
#include "sample_vessel.h"
#include "total_graph.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

namespace {
// Runs act on the dialog that opens next, once it is shown.
void onNextDialog(const std::function<void(ChooseDialog&)>& act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<ChooseDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        act(*dialog);
    });
}
} // namespace

class TestLeftColumn : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    SampleVessel sample;

    static QListWidget& list(MainWindow& w) {
        return w.widgets().listPans->constraintListPanel()->contentWidget();
    }

private slots:
    void initTestCase() {
        installMeshReaders();
        QDir::setCurrent(dir.path());
        QString error;
        SampleVesselOptions options;
        options.around = 60;
        options.up = 40;
        QVERIFY2(writeSampleVessel(dir.path(), sample, error, options), qPrintable(error));
    }

    void theListMirrorsTheConstraints() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.widgets().listPans->titleLabel().text(), QStringLiteral("OSTRAKIT"));
        QVERIFY(w.openProject(sample.projectPath));
        TotalGraph& graph = *w.projectGraph();
        QListWidget& rows = list(w);
        QCOMPARE(rows.count(), sample.constraintCount);
        int k = 0;
        for (const auto& [id, c] : graph.constraintTable()) {
            QString text;
            graph.constraintDescription(text, c);
            QCOMPARE(rows.item(k++)->text(), text);
        }

        // Selecting a row focuses its constraint; another row moves the focus.
        Constraint* first = graph.constraintTable().begin()->second;
        Constraint* second = std::next(graph.constraintTable().begin())->second;
        rows.setCurrentRow(0);
        QVERIFY(first->isFocused());
        rows.setCurrentRow(1);
        QVERIFY(!first->isFocused() && second->isFocused());

        // The button deletes the current row's constraint, the Delete key too.
        const int secondId = second->id();
        QTest::mouseClick(w.widgets().listPans->findChild<QPushButton*>(), Qt::LeftButton);
        QVERIFY(!graph.getConstraint(secondId));
        QCOMPARE(rows.count(), sample.constraintCount - 1);
        QVERIFY(!w.widgets().listPans->constraintRow(secondId));
        const int current = dynamic_cast<ConstrListWidgetItem*>(rows.currentItem())->id();
        QApplication::setActiveWindow(&w);
        rows.setFocus();
        QTest::keyClick(&rows, Qt::Key_Delete);
        QVERIFY(!graph.getConstraint(current));
        QCOMPARE(rows.count(), sample.constraintCount - 2);
        QVERIFY(graph.validate().isEmpty());

        // Deleting an object drops the rows of its constraints; every row still names a live one.
        w.deleteGeometry(0);
        QCOMPARE(rows.count(), int(graph.constraintTable().size()));
        for (int i = 0; i < rows.count(); ++i)
            QVERIFY(graph.getConstraint(dynamic_cast<ConstrListWidgetItem*>(rows.item(i))->id()));

        w.newProject();
        QCOMPARE(rows.count(), 0);
        QVERIFY(!w.widgets().listPans->constraintRow(first->id()));
    }

    void theOptionDialogAnswersAsChosen() {
        const QStringList areas = {"Working area 1", "Working area 2"};
        onNextDialog([](ChooseDialog& d) {
            d.optionButtons()[1]->setChecked(true);
            QTest::mouseClick(d.okButton(), Qt::LeftButton);
        });
        QCOMPARE(chooseOption("Choose working gl area", areas), 2);
        onNextDialog([](ChooseDialog& d) { QTest::mouseClick(d.okButton(), Qt::LeftButton); });
        QCOMPARE(chooseOption("Choose working gl area", areas), 1);
        onNextDialog([](ChooseDialog& d) {
            d.optionButtons()[1]->setChecked(true);
            QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
        });
        QCOMPARE(chooseOption("Choose working gl area", areas), 0);
        onNextDialog([](ChooseDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); });
        QCOMPARE(chooseOption("Choose working gl area", areas), 0);
        // Closed from its frame: as OK.
        onNextDialog([](ChooseDialog& d) {
            d.optionButtons()[1]->setChecked(true);
            d.close();
        });
        QCOMPARE(chooseOption("Choose working gl area", areas), 2);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestLeftColumn)
#include "test_left_column.moc"
