// The trackball with the camera of the 3D views (40 degree perspective, eye at (0, 0, 5)): known
// rotations, pans, scales, the button mapping, and the similarity invariant.

#include "trackball.h"
#include "view_camera.h"

#include <QtTest>
#include <cmath>
#include <random>

namespace {

constexpr int W = 800, H = 600;

using viewcamera::perspective;

// Eye at (0, 0, 5) looking at the origin, up (0, 1, 0).
Eigen::Matrix4d lookFromFront() {
    Eigen::Matrix4d m = Eigen::Matrix4d::Identity();
    m(2, 3) = -5.0;
    return m;
}

struct View {
    Eigen::Matrix4d projection = perspective(40.0, double(W) / H, 0.1, 100.0);
    Eigen::Matrix4d modelView = lookFromFront();

    // Window position of a point given in trackball space, with the trackball transform t.
    Eigen::Vector2d project(const Eigen::Matrix4d& t, const Eigen::Vector3d& p) const {
        const Eigen::Vector4d h = projection * modelView * t * Eigen::Vector4d(p.x(), p.y(), p.z(), 1.0);
        return {(h.x() / h.w() + 1.0) * W / 2.0, (h.y() / h.w() + 1.0) * H / 2.0};
    }
};

Trackball makeTrackball(const View& v) {
    Trackball t;
    t.setView(v.projection, v.modelView, W, H);
    t.setCenter(Eigen::Vector3f::Zero());
    t.setRadius(float(W) / H);
    return t;
}

void drag(Trackball& t, int buttons, int x0, int y0, int x1, int y1) {
    t.mouseDown(x0, y0, buttons);
    t.mouseMove((x0 + x1) / 2, (y0 + y1) / 2);
    t.mouseMove(x1, y1);
    t.mouseUp(x1, y1, buttons);
}

// Offset in the plane z = 0 of the pixel column x, at the camera distance 5.
double planeOffsetX(double x) {
    return (2.0 * x / W - 1.0) * std::tan(20.0 * M_PI / 180.0) * 5.0 * double(W) / H;
}

Eigen::Vector3d translationOf(const Trackball& t) {
    return t.matrix().topRightCorner<3, 1>();
}

double maxAbs(const Eigen::MatrixXd& m) {
    return m.cwiseAbs().maxCoeff();
}

} // namespace

class TestTrackball : public QObject {
    Q_OBJECT
private slots:
    void startsAtIdentity() {
        View v;
        Trackball t = makeTrackball(v);
        QCOMPARE(maxAbs(t.matrix() - Eigen::Matrix4d::Identity()), 0.0);
        QCOMPARE(t.scale(), 1.0f);
    }

    void dragAcrossCentreTurnsAboutVerticalAxis() {
        View v;
        Trackball t = makeTrackball(v);
        drag(t, Trackball::Left, W / 2 - 50, H / 2, W / 2 + 50, H / 2);
        const Eigen::Matrix3d r = t.matrix().topLeftCorner<3, 3>();
        const Eigen::AngleAxisd aa(r);
        // Known answer: both points lie on the sphere (offset below r / sqrt 2) at height
        // sqrt(r^2 - d^2), symmetric about the centre.
        const double d = planeOffsetX(W / 2 + 50), radius = double(W) / H;
        const double expected = 2.0 * std::atan2(d, std::sqrt(radius * radius - d * d));
        QVERIFY(std::abs(aa.axis().y() - 1.0) < 1e-9);
        QVERIFY2(std::abs(aa.angle() - expected) < 1e-6, // the radius is a float
                 qPrintable(QString("%1 %2").arg(aa.angle(), 0, 'g', 12).arg(expected, 0, 'g', 12)));
        // The front of the object (towards the viewer, +z) turns to the right (+x).
        QVERIFY((r * Eigen::Vector3d::UnitZ()).x() > 0.1);
        QVERIFY(translationOf(t).norm() < 1e-12); // about the centre
    }

    void dragUpTurnsFrontUpwards() {
        View v;
        Trackball t = makeTrackball(v);
        drag(t, Trackball::Left, W / 2, H / 2 - 40, W / 2, H / 2 + 40);
        const Eigen::Matrix3d r = t.matrix().topLeftCorner<3, 3>();
        QVERIFY((r * Eigen::Vector3d::UnitZ()).y() > 0.1);
        QVERIFY(std::abs((r * Eigen::Vector3d::UnitZ()).x()) < 1e-12);
    }

