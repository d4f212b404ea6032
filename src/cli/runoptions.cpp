#include "runoptions.h"

#include "recorder.h"

#include <QCommandLineParser>

RunOptions::RunOptions(const QString &durationText, const QString &countText)
    : baud(QStringLiteral("baud"), QStringLiteral("Baud rate (default 115200)."),
           QStringLiteral("N"), QStringLiteral("115200")),
      poll(QStringLiteral("poll"), QStringLiteral("Ask every board for a frame every 100 ms, for "
                                                  "boards that send only when asked.")),
      duration(QStringLiteral("duration"), durationText, QStringLiteral("SECONDS")),
      count(QStringLiteral("count"), countText, QStringLiteral("N"))
{}

QString readRunOptions(const QCommandLineParser &parser, const RunOptions &options,
                       RecordSettings *settings)
{
    bool ok = false;
    settings->baudRate = parser.value(options.baud).toInt(&ok);
    if (!ok || settings->baudRate <= 0)
        return QStringLiteral("--baud: \"%1\" is not a rate above 0")
            .arg(parser.value(options.baud));
    if (parser.isSet(options.duration)) {
        const double seconds = parser.value(options.duration).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 1e9)
            return QStringLiteral("--duration: \"%1\" is not a number of seconds above 0")
                .arg(parser.value(options.duration));
        settings->durationMs = qint64(seconds * 1000 + 0.5);
    }
    if (parser.isSet(options.count)) {
        settings->count = parser.value(options.count).toLongLong(&ok);
        if (!ok || settings->count <= 0)
            return QStringLiteral("--count: \"%1\" is not a number above 0")
                .arg(parser.value(options.count));
    }
    settings->poll = parser.isSet(options.poll);
    return QString();
}
