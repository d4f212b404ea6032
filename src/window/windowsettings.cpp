#include "window/windowsettings.h"

#include "serial/openfailure.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

// Every key the window stores. The defaults are the constants in the header and
// the fallbacks of the getters below.
namespace Key {
constexpr char PortSerial[] = "port/serial";
constexpr char PortPath[] = "port/path";
constexpr char PortBaud[] = "port/baud";
constexpr char PortReopen[] = "port/reopen";
constexpr char WindowGeometry[] = "window/geometry";
constexpr char TrendsGeometry[] = "trends/geometry";
constexpr char TrendsRange[] = "trends/range";
constexpr char TrendsHidden[] = "trends/hidden";
constexpr char EventsGeometry[] = "events/geometry";
constexpr char HealthGeometry[] = "health/geometry";
constexpr char LimitsFile[] = "limits/file";
constexpr char RecordingsFolder[] = "recordings/folder";
constexpr char RecordingsRecent[] = "recordings/recent";
} // namespace Key

QStringList presentFiles(const QStringList &paths)
{
    QStringList present;
    for (const QString &path : paths)
        if (QFileInfo(path).isFile())
            present << path;
    return present;
}

} // namespace

WindowSettings::WindowSettings(QObject *parent) : QObject(parent), settings(new QSettings(this))
{
    checkReadable();
}

WindowSettings::WindowSettings(const QString &fileName, QObject *parent)
    : QObject(parent), settings(new QSettings(fileName, QSettings::IniFormat, this))
{
    checkReadable();
}

WindowSettings::~WindowSettings() = default;

bool WindowSettings::clearStored(QString *fileName)
{
    const QString path = QSettings().fileName();
    if (fileName)
        *fileName = path;
    return !QFileInfo::exists(path) || QFile::remove(path);
}

QString WindowSettings::fileName() const
{
    return settings->fileName();
}

void WindowSettings::checkReadable()
{
    // QSettings parses a file's sections when they are first asked for: asking for
    // every key makes a file that is no INI show its FormatError now.
    settings->allKeys();
    const QFileInfo file(settings->fileName());
    QString why;
    if (settings->status() == QSettings::FormatError)
        why = tr("it is not a settings file");
    else if (settings->status() == QSettings::AccessError ||
             (file.exists() && (!file.isFile() || !file.isReadable())))
        why = tr("it cannot be read");
    if (!why.isEmpty())
        problem = tr("Settings not read from %1: %2. keldro starts with the defaults and leaves "
                     "the file as it is; keldro --reset-settings removes it.")
                      .arg(settings->fileName(), why);
}

QVariant WindowSettings::value(const char *key, const QVariant &fallback) const
{
    if (!problem.isEmpty())
        return fallback;
    return settings->value(QLatin1String(key), fallback);
}

void WindowSettings::put(const char *key, const QVariant &value)
{
    if (problem.isEmpty())
        settings->setValue(QLatin1String(key), value);
}

void WindowSettings::store(const char *key, const QVariant &value)
{
    if (!problem.isEmpty() || settings->value(QLatin1String(key)) == value)
        return;
    put(key, value);
    save();
}

void WindowSettings::save()
{
    if (!problem.isEmpty())
        return;
    // Written at once rather than when the event loop gets to it: a killed window
    // loses nothing, and a failure shows while the window is there to say so.
    settings->sync();
    if (settings->status() == QSettings::NoError || saveFailureReported)
        return;
    saveFailureReported = true;
    emit saveFailed(tr("Settings not saved to %1: it cannot be written (a read-only home "
                       "folder, no permission, or a full disk).")
                        .arg(settings->fileName()));
}

PortInfo WindowSettings::port() const
{
    PortInfo port;
    port.serialNumber = value(Key::PortSerial).toString();
    port.physName = value(Key::PortPath).toString();
    return port;
}

void WindowSettings::setPort(const PortInfo &port)
{
    const QString path = port.physName.isEmpty() ? devicePath(port.portName) : port.physName;
    const PortInfo stored = this->port();
    if (stored.serialNumber == port.serialNumber && stored.physName == path)
        return;
    put(Key::PortSerial, port.serialNumber);
    put(Key::PortPath, path);
    save();
}

int WindowSettings::baudRate() const
{
    bool ok = false;
    const int rate = value(Key::PortBaud, DefaultBaudRate).toInt(&ok);
    return ok && rate >= 1 && rate <= MaxBaudRate ? rate : DefaultBaudRate;
}

void WindowSettings::setBaudRate(int rate)
{
    if (rate >= 1 && rate <= MaxBaudRate)
        store(Key::PortBaud, rate);
}

bool WindowSettings::reopenWhenPortReturns() const
{
    return value(Key::PortReopen, false).toBool();
}

void WindowSettings::setReopenWhenPortReturns(bool reopen)
{
    store(Key::PortReopen, reopen);
}

QByteArray WindowSettings::mainGeometry() const
{
    return value(Key::WindowGeometry).toByteArray();
}

void WindowSettings::setMainGeometry(const QByteArray &geometry)
{
    store(Key::WindowGeometry, geometry);
}

QByteArray WindowSettings::trendsGeometry() const
{
    return value(Key::TrendsGeometry).toByteArray();
}

void WindowSettings::setTrendsGeometry(const QByteArray &geometry)
{
    store(Key::TrendsGeometry, geometry);
}

QByteArray WindowSettings::eventsGeometry() const
{
    return value(Key::EventsGeometry).toByteArray();
}

void WindowSettings::setEventsGeometry(const QByteArray &geometry)
{
    store(Key::EventsGeometry, geometry);
}

QByteArray WindowSettings::healthGeometry() const
{
    return value(Key::HealthGeometry).toByteArray();
}

void WindowSettings::setHealthGeometry(const QByteArray &geometry)
{
    store(Key::HealthGeometry, geometry);
}

std::optional<int> WindowSettings::trendsRange() const
{
    bool ok = false;
    const int seconds = value(Key::TrendsRange).toInt(&ok);
    if (!ok || seconds < 0)
        return std::nullopt;
    return seconds;
}

void WindowSettings::setTrendsRange(int seconds)
{
    if (seconds >= 0)
        store(Key::TrendsRange, seconds);
}

QStringList WindowSettings::trendsHidden() const
{
    return value(Key::TrendsHidden).toStringList();
}

void WindowSettings::setTrendsHidden(const QStringList &series)
{
    store(Key::TrendsHidden, series);
}

QString WindowSettings::limitsFile() const
{
    return value(Key::LimitsFile).toString();
}

void WindowSettings::setLimitsFile(const QString &path)
{
    store(Key::LimitsFile, path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath());
}

QString WindowSettings::recordingsFolder() const
{
    return value(Key::RecordingsFolder).toString();
}

QStringList WindowSettings::recentRecordings() const
{
    return presentFiles(value(Key::RecordingsRecent).toStringList()).mid(0, MaxRecentRecordings);
}

void WindowSettings::addRecentRecording(const QString &path)
{
    const QFileInfo file(path);
    const QString newest = file.absoluteFilePath();
    QStringList recent = presentFiles(value(Key::RecordingsRecent).toStringList());
    recent.removeAll(newest);
    recent.prepend(newest);
    put(Key::RecordingsRecent, QStringList(recent.mid(0, MaxRecentRecordings)));
    put(Key::RecordingsFolder, file.absolutePath());
    save();
}
