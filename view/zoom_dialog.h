#pragma once
// The zoom window: a modal dialog covering the whole screen it is on, filled by one ZoomGLArea.
// No layout, title or buttons; Esc or the window frame closes it.

#include <QDialog>

class GeometrObj;
class ZoomGLArea;

class ZoomDialog : public QDialog {
    Q_OBJECT
public:
    explicit ZoomDialog(QWidget* parent = nullptr);

    ZoomGLArea* area() const { return zoomArea; }

protected:
    // Keeps the dialog at the size of its screen and the area at the size of the dialog.
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void fitToScreen();

    ZoomGLArea* zoomArea; // child
};

// Shows content in a zoom window and returns when the window is closed. Nothing when content is
// null. The content is drawn without its highlight colours: its focus flag is cleared for the
// time of the window and restored afterwards. Every window starts with a fresh trackball.
void openZoom(GeometrObj* content, QWidget* parent = nullptr);
