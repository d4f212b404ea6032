#include "ptydevice.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Bytes the board writes while nobody has the port open go into the void on a
// real line; the pty would keep them and hand them to the tool in one pile, glued
// to the next burst, the moment it opens. So a burst nobody has read this soon
// after its end is dropped whole. The board keeps at least 50 ms between bursts:
// a tool that opens the port and reads a burst within this time still sees more
// than 30 ms of silence before the next one and takes it as a chunk of its own.
constexpr int UnheardAfterMs = 12;
} // namespace

PtyDevice::PtyDevice(QObject *parent) : QIODevice(parent), unheardTimer(new QTimer(this))
{
    unheardTimer->setSingleShot(true);
    unheardTimer->setInterval(UnheardAfterMs);
    connect(unheardTimer, &QTimer::timeout, this, &PtyDevice::checkListener);
}

PtyDevice::~PtyDevice()
{
    close();
}

bool PtyDevice::open(OpenMode mode)
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        setErrorString(QString::fromLocal8Bit(strerror(errno)));
        masterFd = slaveFd = -1;
        return false;
    }
    termios tio{};
    tcgetattr(slaveFd, &tio);
    cfmakeraw(&tio);
    tcsetattr(slaveFd, TCSANOW, &tio);
    // Writes never block: a board does not wait for a listener.
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    path = QString::fromLocal8Bit(name);

    notifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &QIODevice::readyRead);
    return QIODevice::open(mode | QIODevice::Unbuffered);
}

void PtyDevice::close()
{
    if (masterFd < 0)
        return;
    QIODevice::close();
    delete notifier;
    notifier = nullptr;
    ::close(masterFd);
    ::close(slaveFd);
    masterFd = slaveFd = -1;
}

qint64 PtyDevice::bytesAvailable() const
{
    int pending = 0;
    if (masterFd >= 0)
        ioctl(masterFd, FIONREAD, &pending);
    return pending + QIODevice::bytesAvailable();
}

qint64 PtyDevice::readData(char *data, qint64 maxSize)
{
    const ssize_t n = ::read(masterFd, data, size_t(maxSize));
    if (n < 0)
        return errno == EAGAIN || errno == EINTR ? 0 : -1;
    return n;
}

// Once a listener has read a burst, it is trusted until a burst waits unread
// for a whole gap: then it has closed the port or stalled.
void PtyDevice::checkListener()
{
    int unread = 0;
    ioctl(slaveFd, FIONREAD, &unread);
    if (unread > 0) {
        tcflush(slaveFd, TCIFLUSH);
        listening = false;
    } else if (unreadWritten) {
        listening = true;
    }
    unreadWritten = false;
}

void PtyDevice::burstEnded()
{
    inBurst = false;
    if (!listening)
        unheardTimer->start();
}

qint64 PtyDevice::writeData(const char *data, qint64 size)
{
    if (!inBurst) {
        unheardTimer->stop();
        checkListener();
        inBurst = true;
    }
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(masterFd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a full buffer: the rest is lost, as on a line nobody reads
        done += n;
    }
    unreadWritten = unreadWritten || done > 0;
    return size;
}
