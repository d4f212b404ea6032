#include "window/windowrecorder.h"

#include "protocol/telemetryrecord.h"

class WindowRecorder::Private
{
public:
    QString path;
};

WindowRecorder::WindowRecorder(QObject *parent) : QObject(parent), d(new Private) {}

WindowRecorder::~WindowRecorder() = default;

bool WindowRecorder::start(const QString &, QString *error)
{
    if (error)
        *error = tr("Recording is not available in this build.");
    return false;
}

void WindowRecorder::stop()
{
    d->path.clear();
}

bool WindowRecorder::isRecording() const
{
    return !d->path.isEmpty();
}

QString WindowRecorder::path() const
{
    return d->path;
}

void WindowRecorder::addRecord(const TelemetryRecord &) {}
