#pragma once

#include "judge/judgeevent.h"
#include "record/linefilewriter.h"

#include <QString>
#include <QVector>
#include <optional>

class QFile;

// Where the events of a run go: to an events file, one JSON object per line as the
// window's events files hold them, or, without one, to standard error, each event's
// text after its time and port, as board text goes there:
//
//   2026-12-07T16:58:03.123Z ttyUSB0 cell 7 at 4262 mV, above 4250 mV
class EventOutput
{
public:
    // file is open for appending; null for standard error.
    explicit EventOutput(QFile *file = nullptr);

    // False once the file took less than a whole line; errorString() says why.
    bool write(const QVector<JudgeEvent> &events);
    // The events onto the disk, at the end of a run; false as write().
    bool sync();
    QString errorString() const { return error; }
    bool isFile() const { return file; }

private:
    bool failed();

    QFile *file;
    std::optional<LineFileWriter> lines;
    QString error;
};
