#include "subcommand.h"

#include "console.h"
#include "exitstatus.h"

#include <cstdio>

const char ExitStatusHelp[] =
    "Exit status:\n"
    "  0  done; check: frames from every port and no alarm raised; report: written,\n"
    "     PASS or NOT JUDGED\n"
    "  1  the link failed during the run: a port lost with --no-reconnect, a full\n"
    "     disk, a frame the port did not take; check: a port sent no frame at all, was\n"
    "     lost and not back by the end, or a [health] limit could not be measured;\n"
    "     report: written with ERROR, or not written whole\n"
    "  2  usage: unknown command or option, a bad value (a rate of 0, a date that does\n"
    "     not exist, a port URL without a port), a malformed file (a limits file,\n"
    "     naming its line and key), a question with no terminal to ask it on; report:\n"
    "     a recording that does not read, an unknown extension, a folder that cannot\n"
    "     be written\n"
    "  3  cannot start: no such port, port busy or not permitted, a port server that\n"
    "     cannot be reached (with the reason), file not writable; report: keldro-report\n"
    "     is not installed\n"
    "  4  check: an alarm was raised (even if it cleared later), a port's frames\n"
    "     stopped for longer than 3 s, or a [health] limit failed; report: written,\n"
    "     FAIL\n";

std::optional<int> parseSubcommand(QCommandLineParser &parser, const QStringList &arguments,
                                   const SubcommandHelp &help)
{
    // Not addHelpOption(): that one also brings Qt's own options, which mean nothing here.
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    parser.addOption(helpOption);
    parser.setApplicationDescription(QString::fromUtf8(help.description));
    if (!parser.parse(arguments))
        return usageError(help, parser.errorText());
    if (!parser.isSet(helpOption))
        return std::nullopt;

    // The parser's usage line names the program only; the command goes in after it.
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char('\n')),
                 QStringLiteral("Usage: keldro-cli %1 %2\n")
                     .arg(QLatin1String(help.name), QString::fromUtf8(help.synopsis)));
    text += QLatin1Char('\n') + QString::fromUtf8(help.details) + QLatin1Char('\n') +
            QLatin1String(ExitStatusHelp);
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return Done;
}

int usageError(const SubcommandHelp &help, const QString &message)
{
    Console::line(QStringLiteral("keldro-cli %1: %2 (see keldro-cli %1 --help)")
                      .arg(QLatin1String(help.name), message));
    return UsageError;
}
