#pragma once

#include <QString>

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

// Every value the window shows now, one "label value unit" line each in the order
// of the window (empty fields left out), for pasting into a ticket.
QString shownValuesText(const Ui::Widget &ui);
