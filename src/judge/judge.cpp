#include "judge/judge.h"

#include "judge/alarmtext.h"
#include "protocol/cellbalance.h"
#include "protocol/displaytext.h"
#include "record/recordformat.h"

#include <QStringBuilder>
#include <cmath>

namespace {

constexpr int FlagKeyBase = 256;

int limitKey(Limit limit, int slot)
{
    return int(limit) * 16 + slot;
}

QString quantity(double value, LimitUnit unit)
{
    return judgedNumber(value) % QLatin1Char(' ') % QString::fromUtf8(limitUnitSymbol(unit));
}

// "above 4250 mV", "back below 4250 mV", "below 2800 mV", "back above 2800 mV"
QString crossing(const LimitInfo &info, EventState state, double limit)
{
    const bool raised = state == EventState::Raised;
    const char *word =
        info.isMinimum ? (raised ? "below " : "back above ") : (raised ? "above " : "back below ");
    return QLatin1String(word) % quantity(limit, info.unit);
}

QString sensorColumn(int sensor)
{
    return QLatin1String(RecordColumns::Names[RecordColumns::FirstTemperature + sensor]);
}

QString cellText(int cell)
{
    return QLatin1String("cell ") % QString::number(cell + 1);
}

} // namespace

bool CheckTally::failed() const
{
    if (protection.failed() || link.failed())
        return true;
    for (const LimitTally &limit : limits)
        if (limit.failed())
            return true;
    return false;
}

Judge::Judge(const Limits &limits, const QString &port) : currentLimits(limits), portName(port)
{
    updateThresholds();
}

void Judge::setLimits(const Limits &limits)
{
    currentLimits = limits;
    for (auto &perSlot : limitRaised)
        perSlot.fill(false);
    for (int i = raised.size() - 1; i >= 0; --i)
        if (raisedKeys[i] < FlagKeyBase) {
            raised.removeAt(i);
            raisedKeys.removeAt(i);
        }
    checkTally.limits = {};
    updateThresholds();
}

void Judge::updateThresholds()
{
    for (int i = 0; i < LimitCount; ++i) {
        const Limit limit = Limit(i);
        Threshold &threshold = thresholds[i];
        threshold.limit = limit;
        threshold.isMinimum = limitInfo(limit).isMinimum;
        const auto value = currentLimits.value(limit);
        threshold.active = bool(value);
        if (!value)
            continue;
        const double hysteresis = currentLimits.hysteresisOf(limit);
        // Degrees come in tenths: 60.3 less 0.1 must clear at 60.2 itself, not at the
        // double just below it that the subtraction gives.
        auto decimal = [](double x) { return std::round(x * 1e6) / 1e6; };
        threshold.crossed = *value;
        threshold.back = decimal(threshold.isMinimum ? *value + hysteresis : *value - hysteresis);
    }
}

JudgeEvent Judge::newEvent(qint64 timeMs, EventKind kind, EventState state) const
{
    JudgeEvent event;
    event.timeMs = timeMs;
    event.port = portName;
    event.kind = kind;
    event.state = state;
    return event;
}

void Judge::raise(int key, const JudgeEvent &event, QVector<JudgeEvent> *events)
{
    events->append(event);
    if (!event.isAlarm)
        return;
    raised.append(event);
    raisedKeys.append(key);
    auto count = [&](auto &tally) {
        if (!tally.raised++)
            tally.firstRaised = event;
    };
    if (key >= FlagKeyBase)
        count(checkTally.protection);
    else
        count(checkTally.limits[key / 16]);
}

void Judge::clear(int key, const JudgeEvent &event, QVector<JudgeEvent> *events)
{
    events->append(event);
    const int at = raisedKeys.indexOf(key);
    if (at >= 0) {
        raised.removeAt(at);
        raisedKeys.removeAt(at);
    }
}

