#pragma once

#include <QLatin1String>

namespace ui {

// Gives a widget, menu or action the object name its form knows it by (tests and the
// window's wiring find it by that name) and hands it back, so that it can be named where it
// is made: ui::named(new QLabel(this), "Label1").
template <typename T>
T* named(T* object, const char* name) {
    object->setObjectName(QLatin1String(name));
    return object;
}

}  // namespace ui
