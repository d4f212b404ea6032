#include "window/trendswindow.h"

#include "protocol/telemetryrecord.h"

TrendsWindow::TrendsWindow(QWidget *parent) : QWidget(parent, Qt::Window) {}

TrendsWindow::~TrendsWindow() = default;

void TrendsWindow::addRecord(const TelemetryRecord &) {}

bool TrendsWindow::openRecording(const QString &, QString *error)
{
    if (error)
        *error = tr("Recordings cannot be opened yet.");
    return false;
}
