// Constraint id labels: where the shared placement puts them (beside the sphere, stacked when they
// would overlap), and that a working area and the zoom window put them at the same place under
// real OpenGL views.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "scene_renderer.h"
#include "view_labels.h"
#include "wgl_area.h"
#include "zoom_gl_area.h"

#include <QFontMetricsF>
#include <QImage>
#include <QtTest>

namespace {

QRectF textBox(const QPointF& baseline, const QString& text, const QFontMetricsF& m) {
    return {baseline.x(), baseline.y() - m.ascent(), m.horizontalAdvance(text), m.height()};
}

bool noTwoOverlap(const std::vector<LabelSpot>& spots, const std::vector<QPointF>& at,
                  const QFontMetricsF& m) {
    for (std::size_t i = 0; i < at.size(); ++i)
        for (std::size_t j = i + 1; j < at.size(); ++j)
            if (textBox(at[i], spots[i].text, m).intersects(textBox(at[j], spots[j].text, m)))
                return false;
    return true;
}

// Bounding box of the pixels of image inside `within` that pass test; null when none do.
QRect inkBox(const QImage& image, const QRect& within, const std::function<bool(QColor)>& test) {
    QRect box;
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x)
            if (image.rect().contains(x, y) && test(image.pixelColor(x, y)))
                box = box.united(QRect(x, y, 1, 1));
    return box;
}

bool isSphereRed(QColor c) {
    return c.red() > 200 && c.green() < 60 && c.blue() < 60;
}
bool isLabelWhite(QColor c) {
    return c.red() > 200 && c.green() > 200 && c.blue() > 200;
}

// Where the label's ink lies relative to its sphere in a picture: its left edge minus the
// sphere's right edge, and the vertical offset of its middle from the sphere's middle.
struct LabelOffset {
    int gap = 0;
    double drop = 0;
};

LabelOffset labelOffsetIn(const QImage& image) {
    const QRect sphere = inkBox(image, image.rect(), isSphereRed);
    if (sphere.isNull())
        return {-1000, -1000};
    const QRect around = sphere.adjusted(-40, -40, 80, 40);
    const QRect label = inkBox(image, around, isLabelWhite);
    if (label.isNull())
        return {-1000, -1000};
    return {label.left() - sphere.right(),
            (label.top() + label.bottom()) / 2.0 - (sphere.top() + sphere.bottom()) / 2.0};
}

// A freshly painted picture of a view.
template <class View> QImage picture(View& view) {
    const int before = view.paintCount();
    const QImage image = view.grabFramebuffer();
    return view.paintCount() > before ? image : QImage();
}

} // namespace

