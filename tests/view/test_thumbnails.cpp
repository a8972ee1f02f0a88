// Thumbnails: the in-memory picture store behind "image:" names, its rich-text provider and
// tool-tip HTML, and the off-screen renderer drawing real meshes under a real OpenGL context.

#include "../gl_test_main.h"
#include "../scene/scene_fixtures.h"
#include "prev_gl_area.h"
#include "scene_renderer.h"
#include "thumbnail_store.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QColor>
#include <QElapsedTimer>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <QSurfaceFormat>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QtTest>
#include <cmath>

namespace {

QImage filled(int w, int h, QColor c) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(c);
    return image;
}

QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The image formats of the <img> elements of a document, in order.
QList<QTextImageFormat> imagesOf(const QTextDocument& doc) {
    QList<QTextImageFormat> out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                out << it.fragment().charFormat().toImageFormat();
    return out;
}

// The square [-1, 1]^2 in the plane z = 0 facing +z: face 0 is the lower-right half, face 1 the
// upper-left half.
QString writeSquare(const QTemporaryDir& dir, const QString& name) {
    return writeAsciiPly(dir.filePath(name), {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}},
                         {{0, 1, 2}, {0, 2, 3}});
}

// The zone of the unit sphere between the polar angles from and to (radians from +z), with
// 2 * rings * segments triangles, faces turned outward.
QString writeSphereZone(const QTemporaryDir& dir, const QString& name, double from, double to, int rings,
                        int segments) {
    std::vector<Point3d> v;
    std::vector<std::array<int, 3>> f;
    for (int r = 0; r <= rings; ++r) {
        const double theta = from + (to - from) * r / rings;
        for (int s = 0; s < segments; ++s) {
            const double phi = 2 * M_PI * s / segments;
            v.emplace_back(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta));
        }
    }
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const int a = r * segments + s, b = r * segments + (s + 1) % segments;
            const int c = a + segments, d = b + segments;
            f.push_back({a, c, d});
            f.push_back({a, d, b});
        }
    return writeAsciiPly(dir.filePath(name), v, f);
}

// A UV sphere of radius 1 with 2 * rings * segments triangles, open at two tiny polar holes.
QString writeSphere(const QTemporaryDir& dir, const QString& name, int rings, int segments) {
    return writeSphereZone(dir, name, 0.001 * M_PI, 0.999 * M_PI, rings, segments);
}

// The lower half of the unit sphere, open at the top (z = 0) and at a tiny hole at the bottom:
// seen from above, only the backs of its faces show.
QString writeBowl(const QTemporaryDir& dir, const QString& name, int rings, int segments) {
    return writeSphereZone(dir, name, 0.5 * M_PI, 0.999 * M_PI, rings, segments);
}

void markAllFaces(Fragment* f, bool on) {
    FragMesh& m = f->mesh();
    m.marked.assign(m.faces.size(), std::uint8_t(on ? 1 : 0));
    m.changes |= FragMesh::Marks;
}

bool isTransparent(const QImage& image) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return false;
    return true;
}

// Hue difference in degrees, on the circle.
double hueDistance(const QColor& a, const QColor& b) {
    const double d = std::abs(a.hsvHueF() - b.hsvHueF()) * 360.0;
    return std::min(d, 360.0 - d);
}

QString describe(QRgb p) {
    return QStringLiteral("rgba(%1, %2, %3, %4)").arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p)).arg(qAlpha(p));
}

// Lit in the group colour: opaque, the same hue, neither black nor washed out.
void verifyShadeOf(QRgb pixel, Color4b colour) {
    const QColor c = QColor::fromRgba(pixel), expected(colour.r, colour.g, colour.b);
    QVERIFY2(qAlpha(pixel) == 255, qPrintable(describe(pixel)));
    QVERIFY2(hueDistance(c, expected) < 12.0, qPrintable(describe(pixel)));
    QVERIFY2(c.value() > 60, qPrintable(describe(pixel)));
    QVERIFY2(std::abs(c.hsvSaturationF() - expected.hsvSaturationF()) < 0.15, qPrintable(describe(pixel)));
}

bool isRed(QRgb p) {
    return qAlpha(p) == 255 && qRed(p) > 60 && qGreen(p) < qRed(p) / 4 && qBlue(p) < qRed(p) / 4;
}

