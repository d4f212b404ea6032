#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <cstdio>

// bench/startup.sh times a start from the shell's clock to the moment the window has
// been painted once and the event loop has nothing more to do. With the variable
// KELDRO_STARTUP_PROBE set, that moment is printed on standard output as
// microseconds since the epoch and the program quits; without it nothing changes.
// bench/emptywindow.cpp uses the same probe, so both are timed alike.
class StartupProbe : public QObject
{
public:
    static void watch(QWidget *window)
    {
        if (qEnvironmentVariableIsSet("KELDRO_STARTUP_PROBE"))
            window->installEventFilter(new StartupProbe(window));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // A zero timer runs once the loop has handled everything already waiting,
        // this paint included.
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [] {
                const auto now = std::chrono::system_clock::now().time_since_epoch();
                std::printf(
                    "%lld\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    explicit StartupProbe(QObject *parent) : QObject(parent) {}
};
