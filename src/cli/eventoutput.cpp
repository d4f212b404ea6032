#include "eventoutput.h"

#include "console.h"
#include "record/recordformat.h"

#include <QFile>

EventOutput::EventOutput(QFile *file) : file(file)
{
    if (file)
        lines.emplace(file);
}

bool EventOutput::write(const QVector<JudgeEvent> &events)
{
    if (!error.isEmpty())
        return false;
    if (events.isEmpty())
        return true;
    if (!lines) {
        QByteArray text;
        for (const JudgeEvent &event : events) {
            if (!text.isEmpty())
                text += '\n';
            appendRecordTime(text, event.timeMs);
            text += ' ' + event.port.toUtf8() + ' ' + event.text.toUtf8();
        }
        Console::line(QString::fromUtf8(text));
        return true;
    }
    // Events are few: each frame's go out at once, whole lines in one write, so that a
    // killed run keeps every event up to its last frame.
    for (const JudgeEvent &event : events)
        lines->append(event.toJson() + '\n');
    return lines->flush() || failed();
}

bool EventOutput::sync()
{
    if (!error.isEmpty())
        return false;
    return !lines || lines->sync() || failed();
}

bool EventOutput::failed()
{
    error = QStringLiteral("writing %1 failed: %2").arg(file->fileName(), lines->errorString());
    return false;
}
