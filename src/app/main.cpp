#include "app/startupprobe.h"
#include "serial/porturl.h"
#include "serial/serialenumerator.h"
#include "window/shippedfont.h"
#include "window/widget.h"
#include "window/windowmenu.h"
#include "window/windowsettings.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <cstdio>
#include <cstdlib>
#include <keldro_version.h>

namespace {

// --help and --version print and exit before any window system is needed, so
// they work over ssh and in scripts.
bool onlyPrints(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all" || arg == "-v" ||
            arg == "--version")
            return true;
    }
    return false;
}

struct CommandLine
{
    QStringList virtualPorts;
    QString recordPath;
    QString openPath;
    QString limitsPath;
    bool resetSettings = false;
};

CommandLine parseCommandLine(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Service tool for the BMS board on a serial line."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption addPort(
        QStringLiteral("add-port"),
        QStringLiteral("List PATH as a serial port while it exists (a simulator's "
                       "pseudo-terminal, a socat link), or a port that ser2net serves on "
                       "another machine: rfc2217://HOST:PORT (the baud box sets its rate) or "
                       "tcp://HOST:PORT (raw bytes). Repeatable."),
        QStringLiteral("PATH|URL"));
    parser.addOption(addPort);
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral("Record every frame the window shows to FILE from the start: CSV, or "
                       "JSON Lines when FILE ends in .jsonl."),
        QStringLiteral("FILE"));
    parser.addOption(record);
    const QCommandLineOption open(
        QStringLiteral("open"),
        QStringLiteral("Show the recording FILE (CSV or JSON Lines) in a trends window."),
        QStringLiteral("FILE"));
    parser.addOption(open);
    const QCommandLineOption limits(
        QStringLiteral("limits"),
        QStringLiteral("Judge the board against the limits in FILE (TOML) from the start. "
                       "A file with a mistake is refused with a message naming its line and "
                       "key."),
        QStringLiteral("FILE"));
    parser.addOption(limits);
    const QCommandLineOption resetSettings(
        QStringLiteral("reset-settings"),
        QStringLiteral("Start from the defaults and clear the remembered settings (port, rate, "
                       "window places, limits file, recent recordings)."));
    parser.addOption(resetSettings);
    parser.process(app);
    for (const QString &port : parser.values(addPort)) {
        QString error;
        if (PortUrl::isUrl(port) && !PortUrl::parse(port, &error)) {
            std::fprintf(stderr, "keldro: --add-port %s\n", qPrintable(error));
            std::exit(2);
        }
    }
    return CommandLine{parser.values(addPort), parser.value(record), parser.value(open),
                       parser.value(limits), parser.isSet(resetSettings)};
}

} // namespace

int main(int argc, char *argv[])
{
    // The settings live in $XDG_CONFIG_HOME/keldro/keldro.conf.
    QCoreApplication::setOrganizationName(QStringLiteral("keldro"));
    QCoreApplication::setApplicationName(QStringLiteral("keldro"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELDRO_VERSION));
    if (onlyPrints(argc, argv)) {
        QCoreApplication app(argc, argv);
        parseCommandLine(app);
        return 0;
    }

    // The port list's slowest part runs beside the start of the application object.
    SerialEnumerator::enumerateAhead();
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 scales to the screen by itself; Qt 5 has to be told before the application
    // object exists, or a 2x screen shows the fixed 892 x 625 window at half size.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    // Wayland compositors find the window's icon and name through its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.keldro.Keldro"));
    QApplication app(argc, argv);
    const CommandLine commandLine = parseCommandLine(app);
    for (const QString &path : commandLine.virtualPorts)
        SerialEnumerator::addVirtualPort(path);

    useShippedFont();

    QString settingsFile;
    if (commandLine.resetSettings && !WindowSettings::clearStored(&settingsFile))
        std::fprintf(stderr, "keldro: %s stays: it cannot be removed; remove it by hand.\n",
                     qUtf8Printable(QDir::toNativeSeparators(settingsFile)));

    // The window takes up what was remembered; what the command line names comes
    // after it and wins.
    Widget window;
    window.show();
    // Before recording starts, so that the recording keeps its events from the start.
    if (!commandLine.limitsPath.isEmpty())
        window.windowMenu()->loadLimits(commandLine.limitsPath);
    else
        window.windowMenu()->loadRememberedLimits();
    if (!commandLine.recordPath.isEmpty())
        window.windowMenu()->startRecording(commandLine.recordPath);
    if (!commandLine.openPath.isEmpty())
        window.windowMenu()->openRecording(commandLine.openPath);
    StartupProbe::watch(&window);
    return app.exec();
}
