#include "stall.h"

#include <csignal>
#include <unistd.h>

// The children only sleep, signal and write: nothing that a fork of a process
// with threads may not do.

pid_t stopProcessLater(pid_t pid, int delayMs, int stopMs)
{
    const pid_t child = fork();
    if (child == 0) {
        usleep(useconds_t(delayMs) * 1000);
        kill(pid, SIGSTOP);
        usleep(useconds_t(stopMs) * 1000);
        kill(pid, SIGCONT);
        _exit(0);
    }
    return child;
}

pid_t writeFromAnotherProcess(int fd, const QByteArrayList &pieces, int pauseMs)
{
    // The copies are made before the fork; the child only reads them.
    const QByteArrayList copy = pieces;
    const pid_t child = fork();
    if (child == 0) {
        for (const QByteArray &piece : copy) {
            qsizetype done = 0;
            while (done < piece.size()) {
                const ssize_t n =
                    ::write(fd, piece.constData() + done, size_t(piece.size() - done));
                if (n <= 0)
                    _exit(1);
                done += n;
            }
            usleep(useconds_t(pauseMs) * 1000);
        }
        _exit(0);
    }
    return child;
}
