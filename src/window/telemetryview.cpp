#include "window/telemetryview.h"

#include "protocol/boardtext.h"
#include "protocol/displaytext.h"
#include "ui_widget.h"

#include <QTextBlock>
#include <QTextCursor>

namespace {

// The receive log keeps the most recent text: at most LogMaxLines lines of at most
// LogMaxLineChars characters each, about 2.5 million characters at worst. A board that
// prints without line ends would otherwise build one paragraph that Qt lays out
// anew on every chunk, and the window would crawl; such text is broken into lines
// of LogMaxLineChars.
constexpr int LogMaxLines = 10000;
constexpr int LogMaxLineChars = 256;

bool isLineEnd(QChar c)
{
    // The characters QTextCursor::insertText starts a new paragraph at.
    return c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QChar::ParagraphSeparator;
}

// Inserts line breaks so that no line of the log grows past LogMaxLineChars.
// lineLength is the length of the log's last line before text is appended.
QString breakLongLines(const QString &text, int lineLength)
{
    QString out;
    out.reserve(text.size() + text.size() / LogMaxLineChars + 1);
    for (const QChar c : text) {
        if (isLineEnd(c)) {
            lineLength = 0;
        } else if (lineLength == LogMaxLineChars) {
            out += QLatin1Char('\n');
            lineLength = 1;
        } else {
            ++lineLength;
        }
        out += c;
    }
    return out;
}

// The value fields are 20 pixels high. Qt's default document margin of 4 pixels
// on every side leaves 12 pixels for an 11-point line, which cuts the digits;
// one pixel is enough to keep them clear of the frame.
constexpr qreal ValueFieldMargin = 1;

// A value that did not change is not written again: nothing visible would differ,
// and a frame usually changes only a few of its 39 fields.
template <typename Field> void show(Field *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

// The text is replaced through a cursor rather than setText, which rebuilds the
// whole document and costs three times as much.
void show(QTextBrowser *field, const QString &text)
{
    if (field->toPlainText() == text)
        return;
    QTextCursor all(field->document());
    all.select(QTextCursor::Document);
    all.insertText(text);
}

// Right alignment has to live in the document's default text option as well:
// QTextEdit::setText and clear() replace the document's blocks, and with them any
// block alignment set through setAlignment.
void alignRight(QTextBrowser *field)
{
    field->setAlignment(Qt::AlignRight);
    QTextOption option = field->document()->defaultTextOption();
    option.setAlignment(Qt::AlignRight);
    field->document()->setDefaultTextOption(option);
}

} // namespace

QVector<QTextBrowser *> valueFields(Ui::Widget &ui)
{
    return {
        ui.textBrowser_cell1,       ui.textBrowser_cell2,        ui.textBrowser_cell3,
        ui.textBrowser_cell4,       ui.textBrowser_cell5,        ui.textBrowser_cell6,
        ui.textBrowser_cell7,       ui.textBrowser_cell8,        ui.textBrowser_cell9,
        ui.textBrowser_cell10,      ui.textBrowser_cell11,       ui.textBrowser_cell12,
        ui.textBrowser_cell13,      ui.textBrowser_cell14,       ui.textBrowser_cell15,
        ui.textBrowser_bat,         ui.textBrowser_pack_voltage, ui.textBrowser_current,
        ui.textBrowser_SOC,         ui.textBrowser_BQ_NTC1,      ui.textBrowser_BQ_NTC2,
        ui.textBrowser_BQ_NTC3,     ui.textBrowser_cycle,        ui.textBrowser_MCU_NTC1,
        ui.textBrowser_MCU_NTC2,    ui.textBrowser_sys_status,   ui.textBrowser_bq_status,
        ui.textBrowser_bms_status,  ui.textBrowser_version,      ui.textBrowser_OCD,
        ui.textBrowser_OVB,         ui.textBrowser_SCD,          ui.textBrowser_OVD,
        ui.textBrowser_UV,          ui.textBrowser_LOW_TEMP,     ui.textBrowser_HIGH_TEMP,
        ui.textBrowser_manufacture,
    };
}

std::array<QTextBrowser *, Telemetry::MaxCells> cellFields(Ui::Widget &ui)
{
    return {
        ui.textBrowser_cell1,  ui.textBrowser_cell2,  ui.textBrowser_cell3,  ui.textBrowser_cell4,
        ui.textBrowser_cell5,  ui.textBrowser_cell6,  ui.textBrowser_cell7,  ui.textBrowser_cell8,
        ui.textBrowser_cell9,  ui.textBrowser_cell10, ui.textBrowser_cell11, ui.textBrowser_cell12,
        ui.textBrowser_cell13, ui.textBrowser_cell14, ui.textBrowser_cell15,
    };
}

std::array<QTextBrowser *, TemperatureSensorCount> temperatureFields(Ui::Widget &ui)
{
    return {ui.textBrowser_BQ_NTC1, ui.textBrowser_BQ_NTC2, ui.textBrowser_BQ_NTC3,
            ui.textBrowser_MCU_NTC1, ui.textBrowser_MCU_NTC2};
}

std::array<QTextBrowser *, ProtectionFlagCount> protectionFlagFields(Ui::Widget &ui)
{
    return {
        ui.textBrowser_OCD, ui.textBrowser_SCD,      ui.textBrowser_OVB,       ui.textBrowser_OVD,
        ui.textBrowser_UV,  ui.textBrowser_LOW_TEMP, ui.textBrowser_HIGH_TEMP,
    };
}

void prepareValueFields(Ui::Widget &ui)
{
    QTextBrowser *const valueFields[] = {
        ui.textBrowser_cell1,        ui.textBrowser_cell2,    ui.textBrowser_cell3,
        ui.textBrowser_cell4,        ui.textBrowser_cell5,    ui.textBrowser_cell6,
        ui.textBrowser_cell7,        ui.textBrowser_cell8,    ui.textBrowser_cell9,
        ui.textBrowser_cell10,       ui.textBrowser_cell11,   ui.textBrowser_cell12,
        ui.textBrowser_cell13,       ui.textBrowser_cell14,   ui.textBrowser_cell15,
        ui.textBrowser_BQ_NTC1,      ui.textBrowser_BQ_NTC2,  ui.textBrowser_BQ_NTC3,
        ui.textBrowser_MCU_NTC1,     ui.textBrowser_MCU_NTC2, ui.textBrowser_bat,
        ui.textBrowser_pack_voltage, ui.textBrowser_current,  ui.textBrowser_SOC,
        ui.textBrowser_bq_status,    ui.textBrowser_version,  ui.textBrowser_manufacture,
        ui.textBrowser_bms_status,
    };
    for (QTextBrowser *field : valueFields)
        alignRight(field);
    for (QTextBrowser *field : ui.widget_2->findChildren<QTextBrowser *>()) {
        field->document()->setDocumentMargin(ValueFieldMargin);
        // Values are replaced in place, many times a second for hours: keep no undo
        // history of them.
        field->document()->setUndoRedoEnabled(false);
    }
}

void appendToReceiveLog(QPlainTextEdit *log, const QByteArray &chunk)
{
    if (log->maximumBlockCount() != LogMaxLines)
        log->setMaximumBlockCount(LogMaxLines);

    const QString text = boardText(chunk);

    // Always at the end, wherever the technician last clicked or selected in the
    // log: inserting at the widget's own cursor would scramble the order of what
    // the board said.
    QTextCursor end(log->document());
    end.movePosition(QTextCursor::End);
    end.insertText(breakLongLines(text, end.block().length() - 1));
    log->setTextCursor(end);
}

void appendLineToReceiveLog(QPlainTextEdit *log, const QString &line)
{
    if (log->maximumBlockCount() != LogMaxLines)
        log->setMaximumBlockCount(LogMaxLines);
    // Not in the middle of the board's line, and what the board says next starts on a
    // line of its own.
    QTextCursor end(log->document());
    end.movePosition(QTextCursor::End);
    const bool midLine = end.block().length() > 1;
    end.insertText((midLine ? QStringLiteral("\n") : QString()) + line + QLatin1Char('\n'));
    log->setTextCursor(end);
}

void showTelemetry(Ui::Widget &ui, const TelemetryTexts &texts)
{
    const auto cells = cellFields(ui);
    for (int i = 0; i < texts.cellCount; ++i)
        show(cells[i], texts.cells[size_t(i)]);

    show(ui.textBrowser_bat, texts.battery);
    show(ui.textBrowser_pack_voltage, texts.pack);
    show(ui.textBrowser_current, texts.current);
    show(ui.textBrowser_SOC, texts.stateOfCharge);
    show(ui.textBrowser_BQ_NTC1, texts.ntc1);
    show(ui.textBrowser_BQ_NTC2, texts.ntc2);
    show(ui.textBrowser_MCU_NTC1, texts.selfDischargeNtc);
    show(ui.textBrowser_MCU_NTC2, texts.mosfetNtc);
    show(ui.textBrowser_cycle, texts.cycleCount);
    show(ui.textBrowser_bq_status, texts.bqStatus);
    show(ui.textBrowser_version, texts.version);
    show(ui.textBrowser_manufacture, texts.manufactureDate);
    show(ui.textBrowser_sys_status, texts.systemState);
    show(ui.textBrowser_bms_status, texts.bmsState);
    show(ui.label_battery_version, texts.cellType);
    show(ui.label_BMS, texts.model);

    if (texts.layout != TelemetryLayout::Type2)
        return;
    show(ui.textBrowser_BQ_NTC3, texts.ntc3);
    const auto flags = protectionFlagFields(ui);
    for (int bit = 0; bit < ProtectionFlagCount; ++bit)
        show(flags[bit], texts.protectionFlags[size_t(bit)]);
}
