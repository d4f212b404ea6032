#pragma once

#include "judge/checkrow.h"
#include "judge/checktally.h"
#include "judge/judgeevent.h"
#include "judge/limits.h"
#include "report/boardsession.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

class TrendStore;

// Everything a station report shows of one board, gathered from a recording or from
// the window's live session: the frames' facts, the judge's tally and events, the cell
// health, and the trends store its plots draw from.
struct ReportData
{
    // Error: a row could not be judged (a [health] limit not measured), as check says.
    enum class Verdict { Pass, Fail, Error, NotJudged };

    QString title;
    QString source;         // the recording's file name, or what the live session was
    QStringList otherPorts; // ports of the recording the report leaves out
    BoardSession session;
    QString notice; // what the reader must know about the frames: "the last line is cut short"

    // Judged when limits were given: the check table's rows come from the tally, and
    // those of [health] from the cell health (see concludeReport).
    bool judged = false;
    Limits limits;
    QString limitsFile;
    CheckTally tally;
    QVector<CheckRow> checks;

    QVector<JudgeEvent> events; // oldest first
    QString eventsFrom;         // "night.events.jsonl", or empty when the report judged them

    // The cell health as `keldro-cli health --format json` gives it, and why what is
    // null there was not measured.
    QJsonObject health;
    QStringList healthNotes;

    std::shared_ptr<const TrendStore> store;
    qint64 madeMs = 0; // when the report was made, UTC

    Verdict verdict() const;
};

// The verdict as the report's first page and keldro-report's last line say it:
// "PASS", "FAIL", "ERROR" or "NOT JUDGED".
QString verdictWord(ReportData::Verdict verdict);

// What a report concludes from what was gathered in data: the check's rows, [health]
// judged on the session's cell health, and that cell health itself.
void concludeReport(ReportData *data);
