#include "console.h"
#include "exitstatus.h"
#include "porttarget.h"
#include "protocol/commandframe.h"
#include "serial/serialport.h"
#include "subcommand.h"

#include <QDate>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const SubcommandHelp Help{
    "send", "[options] PORT off|boot|calibrate-soc|set-date [YYYY-MM-DD]",
    "Sends one command frame to the board, the same 12 bytes as the window:\n"
    "  off            power off\n"
    "  boot           update the firmware: the board waits in its boot mode for one\n"
    "  calibrate-soc  calibrate the state of charge\n"
    "  set-date       set the manufacture date, today unless a date follows\n"
    "boot, calibrate-soc and set-date ask on the terminal first; --yes answers for you.\n"
    "Without a terminal and without --yes they are not sent (exit status 2).",
    "Examples:\n"
    "  keldro-cli send /dev/ttyUSB0 off\n"
    "  keldro-cli send ttyUSB0 set-date 2026-12-07 --yes -v\n"
    "  keldro-cli send rfc2217://rack-pc:7000 off\n"};

// How long a frame may take to leave, and through a server to reach the line; 12
// bytes need 1 ms at 115200 baud.
constexpr int WriteTimeoutMs = 3000;

struct Command
{
    const char *name;
    const char *question; // empty: sent without asking
};

const Command Commands[] = {
    {"off", ""},
    {"boot", "Are you sure you want to update the firmware of the board on %1? It waits in its "
             "boot mode for a new one."},
    {"calibrate-soc", "Are you sure you want to calibrate the state of charge of the board on %1?"},
    {"set-date", "Are you sure you want to set the manufacture date of the board on %1 to %2?"},
};

// The terminal a question goes to: the controlling one, whatever standard input and
// output are, else standard input when that is a terminal.
class Terminal
{
public:
    Terminal()
    {
        fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
        owned = fd >= 0;
        if (!owned && isatty(STDIN_FILENO))
            fd = STDIN_FILENO;
    }
    ~Terminal()
    {
        if (owned)
            ::close(fd);
    }
    bool isValid() const { return fd >= 0; }

    bool confirm(const QString &question)
    {
        const QByteArray prompt = question.toLocal8Bit() + " [y/N] ";
        const int out = owned ? fd : STDERR_FILENO;
        if (::write(out, prompt.constData(), size_t(prompt.size())) < 0)
            return false;
        QByteArray answer;
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n')
            answer += c;
        answer = answer.trimmed().toLower();
        return answer == "y" || answer == "yes";
    }

private:
    int fd = -1;
    bool owned = false;
};

QString hex(const CommandFrame &frame)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()))
            .toHex(' ')
            .toUpper());
}

} // namespace

