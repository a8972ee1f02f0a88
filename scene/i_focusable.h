#pragma once

#include "geometry_types.h"

#include <QString>

// Anything that can be highlighted: geometry objects and constraints.
class IFocusable {
public:
    explicit IFocusable(Color4b initialFocusColor) : focusColor(initialFocusColor) {}
    virtual ~IFocusable() = default;

    virtual void setFocused(bool f) { focused = f; }
    virtual bool isFocused() const { return focused; }
    virtual QString key() const = 0;
    virtual void setColor(Color4b c) = 0;

    Color4b getColor() const { return color; }
    Color4b getFocusColor() const { return focusColor; }

protected:
    Color4b color;
    Color4b focusColor;
    bool focused = false;
};
