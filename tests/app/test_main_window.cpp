// The main window under a real X server: title, File menu, the three columns, the resize rule,
// Esc, the working-area rules and the hub operations that already have their components.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "list_panel_container.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "project_writer.h"
#include "render_buffers.h"
#include "solved_container.h"
#include "thumbnail_store.h"
#include "wa_container.h"
#include "wgl_area.h"
#include "window_fixtures.h"

#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QProcess>
#include <QSettings>
#include <QShortcut>
#include <QTableWidget>
#include <QTimer>
#include <QUndoStack>

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyleOptionViewItem>
#include <QSurfaceFormat>
#include <QToolBar>
#include <QtTest>
#include <cerrno>
#include <cstring>
#include <functional>
#include <xcb/xcb.h>

namespace {
// Asks the X server to resize the window, as a window manager does when the user drags its edge:
// the window learns its new size from the server, not from a call of its own.
void resizeThroughTheServer(QWidget& w, QSize size) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    QVERIFY(x11);
    const std::uint32_t values[2] = {std::uint32_t(size.width()), std::uint32_t(size.height())};
    xcb_configure_window(x11->connection(), xcb_window_t(w.winId()),
                         XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    xcb_flush(x11->connection());
}
} // namespace
// Works the next file dialog as a user would: act is called with it every 20 ms until it returns
// true (it closes the dialog then); a dialog still open after 10 s is cancelled.
class FileDialogDriver : public QObject {
public:
    bool acted = false;
    explicit FileDialogDriver(std::function<bool(QFileDialog&)> act) {
        connect(&timer, &QTimer::timeout, this, [this, act] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog || acted)
                return;
            if (act(*dialog))
                acted = true;
            else if (clock.hasExpired(10000))
                dialog->reject();
        });
        clock.start();
        timer.start(20);
    }

private:
    QTimer timer;
    QElapsedTimer clock;
};

// The names the dialog lists in its current folder now.
QStringList listedFiles(QFileDialog& dialog) {
    QStringList names;
    const auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    const QAbstractItemModel* model = view->model();
    for (int row = 0; row < model->rowCount(view->rootIndex()); ++row)
        names << model->index(row, 0, view->rootIndex()).data().toString();
    return names;
}

// Double-clicks the file name in the dialog's list, as a user picks a file to open.
void doubleClickListed(QFileDialog& dialog, const QString& name) {
    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row)
        if (const QModelIndex item = view->model()->index(row, 0, root); item.data().toString() == name) {
            const QPoint at = view->visualRect(item).center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        }
}

// Chooses filter number filterIndex with the Home and arrow keys, types name over the proposed one and
// presses Return.
void typeFileName(QFileDialog& dialog, int filterIndex, const QString& name) {
    auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    QTest::keyClick(types, Qt::Key_Home);
    for (int i = 0; i < filterIndex; ++i)
        QTest::keyClick(types, Qt::Key_Down);
    // The name field has the focus, as after a click into it: what is typed there is the choice.
    auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QApplication::setActiveWindow(&dialog);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, name);
    QTest::keyClick(edit, Qt::Key_Return);
}

class TestMainWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() {
        installMeshReaders();
        // Qt's own dialogs, which a test can drive, wherever a desktop offers others.
        QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    // Fragments a and b in a group, c at top level, with their meshes in the suite's folder.
    QString writeGroupedProject() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "ga.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "gb.ply", {2, 0, 0}));
        addFragment(graph, writeTetrahedron(dir, "gc.ply", {4, 0, 0}));
        FragGroup* g = addGroup(graph);
        g->addChild(a);
        g->addChild(b);
        return savedProject(graph, dir.filePath("grouped.prproj"));
    }

    // A window showing the grouped project, saved as name in own, which is the current folder
    // until the test sets it back; null when that could not be done.
    std::unique_ptr<MainWindow> windowSavedIn(const QTemporaryDir& own, const QString& name) {
        QDir::setCurrent(own.path());
        auto w = std::make_unique<MainWindow>();
        w->show();
        if (!QTest::qWaitForWindowExposed(w.get()) || !w->openProject(writeGroupedProject()) ||
            !w->saveProject(own.filePath(name)))
            return nullptr;
        return w;
    }

    void windowTitleSizesAndWidgets() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // A new project has no file name; the mark shows unsaved changes.
        QCOMPARE(w.windowTitle(), QStringLiteral("Ostrakit[*]"));
        QVERIFY(!w.isWindowModified());
        QCOMPARE(w.objectName(), QStringLiteral("MainWindow"));
        // 1000 x 700 at least, wider where the columns' controls need it.
        QVERIFY(w.minimumWidth() >= 1000);
        QCOMPARE(w.minimumHeight(), 700);
        QCOMPARE(w.size(), QSize(1200, 770));
        const MainWindowUi& ui = w.widgets();
        QCOMPARE(w.findChild<ListPanelContainer*>("listPans"), ui.listPans);
        QCOMPARE(w.findChild<WAContainer*>("wacont"), ui.wacont);
        QCOMPARE(w.findChild<SolvedContainer*>("solvedGlarea"), ui.solvedGlarea);
        QVERIFY(w.findChild<QToolBar*>("mainToolBar"));
        QCOMPARE(w.statusBar()->objectName(), QStringLiteral("statusBar"));
        QCOMPARE(w.centralWidget()->objectName(), QStringLiteral("centralWidget"));
        QCOMPARE(ui.wacont->minimumHeight(), 521);

        // Three columns in one row: list, working areas, solved area.
        int row, col, rs, cs;
        const QGridLayout* grid = ui.gridLayout;
        QCOMPARE(grid->spacing(), 1);
        grid->getItemPosition(grid->indexOf(ui.listPans), &row, &col, &rs, &cs);
        QCOMPARE(QPoint(row, col), QPoint(0, 0));
        grid->getItemPosition(grid->indexOf(ui.wacont), &row, &col, &rs, &cs);
        QCOMPARE(QPoint(row, col), QPoint(0, 1));
        grid->getItemPosition(grid->indexOf(ui.solvedGlarea), &row, &col, &rs, &cs);
        QCOMPARE(QPoint(row, col), QPoint(0, 2));
        QVERIFY(ui.listPans->geometry().right() < ui.wacont->geometry().left());
        QVERIFY(ui.wacont->geometry().right() < ui.solvedGlarea->geometry().left());
        // The two working areas are stacked.
        const QList<WGLArea*> areas = ui.wacont->findChildren<WGLArea*>();
        QCOMPARE(areas.size(), 2);
        QVERIFY(areas[0]->mapTo(ui.wacont, QPoint(0, areas[0]->height())).y() <=
                areas[1]->mapTo(ui.wacont, QPoint(0, 0)).y());
    }

    void fileMenuListsTheCommandsInOrder() {
        MainWindow w;
        const QMenu* file = w.findChild<QMenu*>("menuFile");
        QVERIFY(file);
        QCOMPARE(file->title(), QStringLiteral("File"));
        QStringList texts, names;
        for (const QAction* a : file->actions()) {
            texts << a->text();
            names << a->objectName();
        }
        QCOMPARE(texts, (QStringList{"New", "Load", "Open Recent", "Import", "Save", "Save Project…",
                                     "Export ALN", "Exit"}));
        QCOMPARE(names, (QStringList{"newproj", "loadproj", "", "importproj", "saveproj", "saveprojas",
                                     "exportaln", "exit"}));
        // "Edit" comes after "File", then "View" with the two ways of finding the marks, exact
        // checked, the Refine matches and the textures (shown); then "Tools".
        const QList<QAction*> menus = w.menuBar()->actions();
        QCOMPARE(menus.size(), 5);
        QCOMPARE(menus[4]->text(), QStringLiteral("Help"));
        QStringList help;
        for (const QAction* a : menus[4]->menu()->actions())
            help << a->text();
        QCOMPARE(help, (QStringList{"Keyboard and mouse", "About Ostrakit"}));
        QCOMPARE(menus[3]->text(), QStringLiteral("Tools"));
        QStringList tools;
        for (const QAction* a : menus[3]->menu()->actions())
            tools << a->text() + " " + a->shortcut().toString(QKeySequence::PortableText);
        QCOMPARE(tools, (QStringList{"Solve ", "Refine Ctrl+R"}));
        QCOMPARE(menus[0]->menu(), file);
        QCOMPARE(menus[1]->text(), QStringLiteral("Edit"));
        QCOMPARE(menus[2]->text(), QStringLiteral("View"));
        QStringList methods;
        for (const QAction* a : menus[2]->menu()->actions())
            methods << a->text() + (a->isChecked() ? "*" : "");
        QCOMPARE(methods, (QStringList{"Interpenetration: exact*", "Interpenetration: GPU passes", "",
                                       "Show Refine Matches", "Show Textures*"}));
        QStringList keys;
        for (const QAction* a : file->actions())
            keys << a->shortcut().toString(QKeySequence::PortableText);
        QCOMPARE(keys, (QStringList{"Ctrl+N", "Ctrl+O", "", "Ctrl+I", "Ctrl+S", "Ctrl+Shift+S", "", ""}));
    }

    void resizeGivesEachColumnAThird() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.resize(1500, 800);
        QTRY_COMPARE(w.width(), 1500);
        const MainWindowUi& ui = w.widgets();
        QCOMPARE(ui.solvedGlarea->minimumWidth(), 500);
        QCOMPARE(ui.listPans->maximumWidth(), 500);
        QCOMPARE(ui.wacont->minimumWidth(), 500);
        QVERIFY(ui.listPans->width() <= 500);

        // At the narrowest and at the default width no column runs past the window's edge.
        for (const int width : {w.minimumWidth(), 1200}) {
            w.resize(width, 800);
            QTRY_COMPARE(w.width(), width);
            QTRY_COMPARE(w.centralWidget()->width(), width);
            QVERIFY(ui.solvedGlarea->geometry().right() < width);
            QVERIFY(ui.listPans->width() >= ui.listPans->minimumSizeHint().width());
            QVERIFY(ui.solvedGlarea->width() >= ui.solvedGlarea->minimumSizeHint().width());
        }
    }

    // From the default size to a large one and back, every view shows on screen the picture of
    // its new size, not the old one stretched; and the tree and the constraint list take the
    // height the column has.
    void resizedViewsShowTheirNewPicture() {
        SampleVessel sample;
        QString error;
        QVERIFY2(writeSmallSample(dir.path(), sample, error), qPrintable(error));
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(sample.projectPath));
        const MainWindowUi& ui = w.widgets();
        const int listRows = constraintRows(w).height() + fragmentTree(w).height();
        for (const QSize size : {QSize(1600, 1000), QSize(1200, 770)}) {
            resizeThroughTheServer(w, size);
            QTRY_COMPARE(w.size(), size);
            // Once the window has settled, the screen shows what each view draws at its size.
            for (int i = 0; i < 2; ++i) {
                WGLArea& area = ui.wacont->area(i);
                const auto differing = [&] {
                    const QPoint at = area.mapTo(&w, QPoint(0, 0));
                    const QImage shown =
                        w.screen()
                            ->grabWindow(w.winId(), at.x(), at.y(), area.width(), area.height())
                            .toImage();
                    const QImage drawn = area.grabFramebuffer();
                    if (shown.size() != drawn.size())
                        return drawn.width() * drawn.height();
                    const QImage a = shown.convertToFormat(QImage::Format_RGB32);
                    const QImage b = drawn.convertToFormat(QImage::Format_RGB32);
                    int count = 0;
                    for (int y = 0; y < b.height(); ++y) {
                        const auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
                        const auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
                        for (int x = 0; x < b.width() - 24; ++x) // not the "+" button
                            count += std::abs(qGray(rowA[x]) - qGray(rowB[x])) > 60;
                    }
                    return count;
                };
                QTRY_VERIFY2_WITH_TIMEOUT(differing() < 10,
                                          qPrintable(QStringLiteral("area %1 at %2x%3: %4 pixels differ")
                                                         .arg(i)
                                                         .arg(size.width())
                                                         .arg(size.height())
                                                         .arg(differing())),
                                          20000);
            }
        }
        // A row too long for the column still shows its RE whole at the right edge: the same
        // pixels as the text drawn there on its own.
        QListWidget& rows = constraintRows(w);
        QCOMPARE(rows.horizontalScrollBar()->maximum(), 0);
        const QRect row = rows.visualItemRect(rows.item(0));
        const QString re = QStringLiteral("RE: 100%");
        QVERIFY(rows.item(0)->text().endsWith(". " + re));
        QVERIFY(rows.fontMetrics().horizontalAdvance(rows.item(0)->text()) > row.width());
        const QImage shown = rows.viewport()->grab(row).toImage();
        QImage alone(shown.size(), shown.format());
        alone.fill(rows.palette().color(QPalette::Base));
        {
            QPainter painter(&alone);
            painter.setFont(rows.font());
            painter.setPen(rows.palette().color(QPalette::Text));
            QStyleOptionViewItem option;
            option.initFrom(&rows);
            option.rect = QRect(QPoint(0, 0), row.size());
            option.features |= QStyleOptionViewItem::HasDisplay;
            option.text = rows.item(0)->text();
            option.font = rows.font();
            const QRect text = rows.style()->subElementRect(QStyle::SE_ItemViewItemText, &option, &rows);
            painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, re);
        }
        const int reWidth = rows.fontMetrics().horizontalAdvance(re) + 4;
        int differing = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = shown.width() - reWidth; x < shown.width(); ++x)
                differing +=
                    std::abs(shown.pixelColor(x, y).lightness() - alone.pixelColor(x, y).lightness()) > 80;
        QVERIFY2(differing < 4, qPrintable(QString::number(differing)));

        resizeThroughTheServer(w, QSize(1600, 1000));
        QTRY_COMPARE(w.size(), QSize(1600, 1000));
        QTRY_VERIFY(constraintRows(w).height() + fragmentTree(w).height() > listRows + 150);
    }

    void workingAreaRules() {
        MainWindow w;
        TotalGraph& graph = *w.projectGraph();
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "a.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "b.ply"));
        FragGroup* c = addFragment(graph, writeTetrahedron(dir, "c.ply"));
        FragGroup* g = addGroup(graph);
        g->addChild(a);
        g->addChild(b);
        QVERIFY(!w.putInWorkingArea(a, -1));
        QVERIFY(w.putInWorkingArea(g, 0));
        QVERIFY(!w.putInWorkingArea(g, 0)); // already shown there
        // A member of the group shown in area 0 is refused in area 1; an unrelated object is not.
        QVERIFY(!w.putInWorkingArea(a, 1));
        QVERIFY(!w.putInWorkingArea(a->wrappedFragment(), 1));
        QVERIFY(w.putInWorkingArea(c, 1));
        QCOMPARE(w.findWorkingAreaOf(g->objId()), 0);
        QCOMPARE(w.findWorkingAreaOf(c->objId()), 1);
        QCOMPARE(w.findWorkingAreaOf(b->objId()), -1);
        QCOMPARE(w.workingAreaObjectId(1), &c->objId());
        // Deleting the group empties the area that showed it.
        w.deleteGeometry(g->id());
        QCOMPARE(w.workingAreaObjectId(0), nullptr);
        QCOMPARE(w.workingAreaObjectId(1), &c->objId());
        QCOMPARE(graph.objectCount(), 1);
    }

    void deleteConstraintRestoresFreedRoots() {
        MainWindow w;
        TotalGraph& graph = *w.projectGraph();
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "d0.ply"));
        FragGroup* b = addFragment(graph, writeTetrahedron(dir, "d1.ply"));
        FragGroup* x = addFragment(graph, writeTetrahedron(dir, "d2.ply"));
        RBand* ab = addBand(graph, a, b, {0, 0, 0}, {1, 0, 0});
        RBand* bx = addBand(graph, b, x, {0, 0, 0}, {1, 0, 0});
        const Point3d readPosition = a->wrappedFragment()->mesh().vertices[1];
        const Matrix44d m = translation(3, 0, 0);
        for (FragGroup* o : {a, b, x}) {
            o->applyTransform(&m);
            o->setVisible(true);
        }

        // A negative id only clears the focus.
        ab->setFocused(true);
        w.deleteConstraint(-1 - ab->id());
        QVERIFY(!ab->isFocused());
        QCOMPARE(graph.getConstraint(ab->id()), ab);

        // a keeps no constraint: back where it was read and out of the solved view; b still holds
        // bx and stays.
        w.deleteConstraint(ab->id());
        QCOMPARE(graph.getConstraint(0), nullptr);
        QVERIFY(!a->isVisible());
        QVERIFY((a->wrappedFragment()->mesh().vertices[1] - readPosition).norm() < 1e-12);
        QVERIFY(b->isVisible());
        QCOMPARE(b->wrappedFragment()->mesh().vertices[1], Point3d(readPosition + Point3d(3, 0, 0)));
        QVERIFY(graph.validate().isEmpty());
        Q_UNUSED(bx);
    }

    void newProjectAndEscapeClearState() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.newProject(); // on an empty project
        QVERIFY(w.projectGraph()->isEmpty());
        TotalGraph& graph = *w.projectGraph();
        FragGroup* a = addFragment(graph, writeTetrahedron(dir, "e.ply"));
        w.addConstraintPick(a->wrappedFragment()->objId(), 1, 2, 3, a->objId());
        QCOMPARE(w.pendingPicks().size(), std::size_t(1));
        QCOMPARE(w.pendingPicks().begin()->first, QStringLiteral("-1:0"));
        w.setLastPicked(a);
        QVERIFY(!w.isNotLastPicked(a));
        QTest::keyClick(&w, Qt::Key_Escape);
        QVERIFY(w.pendingPicks().empty());
        QVERIFY(w.isNotLastPicked(a));
        w.solve(); // nothing to solve, must not fail
        w.putInWorkingArea(a, 0);
        w.newProject();
        QVERIFY(graph.isEmpty());
        QCOMPARE(w.workingAreaObjectId(0), nullptr);
        QCOMPARE(graph.hiddenObjectCount(), 0);
    }

    void openReplacesTheProjectOnlyWhenReadCompletely() {
        MainWindow w;
        TotalGraph& graph = *w.projectGraph();
        addFragment(graph, writeTetrahedron(dir, "keep.ply"));
        const QByteArray before = projectFileText(graph);

        const QString damaged = dir.filePath("damaged.prproj");
        {
            QFile f(damaged);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("<Project><Graph><Fragments><FragGroup id=\"-1:0\" >");
        }
        for (const QString& path : {damaged, dir.filePath("absent.prproj")}) {
            MessageBoxCatcher boxes;
            QVERIFY(!w.openProject(path));
            QVERIFY(!w.importProject(path));
            QCOMPARE(boxes.titles, (QStringList{"Open project error", "Open project error"}));
            QCOMPARE(projectFileText(graph), before);
        }

        // A good file replaces the project; the missing meshes are reported in one warning that
        // names each path once, with why, and the folders where they were looked for.
        TotalGraph other;
        addFragment(other, writeTetrahedron(dir, "new0.ply"));
        addFragment(other, dir.filePath("lost.ply"));
        addFragment(other, writeTetrahedron(dir, "new2.ply"));
        addFragment(other, dir.filePath("gone.ply"));
        QVERIFY(QDir(dir.path()).mkpath("elsewhere"));
        const QString good = dir.filePath("elsewhere/good.prproj");
        QString error;
        QVERIFY(saveProjectFile(good, other, error));
        w.putInWorkingArea(graph.getObject(0), 0);
        {
            MessageBoxCatcher boxes;
            QVERIFY(w.openProject(good));
            QCOMPARE(boxes.titles, QStringList{"Missing meshes"});
            QCOMPARE(boxes.texts[0],
                     "These mesh files could not be read; their fragments have no geometry:\n\n" +
                         dir.filePath("lost.ply") + ": the file does not exist\n" + dir.filePath("gone.ply") +
                         ": the file does not exist\n\nThe meshes were looked for in:\n" + dir.path() + "\n" +
                         dir.filePath("elsewhere"));
        }
        QCOMPARE(projectFileText(graph), projectFileText(other));
        QCOMPARE(w.workingAreaObjectId(0), nullptr);
        QVERIFY(graph.validate().isEmpty());
        QCOMPARE(graph.getObject(0)->owningGraph(), static_cast<BaseGraph*>(&graph));

        // Import adds the same project again under new ids.
        {
            MessageBoxCatcher boxes;
            QVERIFY(w.importProject(good));
        }
        QCOMPARE(graph.objectCount(), 8);
        QVERIFY(graph.validate().isEmpty());
    }

    // What failed on the first line; the file and the reader's or the system's reason on the next.
    void failedFileCommandsSayWhichFileAndWhy_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("reasonStart");
        const QString badlyWritten = "Badly written project file", cannotOpen = "Couldn't open the project";
        const QString absent = QString::fromLocal8Bit(std::strerror(ENOENT));
        for (const QString command : {"open", "import"}) {
            QTest::addRow("%s a PNG renamed", qPrintable(command))
                << command << "photo.prproj" << badlyWritten << QStringLiteral("line 1: ");
            QTest::addRow("%s an empty file", qPrintable(command))
                << command << "empty.prproj" << badlyWritten << QStringLiteral("the file is empty");
            QTest::addRow("%s a missing file", qPrintable(command))
                << command << "absent.prproj" << cannotOpen << absent;
        }
        // Permission bits do not stop a test run as root; a regular file in the way does.
        const QString cannotSave = "Couldn't save the project";
        const QString save = "save";
        QTest::newRow("save below a file")
            << save << QStringLiteral("plain/p.prproj") << cannotSave << QString();
        QTest::newRow("save into a missing folder")
            << save << QStringLiteral("no/such/p.prproj") << cannotSave << QString();
    }
    void failedFileCommandsSayWhichFileAndWhy() {
        QFETCH(QString, command);
        QFETCH(QString, file);
        QFETCH(QString, what);
        QFETCH(QString, reasonStart);
        QTemporaryDir own;
        const QString path = own.filePath(file);
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QVERIFY(picture.save(own.filePath("photo.prproj"), "PNG"));
        for (const char* name : {"empty.prproj", "plain"}) {
            QFile made(own.filePath(name));
            QVERIFY(made.open(QIODevice::WriteOnly));
        }
        // The reason is what the reader or the writer itself says.
        QString reason;
        TotalGraph probe;
        if (command == QLatin1String("save"))
            QVERIFY(!saveProjectFile(path, probe, reason));
        else
            reason = readProjectFile(path, probe).detail;
        QVERIFY2(reason.startsWith(reasonStart) && !reason.isEmpty(), qPrintable(reason));

        MainWindow w;
        MessageBoxCatcher boxes;
        const bool done = command == QLatin1String("open")     ? w.openProject(path)
                          : command == QLatin1String("import") ? w.importProject(path)
                                                               : w.saveProject(path);
        QVERIFY(!done);
        QCOMPARE(boxes.titles,
                 QStringList{command == QLatin1String("save") ? "Save project error" : "Open project error"});
        QCOMPARE(boxes.texts, QStringList{what + "\n" + QDir::toNativeSeparators(path) + ": " + reason});
    }

    void failedSaveAndExportShowBoxes() {
        MainWindow w;
        {
            MessageBoxCatcher boxes;
            QVERIFY(!w.exportAln(dir.filePath("no/such/folder/p.aln")));
            QCOMPARE(boxes.titles, QStringList{"Export error"});
            QVERIFY(boxes.texts[0].contains("p.aln"));
        }
        QVERIFY(w.saveProject(dir.filePath("fine.prproj")));
        QVERIFY(w.exportAln(dir.filePath("fine.aln")));
    }

    // A name typed without a suffix is written with the suffix of the filter selected in the
    // dialog, so that the dialogs that list projects by suffix show it again.
    void saveDialogsAddTheSelectedFiltersSuffix_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("filter");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        const QString save = "Save Project…", aln = "Export ALN", group = "Export Group", nudged = "nudged";
        QTest::newRow("Save Project, xml") << save << 0 << nudged << QStringLiteral("nudged.xml");
        QTest::newRow("Save Project, prproj") << save << 1 << nudged << QStringLiteral("nudged.prproj");
        QTest::newRow("Save Project, a suffix typed")
            << save << 0 << QStringLiteral("kept.prproj") << QStringLiteral("kept.prproj");
        QTest::newRow("Export ALN") << aln << 0 << nudged << QStringLiteral("nudged.aln");
        QTest::newRow("Export ALN, a suffix typed")
            << aln << 0 << QStringLiteral("placed.txt") << QStringLiteral("placed.txt");
        QTest::newRow("Export Group, xml") << group << 0 << nudged << QStringLiteral("nudged.xml");
        QTest::newRow("Export Group, prproj") << group << 1 << nudged << QStringLiteral("nudged.prproj");
        QTest::newRow("Export Group, a suffix typed")
            << group << 1 << QStringLiteral("kept.xml") << QStringLiteral("kept.xml");
    }
    void saveDialogsAddTheSelectedFiltersSuffix() {
        QFETCH(QString, command);
        QFETCH(int, filter);
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QTemporaryDir own;
        // The Save dialog starts at the project's file: it is in the folder of this case.
        const std::unique_ptr<MainWindow> w = windowSavedIn(own, "project.prproj");
        QVERIFY(w);

        FileDialogDriver driver([&](QFileDialog& dialog) {
            typeFileName(dialog, filter, typed);
            return true;
        });
        if (command == QLatin1String("Export Group")) {
            QTreeWidget& tree = fragmentTree(*w);
            for (int i = 0; i < tree.topLevelItemCount(); ++i)
                tree.topLevelItem(i)->setSelected(tree.topLevelItem(i)->childCount() > 0);
            QVERIFY(runEntry(*w->widgets().listPans->treePanel(), command));
        } else {
            (command == QLatin1String("Export ALN") ? w->widgets().exportaln : w->widgets().saveprojas)
                ->trigger();
        }
        QVERIFY(driver.acted);
        QStringList files{"project.prproj", written};
        files.sort();
        QCOMPARE(QDir(own.path()).entryList(QDir::Files), files);
        TotalGraph back;
        if (command == QLatin1String("Export ALN"))
            QVERIFY(QFile(own.filePath(written)).size() > 0);
        else
            QVERIFY(readProjectFile(own.filePath(written), back).ok());
        QDir::setCurrent(dir.path());
    }

    // "Import" lists the projects "Save" writes, .xml ones too, and imports the one chosen there.
    void theImportDialogListsXmlProjects() {
        QTemporaryDir own;
        const std::unique_ptr<MainWindow> w = windowSavedIn(own, "saved.xml");
        QVERIFY(w);
        QStringList listed;
        FileDialogDriver driver([&](QFileDialog& dialog) {
            listed = listedFiles(dialog);
            if (!listed.contains("saved.xml"))
                return false; // the folder is read in the background
            doubleClickListed(dialog, "saved.xml");
            return true;
        });
        w->widgets().importproj->trigger();
        QVERIFY2(driver.acted, qPrintable(listed.join(", ")));
        QCOMPARE(w->projectGraph()->objectCount(), 8); // the project twice, renumbered
        QVERIFY(w->projectGraph()->validate().isEmpty());
        QDir::setCurrent(dir.path());
    }

    // Ctrl+S writes the project to its own file without a question, and the history keeps its steps
    // with the clean mark there; Ctrl+Shift+S asks, and the project's file is then the new one.
    // Dialogs start in the project's folder, or in the folder last chosen when it has no file.
    void saveKeysWriteTheProjectsFileOrAsk() {
        QTemporaryDir own, other;
        const std::unique_ptr<MainWindow> w = windowSavedIn(own, "first.prproj");
        QVERIFY(w);
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QUndoStack& history = w->projectHistory().stack();
        const auto rename = [&](const QString& name) {
            auto* item = static_cast<MyTreeWidgetItem*>(fragmentTree(*w).topLevelItem(0));
            QVERIFY(w->widgets().listPans->treePanel()->renameItem(item, name));
            QVERIFY(w->isWindowModified() && !history.isClean());
        };
        const auto fileText = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        // Any dialog that opens is counted and cancelled.
        int dialogs = 0;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget(); modal && !modal->isHidden()) {
                ++dialogs;
                modal->close();
            }
        });
        watch.start(20);
        rename("renamed");
        QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
        QTest::qWait(200);
        watch.stop();
        QCOMPARE(dialogs, 0);
        QCOMPARE(fileText(own.filePath("first.prproj")),
                 projectFileText(*w->projectGraph(), QDir(own.path())));
        QVERIFY(!w->isWindowModified() && history.isClean() && history.canUndo());
        QCOMPARE(w->dialogFolder(), own.path());

        // Save Project… to another folder: the project is now that file, the first stays as it was.
        const QByteArray first = fileText(own.filePath("first.prproj"));
        rename("moved");
        // It proposes the project's file, with the filter of its kind.
        FileDialogDriver saveAs([&](QFileDialog& dialog) {
            if (QDir(dialog.directory()).absolutePath() != own.path() ||
                !dialog.selectedNameFilter().contains("prproj"))
                return false;
            typeFileName(dialog, 1, other.filePath("second"));
            return true;
        });
        QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(saveAs.acted);
        QCOMPARE(w->projectFile(), other.filePath("second.prproj"));
        QCOMPARE(w->windowTitle(), QStringLiteral("second.prproj[*] - Ostrakit"));
        QVERIFY(history.isClean());
        rename("moved again");
        w->widgets().saveproj->trigger();
        QCOMPARE(fileText(other.filePath("second.prproj")),
                 projectFileText(*w->projectGraph(), QDir(other.path())));
        QCOMPARE(fileText(own.filePath("first.prproj")), first);

        // Without a file, the dialogs start where the last file was chosen.
        w->newProject();
        QCOMPARE(w->dialogFolder(), other.path());
        QString started;
        FileDialogDriver import([&](QFileDialog& dialog) {
            started = QDir(dialog.directory()).absolutePath();
            dialog.reject();
            return true;
        });
        w->widgets().importproj->trigger();
        QCOMPARE(started, other.path());
        // A new project that was never saved: Save asks.
        FileDialogDriver firstSave([&](QFileDialog& dialog) {
            typeFileName(dialog, 0, other.filePath("third"));
            return true;
        });
        w->widgets().saveproj->trigger();
        QVERIFY(firstSave.acted);
        QCOMPARE(w->projectFile(), other.filePath("third.xml"));
        QDir::setCurrent(dir.path());
    }

    // The desktop entry starts the program with --in-data-folder: the per-user data folder is made
    // and the program works there, so the files it writes into its working folder land there. Started
    // otherwise, it works where it was started, and the data folder is made all the same.
    void theDesktopEntrysOptionWorksInTheDataFolder() {
        for (const bool inData : {true, false}) {
            QTemporaryDir home;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("XDG_DATA_HOME", home.filePath("data"));
            environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
            QProcess program;
            program.setProcessEnvironment(environment);
            program.setWorkingDirectory(home.path());
            program.start(QStringLiteral(OSTRAKIT_PATH),
                          inData ? QStringList{"--in-data-folder"} : QStringList{});
            QVERIFY(program.waitForStarted());
            const QString data = home.filePath("data/Ostrakit");
            const QString working = QStringLiteral("/proc/%1/cwd").arg(program.processId());
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(data).isDir(), 20000);
            QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(working).canonicalFilePath(),
                                      QFileInfo(inData ? data : home.path()).canonicalFilePath(), 20000);
            program.kill();
            QVERIFY(program.waitForFinished());
        }
    }

    // "Open Recent" lists the projects opened and saved last, newest first and at most ten, still
    // after a restart; a project whose file has gone leaves the list when the menu opens; an entry
    // opens its project; "Clear" empties it.
    void recentProjectsSurviveARestart() {
        QSettings().remove(QStringLiteral("recentProjects"));
        QTemporaryDir own;
        const auto menuTexts = [](MainWindow& w) {
            QMenu* recent = w.widgets().menuRecent;
            recent->popup(QPoint(0, 0)); // fills it, as opening it from the File menu does
            QStringList texts;
            for (const QAction* a : recent->actions())
                texts << a->text() + (a->isEnabled() ? "" : " (disabled)");
            recent->hide();
            return texts;
        };
        {
            const std::unique_ptr<MainWindow> w = windowSavedIn(own, "a.prproj");
            QVERIFY(w);
            QVERIFY(w->saveProject(own.filePath("b.xml")));
            QVERIFY(w->saveProject(own.filePath("a.prproj")));
        }
        QSettings().sync();
        QFile stored(QSettings().fileName());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(stored.readAll().contains("b.xml"));

        MainWindow w;
        QCOMPARE(menuTexts(w), (QStringList{"&1 a.prproj", "&2 b.xml", "&3 grouped.prproj", "", "Clear"}));
        QVERIFY(QFile::remove(own.filePath("a.prproj")));
        QCOMPARE(menuTexts(w), (QStringList{"&1 b.xml", "&2 grouped.prproj", "", "Clear"}));
        QCOMPARE(w.recentProjects(), (QStringList{own.filePath("b.xml"), dir.filePath("grouped.prproj")}));
        w.widgets().menuRecent->actions().at(1)->trigger();
        QCOMPARE(w.projectFile(), dir.filePath("grouped.prproj"));
        QCOMPARE(w.projectGraph()->objectCount(), 4);
        QCOMPARE(w.recentProjects().front(), dir.filePath("grouped.prproj"));

        for (int i = 0; i < 12; ++i)
            QVERIFY(w.saveProject(own.filePath(QStringLiteral("copy%1.prproj").arg(i))));
        const QStringList ten = menuTexts(w);
        QCOMPARE(ten.size(), 12);
        QCOMPARE(ten.front(), QStringLiteral("&1 copy11.prproj"));
        QCOMPARE(ten.at(9), QStringLiteral("&10 copy2.prproj"));
        w.widgets().menuRecent->actions().last()->trigger();
        QCOMPARE(menuTexts(w), (QStringList{"No recent projects (disabled)", "", "Clear (disabled)"}));
        QVERIFY(w.recentProjects().isEmpty());
        QDir::setCurrent(dir.path());
    }

    // "Keyboard and mouse" has a row for every key of every action and shortcut of the window, the
    // keys the window reads itself, and what each mouse button does in the views, as the trackball
    // does it. "About Ostrakit" names the version, Qt and the OpenGL in use.
    void helpMenuListsEveryKeyAndAbout() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QStringList rows;
        QTimer reader;
        connect(&reader, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->objectName() != QLatin1String("keyboardAndMouse"))
                return;
            const auto* table = dialog->findChild<QTableWidget*>(QStringLiteral("keys"));
            for (int r = 0; r < table->rowCount(); ++r)
                rows << table->item(r, 0)->text() + " | " +
                            (table->item(r, 1) ? table->item(r, 1)->text() : "");
            dialog->reject();
        });
        reader.start(20);
        w.widgets().keysHelp->trigger();
        reader.stop();
        const auto key = [](const QKeySequence& k) { return k.toString(QKeySequence::NativeText); };
        int actionKeys = 0;
        for (const QAction* a : w.findChildren<QAction*>())
            for (const QKeySequence& k : a->shortcuts()) {
                ++actionKeys;
                QVERIFY2(rows.contains(key(k) + " | " + QString(a->text()).remove('&')),
                         qPrintable(a->text()));
            }
        QVERIFY(actionKeys >= 10); // New, Open, Import, Save, Save Project…, Undo, Redo twice, Refine, F1
        for (const QShortcut* s : w.findChildren<QShortcut*>())
            QVERIFY(!s->whatsThis().isEmpty() && rows.contains(key(s->key()) + " | " + s->whatsThis()));
        QVERIFY(rows.contains("F2 | Rename the current fragment or group"));
        QVERIFY(rows.contains("Del | Delete the selected constraints"));
        QVERIFY(rows.filter(QRegularExpression("^Esc \\| Stop adding a constraint")).size() == 1);
        QVERIFY(rows.filter(QRegularExpression("^Space \\| Start or stop timing")).size() == 1);
        const int mouse = int(rows.indexOf("Mouse, in the 3D views | "));
        QVERIFY(mouse > 0);
        QCOMPARE(rows.mid(mouse + 1),
                 (QStringList{"left drag | Turn the view about its centre",
                              "Shift+left drag | Zoom in or out", "Ctrl+left drag | Move the view sideways",
                              "Alt+left drag | Move the view towards you or away",
                              "middle drag | Move the view sideways",
                              "Alt+middle drag | Turn the view about its centre", "wheel | Zoom in or out",
                              "left click | While a constraint is added: pick its point there"}));

        MessageBoxCatcher boxes;
        w.widgets().about->trigger();
        QTRY_COMPARE(boxes.titles, QStringList{"About Ostrakit"});
        const QString about = boxes.texts.front();
        QVERIFY2(about.contains("Ostrakit 0.1") && about.contains(QString("Qt ") + qVersion()),
                 qPrintable(about));
        QVERIFY2(QRegularExpression("OpenGL renderer: [^<]*\\w").match(about).hasMatch(), qPrintable(about));
        QVERIFY2(QRegularExpression("OpenGL version: \\d").match(about).hasMatch(), qPrintable(about));
    }

    void addedObjectsGetThumbnails() {
        MainWindow w;
        FragGroup* a = addFragment(*w.projectGraph(), writeTetrahedron(dir, "thumb.ply"));
        const QImage picture =
            thumbnailImage(QStringLiteral("image:") + a->imageKey() + QStringLiteral(".png"));
        QCOMPARE(picture.size(), QSize(120, 120));
        // Some pixel shows the object (the background is transparent).
        int drawn = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                drawn += qAlpha(picture.pixel(x, y)) > 0;
        QVERIFY(drawn > 100);
    }

    void loadDeleteAndNewFreeTheGpuBuffers() {
        TotalGraph source;
        for (int i = 0; i < 4; ++i)
            addFragment(source, writeCube(dir, QStringLiteral("gpu%1.ply").arg(i), {2.0 * i, 0, 0}, 1.0));
        const QString path = dir.filePath("gpu.prproj");
        QString error;
        QVERIFY(saveProjectFile(path, source, error));

        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const FragmentBufferCache& cache = FragmentBufferCache::instance();
        // The commands run from event handlers, where no context of the views need be current.
        const auto noContextCurrent = [] {
            if (QOpenGLContext* current = QOpenGLContext::currentContext())
                current->doneCurrent();
        };
        const auto openAndShow = [&] {
            noContextCurrent();
            QVERIFY(w.openProject(path));
            for (int i = 0; i < WAContainer::AreaCount; ++i) {
                WGLArea& area = w.widgets().wacont->area(i);
                QVERIFY(w.putInWorkingArea(w.projectGraph()->getObject(i), i));
                const int painted = area.paintCount();
                QTRY_VERIFY(area.paintCount() > painted);
            }
        };
        const std::size_t before = cache.liveBufferCount();
        openAndShow();
        const std::size_t loaded = cache.liveBufferCount();
        QVERIFY(loaded > before); // thumbnails and views uploaded the meshes
        // Loading again replaces the fragments: their buffers go, the new ones take their place.
        openAndShow();
        QCOMPARE(cache.liveBufferCount(), loaded);

        noContextCurrent();
        w.deleteGeometry(3);
        const std::size_t afterDelete = cache.liveBufferCount();
        QVERIFY(afterDelete < loaded);
        // With a context of another share group current, that context stays current.
        QOpenGLContext unshared;
        QVERIFY(unshared.create());
        QOffscreenSurface surface;
        surface.setFormat(unshared.format());
        surface.create();
        QVERIFY(unshared.makeCurrent(&surface));
        w.deleteGeometry(2);
        QVERIFY(cache.liveBufferCount() < afterDelete);
        QCOMPARE(QOpenGLContext::currentContext(), &unshared);
        QCOMPARE(unshared.surface(), static_cast<QSurface*>(&surface));
        unshared.doneCurrent();

        noContextCurrent();
        w.newProject();
        QCOMPARE(cache.liveBufferCount(), before);
    }

    void toleranceIsKept() {
        MainWindow w;
        QCOMPARE(w.getTolerance(), 1e-5f);
        w.setTolerance(0.25f);
        QCOMPARE(w.getTolerance(), 0.25f);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
