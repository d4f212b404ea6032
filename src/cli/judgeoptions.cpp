#include "judgeoptions.h"

#include "console.h"
#include "exitstatus.h"
#include "judge/limitsfile.h"

#include <QFileInfo>

std::optional<int> readJudgeOptions(const QCommandLineParser &parser, const JudgeOptions &options,
                                    JudgeSettings *settings, QString *message)
{
    auto refuse = [message](int status, const QString &why) {
        Console::error(why);
        if (message)
            *message = why;
        return status;
    };
    settings->judging = parser.isSet(options.limits) || parser.isSet(options.events);
    settings->eventsPath = parser.value(options.events);
    if (!parser.isSet(options.limits))
        return std::nullopt;
    settings->limitsPath = parser.value(options.limits);
    if (!QFileInfo(settings->limitsPath).isFile() ||
        !QFileInfo(settings->limitsPath).isReadable()) {
        return refuse(CannotStart,
                      QStringLiteral("cannot read the limits file %1").arg(settings->limitsPath));
    }
    QString error;
    const std::optional<Limits> limits = readLimitsFile(settings->limitsPath, &error);
    if (!limits)
        return refuse(UsageError, error);
    settings->limits = *limits;
    return std::nullopt;
}
