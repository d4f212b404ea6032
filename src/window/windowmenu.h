#pragma once

#include <QFileDialog>
#include <QObject>

class EventsWindow;
class QAction;
class QMenu;
class QPlainTextEdit;
class QPoint;
class QWidget;
class ReportExport;
class TrendsWindow;
class ValueFieldMarks;
class WindowHealth;
class WindowJudge;
class WindowRecorder;
class WindowSettings;
struct TelemetryRecord;

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

// The main window's context menu and its keyboard shortcuts: recording, trends,
// recordings and the recent ones, a report, limits, events, the cells' health, the
// receive log, copying the values, reopening a returning port, About. A right click on
// the window shows the entries;
// the text fields and the receive log show them after their own standard entries. It
// keeps the window's title: the alarms raised and the recording join it.
class WindowMenu : public QObject
{
    Q_OBJECT

public:
    WindowMenu(QWidget *window, Ui::Widget &ui, ValueFieldMarks *marks, WindowRecorder *recorder,
               WindowSettings *settings, WindowJudge *judge);

    QList<QAction *> entries() const;
    QAction *reopenAction() const { return reopenEntry; }

    // Starts recording to path; a message box tells why when it cannot.
    bool startRecording(const QString &path);
    // Shows a recording in a trends window of its own, which reads it on a worker
    // thread, with the marks of the events file beside it when there is one. False,
    // with a message box that tells why, when the file cannot be opened; a message box
    // also tells why when it turns out not to be readable, and that window closes
    // again, as it does when the reading is cancelled.
    bool openRecording(const QString &path);
    // Judges against the limits in path from the next frame on. A file that cannot be
    // read or holds a mistake is refused with a message box naming the file, the line
    // and the key, and the limits stay as they were.
    bool loadLimits(const QString &path);
    void unloadLimits();
    // The limits file of the last session, if one was loaded; a file that no longer
    // reads is named in the receive log.
    void loadRememberedLimits();

    // Options for every file dialog of the menu (tests ask for Qt's own dialog,
    // which they can answer).
    void setFileDialogOptions(QFileDialog::Options options);

    // Export report…: reports of the live session and of the recordings shown.
    ReportExport *reports() const { return reportExport; }

    // One frame the window has accepted, for the live trends, the cells' health and the
    // live report.
    void frameAccepted(const TelemetryRecord &record);
    WindowHealth *health() const { return cellsHealth; }

    // The alarms raised now as the alarm strip words them, oldest first: the title
    // names how many and the first.
    void showAlarms(const QStringList &items);
    void showEvents();

    // The main window is closing: the places of the live trends, events and cells
    // windows, those shown, are the ones to remember.
    void rememberPlaces();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QAction *addEntry(const QString &text, const QKeySequence &shortcut, void (WindowMenu::*run)());
    void popUp(QMenu *menu, const QPoint &globalPos);
    void fillRecentMenu();
    QString recordingsFolder() const;
    void toggleRecording();
    void updateTitle();
    void recordingStopped();
    void recordingFailed(const QString &reason);
    TrendsWindow *liveTrendsWindow();
    void rememberView(TrendsWindow *trends);
    void showTrends();
    void exportReport();
    void chooseRecording();
    void chooseLimits();
    void chooseLimitsFile();
    void showHealth();
    // Ctrl+H in a trends window shows its recording (empty: the live board) in the
    // cells window.
    void addCellsShortcut(TrendsWindow *trends, const QString &recording);
    void saveReceiveLog();
    void copyValues();
    void showAbout();
    void warn(const QString &title, const QString &text);

    QWidget *window;
    Ui::Widget &ui;
    ValueFieldMarks *marks;
    WindowRecorder *recorder;
    WindowSettings *settings;
    WindowJudge *judge;
    TrendsWindow *liveTrends = nullptr;
    EventsWindow *eventsWindow = nullptr;
    ReportExport *reportExport;
    WindowHealth *cellsHealth;
    QString baseTitle;
    QStringList alarmItems;
    QFileDialog::Options dialogOptions;
    QAction *recordEntry;
    QAction *reopenEntry;
    QMenu *recentMenu;
    QList<QAction *> actions; // in menu order; nullptr for a separator
};
