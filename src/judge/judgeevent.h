#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>
#include <optional>

class QIODevice;

enum class EventKind : quint8 { Protection, Limit, State, Link };
enum class EventState : quint8 { Raised, Cleared, Changed, Opened, Lost, Stale, Live };

// The value field of the window an event is about, so that it can be marked.
enum class EventField : quint8 {
    None, // link events
    Cell, // cell_min, cell_max; cell_spread concerns two cells
    Pack,
    Current,
    StateOfCharge,
    Sensor,         // temperature_min, temperature_max
    ProtectionFlag, // oc … high_temp
    SystemState,
    BmsState,
};

// One thing the judge saw: a protection flag raised or cleared, a limit crossed or back
// inside, a state change, a link opened, lost, stale or live again. The JSON object of an
// events file holds the fields from time to text under the same names; the fields after
// them are what the window and the pass/fail tally need beside.
struct JudgeEvent
{
    qint64 timeMs = 0; // UTC, milliseconds since the epoch, as TelemetryRecord::timeMs
    QString port;
    EventKind kind = EventKind::Link;
    QString name; // "cell_max", "ov", "bms_state", "link"
    EventState state = EventState::Opened;
    int cell = 0;   // 1-15 for cell_min and cell_max; 0 (null) for every other event
    QString sensor; // "ntc2_C" for temperature limits; empty (null) for every other event
    std::optional<double> value; // what crossed; the new state code; none for link events
    std::optional<double> limit; // the limit crossed; none for other kinds
    QString text;                // "cell 7 at 4262 mV, above 4250 mV"

    EventField field = EventField::None;
    // Cell 0-14, sensor 0-4 or flag bit 0-6, by field; -1 for the fields that are one.
    // A spread concerns its lowest cell (index) and its highest (otherIndex).
    int index = -1;
    int otherIndex = -1;
    // A raised or cleared limit, or a flag that fails a check (Limits::failOn). Other
    // flags give events too, but no alarm.
    bool isAlarm = false;

    // Whether the two are about the same alarm: a cleared event and the one it clears.
    bool isSameAlarm(const JudgeEvent &other) const;

    // One compact JSON object, without a line end.
    QByteArray toJson() const;
    // From one line of an events file. isAlarm comes back true for every raised or
    // cleared event (the file does not keep fail_on), otherIndex as -1.
    static std::optional<JudgeEvent> fromJson(const QByteArray &line, QString *errorMessage);
};

Q_DECLARE_METATYPE(JudgeEvent)

const char *eventKindName(EventKind kind);    // "limit"
const char *eventStateName(EventState state); // "raised"

// Reads an events file (JSON Lines, as written with toJson and a line end). Blank lines
// are skipped; anything else that is not an event fails with "line 7: …".
bool readEventLines(QIODevice *device, QVector<JudgeEvent> *events, QString *errorMessage);
