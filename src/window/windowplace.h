#pragma once

#include <QByteArray>

class QWidget;

// Puts a top-level window where QWidget::saveGeometry() had it, and returns true;
// leaves it to the window system and returns false when geometry is empty or not
// Qt's, or when that place lies off every screen now (a second monitor unplugged,
// a laptop undocked).
bool restoreWindowPlace(QWidget *window, const QByteArray &geometry);