int countPixels(const QImage& image, const std::function<bool(QRgb)>& pred) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += pred(image.pixel(x, y)) ? 1 : 0;
    return n;
}

} // namespace

class TestThumbnails : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        installMeshReaders();
        installSceneRenderer();
        // A provider someone installed earlier keeps answering its own names.
        QTextDocument::setDefaultResourceProvider([](const QUrl& url) -> QVariant {
            if (url.scheme() == QLatin1String("other"))
                return filled(7, 5, Qt::green);
            return {};
        });
        installThumbnailProvider();
        installThumbnailProvider(); // a second call changes nothing
    }

    // ---- store ----

    void storingReplacesTheBytesAndBumpsTheVersion() {
        const QString key = QStringLiteral("replace1");
        QCOMPARE(thumbnailVersion(key), 0);
        QVERIFY(thumbnailBytes(thumbnailName(key)).isEmpty());
        QCOMPARE(thumbnailUrl(key), QStringLiteral("image:replace1.png?v=0"));

        const QImage big = filled(120, 120, QColor(200, 10, 10));
        QVERIFY(storeThumbnail(key, big));
        QCOMPARE(thumbnailName(key), QStringLiteral("image:replace1.png"));
        QCOMPARE(thumbnailVersion(key), 1);
        QCOMPARE(thumbnailUrl(key), QStringLiteral("image:replace1.png?v=1"));
        const QByteArray first = thumbnailBytes(QStringLiteral("image:replace1.png"));
        QCOMPARE(first, pngOf(big));

        // A smaller picture: the old, longer bytes are gone entirely (no tail is left behind).
        const QImage small = filled(3, 2, QColor(0, 0, 255));
        QVERIFY(storeThumbnail(key, small));
        QCOMPARE(thumbnailVersion(key), 2);
        const QByteArray second = thumbnailBytes(QStringLiteral("image:replace1.png"));
        QCOMPARE(second, pngOf(small));
        QVERIFY(second.size() < first.size());
        const QImage back = thumbnailImage(QStringLiteral("image:replace1.png?v=2"));
        QCOMPARE(back.size(), QSize(3, 2));
        QCOMPARE(QColor(back.pixel(1, 1)), QColor(0, 0, 255));
    }

    void namesAreExactAndTheVersionPartIsIgnored() {
        QVERIFY(storeThumbnail(QStringLiteral("exact7"), filled(4, 4, Qt::white)));
        const QByteArray bytes = thumbnailBytes(QStringLiteral("image:exact7.png"));
        QVERIFY(!bytes.isEmpty());
        QCOMPARE(thumbnailBytes(QStringLiteral("image:exact7.png?v=1")), bytes);
        QCOMPARE(thumbnailBytes(QStringLiteral("image:exact7.png?v=99")), bytes);
        QVERIFY(thumbnailBytes(QStringLiteral("IMAGE:exact7.png")).isEmpty());
        QVERIFY(thumbnailBytes(QStringLiteral("image:Exact7.png")).isEmpty());
        QVERIFY(thumbnailBytes(QStringLiteral("image:exact7")).isEmpty());
        QVERIFY(thumbnailBytes(QStringLiteral("exact7.png")).isEmpty());
        // Keys are not mixed up with each other.
        QVERIFY(storeThumbnail(QStringLiteral("exact71"), filled(9, 9, Qt::black)));
        QCOMPARE(thumbnailBytes(QStringLiteral("image:exact7.png")), bytes);
        QCOMPARE(thumbnailVersion(QStringLiteral("exact7")), 1);
    }

    void aNullPictureIsNotStored() {
        const QString key = QStringLiteral("null1");
        QVERIFY(storeThumbnail(key, filled(2, 2, Qt::red)));
        const QByteArray before = thumbnailBytes(thumbnailName(key));
        QVERIFY(!storeThumbnail(key, QImage()));
        QCOMPARE(thumbnailVersion(key), 1);
        QCOMPARE(thumbnailBytes(thumbnailName(key)), before);
    }

    // ---- rich text ----

    void toolTipHtmlNamesTheCurrentVersionAndEscapesTheName() {
        const QString key = QStringLiteral("5g");
        QVERIFY(storeThumbnail(key, filled(120, 120, Qt::red)));
        QVERIFY(storeThumbnail(key, filled(120, 120, Qt::blue)));
        const int v = thumbnailVersion(key);
        QCOMPARE(thumbnailToolTip(key, QStringLiteral("Fragment: a<b>&c.ply")),
                 QStringLiteral("<img src=\"image:5g.png?v=%1\" height=\"120\" width=\"120\" /><br />"
                                "<center>Fragment: a&lt;b&gt;&amp;c.ply</center>")
                     .arg(v));
    }

    void toolTipOfAnObjectUsesItsImageKeyAndDisplayName() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeTetrahedron(dir, "tip.ply"));
        QCOMPARE(thumbnailToolTip(*w), thumbnailToolTip(w->imageKey(), QStringLiteral("Fragment: tip.ply")));
        QVERIFY(
            thumbnailToolTip(*w).startsWith(QStringLiteral("<img src=\"image:") + w->imageKey() + ".png?v="));
    }

    void documentsGetTheStoredPicture() {
        const QString key = QStringLiteral("doc1");
        QVERIFY(storeThumbnail(key, filled(120, 120, QColor(250, 20, 20))));
        QTextDocument doc;
        doc.setHtml(thumbnailToolTip(key, QStringLiteral("A & B")));
        QCOMPARE(doc.toPlainText().right(5), QStringLiteral("A & B"));
        const QList<QTextImageFormat> images = imagesOf(doc);
        QCOMPARE(images.size(), 1);
        QCOMPARE(images[0].name(), QStringLiteral("image:doc1.png?v=1"));
        QCOMPARE(images[0].width(), 120.0);
        QCOMPARE(images[0].height(), 120.0);

        const QVariant r = doc.resource(QTextDocument::ImageResource, QUrl(images[0].name()));
        QCOMPARE(r.userType(), QMetaType::QImage);
        const QImage picture = r.value<QImage>();
        QCOMPARE(picture.size(), QSize(120, 120));
        QCOMPARE(QColor(picture.pixel(60, 60)), QColor(250, 20, 20));

        // Laid out and painted, the document shows the picture where the <img> is.
        QImage canvas(200, 200, QImage::Format_ARGB32);
        canvas.fill(Qt::white);
        {
            QPainter p(&canvas);
            doc.drawContents(&p);
        }
        const QRectF box = doc.documentLayout()->blockBoundingRect(doc.begin());
        QVERIFY(box.height() >= 120);
        QCOMPARE(QColor(canvas.pixel(int(box.left()) + 60, int(box.top()) + 60)), QColor(250, 20, 20));
    }

    void aRefreshedThumbnailReachesANewDocument() {
        const QString key = QStringLiteral("doc2");
        QVERIFY(storeThumbnail(key, filled(120, 120, Qt::red)));
        const QString oldUrl = thumbnailUrl(key);
        QTextDocument oldDoc;
        oldDoc.setHtml(thumbnailToolTip(key, QStringLiteral("x")));
        QCOMPARE(
            QColor(oldDoc.resource(QTextDocument::ImageResource, QUrl(oldUrl)).value<QImage>().pixel(5, 5)),
            QColor(Qt::red));

        QVERIFY(storeThumbnail(key, filled(120, 120, Qt::blue)));
        const QString newUrl = thumbnailUrl(key);
        QVERIFY(newUrl != oldUrl); // so a tool tip gets new HTML and lays the picture out again
        QTextDocument newDoc;
        newDoc.setHtml(thumbnailToolTip(key, QStringLiteral("x")));
        QCOMPARE(imagesOf(newDoc).value(0).name(), newUrl);
        QCOMPARE(
            QColor(newDoc.resource(QTextDocument::ImageResource, QUrl(newUrl)).value<QImage>().pixel(5, 5)),
            QColor(Qt::blue));
    }

    void keysWithUrlCharactersAndObjectKeysAreServed() {
        for (const QString& key :
             {QStringLiteral("-1:0"), QStringLiteral("a#b?c%d e"), QStringLiteral("é")}) {
            QVERIFY(storeThumbnail(key, filled(6, 6, Qt::cyan)));
            QTextDocument doc;
            doc.setHtml(thumbnailToolTip(key, key));
            const QString src = imagesOf(doc).value(0).name();
            const QImage picture = doc.resource(QTextDocument::ImageResource, QUrl(src)).value<QImage>();
            QVERIFY2(picture.size() == QSize(6, 6), qPrintable(key + " -> " + src));
        }
        // Object keys keep their form in the HTML.
        QCOMPARE(thumbnailUrl(QStringLiteral("-1:0")), QStringLiteral("image:-1:0.png?v=1"));
    }

    void otherNamesAreLeftToOtherProviders() {
        QTextDocument doc;
        QCOMPARE(doc.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("other:x")))
                     .value<QImage>()
                     .size(),
                 QSize(7, 5));
        QVERIFY(!doc.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("image:never.png?v=0")))
                     .isValid());
        QVERIFY(!doc.resource(QTextDocument::ImageResource, QUrl(QStringLiteral("unknown:x.png"))).isValid());
    }

    // ---- rendering ----

    void noObjectGivesATransparentPicture() {
        PrevGLArea view;
        const QImage picture = view.render();
        QVERIFY(view.isUsable());
        QCOMPARE(picture.size(), QSize(120, 120));
        QVERIFY(picture.hasAlphaChannel());
        QVERIFY(isTransparent(picture));
    }

    void viewAlongTheUpDirectionStillDraws() {
        // An object whose box centre lies straight below the thumbnail camera's eye (0, 0, D): the
        // view direction is parallel to the up vector, which has no defined camera otherwise.
        const double d = 2.0 * std::sqrt(3.0); // the box diagonal of the cube [-1, 1]^3
        std::vector<Point3d> corners{{-1, -1, -1}, {1, 1, -1}, {1, -1, 1}, {-1, 1, 1}};
        for (Point3d& p : corners)
            p += Point3d(0, -7, d);
        const QString path =
            writeAsciiPly(dir.filePath("below.ply"), corners, {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}, {1, 3, 2}});
        TotalGraph graph;
        FragGroup* w = addFragment(graph, path);
        w->setColor({200, 60, 40, 255});
        PrevGLArea view;
        view.setObject(w);
        const QImage picture = view.render();
        QVERIFY(!isTransparent(picture));
        QVERIFY(countPixels(picture, [](QRgb p) { return qAlpha(p) > 0 && qRed(p) > qBlue(p); }) > 100);
    }

    void squareFillsTheBoxDiagonalAndKeepsItsOrientation() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeSquare(dir, "square.ply"));
        const Color4b colour{40, 200, 60, 255};
        w->setColor(colour);
        Fragment* f = w->wrappedFragment();
        f->mesh().marked[1] = 1; // upper-left half
        f->mesh().changes |= FragMesh::Marks;

        PrevGLArea view;
        view.setObject(w);
        const QImage picture = view.render();
        QCOMPARE(picture.size(), QSize(120, 120));
        // Seen from straight above: the square is 2 wide, the box diagonal 2 sqrt 2 fills 120 px.
        int left = 120, right = -1, top = 120, bottom = -1;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 120; ++x)
                if (qAlpha(picture.pixel(x, y)) != 0) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        const double expected = 120.0 / std::sqrt(2.0);
        QVERIFY2(std::abs(right - left + 1 - expected) <= 2.0, qPrintable(QString::number(right - left + 1)));
        QVERIFY2(std::abs(bottom - top + 1 - expected) <= 2.0, qPrintable(QString::number(bottom - top + 1)));
        QVERIFY(std::abs((left + right) / 2.0 - 59.5) <= 1.5);
        QVERIFY(std::abs((top + bottom) / 2.0 - 59.5) <= 1.5);
        // Top-left of the picture is the marked upper-left half; bottom-right is the fragment colour.
        QVERIFY2(isRed(picture.pixel(35, 35)), qPrintable(describe(picture.pixel(35, 35))));
        verifyShadeOf(picture.pixel(85, 85), colour);
        // Facing the light: the colour times (0.2 ambient + 1 diffuse).
        QVERIFY2(std::abs(qRed(picture.pixel(85, 85)) - 48) <= 3 &&
                     std::abs(qGreen(picture.pixel(85, 85)) - 240) <= 3 &&
                     std::abs(qBlue(picture.pixel(85, 85)) - 72) <= 3,
                 qPrintable(describe(picture.pixel(85, 85))));
        QCOMPARE(qAlpha(picture.pixel(2, 2)), 0);
    }

    void theInsideOfAnOpenShellIsLitAllOver() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeBowl(dir, "bowl.ply", 24, 64));
        const Color4b colour{200, 180, 40, 255};
        w->setColor(colour);
        PrevGLArea view;
        view.setObject(w);
        const QImage picture = view.render();
        // The box is [-1, 1]^2 x [-1, 0]: its diagonal 3 fills 120 pixels, the rim is a circle of
        // 40 pixels around the centre. Inside it the camera sees the backs of the faces, lit as
        // the fronts would be: at least 0.2 ambient + 0.43 diffuse of the colour within 0.9 of the
        // radius (ambient alone would give 0.2).
        int inside = 0, lit = 0, outsideDrawn = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 120; ++x) {
                const double r = std::hypot(x + 0.5 - 60.0, y + 0.5 - 60.0) / 40.0;
                const QRgb p = picture.pixel(x, y);
                if (r <= 0.9) {
                    ++inside;
                    lit += qAlpha(p) == 255 && qRed(p) > colour.r / 2 && qGreen(p) > colour.g / 2 &&
                           hueDistance(QColor::fromRgb(p), QColor(colour.r, colour.g, colour.b)) < 12;
                } else if (r > 1.05) {
                    outsideDrawn += qAlpha(p) != 0;
                }
            }
        QVERIFY2(lit == inside, qPrintable(QStringLiteral("%1 of %2 pixels lit").arg(lit).arg(inside)));
        QCOMPARE(outsideDrawn, 0);
    }

    void groupThumbnailShowsTheGroupColourAndMarkedFacesRed() {
        TotalGraph graph;
        FragGroup* group = addGroup(graph);
        FragGroup* a = addFragment(graph, writeCube(dir, "big.ply", {0, 0, 0}, 2.0));
        FragGroup* b = addFragment(graph, writeCube(dir, "small.ply", {2, 0, 0}, 1.0));
        group->addChild(a);
        group->addChild(b);
        const Color4b colour{40, 80, 210, 255};
        group->setColor(colour);

        PrevGLArea view;
        view.setObject(group);
        QImage picture = view.render();
        QCOMPARE(picture.size(), QSize(120, 120));
        // The box centre (1.5, 1, 1) lies inside the big cube.
        verifyShadeOf(picture.pixel(60, 60), colour);
        QCOMPARE(qAlpha(picture.pixel(0, 0)), 0);
        const auto inColour = [&](QRgb p) {
            return qAlpha(p) == 255 &&
                   hueDistance(QColor::fromRgb(p), QColor(colour.r, colour.g, colour.b)) < 12;
        };
        const int colouredBefore = countPixels(picture, inColour);
        QCOMPARE(countPixels(picture, isRed), 0);

        // Marked faces of the big cube are red; the small cube keeps the group colour.
        markAllFaces(a->wrappedFragment(), true);
        picture = view.render();
        QVERIFY2(isRed(picture.pixel(60, 60)), qPrintable(describe(picture.pixel(60, 60))));
        const int colouredAfter = countPixels(picture, inColour);
        QVERIFY(colouredAfter > 100);
        QVERIFY(colouredAfter < colouredBefore / 2);
        QVERIFY(countPixels(picture, isRed) > colouredAfter);

        // Focus does not change a thumbnail (it draws the plain colours), and the flags survive.
        markAllFaces(a->wrappedFragment(), false);
        group->setFocused(true);
        b->setFocused(false);
        picture = view.render();
        verifyShadeOf(picture.pixel(60, 60), colour);
        QVERIFY(group->isFocused());
        QVERIFY(a->isFocused() && a->wrappedFragment()->isFocused());
        QVERIFY(!b->isFocused() && !b->wrappedFragment()->isFocused());
    }

    void thumbnailLandsInTheStoreAndARefreshReplacesIt() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeCube(dir, "stored.ply", {5, 5, 5}, 1.0));
        w->setColor(Color4b{220, 60, 40, 255});
        PrevGLArea view;
        view.setObject(w);
        const QString key = w->imageKey();
        const int before = thumbnailVersion(key);
        QVERIFY(storeThumbnail(key, view.render()));
        QCOMPARE(thumbnailVersion(key), before + 1);
        const QByteArray first = thumbnailBytes(QStringLiteral("image:") + key + QStringLiteral(".png"));
        QVERIFY(first.startsWith("\x89PNG"));
        QImage decoded = QImage::fromData(first, "PNG");
        QCOMPARE(decoded.size(), QSize(120, 120));
        verifyShadeOf(decoded.pixel(60, 60), Color4b{220, 60, 40, 255});
        QCOMPARE(qAlpha(decoded.pixel(0, 0)), 0); // the transparent background survives PNG

        w->setColor(Color4b{40, 60, 220, 255});
        QVERIFY(storeThumbnail(key, view.render()));
        QCOMPARE(thumbnailVersion(key), before + 2);
        const QByteArray second = thumbnailBytes(thumbnailName(key));
        QVERIFY(second != first);
        decoded = QImage::fromData(second, "PNG");
        verifyShadeOf(decoded.pixel(60, 60), Color4b{40, 60, 220, 255});
    }

    void anObjectWithoutExtentOrWithoutObjectLeavesNoOldPicture() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeCube(dir, "old.ply", {0, 0, 0}, 1.0));
        FragGroup* empty = addGroup(graph);
        PrevGLArea view;
        view.setObject(w);
        QVERIFY(!isTransparent(view.render()));
        view.setObject(empty); // an empty box
        QVERIFY(isTransparent(view.render()));
        view.setObject(w);
        QVERIFY(!isTransparent(view.render()));
        view.setObject(nullptr);
        QVERIFY(isTransparent(view.render()));
    }

    void otherSizesAndTheCallersContextAreKept() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeCube(dir, "sizes.ply", {0, 0, 0}, 1.0));
        QOpenGLContext mine;
        mine.setShareContext(QOpenGLContext::globalShareContext());
        QVERIFY(mine.create());
        QOffscreenSurface surface;
        surface.setFormat(mine.format());
        surface.create();
        QVERIFY(mine.makeCurrent(&surface));

        PrevGLArea view;
        view.setObject(w);
        QCOMPARE(view.render(64, 48).size(), QSize(64, 48));
        QCOMPARE(QOpenGLContext::currentContext(), &mine);
        QCOMPARE(mine.surface(), static_cast<QSurface*>(&surface));
        const QImage again = view.render();
        QCOMPARE(again.size(), QSize(120, 120));
        QVERIFY(!isTransparent(again));
        QCOMPARE(QOpenGLContext::currentContext(), &mine);
        mine.doneCurrent();

        // Without a current context before, none is current after.
        view.render();
        QVERIFY(!QOpenGLContext::currentContext());
    }

    void thumbnailsReuseTheMeshBuffersOfTheSharedContexts() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeCube(dir, "shared.ply", {0, 0, 0}, 1.0));
        PrevGLArea first;
        first.setObject(w);
        first.render();
        // The same renderer again, and another one: both share the buffers uploaded once.
        resetSceneRenderCounters();
        const QImage again = first.render();
        PrevGLArea second;
        second.setObject(w);
        const QImage other = second.render();
        QCOMPARE(sceneRenderCounters().uploads, std::uint64_t(0));
        QCOMPARE(other, again);
    }

    // Not an assertion on time: reports what a refresh of every thumbnail costs per object.
    void timeOfA200kTriangleThumbnail() {
        TotalGraph graph;
        FragGroup* w = addFragment(graph, writeSphere(dir, "sphere.ply", 250, 400));
        QCOMPARE(w->wrappedFragment()->mesh().faceCount(), std::size_t(200000));
        w->setColor(Color4b{200, 180, 40, 255});
        PrevGLArea view;
        view.setObject(w);
        QElapsedTimer timer;
        timer.start();
        QImage picture = view.render();
        const double firstMs = timer.nsecsElapsed() / 1e6;
        verifyShadeOf(picture.pixel(60, 60), Color4b{200, 180, 40, 255});
        const int runs = 10;
        timer.restart();
        for (int i = 0; i < runs; ++i)
            picture = view.render();
        const double renderMs = timer.nsecsElapsed() / 1e6 / runs;
        timer.restart();
        for (int i = 0; i < runs; ++i)
            storeThumbnail(QStringLiteral("sphere"), view.render());
        const double storeMs = timer.nsecsElapsed() / 1e6 / runs;
        qInfo("200k triangles: first thumbnail %.1f ms (with upload), then %.1f ms per render, %.1f ms "
              "per render + PNG store",
              firstMs, renderMs, storeMs);
    }
};

OSTRAKIT_GL_TEST_MAIN(TestThumbnails)
#include "test_thumbnails.moc"
