#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <optional>

// What each command says about itself in its --help, around the options that
// QCommandLineParser lists.
struct SubcommandHelp
{
    const char *name;     // "record"
    const char *synopsis; // "[options] PORT..."
    const char *description;
    const char *details; // examples, output, exit status
};

// Parses arguments (the command's name first). Returns the exit status when the run
// ends here: 0 after --help, 2 after a usage error (said on standard error).
std::optional<int> parseSubcommand(QCommandLineParser &parser, const QStringList &arguments,
                                   const SubcommandHelp &help);

// "keldro-cli record: <message> (see keldro-cli record --help)"; returns 2.
int usageError(const SubcommandHelp &help, const QString &message);

// The exit statuses, as every --help ends.
extern const char ExitStatusHelp[];

int runList(const QStringList &arguments);
int runRecord(const QStringList &arguments);
int runSend(const QStringList &arguments);
int runCheck(const QStringList &arguments);
int runReport(const QStringList &arguments);
int runHealth(const QStringList &arguments);
