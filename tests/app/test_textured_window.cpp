// Textured fragments in the real window: two painted spheres read from OBJ files with a material
// and a PNG show their paint in the solved area, a working area, the zoom window and the
// thumbnails, with the interpenetration marks red over it; View > Show Textures brings the colours
// back everywhere; a mesh whose image is missing is added in its colour and the user is told which
// image is missing.

#include "../gl_test_main.h"
#include "../view/closed_shapes.h"
#include "mesh_loading.h"
#include "mesh_texture.h"
#include "panel_gl_area.h"
#include "project_writer.h"
#include "scene_renderer.h"
#include "solved_container.h"
#include "thumbnail_store.h"
#include "wa_container.h"
#include "window_fixtures.h"
#include "zoom_dialog.h"
#include "zoom_gl_area.h"

#include <QFile>
#include <QImage>
#include <QTextStream>
#include <cmath>
#include <functional>

namespace {

// Pixels of the paint: strongly green.
int paintPixels(const QImage& image) {
    return countPixels(
        image, [](QRgb p) { return qGreen(p) > 100 && qRed(p) < qGreen(p) / 3 && qBlue(p) < qGreen(p) / 3; });
}

template <class Area> QImage picture(Area& area) {
    return freshPicture(area);
}

// A unit sphere at centre written as OBJ with one texture coordinate per corner (longitude and
// latitude) and the material "paint" of the given .mtl; empty on failure.
QString writePaintedSphere(const QString& folder, const QString& name, const Point3d& centre,
                           const QString& mtl) {
    FragMesh m;
    appendSphere(m, centre, 1.0, 48, 24);
    QFile file(folder + '/' + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return {};
    QTextStream out(&file);
    out << "mtllib " << mtl << "\nusemtl paint\n";
    for (const Point3d& p : m.vertices)
        out << "v " << p.x() << ' ' << p.y() << ' ' << p.z() << '\n';
    for (const FragMesh::Face& f : m.faces)
        for (std::uint32_t v : f) {
            const Point3d d = m.vertices[v] - centre;
            out << "vt " << 0.5 + std::atan2(d.y(), d.x()) / (2 * M_PI) << ' '
                << 0.5 + std::asin(d.z()) / M_PI << '\n';
        }
    for (std::size_t k = 0; k < m.faces.size(); ++k) {
        out << 'f';
        for (int c = 0; c < 3; ++c)
            out << ' ' << m.faces[k][c] + 1 << '/' << 3 * k + std::size_t(c) + 1;
        out << '\n';
    }
    return file.error() == QFile::NoError ? file.fileName() : QString();
}

bool writeMaterial(const QString& path, const QString& image) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(("newmtl paint\nmap_Kd " + image + "\n").toUtf8()) > 0;
}

} // namespace

class TestTexturedWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString project;

    // Runs the zoom window on content and returns its picture.
    static QImage zoomPicture(GeometrObj* content) {
        QImage shown;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<ZoomDialog*>(w); d && d->isVisible()) {
                    if (QTest::qWaitForWindowExposed(d))
                        shown = picture(*d->area());
                    d->reject();
                }
        });
        openZoom(content);
        return shown;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        installMeshReaders();
        QImage paint(64, 64, QImage::Format_RGB32);
        paint.fill(QColor(0, 210, 0));
        QVERIFY(paint.save(dir.filePath("paint.png")));
        QVERIFY(writeMaterial(dir.filePath("spheres.mtl"), "paint.png"));
        QVERIFY(writeMaterial(dir.filePath("lost.mtl"), "lost paint.png"));
        TotalGraph graph;
        for (int i = 0; i < 2; ++i) {
            const QString path = writePaintedSphere(dir.path(), QString("sphere_%1.obj").arg(i),
                                                    {1.3 * i, 0.1 * i, 0}, "spheres.mtl");
            QVERIFY(!path.isEmpty());
            FragMesh m;
            QString error;
            QVERIFY2(readPreparedMesh(path, m, error), qPrintable(error));
            QVERIFY(m.texture && m.texture->hasImage());
            addMeshFragment(graph, std::move(m), path);
        }
        QVERIFY(!writePaintedSphere(dir.path(), "unpainted.obj", {0, 3, 0}, "lost.mtl").isEmpty());
        project = savedProject(graph, dir.filePath("painted.prproj"));
        QVERIFY(!project.isEmpty());
    }

    void paintShowsEverywhereWithTheMarksOverIt() {
        MainWindow w;
        w.resize(1400, 900);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.openProject(project));
        TotalGraph& graph = *w.projectGraph();
        PanelGLArea& solved = w.widgets().solvedGlarea->area();
        QVERIFY(w.putInWorkingArea(graph.getObject(0), 0));
        WGLArea& working = w.widgets().wacont->area(0);
        const auto thumbnailPaint = [&](int id) {
            return paintPixels(thumbnailImage(thumbnailName(graph.getObject(id)->imageKey())));
        };
        // The spheres overlap: the marks come in the background, red over the paint.
        QTRY_VERIFY(redPixels(picture(solved)) > 100);
        const QImage both = picture(solved);
        QVERIFY2(paintPixels(both) > 2000, qPrintable(QString::number(paintPixels(both))));
        QVERIFY(paintPixels(picture(working)) > 2000);
        QVERIFY(paintPixels(zoomPicture(graph.getObject(1))) > 20000);
        QTRY_VERIFY(thumbnailPaint(0) > 500 && thumbnailPaint(1) > 500);

        // The colours instead: no paint left anywhere, the marks still red.
        const int version = thumbnailVersion(graph.getObject(0)->imageKey());
        w.widgets().showTextures->trigger();
        QVERIFY(!texturesShown());
        QCOMPARE(paintPixels(picture(solved)), 0);
        QVERIFY(redPixels(picture(solved)) > 100);
        QCOMPARE(paintPixels(picture(working)), 0);
        QCOMPARE(paintPixels(zoomPicture(graph.getObject(1))), 0);
        QVERIFY(thumbnailVersion(graph.getObject(0)->imageKey()) > version);
        QCOMPARE(thumbnailPaint(0), 0);
        w.widgets().showTextures->trigger();
        QVERIFY(texturesShown());
        QVERIFY(paintPixels(picture(solved)) > 2000);
        QVERIFY(thumbnailPaint(0) > 500);
    }

    void aMissingImageIsNamedAndTheMeshAddedInItsColour() {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        MessageBoxCatcher boxes;
        w.widgets().listPans->addFragmentFiles({dir.filePath("unpainted.obj")});
        QTRY_COMPARE(boxes.titles, QStringList{"Missing textures"});
        QVERIFY2(boxes.texts.front().contains("unpainted.obj: lost paint.png: no such image"),
                 qPrintable(boxes.texts.front()));
        TotalGraph& graph = *w.projectGraph();
        QCOMPARE(graph.objectTable().size(), std::size_t(1));
        GeometrObj* added = graph.objectTable().begin()->second;
        QVERIFY(w.putInWorkingArea(added, 0));
        const QImage shown = picture(w.widgets().wacont->area(0));
        QCOMPARE(paintPixels(shown), 0);
        int lit = 0;
        for (int y = 0; y < shown.height(); y += 4)
            for (int x = 0; x < shown.width(); x += 4)
                lit += qGray(shown.pixel(x, y)) > 40;
        QVERIFY(lit > 100);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestTexturedWindow)
#include "test_textured_window.moc"
