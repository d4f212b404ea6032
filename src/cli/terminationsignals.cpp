#include "terminationsignals.h"

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
// SIGHUP: the terminal or the ssh session that ran the program has closed.
const int Handled[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previous[std::size(Handled)];

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    // A full pipe already holds a signal to act on.
    [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(Handled); ++i) {
        sigaction(Handled[i], nullptr, &previous[i]);
        // A run started with nohup goes on when its session closes.
        if (Handled[i] != SIGHUP || previous[i].sa_handler != SIG_IGN)
            sigaction(Handled[i], &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals()
{
    for (std::size_t i = 0; i < std::size(Handled); ++i)
        sigaction(Handled[i], &previous[i], nullptr);
    delete notifier;
    for (int &fd : pipeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void TerminationSignals::readPipe()
{
    char bytes[16];
    const ssize_t n = ::read(pipeFds[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i)
        emit received(bytes[i]);
}
