#pragma once

#include "judge/judgeevent.h"

#include <QAbstractTableModel>
#include <deque>

// The events of a session, oldest first, as a table of local time, port and text: the
// newest MaxEvents, so that a board that flaps for days does not fill the memory. The
// row of a raised alarm is marked until the alarm clears.
class EventLog : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr int MaxEvents = 10000;
    enum Column { TimeColumn, PortColumn, TextColumn, ColumnCount };

    explicit EventLog(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    const JudgeEvent &event(int row) const { return entries[size_t(row)].event; }
    bool isMarked(int row) const { return entries[size_t(row)].marked; }
    QVector<JudgeEvent> events() const;

    // A raised alarm marks its row; a cleared one takes the mark of the alarm it clears.
    void append(const QVector<JudgeEvent> &events);
    // Takes the marks off the rows of alarms that are no longer raised though no event
    // said so: the limits changed, or another board came on the link.
    void keepMarksOf(const QVector<JudgeEvent> &raised);

private:
    struct Entry
    {
        JudgeEvent event;
        bool marked = false;
    };
    void setMarked(int row, bool marked);

    std::deque<Entry> entries;
};
