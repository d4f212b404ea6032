#pragma once

#include "judge/limits.h"

#include <QString>
#include <optional>

// What a report of a recording is asked for, as keldro-cli report and the window's
// Export report… take it.
struct ReportRequest
{
    QString recording;
    QString output; // .pdf or .html
    QString title;  // empty: the recording's file name
    QString port;   // empty: the first port the recording names
    std::optional<Limits> limits;
    QString limitsFile;
    QString eventsFile; // empty: the events file beside the recording, if there is one
};
