#include "eventoutput.h"

#include "console.h"
#include "record/recordformat.h"

#include <QFile>

bool EventOutput::write(const QVector<JudgeEvent> &events)
{
    if (!error.isEmpty())
        return false;
    if (events.isEmpty())
        return true;
    lines.clear();
    for (const JudgeEvent &event : events) {
        if (file) {
            lines += event.toJson();
        } else {
            appendRecordTime(lines, event.timeMs);
            lines += ' ' + event.port.toUtf8() + ' ' + event.text.toUtf8();
        }
        lines += '\n';
    }
    if (!file) {
        lines.chop(1);
        Console::line(QString::fromUtf8(lines));
        return true;
    }
    // Events are few: each frame's go out at once, whole lines in one write, so that a
    // killed run keeps every event up to its last frame.
    if (file->write(lines) == lines.size())
        return true;
    error = QStringLiteral("writing %1 failed: %2").arg(file->fileName(), file->errorString());
    return false;
}