JudgeEvent Judge::limitEvent(Limit limit, int slot, EventState state, double value,
                             qint64 timeMs) const
{
    const LimitInfo &info = limitInfo(limit);
    JudgeEvent event = newEvent(timeMs, EventKind::Limit, state);
    event.name = QLatin1String(info.eventName);
    event.value = value;
    event.limit = currentLimits.value(limit);
    event.isAlarm = true;
    QString subject;
    switch (limit) {
    case Limit::CellMin:
    case Limit::CellMax:
        event.cell = slot + 1;
        event.field = EventField::Cell;
        event.index = slot;
        subject = cellText(slot);
        break;
    case Limit::PackMin:
    case Limit::PackMax:
        event.field = EventField::Pack;
        subject = QStringLiteral("pack");
        break;
    case Limit::ChargeCurrent:
        event.field = EventField::Current;
        subject = QStringLiteral("charge current");
        break;
    case Limit::DischargeCurrent:
        event.field = EventField::Current;
        subject = QStringLiteral("discharge current");
        break;
    case Limit::TemperatureMin:
    case Limit::TemperatureMax:
        event.sensor = sensorColumn(slot);
        event.field = EventField::Sensor;
        event.index = slot;
        subject = DisplayText::temperatureSensorName(TemperatureSensor(slot));
        break;
    case Limit::SocMin:
        event.field = EventField::StateOfCharge;
        subject = QStringLiteral("SOC");
        break;
    case Limit::CellSpread:
        break; // judgeSpread names both cells
    }
    event.text = subject % QLatin1String(" at ") % quantity(value, info.unit) %
                 QLatin1String(", ") % crossing(info, state, *event.limit);
    return event;
}

void Judge::judgeValue(const Threshold &threshold, int slot, double value,
                       const TelemetryRecord &record, QVector<JudgeEvent> *events)
{
    bool &isRaised = limitRaised[int(threshold.limit)][slot];
    if (!isRaised) {
        if (threshold.isMinimum ? value < threshold.crossed : value > threshold.crossed) {
            isRaised = true;
            raise(limitKey(threshold.limit, slot),
                  limitEvent(threshold.limit, slot, EventState::Raised, value, record.timeMs),
                  events);
        }
    } else if (threshold.isMinimum ? value >= threshold.back : value <= threshold.back) {
        isRaised = false;
        clear(limitKey(threshold.limit, slot),
              limitEvent(threshold.limit, slot, EventState::Cleared, value, record.timeMs), events);
    }

    LimitTally &tally = checkTally.limits[int(threshold.limit)];
    // Currents are tallied as the current that flowed in that direction, 0 when none did.
    const double worst =
        threshold.limit == Limit::ChargeCurrent || threshold.limit == Limit::DischargeCurrent
            ? qMax(value, 0.0)
            : value;
    if (tally.seen && (threshold.isMinimum ? worst >= tally.worst : worst <= tally.worst))
        return;
    tally.seen = true;
    tally.worst = worst;
    switch (threshold.limit) {
    case Limit::CellMin:
    case Limit::CellMax:
        tally.cell = slot + 1;
        break;
    case Limit::TemperatureMin:
    case Limit::TemperatureMax:
        tally.sensor = sensorColumn(slot);
        break;
    default:
        break;
    }
}

void Judge::judgeSpread(const Telemetry &telemetry, qint64 timeMs, QVector<JudgeEvent> *events)
{
    const Threshold &threshold = thresholds[int(Limit::CellSpread)];
    const CellBalance balance = cellBalance(telemetry);
    if (!threshold.active || !balance.isValid())
        return;
    const double spread = balance.spreadMillivolts();
    bool &isRaised = limitRaised[int(Limit::CellSpread)][0];
    std::optional<EventState> state;
    if (!isRaised && spread > threshold.crossed) {
        state = EventState::Raised;
    } else if (isRaised && spread <= threshold.back) {
        // A spread raised with a cell this layout does not carry stays raised.
        const int at = raisedKeys.indexOf(limitKey(Limit::CellSpread, 0));
        if (at < 0 ||
            (raised[at].otherIndex < telemetry.cellCount && raised[at].index < telemetry.cellCount))
            state = EventState::Cleared;
    }
    if (state) {
        isRaised = *state == EventState::Raised;
        const LimitInfo &info = limitInfo(Limit::CellSpread);
        JudgeEvent event = newEvent(timeMs, EventKind::Limit, *state);
        event.name = QLatin1String(info.eventName);
        event.value = spread;
        event.limit = threshold.crossed;
        event.isAlarm = true;
        event.field = EventField::Cell;
        event.index = balance.lowestCell;
        event.otherIndex = balance.highestCell;
        const int first = qMin(balance.lowestCell, balance.highestCell);
        const int second = qMax(balance.lowestCell, balance.highestCell);
        auto cellAndVoltage = [&](int cell) -> QString {
            return cellText(cell) % QLatin1String(" (") %
                   QString::number(telemetry.cellMillivolts[cell]) % QLatin1String(" mV)");
        };
        event.text = QLatin1String("spread ") % quantity(spread, info.unit) %
                     QLatin1String(" between ") % cellAndVoltage(first) % QLatin1String(" and ") %
                     cellAndVoltage(second) % QLatin1String(", ") %
                     crossing(info, *state, threshold.crossed);
        const int key = limitKey(Limit::CellSpread, 0);
        isRaised ? raise(key, event, events) : clear(key, event, events);
    }

    LimitTally &tally = checkTally.limits[int(Limit::CellSpread)];
    if (!tally.seen || spread > tally.worst) {
        tally.seen = true;
        tally.worst = spread;
        tally.lowCell = balance.lowestCell + 1;
        tally.highCell = balance.highestCell + 1;
    }
}