int runSend(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption baud(QStringLiteral("baud"),
                                  QStringLiteral("Baud rate (default 115200)."),
                                  QStringLiteral("N"), QStringLiteral("115200"));
    const QCommandLineOption yes({QStringLiteral("y"), QStringLiteral("yes")},
                                 QStringLiteral("Send without asking."));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Print the bytes sent, in hex."));
    parser.addOptions({baud, yes, verbose});
    parser.addPositionalArgument(QStringLiteral("PORT"),
                                 QStringLiteral("ttyUSB0, /dev/ttyUSB0, the path of a device, or "
                                                "rfc2217://HOST:PORT or tcp://HOST:PORT."));
    parser.addPositionalArgument(QStringLiteral("COMMAND"),
                                 QStringLiteral("off, boot, calibrate-soc or set-date."));
    parser.addPositionalArgument(QStringLiteral("DATE"),
                                 QStringLiteral("For set-date: YYYY-MM-DD (default today)."),
                                 QStringLiteral("[DATE]"));
    if (const auto status = parseSubcommand(parser, arguments, Help))
        return *status;

    const QStringList positional = parser.positionalArguments();
    if (positional.size() < 2)
        return usageError(Help, QStringLiteral("a port and a command are needed"));
    const Command *command = nullptr;
    for (const Command &known : Commands)
        if (positional.at(1) == QLatin1String(known.name))
            command = &known;
    if (!command)
        return usageError(Help, QStringLiteral("unknown command \"%1\"; the commands are off, "
                                               "boot, calibrate-soc and set-date")
                                    .arg(positional.at(1)));
    const bool setDate = command == &Commands[3];
    if (positional.size() > (setDate ? 3 : 2))
        return usageError(
            Help,
            QStringLiteral("\"%1\" is one argument too many").arg(positional.at(setDate ? 3 : 2)));
    QDate date;
    if (positional.size() == 3) {
        date = QDate::fromString(positional.at(2), QStringLiteral("yyyy-MM-dd"));
        if (!date.isValid() || date.year() < 1980 || date.year() > 2107)
            return usageError(Help, QStringLiteral("\"%1\" is no date YYYY-MM-DD from 1980 to 2107")
                                        .arg(positional.at(2)));
    }
    bool baudOk = false;
    const qint32 baudRate = parser.value(baud).toInt(&baudOk);
    if (!baudOk || baudRate <= 0)
        return usageError(
            Help, QStringLiteral("--baud: \"%1\" is not a rate above 0").arg(parser.value(baud)));

    const bool ask = *command->question && !parser.isSet(yes);
    Terminal terminal;
    if (ask && !terminal.isValid())
        return usageError(Help, QStringLiteral("%1 asks first, and there is no terminal to ask "
                                               "on; add --yes to send it without asking")
                                    .arg(QLatin1String(command->name)));

    QString urlError;
    const std::optional<PortTarget> named = PortTarget::fromArgument(positional.at(0), &urlError);
    if (!named)
        return usageError(Help, urlError);
    const PortTarget &target = *named;
    if (const QString problem = target.problem(); !problem.isEmpty()) {
        Console::error(problem);
        return CannotStart;
    }
    PortSettings settings;
    settings.baudRate = baudRate;
    SerialPort port(target.path, settings, SerialPort::EventDriven);
    if (!port.open(QIODevice::ReadWrite)) {
        Console::error(target.openFailure(port));
        return CannotStart;
    }
    // The board would take a frame at another rate for noise.
    if (const QString problem = port.rateProblem(); !problem.isEmpty()) {
        Console::error(QStringLiteral("%1: %2; nothing sent").arg(target.name, problem));
        return CannotStart;
    }

    if (ask) {
        const QString shownDate =
            date.isValid() ? date.toString(Qt::ISODate) : QStringLiteral("today's date");
        QString question = QString::fromUtf8(command->question).arg(target.name);
        if (setDate)
            question = question.arg(shownDate);
        if (!terminal.confirm(question)) {
            Console::error(QStringLiteral("nothing sent"));
            return Done;
        }
    }
    // Today is read now, after the question, as the window does.
    if (setDate && !date.isValid())
        date = QDate::currentDate();
    const CommandFrame frame = command == &Commands[0]   ? powerOffFrame
                               : command == &Commands[1] ? bootFrame
                               : command == &Commands[2]
                                   ? socCalibrationFrame
                                   : setManufactureDateFrame(date.year(), date.month(), date.day());

    qint64 pending = qint64(frame.size());
    QEventLoop loop;
    QObject::connect(&port, &QIODevice::bytesWritten, &loop, [&](qint64 n) {
        pending -= n;
        if (pending <= 0)
            loop.quit();
    });
    QTimer::singleShot(WriteTimeoutMs, &loop, &QEventLoop::quit);
    if (port.write(reinterpret_cast<const char *>(frame.data()), qint64(frame.size())) ==
        qint64(frame.size()))
        loop.exec();
    if (pending > 0) {
        Console::error(QStringLiteral("%1 did not take the frame").arg(target.path));
        return LinkFailed;
    }
    if (!port.waitForWrittenOut(WriteTimeoutMs)) {
        Console::error(QStringLiteral("%1: the connection ended before the server had put the "
                                      "frame on the line; it may not have reached the board")
                           .arg(target.name));
        return LinkFailed;
    }
    if (parser.isSet(verbose))
        std::printf("%s\n", hex(frame).toLatin1().constData());
    Console::error(QStringLiteral("sent %1%2 to %3")
                       .arg(QLatin1String(command->name),
                            setDate ? QLatin1Char(' ') + date.toString(Qt::ISODate) : QString(),
                            target.name));
    return Done;
}
