#pragma once

#include <QColor>

// What marks a raised alarm in the window: the background of its value field and of
// its row in the events window. Light enough that black, grey, blue and red digits
// all stay legible on it.
namespace AlarmStyle {
inline QColor background()
{
    return QColor(255, 205, 205);
}
} // namespace AlarmStyle
