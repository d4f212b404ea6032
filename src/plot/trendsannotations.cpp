#include "plot/trendsannotations.h"

#include "judge/alarmtext.h"
#include "plot/customplot.h"

#include <QDateTime>
#include <QHelpEvent>
#include <QToolTip>
#include <algorithm>
#include <cmath>

namespace {

const QColor LimitColour(0xb0, 0x00, 0x00);
// By the kind of mark: an alarm raised, one cleared, any other event.
const QColor MarkColours[] = {QColor(0xd0, 0x00, 0x00), QColor(0x00, 0x96, 0x00),
                              QColor(0x70, 0x70, 0x70)};

// A mark is a triangle standing on the time axis, this many pixels high; the mouse
// finds it within MarkReach pixels to either side.
constexpr int MarkHeight = 8;
constexpr int MarkReach = 4;
constexpr int LineReach = 3;
constexpr int MostTextsShown = 8;

// What a limit's label calls it, before its value: short enough for the plot's corner.
const char *labelOf(Limit limit)
{
    switch (limit) {
    case Limit::CellMin:
        return "cell min";
    case Limit::CellMax:
        return "cell max";
    case Limit::CellSpread:
        return "spread max";
    case Limit::PackMin:
        return "pack min";
    case Limit::PackMax:
        return "pack max";
    case Limit::ChargeCurrent:
        return "charge max";
    case Limit::DischargeCurrent:
        return "discharge max";
    case Limit::TemperatureMin:
        return "temp min";
    case Limit::TemperatureMax:
        return "temp max";
    case Limit::SocMin:
        return "SOC min";
    }
    return "";
}

} // namespace

// The marks of one plot, drawn in one pass over the events in the shown time range:
// a session can hold thousands of events, and an item each would cost a QObject and a
// draw call per event on every replot.
class TrendsAnnotations::MarkStrip : public QCPAbstractItem
{
public:
    MarkStrip(QCustomPlot *plot, QCPAxisRect *rect, const QVector<Mark> &marks)
        : QCPAbstractItem(plot), marks(marks)
    {
        setClipAxisRect(rect);
        setSelectable(false);
    }

    double selectTest(const QPointF &, bool, QVariant *) const override { return -1; }

protected:
    void draw(QCPPainter *painter) override
    {
        const QCPAxisRect *rect = clipAxisRect();
        const QCPAxis *time = rect->axis(QCPAxis::atBottom);
        const QCPRange range = time->range();
        auto it = std::lower_bound(marks.begin(), marks.end(), range.lower,
                                   [](const Mark &mark, double key) { return mark.key < key; });
        const double bottom = rect->bottom();
        painter->setPen(Qt::NoPen);
        // A board that flaps leaves many marks on one pixel: each kind is drawn once there.
        int lastX[MarkKinds] = {-1, -1, -1};
        for (; it != marks.end() && it->key <= range.upper; ++it) {
            const double x = time->coordToPixel(it->key);
            if (int(x) == lastX[it->kind])
                continue;
            lastX[it->kind] = int(x);
            const QPointF triangle[] = {{x, bottom},
                                        {x - MarkReach, bottom - MarkHeight},
                                        {x + MarkReach, bottom - MarkHeight}};
            painter->setBrush(MarkColours[it->kind]);
            painter->drawPolygon(triangle, 3);
        }
    }

private:
    const QVector<Mark> &marks;
};

TrendsAnnotations::TrendsAnnotations(QCustomPlot *plot, QCPAxisRect *cellRect,
                                     QCPAxisRect *currentRect, QCPAxisRect *temperatureRect)
    : QObject(plot), plot(plot), rects{cellRect, currentRect, temperatureRect}
{
    for (QCPAxisRect *rect : rects)
        new MarkStrip(plot, rect, marks);
    plot->installEventFilter(this);
}

void TrendsAnnotations::setLimits(const Limits &limits)
{
    for (const LimitLine &line : qAsConst(limitLines)) {
        plot->removeItem(line.line);
        plot->removeItem(line.label);
    }
    limitLines.clear();
    auto add = [&](QCPAxisRect *rect, QCPAxis *axis, Limit limit, double sign) {
        if (const auto value = limits.value(limit))
            addLimitLine(rect, axis, limit, *value, sign);
    };
    QCPAxisRect *cells = rects[0], *current = rects[1], *temperatures = rects[2];
    add(cells, cells->axis(QCPAxis::atLeft), Limit::CellMin, 1);
    add(cells, cells->axis(QCPAxis::atLeft), Limit::CellMax, 1);
    add(current, current->axis(QCPAxis::atLeft), Limit::ChargeCurrent, 1);
    // The file holds the discharge limit as a positive number; the plot's current is
    // negative while discharging.
    add(current, current->axis(QCPAxis::atLeft), Limit::DischargeCurrent, -1);
    add(current, current->axis(QCPAxis::atRight), Limit::SocMin, 1);
    add(temperatures, temperatures->axis(QCPAxis::atLeft), Limit::TemperatureMin, 1);
    add(temperatures, temperatures->axis(QCPAxis::atLeft), Limit::TemperatureMax, 1);
    plot->replot(QCustomPlot::rpQueuedReplot);
}

