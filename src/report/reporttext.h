#pragma once

#include <QString>
#include <QtGlobal>

// How a report writes times, spans and numbers, and text that goes into its XHTML.
namespace ReportText {
QString utcTime(qint64 ms);   // "2026-12-07 16:58:03 UTC"
QString utcTimeMs(qint64 ms); // "2026-12-07 16:58:03.123"
QString localTime(qint64 ms); // "2026-12-07 17:58:03 CET"
QString duration(qint64 ms);  // "24 h 0 min", "3 min 12 s", "0.4 s"
QString decimal(double value, int decimals);
// Escaped for XHTML text and attributes; a control character a board or an events file
// brought, which XML cannot hold, becomes U+FFFD.
QString xml(const QString &text);
} // namespace ReportText
