#include "ptypair.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    // Raw from the start, so that nothing written before the tool opens the slave
    // is echoed back or held for a line end.
    termios tio{};
    tcgetattr(slaveFd, &tio);
    cfmakeraw(&tio);
    tcsetattr(slaveFd, TCSANOW, &tio);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    path = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair()
{
    closeMaster();
    if (slaveFd >= 0)
        ::close(slaveFd);
}

bool PtyPair::write(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EAGAIN) {
            pollfd p{masterFd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool PtyPair::writeInPieces(const QByteArray &bytes, int pieceSize, int pauseMs)
{
    for (qsizetype at = 0; at < bytes.size(); at += pieceSize) {
        if (at > 0)
            QThread::msleep(ulong(pauseMs));
        if (!write(bytes.mid(at, pieceSize)))
            return false;
    }
    return true;
}

QByteArray PtyPair::read(int minBytes, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (masterFd >= 0) {
        char buf[4096];
        const ssize_t n = ::read(masterFd, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, int(n));
            continue;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (got.size() >= minBytes || left <= 0)
            break;
        // The tool writes from the event loop, so keep it running while waiting.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{masterFd, POLLIN, 0};
        ::poll(&p, 1, int(qMin<qint64>(left, 5)));
    }
    return got;
}

// Closing the master removes the slave's node at once, but the kernel hands its
// number to the next pseudo-terminal opened anywhere as soon as no descriptor of
// the slave is left. Suites running side by side open them all the time, so the
// "unplugged" path would soon exist again as another process's device. The slave
// descriptor kept here holds the number until the pair is destroyed.
void PtyPair::closeMaster()
{
    if (masterFd >= 0)
        ::close(masterFd);
    masterFd = -1;
}
