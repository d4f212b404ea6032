#pragma once

#include <QWidget>

struct TelemetryRecord;

// How the pack behaves over time: cell voltages, current and state of charge, and
// the temperatures, on one time axis. A window of its own, fed live by the main
// window or filled from a recording.
class TrendsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit TrendsWindow(QWidget *parent = nullptr);
    ~TrendsWindow() override;

    // One frame the main window accepted.
    void addRecord(const TelemetryRecord &record);
    // Shows a recording (CSV or JSON Lines) instead; false, with the reason in
    // *error, when it cannot be read.
    bool openRecording(const QString &path, QString *error);
};
