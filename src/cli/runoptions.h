#pragma once

#include <QCommandLineOption>
#include <QString>

class QCommandLineParser;
struct RecordSettings;

// --baud, --poll, --duration and --count: how record and check read their ports and for
// how long. The two word --duration and --count for what they do.
struct RunOptions
{
    RunOptions(const QString &durationText, const QString &countText);

    QCommandLineOption baud;
    QCommandLineOption poll;
    QCommandLineOption duration;
    QCommandLineOption count;
};

// Fills the rate, the poll, the duration and the count of *settings from what was given.
// Empty, or the usage error's message for a value that makes no sense.
QString readRunOptions(const QCommandLineParser &parser, const RunOptions &options,
                       RecordSettings *settings);
