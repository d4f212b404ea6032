#pragma once

#include <QColor>

// What marks a raised alarm in the window.
namespace AlarmStyle {
// The background of its value field and of its row in the events window. Light enough
// that black, grey, blue and red digits all stay legible on it.
inline QColor background()
{
    return QColor(255, 205, 205);
}
// The alarm strip's background: the red of an alarm lamp, under white text.
inline QColor stripBackground()
{
    return QColor(192, 0, 0);
}
// The strip's background while the values are not live: the grey of their digits.
inline QColor staleStripBackground()
{
    return QColor(128, 128, 128);
}
} // namespace AlarmStyle