void TrendsAnnotations::addLimitLine(QCPAxisRect *rect, QCPAxis *valueAxis, Limit limit,
                                     double fileValue, double sign)
{
    const double value = sign * fileValue;
    QCPAxis *time = rect->axis(QCPAxis::atBottom);
    // A limit on a second axis takes the colour of the line drawn against that axis,
    // and dots: the SOC minimum at 5 % must not pass for a current limit near 0 mA.
    const bool secondAxis = valueAxis != rect->axis(QCPAxis::atLeft);
    const QList<QCPGraph *> measured = valueAxis->graphs();
    const QColor colour =
        secondAxis && !measured.isEmpty() ? measured.first()->pen().color() : LimitColour;

    auto *line = new QCPItemStraightLine(plot);
    line->setClipAxisRect(rect);
    line->setSelectable(false);
    line->setPen(secondAxis ? QPen(colour, 2, Qt::DotLine) : QPen(colour, 1, Qt::DashLine));
    for (QCPItemPosition *point : {line->point1, line->point2})
        point->setAxes(time, valueAxis);
    line->point1->setCoords(0, value);
    line->point2->setCoords(1, value);

    // The label at the line's right end, on the side where the values lie when they
    // are inside: above a floor, below a ceiling.
    const QString unit = QString::fromUtf8(limitUnitSymbol(limitInfo(limit).unit));
    const bool floor = limitInfo(limit).isMinimum != (sign < 0);
    auto *label = new QCPItemText(plot);
    label->setClipAxisRect(rect);
    label->setSelectable(false);
    label->position->setAxes(time, valueAxis);
    label->position->setAxisRect(rect);
    label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
    label->position->setTypeY(QCPItemPosition::ptPlotCoords);
    label->position->setCoords(1, value);
    label->setPositionAlignment(Qt::AlignRight | (floor ? Qt::AlignBottom : Qt::AlignTop));
    label->setPadding(QMargins(3, 0, 3, 0));
    label->setColor(colour);
    // Over a graph's line the label still reads.
    label->setBrush(QColor(255, 255, 255, 210));
    label->setText(QStringLiteral("%1 %2 %3")
                       .arg(QLatin1String(labelOf(limit)), judgedNumber(fileValue), unit));

    limitLines.append(
        {line, label, valueAxis, value,
         QStringLiteral("%1 = %2 %3")
             .arg(QLatin1String(limitKeyPath(limit)), QString::number(fileValue, 'g', 10), unit)});
}

void TrendsAnnotations::addEvents(const QVector<JudgeEvent> &events)
{
    if (events.isEmpty())
        return;
    const bool inOrder = marks.isEmpty() || events.first().timeMs / 1000.0 >= marks.last().key;
    for (const JudgeEvent &event : events) {
        const int kind = !event.isAlarm ? 2 : event.state == EventState::Raised ? 0 : 1;
        marks.append({event.timeMs / 1000.0, event.text, kind});
    }
    if (!inOrder)
        std::stable_sort(marks.begin(), marks.end(),
                         [](const Mark &a, const Mark &b) { return a.key < b.key; });
    plot->replot(QCustomPlot::rpQueuedReplot);
}

QStringList TrendsAnnotations::marksNear(const QCPAxisRect *rect, int x) const
{
    const QCPAxis *time = rect->axis(QCPAxis::atBottom);
    const double from = time->pixelToCoord(x - MarkReach);
    const double to = time->pixelToCoord(x + MarkReach);
    auto it = std::lower_bound(marks.begin(), marks.end(), qMin(from, to),
                               [](const Mark &mark, double key) { return mark.key < key; });
    QStringList texts;
    int more = 0;
    for (; it != marks.end() && it->key <= qMax(from, to); ++it) {
        if (texts.size() == MostTextsShown) {
            ++more;
            continue;
        }
        texts << QDateTime::fromMSecsSinceEpoch(qint64(std::llround(it->key * 1000)))
                         .toString(QStringLiteral("HH:mm:ss")) +
                     QStringLiteral("  ") + it->text;
    }
    if (more > 0)
        texts << tr("… and %n more", nullptr, more);
    return texts;
}

QString TrendsAnnotations::toolTipAt(const QPoint &pos) const
{
    for (const QCPAxisRect *rect : rects) {
        if (!rect->rect().contains(pos))
            continue;
        if (pos.y() >= rect->bottom() - MarkHeight - 2) {
            const QStringList texts = marksNear(rect, pos.x());
            if (!texts.isEmpty())
                return texts.join(QLatin1Char('\n'));
        }
        for (const LimitLine &line : limitLines)
            if (line.line->clipAxisRect() == rect &&
                qAbs(line.valueAxis->coordToPixel(line.value) - pos.y()) <= LineReach)
                return line.text;
        return QString();
    }
    return QString();
}

// Over a mark or a line its text; anywhere else the plot's own tooltip.
bool TrendsAnnotations::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != plot || event->type() != QEvent::ToolTip)
        return false;
    auto *help = static_cast<QHelpEvent *>(event);
    const QString text = toolTipAt(help->pos());
    if (text.isEmpty())
        return false;
    QToolTip::showText(help->globalPos(), text, plot);
    return true;
}
