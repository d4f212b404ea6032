#pragma once

#include "portcheck.h"

class QIODevice;

// A check as JUnit XML, which Jenkins (junit step) and GitLab (artifacts:reports:junit)
// show as test results: one testsuite per port, one testcase per limit the file sets,
// one named "protection" and, for a live check, one named "link". A failed testcase's
// message is the text of the first raised event and the count of raised events; a
// port that sent no frame has each of its testcases in error, a link lost and not back
// has its link testcase in error, and a value the layout does not carry is skipped.
//
// The XML keeps to the schema Jenkins and JUnit 5 ship (junit-4.xsd): <skipped> holds
// text only, and <testsuites> takes no attributes beyond name, time, tests, failures,
// disabled and errors. Every testcase's time is its port's check, all rows being
// judged over the same frames.
//
// limitsPath names the limits file in each testsuite's properties. runFailure, when
// given, is what ended the run early (an events file on a full disk): a testsuite of its
// own then holds it, as one testcase in error.
bool writeJUnitReport(QIODevice *device, const Limits &limits, const QString &limitsPath,
                      const QVector<PortCheck> &checks, const QString &runFailure = QString());

// The report of a check that could not be made (a malformed limits file, a recording
// that cannot be read, a port that does not open): one testcase, "run", in error, saying
// why, so that a CI never reads an earlier run's report as this one's.
bool writeJUnitRefusal(QIODevice *device, qint64 startMs, const QString &reason, int exitStatus);
