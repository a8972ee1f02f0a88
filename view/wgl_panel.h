#pragma once

#include "qinterf_widget.h"
#include "wgl_area.h"

class ViewListener;

// A working area with its "Clear" button.
class WGLPanel : public QInterfWidget<WGLArea> {
    Q_OBJECT
public:
    explicit WGLPanel(QWidget* parent = nullptr);

    void setListener(ViewListener* l);
    WGLArea& area() { return content; }

public slots:
    // Empties a filled area and tells the tree to drop that area's highlight.
    void clearArea();

private:
    ViewListener* listener = nullptr; // not owned
};
