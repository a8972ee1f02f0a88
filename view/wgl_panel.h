#pragma once

#include "qinterf_widget.h"
#include "wgl_area.h"

class InterfaceListener;

// A working area with its "Clear" button.
class WGLPanel : public QInterfWidget<WGLArea> {
    Q_OBJECT
public:
    explicit WGLPanel(QWidget* parent = nullptr);

    void setListener(InterfaceListener* l);
    WGLArea& area() { return content; }

public slots:
    // Empties a filled area and tells the tree to drop that area's highlight.
    void clearArea();

private:
    InterfaceListener* listener = nullptr; // not owned
};