class TestLabels : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        installMeshReaders();
        installSceneRenderer();
    }

    void aLabelStandsBesideItsSphereCentredOnIt() {
        const QFontMetricsF m(sceneLabelFont());
        const std::vector<QPointF> at = placeLabels({{QPointF(100, 50), 7.5, QStringLiteral("12")}}, m);
        QCOMPARE(at.size(), std::size_t(1));
        QCOMPARE(at[0].x(), 100 + 7.5 + LabelGap);
        // The digits (cap height) are centred on the sphere's centre.
        QCOMPARE(at[0].y() - m.capHeight() / 2, 50.0);
    }

    void labelsOfCoincidentPointsStackWithoutOverlapping() {
        const QFontMetricsF m(sceneLabelFont());
        const QPointF p(80, 60);
        const std::vector<LabelSpot> spots{{p, 5, QStringLiteral("3")},
                                           {QPointF(120, 200), 5, QStringLiteral("9")},
                                           {p, 5, QStringLiteral("14")},
                                           {p + QPointF(0.2, -0.3), 5, QStringLiteral("7")}};
        const std::vector<QPointF> at = placeLabels(spots, m);
        QCOMPARE(at.size(), spots.size());
        // The first keeps its place beside the sphere; the others of that point follow a line
        // lower each, in their order.
        QCOMPARE(at[0], placeLabels({spots[0]}, m)[0]);
        QCOMPARE(at[2], at[0] + QPointF(0, m.lineSpacing()));
        QCOMPARE(at[3], at[0] + QPointF(0, 2 * m.lineSpacing()));
        QCOMPARE(at[1], placeLabels({spots[1]}, m)[0]); // elsewhere: untouched
        QVERIFY2(noTwoOverlap(spots, at, m), "labels overlap");
    }

    void aLabelCrowdedOnTheRightMovesLeftThenByLines() {
        const QFontMetricsF m(sceneLabelFont());
        const std::vector<LabelSpot> spots{{QPointF(80, 60), 5, QStringLiteral("3")},
                                           {QPointF(81, 61), 5, QStringLiteral("4")},
                                           {QPointF(80, 62), 5, QStringLiteral("25")}};
        const std::vector<QPointF> at = placeLabels(spots, m);
        // A point a pixel away: its label stands left of its sphere, level with it.
        QCOMPARE(at[1].y(), placeLabels({spots[1]}, m)[0].y());
        QCOMPARE(at[1].x() + m.horizontalAdvance(QStringLiteral("4")), 81 - 5 - LabelGap);
        // Both sides taken: a whole number of lines up or down, on one side, near its point.
        const QPointF level = placeLabels({spots[2]}, m)[0];
        const double lines = (at[2].y() - level.y()) / m.lineSpacing();
        QVERIFY2(std::abs(lines - std::round(lines)) < 1e-9 && std::abs(lines) >= 1 && std::abs(lines) <= 3,
                 qPrintable(QString::number(lines)));
        QVERIFY(at[2].x() == level.x() ||
                at[2].x() + m.horizontalAdvance(QStringLiteral("25")) == 80 - 5 - LabelGap);
        QVERIFY2(noTwoOverlap(spots, at, m), "labels overlap");
    }

    void withNoFreePlaceNearALabelGoesBelowTheOthers() {
        const QFontMetricsF m(sceneLabelFont());
        // A column of labels across both sides of the point, a good way above and below it.
        std::vector<LabelSpot> spots;
        for (int row = -8; row <= 8; ++row)
            spots.push_back({QPointF(70, 100 + row * m.lineSpacing()), 0, QStringLiteral("888888")});
        spots.push_back({QPointF(80, 100), 0, QStringLiteral("1")});
        const std::vector<QPointF> at = placeLabels(spots, m);
        QCOMPARE(at.back().x(), 80 + LabelGap);
        QVERIFY(at.back().y() > 100 + 8 * m.lineSpacing());
        QVERIFY2(noTwoOverlap(spots, at, m), "labels overlap");
    }

    void aLabelDoesNotCoverAnotherSphere() {
        const QFontMetricsF m(sceneLabelFont());
        const std::vector<LabelSpot> spots{{QPointF(100, 100), 4, QStringLiteral("5")},
                                           {QPointF(112, 100), 4, QStringLiteral("6")}};
        const std::vector<QPointF> at = placeLabels(spots, m);
        QCOMPARE(at[0].x() + m.horizontalAdvance(QStringLiteral("5")), 100 - 4 - LabelGap);
        QCOMPARE(at[1], placeLabels({spots[1]}, m)[0]);
    }

    void labelsThatDoNotOverlapKeepTheirPlaces() {
        const QFontMetricsF m(sceneLabelFont());
        const std::vector<LabelSpot> spots{{QPointF(20, 20), 4, QStringLiteral("1")},
                                           {QPointF(20, 60), 4, QStringLiteral("2")},
                                           {QPointF(120, 20), 0, QStringLiteral("3")}};
        const std::vector<QPointF> together = placeLabels(spots, m);
        for (std::size_t k = 0; k < spots.size(); ++k)
            QCOMPARE(together[k], placeLabels({spots[k]}, m)[0]);
    }

    void aDiscKeepsItsSizeInWindowPixels() {
        // An orthographic frame showing [-4, 4] x [-2, 2] in 400 x 200 pixels (50 pixels a unit), the
        // scene scaled by one half.
        Eigen::Matrix4d ortho = Eigen::Matrix4d::Identity();
        ortho(0, 0) = 0.25;
        ortho(1, 1) = 0.5;
        Eigen::Matrix4d scaled = Eigen::Matrix4d::Identity();
        scaled.topLeftCorner<3, 3>() *= 0.5;
        WindowDisc d;
        QVERIFY(projectDisc({1, 1, 0}, 0.2, ortho, scaled, {0, 0, 400, 200}, d));
        QVERIFY((d.centre - Eigen::Vector2d(225, 125)).norm() < 1e-9);
        QVERIFY(std::abs(d.radius - 0.2 * 0.5 * 50) < 1e-9); // 5 pixels
        const LabelSpot s = labelSpot(d, 200, 1.0, QStringLiteral("x"));
        QCOMPARE(s.centre, QPointF(225, 75)); // y down from the top
    }

    void aWorkingAreaAndTheZoomWindowPlaceTheLabelAlike() {
        TotalGraph graph;
        FragGroup* a = addFragment(graph, writeAsciiPly(dir.filePath("a.ply"),
                                                        {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
                                                        {{0, 1, 2}, {0, 2, 3}}));
        FragGroup* b = addFragment(graph, writeCube(dir, "b.ply", {3, 0, 0}, 1.0));
        a->setColor(Color4b{30, 60, 220, 255});
        RBand* band = addBand(graph, a, b, {0.5, 0.5, 0}, {3, 0.5, 0.5});
        band->setRadius(0, 0.05f);
        band->setRadius(1, 0.05f);

        WGLArea area;
        area.resize(400, 400);
        area.setContent(a);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        ZoomGLArea zoom;
        zoom.resize(400, 400);
        zoom.setObject(a);
        zoom.show();
        QVERIFY(QTest::qWaitForWindowExposed(&zoom));

        const LabelOffset inArea = labelOffsetIn(picture(area));
        const LabelOffset inZoom = labelOffsetIn(picture(zoom));
        const auto describe = [](const LabelOffset& o) {
            return QStringLiteral("gap %1, drop %2").arg(o.gap).arg(o.drop);
        };
        // Beside the sphere, not on it, and level with its centre.
        QVERIFY2(inArea.gap >= 1 && inArea.gap <= 6, qPrintable(describe(inArea)));
        QVERIFY2(std::abs(inArea.drop) <= 1.5, qPrintable(describe(inArea)));
        QVERIFY2(std::abs(inZoom.gap - inArea.gap) <= 1 && std::abs(inZoom.drop - inArea.drop) <= 1.0,
                 qPrintable(describe(inZoom) + " vs " + describe(inArea)));
    }
};

OSTRAKIT_GL_TEST_MAIN(TestLabels)
#include "test_labels.moc"
