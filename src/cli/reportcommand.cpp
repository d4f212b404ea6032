#include "exitstatus.h"
#include "subcommand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

// The report draws plots and lays out pages, which takes Qt Gui and Widgets; keldro-cli
// goes without them so that it runs where they are not installed. keldro-report does the
// work, and keldro-cli hands the command over to it as git hands over its subcommands:
// the program installed beside keldro-cli first, else the one on PATH, with the
// arguments as given. It takes this process's place, so that its output, its signals and
// its exit status are the command's own.
int runReport(const QStringList &arguments)
{
    const QString name = QStringLiteral("keldro-report");
    QString program = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    if (!QFileInfo(program).isExecutable())
        program = QStandardPaths::findExecutable(name);
    if (program.isEmpty()) {
        std::fprintf(stderr,
                     "keldro-cli report: keldro-report is neither beside keldro-cli (%s) nor on "
                     "PATH; it is installed with keldro\n",
                     qPrintable(QCoreApplication::applicationDirPath()));
        return CannotStart;
    }
    std::vector<QByteArray> bytes{program.toLocal8Bit()};
    for (const QString &argument : arguments.mid(1))
        bytes.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    execv(argv.front(), argv.data());
    std::fprintf(stderr, "keldro-cli report: cannot run %s: %s\n", argv.front(),
                 std::strerror(errno));
    return CannotStart;
}
