#pragma once

#include <QByteArrayList>
#include <sys/types.h>

// A process held up as a loaded laptop or a long repaint holds it up, while the
// board goes on sending. Both work in a forked child, which keeps running while
// this process is stopped; reap them with waitpid.

// Stops the process pid with SIGSTOP after delayMs, continues it stopMs later.
pid_t stopProcessLater(pid_t pid, int delayMs, int stopMs);

// Writes each piece to fd, pauseMs apart.
pid_t writeFromAnotherProcess(int fd, const QByteArrayList &pieces, int pauseMs);
