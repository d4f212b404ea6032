#pragma once

#include "protocol/displaytext.h"
#include "protocol/telemetry.h"

#include <QByteArray>
#include <QVector>
#include <array>

class QPlainTextEdit;
class QString;
class QTextBrowser;
struct TelemetryTexts;

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

// Every value field a frame writes, the 15 cells first, in the order of the form's
// telemetry table.
QVector<QTextBrowser *> valueFields(Ui::Widget &ui);

// The fields of the cells, of the temperatures in TemperatureSensor order and of the
// protection flags in bit order (OC, SC, OVB, OV, UV, LOW_TEMP, HIGH_TEMP).
std::array<QTextBrowser *, Telemetry::MaxCells> cellFields(Ui::Widget &ui);
std::array<QTextBrowser *, TemperatureSensorCount> temperatureFields(Ui::Widget &ui);
std::array<QTextBrowser *, ProtectionFlagCount> protectionFlagFields(Ui::Widget &ui);

// Sets up the telemetry fields once, before the first frame: 28 value fields
// right-aligned, a document margin that the 20-pixel-high fields can afford.
void prepareValueFields(Ui::Widget &ui);

// Writes every value a frame carries into its field of the window; fields the
// frame's layout does not carry keep what they showed.
void showTelemetry(Ui::Widget &ui, const TelemetryTexts &texts);

// Adds what the board said outside its frames to the end of the receive log,
// keeping the log bounded and its view on the newest text.
void appendToReceiveLog(QPlainTextEdit *log, const QByteArray &chunk);
// Adds a line of the window's own (an alarm raised or cleared) to the end of the
// receive log, on a line of its own between what the board said.
void appendLineToReceiveLog(QPlainTextEdit *log, const QString &line);
