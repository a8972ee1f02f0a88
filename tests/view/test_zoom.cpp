// The zoom window under a real X server and OpenGL: it covers its screen, shows the object fitted
// in front of the camera with its title, follows the wheel and the mouse, and openZoom hands the
// object back with its focus as it was.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "scene_renderer.h"
#include "zoom_dialog.h"
#include "zoom_gl_area.h"

#include <QApplication>
#include <QColor>
#include <QScreen>
#include <QSurfaceFormat>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {

bool isBackground(QRgb p) {
    return qRed(p) < 8 && qGreen(p) < 8 && qBlue(p) < 8;
}

// Pixels of the picture that are not the black background, outside the title's corner.
int objectPixels(const QImage& image) {
    int n = 0;
    for (int y = 40; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += isBackground(image.pixel(x, y)) ? 0 : 1;
    return n;
}

// Nearly white pixels in the top-left corner, where the title is written.
int titlePixels(const QImage& image) {
    int n = 0;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 300; ++x) {
            const QRgb p = image.pixel(x, y);
            n += (qRed(p) > 180 && qGreen(p) > 180 && qBlue(p) > 180) ? 1 : 0;
        }
    return n;
}

double hueDistance(const QColor& a, const QColor& b) {
    const double d = std::abs(a.hsvHueF() - b.hsvHueF()) * 360.0;
    return std::min(d, 360.0 - d);
}

ZoomDialog* openDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<ZoomDialog*>(w); d && d->isVisible())
            return d;
    return nullptr;
}

// A freshly painted picture of the area (grabbing paints a frame).
QImage picture(ZoomGLArea* area) {
    const int before = area->paintCount();
    const QImage image = area->grabFramebuffer();
    return area->paintCount() > before ? image : QImage();
}

// Runs openZoom(content) and, once the window shows, inspect(dialog); then closes the window.
void runZoom(GeometrObj* content, const std::function<void(ZoomDialog*)>& inspect) {
    bool inspected = false;
    QTimer::singleShot(0, [&] {
        ZoomDialog* d = openDialog();
        if (d) {
            if (QTest::qWaitForWindowExposed(d))
                inspect(d);
            inspected = true;
            d->reject();
        }
    });
    openZoom(content);
    QVERIFY(inspected);
}

