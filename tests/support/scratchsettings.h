#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

// Points the window's settings into a folder of this process's own, so that a
// suite neither reads the user's settings nor leaves its own behind, and two
// suites running at once do not share them. QSettings takes XDG_CONFIG_HOME when it
// first needs the user's folder: call this before the first window is made.
// Returns the folder.
inline QString useScratchSettings()
{
    static QTemporaryDir folder;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("keldro"));
    QCoreApplication::setApplicationName(QStringLiteral("keldro"));
    return folder.path();
}
