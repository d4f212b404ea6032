#pragma once

#include "portcheck.h"

class QIODevice;

// A check as JUnit XML, which Jenkins (junit step) and GitLab (artifacts:reports:junit)
// show as test results: one testsuite per port, one testcase per limit the file sets
// and one named "protection". A failed testcase's message is the text of the first
// raised event and the count of raised events; a port that sent no frame has each of
// its testcases in error, and so has a [health] limit that could not be measured (the
// message says why). [health] has a testcase per key the file sets.
//
// limitsPath names the limits file in each testsuite's properties.
bool writeJUnitReport(QIODevice *device, const Limits &limits, const QString &limitsPath,
                      const QVector<PortCheck> &checks);
