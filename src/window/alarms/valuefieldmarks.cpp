#include "window/alarms/valuefieldmarks.h"

#include "protocol/displaytext.h"
#include "ui_widget.h"
#include "window/alarms/alarmstyle.h"
#include "window/telemetryview.h"

#include <QHelpEvent>
#include <QTimer>
#include <QToolTip>

namespace {

constexpr int CellFields = Telemetry::MaxCells;

// A palette sets only what it marks: a field whose palette sets nothing has the
// window's own colours.
QPalette markPalette(const QColor &text, bool alarm)
{
    QPalette palette;
    if (text.isValid())
        palette.setColor(QPalette::Text, text);
    if (alarm)
        palette.setColor(QPalette::Base, AlarmStyle::background());
    return palette;
}

} // namespace

ValueFieldMarks::ValueFieldMarks(Ui::Widget &ui, QObject *parent)
    : QObject(parent), ui(ui), staleTimer(new QTimer(this))
{
    fields = valueFields(ui);
    marks.fill(Mark::Normal, fields.size());
    alarmed.fill(false, fields.size());
    painted.fill(0, fields.size());

    const QColor texts[] = {QColor(), staleColour(), lowestColour(), highestColour()};
    for (int mark = 0; mark < 4; ++mark)
        for (bool alarm : {false, true})
            palettes[size_t(mark)][alarm] = markPalette(texts[mark], alarm);

    staleTimer->setSingleShot(true);
    connect(staleTimer, &QTimer::timeout, this, &ValueFieldMarks::staleTimeout);
    // A hover over a cell's digits reaches the field through its viewport.
    for (int cell = 0; cell < CellFields; ++cell)
        fields[cell]->installEventFilter(this);

    // The window opens with the link closed.
    for (int i = 0; i < fields.size(); ++i)
        mark(i, Mark::Stale);
}

// The grey of old values stays legible on light and on dark themes alike: the
// technician still reads them, only knowing they are not live.
QColor ValueFieldMarks::staleColour()
{
    return QColor(128, 128, 128);
}

// Darker than the pure colours, so that the digits stay readable on white.
QColor ValueFieldMarks::lowestColour()
{
    return QColor(0, 70, 230);
}

QColor ValueFieldMarks::highestColour()
{
    return QColor(210, 0, 0);
}

void ValueFieldMarks::frameShown(const Telemetry &telemetry)
{
    // Ten frames a second for hours: a clock reading here, and the timer is only
    // started again when it runs out (see staleTimeout).
    sinceLastFrame.start();
    if (!staleTimer->isActive())
        staleTimer->start(StaleAfterMs);
    const CellBalance balance = cellBalance(telemetry);
    const bool marksMove = balance.lowestCell != shownBalance.lowestCell ||
                           balance.highestCell != shownBalance.highestCell ||
                           balance.spreadMillivolts() != shownBalance.spreadMillivolts();
    shownBalance = balance;
    if (stale || marksMove)
        setStale(false);
}

void ValueFieldMarks::staleTimeout()
{
    const qint64 left = StaleAfterMs - sinceLastFrame.elapsed();
    if (left > 0)
        staleTimer->start(int(left));
    else
        setStale(true);
}

void ValueFieldMarks::linkClosed()
{
    staleTimer->stop();
    setStale(true);
}

void ValueFieldMarks::cleared()
{
    shownBalance = CellBalance();
    setStale(stale);
}

// The tooltip is made when it is asked for, not for each frame.
bool ValueFieldMarks::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return false;
    auto *help = static_cast<QHelpEvent *>(event);
    QString text = balanceText();
    const QString note = cellNotes.value(fields.indexOf(static_cast<QTextBrowser *>(watched)));
    if (!note.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + note;
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, qobject_cast<QWidget *>(watched));
    return true;
}

