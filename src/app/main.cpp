#include "app/startupprobe.h"
#include "serial/serialenumerator.h"
#include "window/widget.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
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

QStringList virtualPortsFromCommandLine(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Service tool for the BMS board on a serial line."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption addPort(
        QStringLiteral("add-port"),
        QStringLiteral("List PATH as a serial port while it exists (a simulator's "
                       "pseudo-terminal, a socat link). Repeatable."),
        QStringLiteral("PATH"));
    parser.addOption(addPort);
    parser.process(app);
    return parser.values(addPort);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("keldro"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KELDRO_VERSION));
    if (onlyPrints(argc, argv)) {
        QCoreApplication app(argc, argv);
        virtualPortsFromCommandLine(app);
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
    for (const QString &path : virtualPortsFromCommandLine(app))
        SerialEnumerator::addVirtualPort(path);

    // Consolas is rarely installed outside Windows. Inconsolata was drawn after it
    // and is nearly as narrow, which the small value fields need; failing that, the
    // hint still picks a fixed-pitch face so that digits line up.
    QFont::insertSubstitution(QStringLiteral("Consolas"), QStringLiteral("Inconsolata"));
    QFont font(QStringLiteral("Consolas"), 11);
    font.setStyleHint(QFont::Monospace);
    QApplication::setFont(font);

    Widget window;
    window.show();
    StartupProbe::watch(&window);
    return app.exec();
}
