#pragma once

#include "report/reportdata.h"
#include "report/reportrequest.h"

#include <atomic>
#include <optional>

// Reads a recording once for its report: every frame of the chosen port goes into the
// board's session, the trends store and the judge (with the limits, if any; without,
// the judge still tells the protection flags and state changes). The events come from
// the events file when there is one, else from that judge.
//
// Returns nothing, with the reason in *error ("night.csv: line 7: …"), for a recording
// or events file that does not read, one without frames, or when cancelled (then
// *error is empty). Safe on any thread; *permille tells how far it has read.
std::optional<ReportData> scanRecording(const ReportRequest &request,
                                        const std::atomic<bool> &cancelled,
                                        std::atomic<int> *permille, QString *error);

// The events file a recording keeps beside it: the window's night.events.jsonl for
// night.csv, else night.csv.events.jsonl; empty when there is neither.
QString eventsFileBeside(const QString &recording);
