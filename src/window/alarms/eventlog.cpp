#include "window/alarms/eventlog.h"

#include "window/alarms/alarmstyle.h"

#include <QBrush>
#include <QDateTime>

EventLog::EventLog(QObject *parent) : QAbstractTableModel(parent) {}

int EventLog::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(entries.size());
}

int EventLog::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EventLog::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(entries.size()))
        return QVariant();
    const Entry &entry = entries[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn:
            // Milliseconds: a board sends ten frames a second, and a raise and its clear
            // can be one frame apart. The date is in the tooltip: a session seldom
            // spans two.
            return QDateTime::fromMSecsSinceEpoch(entry.event.timeMs)
                .toString(QStringLiteral("HH:mm:ss.zzz"));
        case PortColumn:
            return entry.event.port;
        case TextColumn:
            return entry.event.text;
        }
        break;
    case Qt::BackgroundRole:
        if (entry.marked)
            return QBrush(AlarmStyle::background());
        break;
    case Qt::ToolTipRole:
        switch (index.column()) {
        case TimeColumn:
            return QDateTime::fromMSecsSinceEpoch(entry.event.timeMs)
                .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        case PortColumn:
            return entry.event.port;
        case TextColumn:
            // The whole text, which a narrow window cuts short.
            return entry.marked ? tr("%1\n(raised now)").arg(entry.event.text) : entry.event.text;
        }
        break;
    }
    return QVariant();
}

QVariant EventLog::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return tr("Time");
    case PortColumn:
        return tr("Port");
    case TextColumn:
        return tr("Event");
    }
    return QVariant();
}

QVector<JudgeEvent> EventLog::events() const
{
    QVector<JudgeEvent> all;
    all.reserve(int(entries.size()));
    for (const Entry &entry : entries)
        all.append(entry.event);
    return all;
}

void EventLog::append(const QVector<JudgeEvent> &events)
{
    if (events.isEmpty())
        return;
    const int adding = qMin(int(events.size()), MaxEvents);
    const int dropping = qMax(0, int(entries.size()) + adding - MaxEvents);
    if (dropping > 0) {
        beginRemoveRows(QModelIndex(), 0, dropping - 1);
        entries.erase(entries.begin(), entries.begin() + dropping);
        endRemoveRows();
    }
    const int first = int(entries.size());
    beginInsertRows(QModelIndex(), first, first + adding - 1);
    for (int i = events.size() - adding; i < events.size(); ++i)
        entries.push_back(Entry{events[i], false});
    endInsertRows();

    for (int row = first; row < int(entries.size()); ++row) {
        const JudgeEvent &event = entries[size_t(row)].event;
        if (!event.isAlarm)
            continue;
        if (event.state == EventState::Raised) {
            setMarked(row, true);
            continue;
        }
        for (int earlier = row - 1; earlier >= 0; --earlier)
            if (entries[size_t(earlier)].marked &&
                entries[size_t(earlier)].event.isSameAlarm(event)) {
                setMarked(earlier, false);
                break;
            }
    }
}

void EventLog::keepMarksOf(const QVector<JudgeEvent> &raised)
{
    for (int row = 0; row < int(entries.size()); ++row) {
        if (!entries[size_t(row)].marked)
            continue;
        const JudgeEvent &event = entries[size_t(row)].event;
        const bool stillRaised =
            std::any_of(raised.begin(), raised.end(), [&](const JudgeEvent &r) {
                return r.isSameAlarm(event) && r.timeMs == event.timeMs;
            });
        if (!stillRaised)
            setMarked(row, false);
    }
}

void EventLog::setMarked(int row, bool marked)
{
    entries[size_t(row)].marked = marked;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1),
                     {Qt::BackgroundRole, Qt::ToolTipRole});
}
