#include "window/shippedfont.h"

#include <QApplication>
#include <QFont>

void useShippedFont()
{
    // Consolas is rarely installed outside Windows. Inconsolata was drawn after it
    // and is nearly as narrow, which the small value fields need; failing that, the
    // hint still picks a fixed-pitch face so that digits line up.
    QFont::insertSubstitution(QStringLiteral("Consolas"), QStringLiteral("Inconsolata"));
    QFont font(QStringLiteral("Consolas"), 11);
    font.setStyleHint(QFont::Monospace);
    QApplication::setFont(font);
}
