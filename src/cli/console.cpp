#include "console.h"

#include <QByteArray>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
bool statusShown = false;

void put(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}
} // namespace

bool Console::isTerminal()
{
    static const bool terminal = isatty(STDERR_FILENO);
    return terminal;
}

int Console::terminalColumns()
{
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

void Console::error(const QString &message)
{
    line(QStringLiteral("keldro-cli: ") + message);
}

void Console::line(const QString &text)
{
    clearStatus();
    put(text.toLocal8Bit() + '\n');
}

void Console::showStatus(const QString &text)
{
    if (!isTerminal())
        return;
    // Carriage return and erase to the end of the line: the line is drawn over in place.
    put("\r" + text.toLocal8Bit() + "\x1b[K");
    statusShown = true;
}

void Console::clearStatus()
{
    if (!statusShown)
        return;
    put("\r\x1b[K");
    statusShown = false;
}
