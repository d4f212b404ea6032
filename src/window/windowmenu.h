#pragma once

#include <QFileDialog>
#include <QObject>

class QAction;
class QMenu;
class QPlainTextEdit;
class QPoint;
class QWidget;
class TrendsWindow;
class ValueFieldMarks;
class WindowRecorder;
struct TelemetryRecord;

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

// The main window's context menu and its keyboard shortcuts: recording, trends,
// recordings, the receive log, copying the values, reopening a returning port,
// About. A right click on the window shows the entries; the text fields and the
// receive log show them after their own standard entries.
class WindowMenu : public QObject
{
    Q_OBJECT

public:
    WindowMenu(QWidget *window, Ui::Widget &ui, ValueFieldMarks *marks, WindowRecorder *recorder);

    QList<QAction *> entries() const;
    QAction *reopenAction() const { return reopenEntry; }

    // Starts recording to path; a message box tells why when it cannot.
    bool startRecording(const QString &path);
    // Shows a recording in a trends window of its own, which reads it on a worker
    // thread. False, with a message box that tells why, when the file cannot be
    // opened; a message box also tells why when it turns out not to be readable, and
    // that window closes again, as it does when the reading is cancelled.
    bool openRecording(const QString &path);

    // Options for every file dialog of the menu (tests ask for Qt's own dialog,
    // which they can answer).
    void setFileDialogOptions(QFileDialog::Options options) { dialogOptions = options; }

    // One frame the window has accepted, for the live trends.
    void frameAccepted(const TelemetryRecord &record);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *addEntry(const QString &text, const QKeySequence &shortcut, void (WindowMenu::*run)());
    void popUp(QMenu *menu, const QPoint &globalPos);
    void toggleRecording();
    void recordingStopped();
    void recordingFailed(const QString &reason);
    TrendsWindow *liveTrendsWindow();
    void showTrends();
    void chooseRecording();
    void saveReceiveLog();
    void copyValues();
    void showAbout();
    void warn(const QString &title, const QString &text);

    QWidget *window;
    Ui::Widget &ui;
    ValueFieldMarks *marks;
    WindowRecorder *recorder;
    TrendsWindow *liveTrends = nullptr;
    QString titleBeforeRecording;
    QFileDialog::Options dialogOptions;
    QAction *recordEntry;
    QAction *reopenEntry;
    QList<QAction *> actions; // in menu order; nullptr for a separator
};