void Judge::judgeFlags(const Telemetry &telemetry, qint64 timeMs, QVector<JudgeEvent> *events)
{
    const quint8 flags = telemetry.protectionFlags & Limits::AllProtectionFlags;
    checkTally.protection.seen = true;
    checkTally.protection.seenFlags |= flags;
    const quint8 changed = flags ^ flagsRaised;
    if (!changed)
        return;
    for (int bit = 0; bit < ProtectionFlagCount; ++bit) {
        if (!((changed >> bit) & 1))
            continue;
        const bool set = (flags >> bit) & 1;
        JudgeEvent event =
            newEvent(timeMs, EventKind::Protection, set ? EventState::Raised : EventState::Cleared);
        event.name = QLatin1String(RecordColumns::Names[RecordColumns::FirstProtectionFlag + bit]);
        event.value = set ? 1 : 0;
        event.field = EventField::ProtectionFlag;
        event.index = bit;
        event.isAlarm = currentLimits.failsOn(bit);
        event.text =
            DisplayText::protectionFlagName(bit) % QLatin1String(set ? " raised" : " cleared");
        set ? raise(FlagKeyBase + bit, event, events) : clear(FlagKeyBase + bit, event, events);
    }
    flagsRaised = flags;
}

void Judge::judgeStates(const Telemetry &telemetry, qint64 timeMs, QVector<JudgeEvent> *events)
{
    auto change = [&](quint8 *last, quint8 code, const char *name, const char *subject,
                      QString (*nameOf)(quint8), EventField field) {
        if (hasStates && *last != code) {
            JudgeEvent event = newEvent(timeMs, EventKind::State, EventState::Changed);
            event.name = QLatin1String(name);
            event.value = code;
            event.field = field;
            event.text =
                QLatin1String(subject) % nameOf(*last) % QStringLiteral(" → ") % nameOf(code);
            events->append(event);
        }
        *last = code;
    };
    change(&systemState, telemetry.systemState, "system_state", "system state ",
           DisplayText::systemStateName, EventField::SystemState);
    change(&bmsState, telemetry.bmsState, "bms_state", "BMS state ", DisplayText::bmsStateName,
           EventField::BmsState);
    hasStates = true;
}

