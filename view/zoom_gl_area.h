#pragma once
// The 3D view of the zoom window: one object fitted in front of the same perspective camera as
// the working areas (40 degrees, eye at (0, 0, 5), the box diagonal 2.5 units long), turned with
// its own trackball, drawn in its highlight mode with its constraint markers, and its display
// name in the top-left corner. No picking.

#include "trackball.h"

#include <QOpenGLWidget>
#include <QString>

class GeometrObj;
class QOpenGLFunctions_2_1;
class QPainter;

class ZoomGLArea : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit ZoomGLArea(QWidget* parent = nullptr);
    ~ZoomGLArea() override;

    // The object shown (not owned, may be null); the title becomes its displayName() now.
    void setObject(GeometrObj* o);
    GeometrObj* getObject() const { return object; }
    QString title() const { return titleText; }
    Trackball& viewTrackball() { return trackball; }
    // Frames painted so far (tests wait on it to know a repaint happened).
    int paintCount() const { return paints; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;

    // Camera, trackball, fit and the object with its constraints; native painting is active.
    virtual void paintScene(QPainter* painter);

private:
    void setUpLighting();

    QString titleText;
    GeometrObj* object = nullptr; // not owned
    Trackball trackball;
    bool mousePressed = false;
    QOpenGLFunctions_2_1* gl = nullptr; // owned by the context
    int paints = 0;
};