QString ValueFieldMarks::balanceText() const
{
    if (!shownBalance.isValid())
        return QString();
    QLabel *const labels[CellFields] = {
        ui.label_cell1,  ui.label_cell2,  ui.label_cell3,  ui.label_cell4,  ui.label_cell5,
        ui.label_cell6,  ui.label_cell7,  ui.label_cell8,  ui.label_cell9,  ui.label_cell10,
        ui.label_cell11, ui.label_cell12, ui.label_cell13, ui.label_cell14, ui.label_cell15,
    };
    const QString mV = QStringLiteral(" mV");
    return tr("Lowest: %1 %2")
               .arg(labels[shownBalance.lowestCell]->text(),
                    DisplayText::unsignedDecimal(shownBalance.lowestMillivolts)) +
           mV + QLatin1Char('\n') +
           tr("Highest: %1 %2")
               .arg(labels[shownBalance.highestCell]->text(),
                    DisplayText::unsignedDecimal(shownBalance.highestMillivolts)) +
           mV + QLatin1Char('\n') +
           tr("Spread: %1")
               .arg(DisplayText::unsignedDecimal(quint32(shownBalance.spreadMillivolts()))) +
           mV;
}

void ValueFieldMarks::setStale(bool isStale)
{
    const bool changed = stale != isStale;
    stale = isStale;
    for (int i = 0; i < fields.size(); ++i)
        mark(i, stale ? Mark::Stale : i < CellFields ? cellMark(i) : Mark::Normal);
    if (changed)
        emit staleChanged(stale);
}

ValueFieldMarks::Mark ValueFieldMarks::cellMark(int cell) const
{
    if (!shownBalance.isValid() || shownBalance.spreadMillivolts() < BalanceMarkMillivolts)
        return Mark::Normal;
    if (cell == shownBalance.lowestCell)
        return Mark::Lowest;
    if (cell == shownBalance.highestCell)
        return Mark::Highest;
    return Mark::Normal;
}

void ValueFieldMarks::showAlarms(const QVector<JudgeEvent> &raised)
{
    QVector<bool> now(fields.size(), false);
    auto set = [&](QTextBrowser *field) { now[fields.indexOf(field)] = true; };
    spreadRaised = false;
    for (const JudgeEvent &event : raised) {
        switch (event.field) {
        case EventField::Cell:
            if (event.name == QLatin1String(limitInfo(Limit::CellSpread).eventName))
                spreadRaised = true;
            else if (event.index >= 0 && event.index < CellFields)
                set(cellFields(ui)[size_t(event.index)]);
            break;
        case EventField::Pack:
            set(ui.textBrowser_pack_voltage);
            break;
        case EventField::Current:
            set(ui.textBrowser_current);
            break;
        case EventField::StateOfCharge:
            set(ui.textBrowser_SOC);
            break;
        case EventField::Sensor:
            if (event.index >= 0 && event.index < TemperatureSensorCount)
                set(temperatureFields(ui)[size_t(event.index)]);
            break;
        case EventField::ProtectionFlag:
            if (event.index >= 0 && event.index < ProtectionFlagCount)
                set(protectionFlagFields(ui)[size_t(event.index)]);
            break;
        case EventField::None:
        case EventField::SystemState:
        case EventField::BmsState:
            break;
        }
    }
    alarmed = now;
    for (int i = 0; i < fields.size(); ++i)
        paint(i);
}

// A spread that stays too wide is about the cells lowest and highest now, which move
// while it stays raised: the marks follow them, as the balance colours do.
bool ValueFieldMarks::isAlarmed(int field) const
{
    return alarmed[field] ||
           (spreadRaised && shownBalance.isValid() &&
            (field == shownBalance.lowestCell || field == shownBalance.highestCell));
}

void ValueFieldMarks::mark(int field, Mark mark)
{
    marks[field] = mark;
    paint(field);
}

void ValueFieldMarks::paint(int field)
{
    const bool alarm = isAlarmed(field);
    const int palette = int(marks[field]) * 2 + alarm;
    if (painted[field] == palette)
        return;
    painted[field] = palette;
    fields[field]->setPalette(palettes[size_t(marks[field])][alarm]);
}