void sendWheel(QWidget* w, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, modifiers,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestZoom : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        installMeshReaders();
        installSceneRenderer();
    }

    void dialogCoversItsScreenAndTheAreaTheDialog() {
        ZoomDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QRect screen = d.screen()->geometry();
        QCOMPARE(d.size(), screen.size());
        QCOMPARE(d.area()->geometry(), QRect(QPoint(0, 0), screen.size()));
        QCOMPARE(d.mapToGlobal(QPoint(0, 0)), screen.topLeft());
        // A smaller size is refused.
        d.resize(300, 200);
        QCOMPARE(d.size(), screen.size());
        QCOMPARE(d.area()->size(), screen.size());
    }

    void nothingOpensWithoutContent() {
        bool dialogSeen = false;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (ZoomDialog* d = openDialog()) {
                dialogSeen = true;
                d->reject();
            }
        });
        closer.start(10);
        openZoom(nullptr);
        QVERIFY(!dialogSeen);
    }

    void showsTheObjectUnfocusedWithItsTitleAndRestoresTheFocus() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeCube(dir, "zoomed.ply", {3, 4, 5}, 1.0));
        w->setColor(Color4b{220, 200, 30, 255}); // yellow; the focus colour differs
        w->setFocused(true);
        bool focusedDuring = true;
        QString title, ownTitleAfterRename;
        QRgb centre = 0, shownOnScreen = 0;
        int titleInk = 0;
        runZoom(w, [&](ZoomDialog* d) {
            focusedDuring = w->isFocused();
            title = d->area()->title();
            const QImage image = picture(d->area());
            centre = image.pixel(image.width() / 2, image.height() / 2);
            titleInk = titlePixels(image);
            // What the screen shows, not only the view's framebuffer; under load the first
            // composited frame can take a moment to reach the screen.
            const QRect r = d->area()->rect();
            for (int attempt = 0; attempt < 40; ++attempt) {
                const QImage screen = d->screen()->grabWindow(0).toImage();
                shownOnScreen =
                    screen.pixel(d->area()->mapToGlobal(r.center()) - d->screen()->geometry().topLeft());
                if (!isBackground(shownOnScreen))
                    break;
                QTest::qWait(50);
            }
            // The title was taken at opening.
            w->wrappedFragment()->setName(QStringLiteral("renamed.ply"));
            ownTitleAfterRename = d->area()->title();
        });
        QVERIFY(!focusedDuring);
        QVERIFY(w->isFocused());
        QCOMPARE(title, QStringLiteral("Fragment: zoomed.ply"));
        QCOMPARE(ownTitleAfterRename, title);
        QVERIFY2(titleInk > 20, qPrintable(QString::number(titleInk)));
        QVERIFY2(!isBackground(centre), "the object is not at the centre");
        QVERIFY2(hueDistance(QColor::fromRgb(centre), QColor(220, 200, 30)) < 12,
                 qPrintable(QColor::fromRgb(centre).name()));
        QVERIFY2(hueDistance(QColor::fromRgb(shownOnScreen), QColor(220, 200, 30)) < 12 &&
                     !isBackground(shownOnScreen),
                 qPrintable(QColor::fromRgb(shownOnScreen).name()));

        // An unfocused object stays unfocused.
        w->setFocused(false);
        runZoom(w, [&](ZoomDialog*) { focusedDuring = w->isFocused(); });
        QVERIFY(!focusedDuring);
        QVERIFY(!w->isFocused());
    }

    void anyObjectIsFittedToTheSameSize() {
        TotalGraph graph;
        FragGroup* small = addFragment(graph, writeCube(dir, "unit.ply", {0, 0, 0}, 1.0));
        FragGroup* far = addFragment(graph, writeCube(dir, "far.ply", {1e4, -2e4, 3e3}, 250.0));
        ZoomDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.area()->setObject(small);
        const int a = objectPixels(picture(d.area()));
        d.area()->setObject(far);
        const int b = objectPixels(picture(d.area()));
        QVERIFY2(a > 1000, qPrintable(QString::number(a)));
        QVERIFY2(std::abs(a - b) <= a / 50, qPrintable(QStringLiteral("%1 vs %2").arg(a).arg(b)));
    }

    void wheelScalesThePictureAndModifiedWheelDoesNot() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeCube(dir, "wheel.ply", {0, 0, 0}, 1.0));
        ZoomDialog d;
        d.area()->setObject(w);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const int before = objectPixels(picture(d.area()));
        sendWheel(d.area(), 120);
        QCOMPARE(d.area()->viewTrackball().scale(), 1.2f);
        const int larger = objectPixels(picture(d.area()));
        // The area grows with the square of the scale (a little more in perspective).
        const double ratio = double(larger) / before;
        QVERIFY2(ratio > 1.3 && ratio < 1.6, qPrintable(QString::number(ratio)));
        sendWheel(d.area(), -240);
        QVERIFY(std::abs(d.area()->viewTrackball().scale() - 1.2f / 1.44f) < 1e-5f);
        QVERIFY(objectPixels(picture(d.area())) < before);
        const float s = d.area()->viewTrackball().scale();
        sendWheel(d.area(), 120, Qt::ShiftModifier);
        QCOMPARE(d.area()->viewTrackball().scale(), s);
    }

    void leftDragTurnsTheObjectAndRightDragDoesNothing() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeCube(dir, "drag.ply", {0, 0, 0}, 1.0));
        ZoomDialog d;
        d.area()->setObject(w);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        ZoomGLArea* area = d.area();
        const QImage start = picture(area);
        const QPoint c = area->rect().center();

        QTest::mousePress(area, Qt::RightButton, Qt::NoModifier, c);
        QTest::mouseMove(area, c + QPoint(200, 0));
        QTest::mouseRelease(area, Qt::RightButton, Qt::NoModifier, c + QPoint(200, 0));
        QCOMPARE(picture(area), start);

        QTest::mousePress(area, Qt::LeftButton, Qt::NoModifier, c);
        QMouseEvent move(QEvent::MouseMove, QPointF(c + QPoint(200, 0)),
                         area->mapToGlobal(QPointF(c + QPoint(200, 0))), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(area, &move);
        QTest::mouseRelease(area, Qt::LeftButton, Qt::NoModifier, c + QPoint(200, 0));
        const QImage turned = picture(area);
        QVERIFY(turned != start);
        QCOMPARE(area->viewTrackball().scale(), 1.0f);
    }

    void everyZoomStartsWithAFreshTrackball() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeCube(dir, "fresh.ply", {0, 0, 0}, 1.0));
        float first = 0, second = 0;
        runZoom(w, [&](ZoomDialog* d) {
            sendWheel(d->area(), 360);
            first = d->area()->viewTrackball().scale();
        });
        runZoom(w, [&](ZoomDialog* d) { second = d->area()->viewTrackball().scale(); });
        QVERIFY(first > 1.7f);
        QCOMPARE(second, 1.0f);
    }

    void theBackOfAThinShellIsLit() {
        TotalGraph graph;
        // A square whose front faces away from the camera.
        FragGroup* w = addFragment(graph, writeAsciiPly(dir.filePath("back.ply"),
                                                        {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}},
                                                        {{0, 2, 1}, {0, 3, 2}}));
        w->setColor(Color4b{200, 40, 40, 255});
        ZoomDialog d;
        d.area()->setObject(w);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        const QImage image = picture(d.area());
        const QRgb centre = image.pixel(image.width() / 2, image.height() / 2);
        // Ambient light alone would give 0.2 of the colour.
        QVERIFY2(qRed(centre) > 150, qPrintable(QColor::fromRgb(centre).name()));
    }

    void constraintsAreDrawnAndTheTitleStillShows() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeCube(dir, "ca.ply", {0, 0, 0}, 1.0));
        FragGroup* b = addFragment(graph, writeCube(dir, "cb.ply", {2, 0, 0}, 1.0));
        addBand(graph, a, b, {1, 0.5, 0.5}, {2, 0.5, 0.5});
        a->setColor(Color4b{30, 60, 220, 255});
        ZoomDialog d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.area()->setObject(a);
        const QImage withBand = picture(d.area());
        QVERIFY(titlePixels(withBand) > 20);
        QVERIFY(objectPixels(withBand) > 1000);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestZoom)
#include "test_zoom.moc"