    void outsideTheSphereTheRotationStaysSmooth() {
        // Crossing the radius r / sqrt(2), where the hyperbolic sheet takes over, changes the angle
        // by as little as the pixel step does elsewhere.
        View v;
        const double radius = double(W) / H;
        int xJoin = W / 2;
        while (planeOffsetX(xJoin) < radius / std::sqrt(2.0))
            ++xJoin;
        auto angleTo = [&](int x) {
            Trackball t = makeTrackball(v);
            drag(t, Trackball::Left, W / 2, H / 2, x, H / 2);
            return Eigen::AngleAxisd(Eigen::Matrix3d(t.matrix().topLeftCorner<3, 3>())).angle();
        };
        const double before = angleTo(xJoin - 1) - angleTo(xJoin - 2);
        const double across = angleTo(xJoin) - angleTo(xJoin - 1);
        const double after = angleTo(xJoin + 1) - angleTo(xJoin);
        QVERIFY(across > 0.0);
        QVERIFY(std::abs(across - before) < 0.1 * before);
        QVERIFY(std::abs(across - after) < 0.1 * before);
        // Far outside the sphere the angle keeps growing but stays below 90 degrees.
        const double far = angleTo(W - 1);
        QVERIFY(far > angleTo(xJoin + 10));
        QVERIFY(far < M_PI / 2);
    }

    void panKeepsThePointUnderTheCursor() {
        for (int buttons : {Trackball::Left | Trackball::Control, int(Trackball::Middle)}) {
            View v;
            Trackball t = makeTrackball(v);
            // Press over the centre, move by (100, 50): the centre follows.
            drag(t, buttons, W / 2, H / 2, W / 2 + 100, H / 2 + 50);
            const Eigen::Vector2d c = v.project(t.matrix(), Eigen::Vector3d::Zero());
            QVERIFY((c - Eigen::Vector2d(W / 2 + 100, H / 2 + 50)).norm() < 1e-6);
            // A second pan from elsewhere: the plane point under the press follows too.
            const Eigen::Matrix4d before = t.matrix();
            drag(t, buttons, 100, 100, 160, 80);
            const Eigen::Vector2d c2 = v.project(t.matrix(), Eigen::Vector3d::Zero());
            QVERIFY((c2 - (c + Eigen::Vector2d(60, -20))).norm() < 1e-6);
            const Eigen::Matrix3d rotationNow = t.matrix().topLeftCorner<3, 3>();
            const Eigen::Matrix3d rotationBefore = before.topLeftCorner<3, 3>();
            QVERIFY(maxAbs(rotationNow - rotationBefore) < 1e-12);
        }
    }

    void wheelScalesByTheDocumentedFactor() {
        View v;
        Trackball t = makeTrackball(v);
        t.setCenter(Eigen::Vector3f(0.5f, -0.25f, 0.0f));
        t.mouseWheel(1.0f, Trackball::Wheel);
        QVERIFY(std::abs(t.scale() - 1.2f) < 1e-6f);
        t.mouseWheel(2.0f, Trackball::Wheel);
        QVERIFY(std::abs(t.scale() - 1.2f * 1.2f * 1.2f) < 1e-5f);
        t.mouseWheel(-3.0f, Trackball::Wheel);
        QVERIFY(std::abs(t.scale() - 1.0f) < 1e-6f);
        t.mouseWheel(-1.0f, Trackball::Wheel);
        QVERIFY(std::abs(t.scale() - 1.0f / 1.2f) < 1e-6f);
        // The centre stays in place.
        const Eigen::Vector4d c(0.5, -0.25, 0.0, 1.0);
        QVERIFY((t.matrix() * c - c).norm() < 1e-6);
        // A wheel with a modifier is not a scale.
        t.mouseWheel(1.0f, Trackball::Wheel | Trackball::Control);
        QVERIFY(std::abs(t.scale() - 1.0f / 1.2f) < 1e-6f);
    }

    void shiftDragScales() {
        View v;
        Trackball t = makeTrackball(v);
        drag(t, Trackball::Left | Trackball::Shift, 300, 200, 380, 200 + H / 4);
        QVERIFY(std::abs(t.scale() - 2.0f) < 1e-6f);
        drag(t, Trackball::Left | Trackball::Shift, 300, 200, 300, 200 - H / 2);
        QVERIFY(std::abs(t.scale() - 0.5f) < 1e-6f);
        QVERIFY(translationOf(t).norm() < 1e-12);
    }

    void altDragMovesAlongTheViewAxis() {
        View v;
        Trackball t = makeTrackball(v);
        drag(t, Trackball::Left | Trackball::Alt, 400, 100, 420, 100 + H / 2);
        const Eigen::Vector3d move = translationOf(t);
        const double diameter = 2.0 * double(W) / H;
        QVERIFY((move - Eigen::Vector3d(0, 0, diameter)).norm() < 1e-6);
        const Eigen::Matrix3d r = t.matrix().topLeftCorner<3, 3>();
        QVERIFY(maxAbs(r - Eigen::Matrix3d::Identity()) < 1e-12);
    }