void Judge::judgeFrame(const TelemetryRecord &record, QVector<JudgeEvent> *events)
{
    const Telemetry &telemetry = record.telemetry;
    ++checkTally.frames;
    lastGoodMs = record.timeMs;
    tallyGap(record.timeMs);
    if (checkTally.link.watched && !gapCounted && record.timeMs - lastFrameMs > StaleAfterMs) {
        // Stopped while the link was away, or while nothing looked (a stopped process).
        JudgeEvent stop =
            lostInGap ? *lostInGap : newEvent(lastFrameMs, EventKind::Link, EventState::Stale);
        stop.text = QLatin1String("no good frame for ") %
                    QString::number(double(record.timeMs - lastFrameMs) / 1000.0, 'f', 1) %
                    QLatin1String(" s") %
                    (lostInGap ? QString(QLatin1String(", ") % lostInGap->text) : QString());
        countStop(stop);
    }
    lastFrameMs = record.timeMs;
    lostInGap.reset();
    gapCounted = false;
    if (linkStale) {
        linkStale = false;
        JudgeEvent event = newEvent(record.timeMs, EventKind::Link, EventState::Live);
        event.name = QStringLiteral("link");
        event.text = QStringLiteral("link live again");
        events->append(event);
    }
    if (telemetry.hasExtendedFields())
        judgeFlags(telemetry, record.timeMs, events);
    judgeStates(telemetry, record.timeMs, events);

    const int cells = qBound(0, telemetry.cellCount, Telemetry::MaxCells);
    for (const Limit limit : {Limit::CellMin, Limit::CellMax}) {
        const Threshold &threshold = thresholds[int(limit)];
        if (threshold.active)
            for (int cell = 0; cell < cells; ++cell)
                judgeValue(threshold, cell, telemetry.cellMillivolts[cell], record, events);
    }
    judgeSpread(telemetry, record.timeMs, events);
    for (const Limit limit : {Limit::TemperatureMin, Limit::TemperatureMax}) {
        const Threshold &threshold = thresholds[int(limit)];
        if (!threshold.active)
            continue;
        for (int sensor = 0; sensor < TemperatureSensorCount; ++sensor)
            if (telemetry.carries(TemperatureSensor(sensor)))
                judgeValue(threshold, sensor,
                           telemetry.temperature(TemperatureSensor(sensor)) / 10.0, record, events);
    }
    const std::pair<Limit, double> single[] = {
        {Limit::PackMin, telemetry.packMillivolts},
        {Limit::PackMax, telemetry.packMillivolts},
        {Limit::ChargeCurrent, telemetry.currentMilliamps},
        {Limit::DischargeCurrent, -double(telemetry.currentMilliamps)},
        {Limit::SocMin, telemetry.stateOfCharge},
    };
    for (const auto &[limit, value] : single)
        if (thresholds[int(limit)].active)
            judgeValue(thresholds[int(limit)], 0, value, record, events);
}

void Judge::linkOpened(qint64 timeMs, QVector<JudgeEvent> *events)
{
    linkOpen = true;
    linkStale = false;
    lastGoodMs = timeMs;
    checkTally.link.watched = true;
    checkTally.link.lostAtMs = -1;
    checkTally.link.lostReason.clear();
    if (lastFrameMs < 0)
        lastFrameMs = timeMs;
    // A state change is one the board made while watched, not one since the last link.
    hasStates = false;
    JudgeEvent event = newEvent(timeMs, EventKind::Link, EventState::Opened);
    event.name = QStringLiteral("link");
    event.text = QStringLiteral("link opened");
    events->append(event);
}

void Judge::linkLost(qint64 timeMs, const QString &reason, QVector<JudgeEvent> *events)
{
    if (!linkOpen)
        return;
    linkOpen = false;
    linkStale = false;
    JudgeEvent event = newEvent(timeMs, EventKind::Link, EventState::Lost);
    event.name = QStringLiteral("link");
    event.text = reason.isEmpty() ? QStringLiteral("link lost")
                                  : QString(QLatin1String("link lost: ") % reason);
    events->append(event);
    ++checkTally.link.lost;
    checkTally.link.lostAtMs = timeMs;
    checkTally.link.lostReason = reason;
    lostInGap = event;
}

qint64 Judge::nextLinkCheckMs() const
{
    return linkOpen && !linkStale ? lastGoodMs + StaleAfterMs : -1;
}

void Judge::checkLink(qint64 nowMs, QVector<JudgeEvent> *events)
{
    const qint64 staleAt = nextLinkCheckMs();
    if (staleAt < 0 || nowMs < staleAt)
        return;
    linkStale = true;
    // Stamped when the link went stale, however late the caller looked.
    JudgeEvent event = newEvent(staleAt, EventKind::Link, EventState::Stale);
    event.name = QStringLiteral("link");
    event.text = QLatin1String("link stale: no good frame for ") %
                 QString::number(StaleAfterMs / 1000) % QLatin1String(" s");
    events->append(event);
    if (!gapCounted)
        countStop(event);
}

void Judge::endRun(qint64 nowMs, QVector<JudgeEvent> *events)
{
    checkLink(nowMs, events);
    tallyGap(nowMs);
}

void Judge::tallyGap(qint64 timeMs)
{
    if (checkTally.link.watched && lastFrameMs >= 0)
        checkTally.link.longestGapMs = qMax(checkTally.link.longestGapMs, timeMs - lastFrameMs);
}

void Judge::countStop(const JudgeEvent &event)
{
    gapCounted = true;
    if (!checkTally.link.stopped++)
        checkTally.link.firstStopped = event;
}
