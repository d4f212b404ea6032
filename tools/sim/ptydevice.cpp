#include "ptydevice.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PtyDevice::PtyDevice(QObject *parent) : QIODevice(parent) {}

PtyDevice::~PtyDevice()
{
    close();
}

bool PtyDevice::open(OpenMode mode)
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        setErrorString(QString::fromLocal8Bit(std::strerror(errno)));
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

    // Where inotify is not available every burst is sent, listener or not.
    watchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watchFd >= 0 && inotify_add_watch(watchFd, name, IN_OPEN | IN_CLOSE) < 0) {
        ::close(watchFd);
        watchFd = -1;
    }

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
    if (watchFd >= 0)
        ::close(watchFd);
    ::close(masterFd);
    ::close(slaveFd);
    masterFd = slaveFd = watchFd = -1;
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

void PtyDevice::countListeners()
{
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t n = ::read(watchFd, events, sizeof events);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(events + at);
            if (event->mask & IN_OPEN)
                ++listeners;
            if (event->mask & IN_CLOSE)
                listeners = qMax(0, listeners - 1);
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
}

bool PtyDevice::hasListener()
{
    if (watchFd < 0)
        return true;
    countListeners();
    return listeners > 0;
}

qint64 PtyDevice::writeData(const char *data, qint64 size)
{
    if (!inBurst && watchFd >= 0) {
        inBurst = true;
        countListeners();
        sendingBurst = listeners > 0;
        // The rest of a burst that was under way when the tool closed the port.
        if (!sendingBurst)
            tcflush(slaveFd, TCIFLUSH);
    }
    if (!sendingBurst)
        return size;

    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::write(masterFd, data + done, size_t(size - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a full buffer: the rest is lost, as on a line nobody reads
        done += n;
    }
    return size;
}
