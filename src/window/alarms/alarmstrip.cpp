#include "window/alarms/alarmstrip.h"

#include "judge/alarmtext.h"
#include "window/alarms/alarmstyle.h"

#include <QMouseEvent>

namespace {

const QChar NoBreakSpace(0x00a0);

} // namespace

AlarmStrip::AlarmStrip(QWidget *window) : QLabel(window), window(window), formSize(window->size())
{
    setObjectName(QStringLiteral("alarmStrip"));
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setContentsMargins(10, 6, 10, 6);
    setAutoFillBackground(true);
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("Every alarm raised now, with its value in the newest frame.\n"
                  "Click for the events window (Ctrl+E)."));
    // Read from a metre away: half as large again as the window's text, and bold.
    QFont large = font();
    large.setPointSizeF(large.pointSizeF() * 1.4);
    large.setBold(true);
    setFont(large);
    paintBackground();
    hide();
}

void AlarmStrip::setAlarms(const QVector<JudgeEvent> &alarms)
{
    raised = alarms;
    refresh();
}

void AlarmStrip::frameShown(const Telemetry &telemetry)
{
    newest = telemetry;
    if (!raised.isEmpty())
        refresh();
}

void AlarmStrip::setStale(bool isStale)
{
    if (stale == isStale)
        return;
    stale = isStale;
    paintBackground();
}

void AlarmStrip::refresh()
{
    QStringList items;
    items.reserve(raised.size());
    for (const JudgeEvent &event : qAsConst(raised))
        items << alarmNow(event, newest ? &*newest : nullptr);
    if (items == shownItems)
        return;
    shownItems = items;
    // A line breaks between alarms, never inside one.
    QStringList unbroken = items;
    for (QString &item : unbroken)
        item.replace(QLatin1Char(' '), NoBreakSpace);
    setText(unbroken.join(QStringLiteral(" · ")));
    fitWindow();
    emit itemsChanged(shownItems);
}

void AlarmStrip::paintBackground()
{
    QPalette colours = palette();
    colours.setColor(QPalette::Window,
                     stale ? AlarmStyle::staleStripBackground() : AlarmStyle::stripBackground());
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
}

// The form keeps its size and its widgets their places: the window grows below it.
void AlarmStrip::fitWindow()
{
    const int height = shownItems.isEmpty() ? 0 : heightForWidth(formSize.width());
    setVisible(height > 0);
    if (height == shownHeight)
        return;
    shownHeight = height;
    setGeometry(0, formSize.height(), formSize.width(), height);
    window->setFixedSize(formSize.width(), formSize.height() + height);
}

void AlarmStrip::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->pos()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}
