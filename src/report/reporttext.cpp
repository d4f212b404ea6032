#include "report/reporttext.h"

#include <QDateTime>
#include <QLocale>

QString ReportText::utcTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" UTC");
}

QString ReportText::utcTimeMs(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString ReportText::localTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toLocalTime().toString(
        QStringLiteral("yyyy-MM-dd HH:mm:ss t"));
}

QString ReportText::duration(qint64 ms)
{
    if (ms < 10000)
        return QStringLiteral("%1 s").arg(decimal(double(ms) / 1000.0, 1));
    const qint64 seconds = ms / 1000;
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    if (seconds < 48 * 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return QStringLiteral("%1 d %2 h").arg(seconds / 86400).arg(seconds % 86400 / 3600);
}

QString ReportText::decimal(double value, int decimals)
{
    return QLocale::c().toString(value, 'f', decimals);
}

QString ReportText::xml(const QString &text)
{
    QString escaped = text.toHtmlEscaped();
    for (QChar &c : escaped)
        if (c.unicode() < 0x20 && c != QLatin1Char('\t') && c != QLatin1Char('\n') &&
            c != QLatin1Char('\r'))
            c = QChar::ReplacementCharacter;
    return escaped;
}
