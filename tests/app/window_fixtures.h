#pragma once
// Projects the window suites open (the generated vessel at a size that keeps the suites quick, and
// graphs built by a test saved as project files) and the widgets of the window they drive.

#include "../scene/scene_fixtures.h"
#include "list_panel.h"
#include "list_panel_container.h"
#include "main_window.h"
#include "main_window_ui.h"
#include "mesh_readers.h"
#include "project_writer.h"
#include "sample_vessel.h"
#include "total_graph.h"
#include "tree_panel.h"
#include "wgl_area.h"

#include <QMenu>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

// Answers the next message boxes as a user would, remembering their titles and texts.
class MessageBoxCatcher : public QObject {
public:
    QStringList titles, texts;
    MessageBoxCatcher() {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                titles << box->windowTitle();
                texts << box->text();
                box->done(QMessageBox::Ok);
            }
        });
        timer.start();
    }

private:
    QTimer timer;
};

// The pixels of image where test holds.
inline int countPixels(const QImage& image, const std::function<bool(QRgb)>& test) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += test(image.pixel(x, y)) ? 1 : 0;
    return n;
}

// Strongly red pixels: the interpenetration marks.
inline int redPixels(const QImage& image) {
    return countPixels(
        image, [](QRgb p) { return qRed(p) > 120 && qGreen(p) < qRed(p) / 3 && qBlue(p) < qRed(p) / 3; });
}

// A freshly painted picture of a GL area (grabbing paints a frame); null when no frame was painted.
template <class Area> QImage freshPicture(Area& area) {
    const int before = area.paintCount();
    const QImage image = area.grabFramebuffer();
    return area.paintCount() > before ? image : QImage();
}

// The vessel with 60 vertices around and 40 rings, written into folder.
inline bool writeSmallSample(const QString& folder, SampleVessel& sample, QString& error) {
    SampleVesselOptions options;
    options.around = 60;
    options.up = 40;
    return writeSampleVessel(folder, sample, error, options);
}

// What a suite working on the sample needs first: the readers, dir as the current folder and the
// small sample in it. Returns why it failed, empty on success.
inline QString setUpSampleFolder(const QTemporaryDir& dir, SampleVessel& sample) {
    installMeshReaders();
    QDir::setCurrent(dir.path());
    QString error;
    writeSmallSample(dir.path(), sample, error);
    return error;
}

// A flat unit square in the plane z = 0 with its lower left corner at (x0, y0), facing the camera.
inline QString writeSquare(const QTemporaryDir& dir, const QString& name, double x0, double y0) {
    return writeAsciiPly(dir.filePath(name),
                         {{x0, y0, 0}, {x0 + 1, y0, 0}, {x0 + 1, y0 + 1, 0}, {x0, y0 + 1, 0}},
                         {{0, 1, 2}, {0, 2, 3}});
}

// graph saved as path; empty when it could not be written.
inline QString savedProject(const TotalGraph& graph, const QString& path) {
    QString error;
    return saveProjectFile(path, graph, error) ? path : QString();
}

inline QListWidget& constraintRows(MainWindow& w) {
    return w.widgets().listPans->constraintListPanel()->contentWidget();
}

inline QTreeWidget& fragmentTree(MainWindow& w) {
    return w.widgets().listPans->treePanel()->contentWidget();
}

// The left column's button with text, null if there is none.
inline QPushButton* leftButton(MainWindow& w, const QString& text) {
    for (QPushButton* b : w.widgets().listPans->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

// Repaints the area and waits until the frame was drawn.
inline void waitForFrame(WGLArea& area) {
    const int before = area.paintCount();
    area.update();
    QTRY_VERIFY(area.paintCount() > before);
}

// A click as a user makes it: the button stays down while the area repaints, so the pick runs
// in that frame.
inline void clickAndHold(WGLArea& area, QPoint at) {
    const int before = area.paintCount();
    QTest::mousePress(&area, Qt::LeftButton, Qt::NoModifier, at);
    QTRY_VERIFY(area.paintCount() > before);
    QTest::mouseRelease(&area, Qt::LeftButton, Qt::NoModifier, at);
}

// Runs the menu entry text on the current selection, as a click on it would.
inline bool runEntry(TreePanel& panel, const QString& text) {
    std::unique_ptr<QMenu> menu = panel.makeMenu();
    for (QAction* a : menu ? menu->actions() : QList<QAction*>())
        if (a->text() == text && a->isEnabled()) {
            a->trigger();
            return true;
        }
    return false;
}

inline void select(QTreeWidget& tree, std::initializer_list<QTreeWidgetItem*> items) {
    tree.clearSelection();
    for (QTreeWidgetItem* i : items)
        i->setSelected(true);
}
