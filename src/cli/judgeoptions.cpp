#include "judgeoptions.h"

#include "console.h"
#include "exitstatus.h"
#include "judge/limitsfile.h"

#include <QFileInfo>

std::optional<int> readJudgeOptions(const QCommandLineParser &parser, const JudgeOptions &options,
                                    JudgeSettings *settings)
{
    settings->judging = parser.isSet(options.limits) || parser.isSet(options.events);
    settings->eventsPath = parser.value(options.events);
    if (!parser.isSet(options.limits))
        return std::nullopt;
    settings->limitsPath = parser.value(options.limits);
    if (!QFileInfo(settings->limitsPath).isFile() ||
        !QFileInfo(settings->limitsPath).isReadable()) {
        Console::error(QStringLiteral("cannot read the limits file %1").arg(settings->limitsPath));
        return CannotStart;
    }
    QString error;
    const std::optional<Limits> limits = readLimitsFile(settings->limitsPath, &error);
    if (!limits) {
        Console::error(error);
        return UsageError;
    }
    settings->limits = *limits;
    return std::nullopt;
}
