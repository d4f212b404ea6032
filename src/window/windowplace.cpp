#include "window/windowplace.h"

#include <QDataStream>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

// The frame's rectangle as saveGeometry() recorded it. Its layout has opened with
// this magic number, a major and minor version and the frame geometry since Qt 4,
// in Qt 5 and Qt 6 alike.
bool savedFrame(const QByteArray &geometry, QRect *frame)
{
    constexpr quint32 GeometryMagic = 0x1D9D0CB;
    QDataStream stream(geometry);
    stream.setVersion(QDataStream::Qt_4_0);
    quint32 magic = 0;
    quint16 major = 0, minor = 0;
    stream >> magic >> major >> minor >> *frame;
    return stream.status() == QDataStream::Ok && magic == GeometryMagic;
}

} // namespace

bool restoreWindowPlace(QWidget *window, const QByteArray &geometry)
{
    QRect frame;
    if (!savedFrame(geometry, &frame))
        return false;
    // Qt itself would drag a window from a screen that has gone onto the primary
    // one, squeezed against its edge; a window the system places afresh looks
    // better. A window partly on a screen is restored, and Qt pulls it in whole.
    const QList<QScreen *> screens = QGuiApplication::screens();
    const bool onAScreen = std::any_of(screens.begin(), screens.end(), [&frame](QScreen *screen) {
        return screen->availableGeometry().intersects(frame);
    });
    return onAScreen && window->restoreGeometry(geometry);
}
