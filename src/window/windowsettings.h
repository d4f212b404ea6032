#pragma once

#include "serial/portinfo.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

class QSettings;

// What the window remembers from one start to the next, in the platform's usual
// place (on Linux $XDG_CONFIG_HOME/keldro/keldro.conf). Every key and its default
// lives here; the keys are grouped by the window that uses them.
//
// A file that does not read (not INI, no permission, a folder in its place) is
// left as it is: the getters answer the defaults and the setters write nothing for
// the rest of the session, so that nothing the user may want back is overwritten.
class WindowSettings : public QObject
{
    Q_OBJECT

public:
    // The user's settings, under the application's organization and name.
    explicit WindowSettings(QObject *parent = nullptr);
    // The settings in an INI file of its own.
    explicit WindowSettings(const QString &fileName, QObject *parent = nullptr);
    ~WindowSettings() override;

    // Removes the user's settings file, for keldro --reset-settings; false when
    // something stays there (a folder in its place, no permission). *fileName is
    // the file's name.
    static bool clearStored(QString *fileName = nullptr);

    QString fileName() const;
    // Why the file was not read, as a line for the receive log; empty when it was.
    QString readProblem() const { return problem; }

    // The last port chosen: serialNumber (the USB adapter's, if it has one) and
    // physName are set.
    PortInfo port() const;
    void setPort(const PortInfo &port);
    int baudRate() const;
    void setBaudRate(int rate);
    bool reopenWhenPortReturns() const;
    void setReopenWhenPortReturns(bool reopen);

    // QWidget::saveGeometry() of the main, trends, events and cells windows.
    QByteArray mainGeometry() const;
    void setMainGeometry(const QByteArray &geometry);
    QByteArray trendsGeometry() const;
    void setTrendsGeometry(const QByteArray &geometry);
    QByteArray eventsGeometry() const;
    void setEventsGeometry(const QByteArray &geometry);
    QByteArray healthGeometry() const;
    void setHealthGeometry(const QByteArray &geometry);

    // The trends window's range in seconds, 0 for all of it, and the names of the
    // series whose lines are hidden.
    // Nothing until a span has been chosen in a trends window.
    std::optional<int> trendsRange() const;
    void setTrendsRange(int seconds);
    QStringList trendsHidden() const;
    void setTrendsHidden(const QStringList &series);

    // The limits file last loaded; empty for none.
    QString limitsFile() const;
    void setLimitsFile(const QString &path);

    // Where the file dialogs for recordings start: the folder of the last recording
    // saved or opened, empty before the first.
    QString recordingsFolder() const;
    // The recordings saved or opened, newest first, those that are still there.
    QStringList recentRecordings() const;
    // path becomes the newest recording, and its folder the recordings folder.
    void addRecentRecording(const QString &path);

    static constexpr int DefaultBaudRate = 115200; // the board's rate out of the factory
    static constexpr int MaxBaudRate = 10000000;
    static constexpr int MaxRecentRecordings = 8;

signals:
    // The settings could not be written (a read-only home, a full disk). Emitted
    // once a session, with a line for the receive log.
    void saveFailed(const QString &line);

private:
    void checkReadable();
    QVariant value(const char *key, const QVariant &fallback = QVariant()) const;
    void put(const char *key, const QVariant &value);
    void save();
    void store(const char *key, const QVariant &value);

    QSettings *settings;
    QString problem;
    bool saveFailureReported = false;
};