    void otherButtonsMoveNothing() {
        View v;
        for (int buttons :
             {int(Trackball::Right), 0, Trackball::Right | Trackball::Shift,
              Trackball::Left | Trackball::Right, Trackball::Left | Trackball::Shift | Trackball::Control,
              Trackball::Middle | Trackball::Right}) {
            Trackball t = makeTrackball(v);
            drag(t, buttons, 100, 100, 500, 400);
            t.mouseWheel(1.0f, buttons);
            QCOMPARE(maxAbs(t.matrix() - Eigen::Matrix4d::Identity()), 0.0);
        }
        // Moving without a press, or after the release, does nothing either.
        Trackball t = makeTrackball(v);
        t.mouseMove(10, 10);
        drag(t, Trackball::Left, 400, 300, 450, 300);
        const Eigen::Matrix4d after = t.matrix();
        t.mouseMove(700, 500);
        QCOMPARE(maxAbs(t.matrix() - after), 0.0);
    }

    void buttonMapping() {
        QCOMPARE(Trackball::modeFor(Trackball::Left), Trackball::Mode::Rotate);
        QCOMPARE(Trackball::modeFor(Trackball::Middle | Trackball::Alt), Trackball::Mode::Rotate);
        QCOMPARE(Trackball::modeFor(Trackball::Left | Trackball::Control), Trackball::Mode::Pan);
        QCOMPARE(Trackball::modeFor(Trackball::Middle), Trackball::Mode::Pan);
        QCOMPARE(Trackball::modeFor(Trackball::Wheel), Trackball::Mode::Scale);
        QCOMPARE(Trackball::modeFor(Trackball::Left | Trackball::Shift), Trackball::Mode::Scale);
        QCOMPARE(Trackball::modeFor(Trackball::Left | Trackball::Alt), Trackball::Mode::AxisMove);
        QCOMPARE(Trackball::modeFor(Trackball::Right), Trackball::Mode::None);
        QCOMPARE(Trackball::modeFor(0), Trackball::Mode::None);
    }

    void resetGivesIdentity() {
        View v;
        Trackball t = makeTrackball(v);
        drag(t, Trackball::Left, 100, 100, 600, 500);
        t.mouseWheel(2.0f, Trackball::Wheel);
        drag(t, Trackball::Middle, 100, 100, 300, 200);
        QVERIFY(maxAbs(t.matrix() - Eigen::Matrix4d::Identity()) > 0.1);
        t.reset();
        QCOMPARE(maxAbs(t.matrix() - Eigen::Matrix4d::Identity()), 0.0);
        QCOMPARE(t.scale(), 1.0f);
    }

    void staysASimilarity() {
        // After many mixed motions, R^T R = s^2 I and the last row stays (0, 0, 0, 1).
        View v;
        Trackball t = makeTrackball(v);
        t.setCenter(Eigen::Vector3f(0.2f, 0.1f, -0.3f));
        std::mt19937 rng(7);
        std::uniform_int_distribution<int> px(0, W - 1), py(0, H - 1), pick(0, 6);
        const int codes[] = {
            Trackball::Left,   Trackball::Middle | Trackball::Alt, Trackball::Left | Trackball::Control,
            Trackball::Middle, Trackball::Left | Trackball::Shift, Trackball::Left | Trackball::Alt,
            Trackball::Right};
        for (int i = 0; i < 500; ++i) {
            const int code = codes[pick(rng)];
            t.mouseDown(px(rng), py(rng), code);
            for (int k = 0; k < 3; ++k)
                t.mouseMove(px(rng), py(rng));
            t.mouseUp(0, 0, code);
            if (i % 7 == 0)
                t.mouseWheel(float(pick(rng) - 3) * 0.1f, Trackball::Wheel);
            const Eigen::Matrix4d m = t.matrix();
            const Eigen::Matrix3d r = m.topLeftCorner<3, 3>();
            const double s = r.col(0).norm();
            QVERIFY(maxAbs(r.transpose() * r - s * s * Eigen::Matrix3d::Identity()) < 1e-9 * s * s);
            QVERIFY(std::abs(t.scale() - s) < 1e-6 * s);
            QCOMPARE(m.row(3), Eigen::RowVector4d(0, 0, 0, 1));
            QVERIFY(r.determinant() > 0.0);
            QVERIFY(m.allFinite());
        }
    }
};

QTEST_GUILESS_MAIN(TestTrackball)
#include "test_trackball.moc"
