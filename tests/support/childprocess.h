#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// A program the test starts (keldro-cli, keldro-sim, ser2net): killed and reaped when
// the test is done with it, whatever the outcome.
struct ProcessEnd
{
    void operator()(QProcess *process) const
    {
        process->kill();
        process->waitForFinished(5000);
        delete process;
    }
};
using Process = std::unique_ptr<QProcess, ProcessEnd>;

inline Process start(const QString &program, const QStringList &arguments)
{
    Process process(new QProcess);
    process->start(program, arguments);
    process->waitForStarted(10000);
    return process;
}
