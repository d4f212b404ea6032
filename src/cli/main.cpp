#include "exitstatus.h"
#include "subcommand.h"

#include <QCoreApplication>
#include <cstdio>
#include <keldro_version.h>

namespace {

const char Overview[] =
    "Usage: keldro-cli COMMAND [options] [arguments]\n"
    "\n"
    "Records, watches and commands BMS boards on serial ports, without the window.\n"
    "\n"
    "Commands:\n"
    "  list    the serial ports present\n"
    "  record  one row per telemetry frame, CSV or JSON Lines, from one or more ports\n"
    "  send    one command to a board: off, boot, calibrate-soc, set-date\n"
    "  check   judge boards or a recording against a limits file: a PASS/FAIL table,\n"
    "          exit status 4 when an alarm was raised, a JUnit report for CI\n"
    "  health  which cell is weak: each cell's resistance from the current's steps, its\n"
    "          sag as the pack empties, the charge counted, from recordings or ports\n"
    "  report  a station's report of a recording, PDF or HTML: the verdict, the checks,\n"
    "          the cell health, plots and events (runs keldro-report)\n"
    "\n"
    "keldro-cli COMMAND --help describes a command, with examples.\n"
    "\n"
    "Options:\n"
    "  -h, --help  Show this help and exit.\n"
    "  --version   Show the version and exit.\n"
    "\n"
    "Examples:\n"
    "  keldro-cli list\n"
    "  keldro-cli record --poll /dev/ttyUSB0 -o charge.csv\n"
    "  keldro-cli send /dev/ttyUSB0 off\n"
    "  keldro-cli check ttyUSB0 --limits pack.toml --duration 60 --junit report.xml\n"
    "  keldro-cli health night.csv\n"
    "  keldro-cli report night.csv --limits pack.toml -o night.pdf\n"
    "\n";

int run(const QStringList &arguments)
{
    const QString command = arguments.value(0);
    if (command == QLatin1String("list"))
        return runList(arguments);
    if (command == QLatin1String("record"))
        return runRecord(arguments);
    if (command == QLatin1String("send"))
        return runSend(arguments);
    if (command == QLatin1String("check"))
        return runCheck(arguments);
    if (command == QLatin1String("health"))
        return runHealth(arguments);
    if (command == QLatin1String("report"))
        return runReport(arguments);
    if (command == QLatin1String("help") && arguments.size() > 1)
        return run({arguments.at(1), QStringLiteral("--help")});
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::printf("%s%s", Overview, ExitStatusHelp);
        return Done;
    }
    if (command == QLatin1String("--version")) {
        std::printf("keldro-cli %s\n", KELDRO_VERSION);
        return Done;
    }
    const QString what = command.isEmpty() ? QStringLiteral("no command")
                                           : QStringLiteral("unknown command \"%1\"").arg(command);
    std::fprintf(stderr,
                 "keldro-cli: %s; the commands are list, record, send, check, health and report "
                 "(see keldro-cli --help)\n",
                 what.toLocal8Bit().constData());
    return UsageError;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("keldro-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELDRO_VERSION));
    return run(QCoreApplication::arguments().mid(1));
}
