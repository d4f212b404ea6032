#pragma once

#include "judge/limits.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <optional>

// --limits FILE and --events FILE, as record and check take them.
struct JudgeOptions
{
    QCommandLineOption limits{QStringLiteral("limits"),
                              QStringLiteral("Judge every frame against the limits in FILE "
                                             "(TOML; man keldro-cli names its keys)."),
                              QStringLiteral("FILE")};
    QCommandLineOption events{QStringLiteral("events"),
                              QStringLiteral("Append the events (alarms raised and cleared, "
                                             "protection flags, state changes, the link) to "
                                             "FILE as JSON Lines, instead of their text to "
                                             "standard error."),
                              QStringLiteral("FILE")};
};

// What the two ask for. Either one judges: --events alone gives the events that need
// no limits (the protection flags, state changes, the link).
struct JudgeSettings
{
    bool judging = false;
    Limits limits;
    QString limitsPath;
    QString eventsPath; // empty: the events' text to standard error
};

// Reads the limits file. Returns the exit status when the run ends here, after saying
// why (also in *message, when given): 3 for a file that cannot be read, 2 for one that
// is malformed (the message names the file, the line and the key).
std::optional<int> readJudgeOptions(const QCommandLineParser &parser, const JudgeOptions &options,
                                    JudgeSettings *settings, QString *message = nullptr);
