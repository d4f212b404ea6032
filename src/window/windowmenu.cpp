#include "window/windowmenu.h"

#include "judge/limitsfile.h"
#include "plot/customplot.h"
#include "plot/trendstore.h"
#include "protocol/displaytext.h"
#include "protocol/telemetryrecord.h"
#include "record/recordformat.h"
#include "ui_widget.h"
#include "window/alarms/eventlog.h"
#include "window/alarms/eventswindow.h"
#include "window/alarms/valuefieldmarks.h"
#include "window/alarms/windowjudge.h"
#include "window/health/windowhealth.h"
#include "window/reportexport.h"
#include "window/shownvalues.h"
#include "window/trends/trendswindow.h"
#include "window/windowplace.h"
#include "window/windowrecorder.h"
#include "window/windowsettings.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <keldro_version.h>

namespace {

// Where a file dialog starts: the user's documents folder, or home on a system
// without one.
QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString timeStamped(const QString &folder, const QString &prefix, const QString &suffix)
{
    return folder + QLatin1Char('/') + prefix +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + suffix;
}

// Every key the file set, one "cells.max_mV = 4250 mV" line each, as the technician
// wrote them.
QString limitsText(const Limits &limits)
{
    QStringList lines;
    for (int i = 0; i < LimitCount; ++i)
        if (const auto value = limits.values[size_t(i)])
            lines << QStringLiteral("%1 = %2 %3")
                         .arg(QLatin1String(limitKeyPath(Limit(i))),
                              QString::number(*value, 'g', 10),
                              QString::fromUtf8(limitUnitSymbol(limitInfo(Limit(i)).unit)));
    if (limits.failOn != Limits::AllProtectionFlags) {
        QStringList flags;
        for (int bit = 0; bit < ProtectionFlagCount; ++bit)
            if (limits.failsOn(bit))
                flags << QLatin1String(
                    RecordColumns::Names[RecordColumns::FirstProtectionFlag + bit]);
        lines << QStringLiteral("protection.fail_on = [%1]").arg(flags.join(QStringLiteral(", ")));
    }
    for (int unit = 0; unit < LimitUnitCount; ++unit)
        if (limits.hysteresis[size_t(unit)] != 0)
            lines << QStringLiteral("hysteresis.%1 = %2")
                         .arg(QLatin1String(hysteresisKey(LimitUnit(unit))))
                         .arg(limits.hysteresis[size_t(unit)]);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

WindowMenu::WindowMenu(QWidget *window, Ui::Widget &ui, ValueFieldMarks *marks,
                       WindowRecorder *recorder, WindowSettings *settings, WindowJudge *judge)
    : QObject(window), window(window), ui(ui), marks(marks), recorder(recorder), settings(settings),
      judge(judge), reportExport(new ReportExport(window, judge)), baseTitle(window->windowTitle())
{
    cellsHealth = new WindowHealth(window, settings, marks);
    recordEntry = addEntry(tr("Record to file…"), QKeySequence(Qt::CTRL | Qt::Key_R),
                           &WindowMenu::toggleRecording);
    addEntry(tr("Trends…"), QKeySequence(Qt::CTRL | Qt::Key_T), &WindowMenu::showTrends);
    addEntry(tr("Open recording…"), QKeySequence(Qt::CTRL | Qt::Key_O),
             &WindowMenu::chooseRecording);
    recentMenu = new QMenu(tr("Open recent"), window);
    recentMenu->setToolTipsVisible(true);
    actions << recentMenu->menuAction();
    addEntry(tr("Export report…"), QKeySequence(Qt::CTRL | Qt::Key_P), &WindowMenu::exportReport);
    actions << nullptr;
    addEntry(tr("Limits…"), QKeySequence(Qt::CTRL | Qt::Key_L), &WindowMenu::chooseLimits);
    addEntry(tr("Events…"), QKeySequence(Qt::CTRL | Qt::Key_E), &WindowMenu::showEvents);
    addEntry(tr("Cells…"), QKeySequence(Qt::CTRL | Qt::Key_H), &WindowMenu::showHealth);
    actions << nullptr;
    addEntry(tr("Save receive log…"), QKeySequence(Qt::CTRL | Qt::Key_S),
             &WindowMenu::saveReceiveLog);
    addEntry(tr("Copy values"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C),
             &WindowMenu::copyValues);
    actions << nullptr;
    reopenEntry = addEntry(tr("Reopen when the port returns"), QKeySequence(), nullptr);
    reopenEntry->setCheckable(true);
    actions << nullptr;
    addEntry(tr("About keldro"), QKeySequence(), &WindowMenu::showAbout);

    connect(recorder, &WindowRecorder::failed, this, &WindowMenu::recordingFailed);

    // A right click on a label, a button or the free space reaches the window; the
    // text fields and the log have menus of their own, which get the entries too.
    window->installEventFilter(this);
    QList<QAbstractScrollArea *> texts = ui.widget_2->findChildren<QAbstractScrollArea *>();
    texts << ui.plainTextEdit;
    for (QAbstractScrollArea *text : qAsConst(texts)) {
        text->installEventFilter(this);
        text->viewport()->installEventFilter(this);
    }
}

QAction *WindowMenu::addEntry(const QString &text, const QKeySequence &shortcut,
                              void (WindowMenu::*run)())
{
    auto *action = new QAction(text, this);
    action->setShortcut(shortcut);
    // The window has no menu bar: the shortcuts work through the window itself.
    window->addAction(action);
    if (run)
        connect(action, &QAction::triggered, this, run);
    actions << action;
    return action;
}

QList<QAction *> WindowMenu::entries() const
{
    QList<QAction *> list;
    for (QAction *action : actions)
        if (action)
            list << action;
    return list;
}

bool WindowMenu::eventFilter(QObject *watched, QEvent *event)
{
    // A trends window the technician closed: where it was is where the next opens.
    if (event->type() == QEvent::Hide && qobject_cast<TrendsWindow *>(watched)) {
        settings->setTrendsGeometry(static_cast<QWidget *>(watched)->saveGeometry());
        return false;
    }
    if (event->type() == QEvent::Hide && watched == eventsWindow) {
        settings->setEventsGeometry(eventsWindow->saveGeometry());
        return false;
    }
    if (event->type() != QEvent::ContextMenu)
        return false;
    auto *menuEvent = static_cast<QContextMenuEvent *>(event);
    QMenu *menu = nullptr;
    if (watched == window) {
        menu = new QMenu(window);
    } else {
        QWidget *widget = qobject_cast<QWidget *>(watched);
        auto *text = qobject_cast<QAbstractScrollArea *>(widget);
        if (!text && widget)
            text = qobject_cast<QAbstractScrollArea *>(widget->parentWidget());
        if (!text)
            return false;
        // The standard menu wants the position in the viewport's coordinates.
        const QPoint pos = text->viewport()->mapFromGlobal(menuEvent->globalPos());
        if (auto *log = qobject_cast<QPlainTextEdit *>(text))
            menu = log->createStandardContextMenu(pos);
        else if (auto *field = qobject_cast<QTextEdit *>(text))
            menu = field->createStandardContextMenu(pos);
        if (!menu)
            return false;
        menu->addSeparator();
    }
    popUp(menu, menuEvent->globalPos());
    return true;
}

void WindowMenu::popUp(QMenu *menu, const QPoint &globalPos)
{
    fillRecentMenu();
    for (QAction *action : qAsConst(actions)) {
        if (action)
            menu->addAction(action);
        else
            menu->addSeparator();
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

void WindowMenu::fillRecentMenu()
{
    recentMenu->clear();
    const QStringList recent = settings->recentRecordings();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent[i];
        QString name = QFileInfo(path).fileName();
        name.replace(QLatin1Char('&'), QLatin1String("&&"));
        QAction *action =
            recentMenu->addAction(QStringLiteral("&%1 %2").arg(QString::number(i + 1), name));
        action->setToolTip(QDir::toNativeSeparators(path));
        connect(action, &QAction::triggered, this, [this, path] { openRecording(path); });
    }
    recentMenu->menuAction()->setEnabled(!recent.isEmpty());
}

QString WindowMenu::recordingsFolder() const
{
    const QString folder = settings->recordingsFolder();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : documentsFolder();
}

bool WindowMenu::startRecording(const QString &path)
{
    QString error;
    if (!recorder->start(path, &error)) {
        warn(tr("Recording not started"), error);
        return false;
    }
    settings->addRecentRecording(path);
    updateTitle();
    recordEntry->setText(tr("Stop recording"));
    return true;
}

void WindowMenu::showAlarms(const QStringList &items)
{
    alarmItems = items;
    updateTitle();
}

// The alarms before the recording, and their count before the first of them: a window
// manager cuts a long title in the middle or at the end, and "ALARM (4)" must survive.
void WindowMenu::updateTitle()
{
    QString title = baseTitle;
    if (!alarmItems.isEmpty())
        title += tr(" — ALARM (%1): %2").arg(alarmItems.size()).arg(alarmItems.first());
    if (recorder->isRecording())
        title += tr(" — recording %1").arg(QFileInfo(recorder->path()).fileName());
    window->setWindowTitle(title);
}

void WindowMenu::toggleRecording()
{
    if (recorder->isRecording()) {
        recorder->stop();
        recordingStopped();
        return;
    }
    QString filter;
    const QString csv = tr("CSV (*.csv)");
    const QString jsonLines = tr("JSON Lines (*.jsonl)");
    QString path = QFileDialog::getSaveFileName(
        window, tr("Record to file"),
        timeStamped(recordingsFolder(), QStringLiteral("keldro-"), QStringLiteral(".csv")),
        csv + QStringLiteral(";;") + jsonLines, &filter, dialogOptions);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += filter == jsonLines ? QStringLiteral(".jsonl") : QStringLiteral(".csv");
    startRecording(path);
}

void WindowMenu::recordingStopped()
{
    updateTitle();
    recordEntry->setText(tr("Record to file…"));
}

void WindowMenu::recordingFailed(const QString &reason)
{
    recordingStopped();
    warn(tr("Recording stopped"), tr("%1\nThe rows recorded before stay in the file.").arg(reason));
}

void WindowMenu::frameAccepted(const TelemetryRecord &record)
{
    // Made with the first frame, not at the first look, so that it holds the
    // whole session.
    liveTrendsWindow()->addRecord(record);
    cellsHealth->frameAccepted(record);
    reportExport->frameAccepted(record);
}

TrendsWindow *WindowMenu::liveTrendsWindow()
{
    if (!liveTrends) {
        liveTrends = new TrendsWindow(window);
        if (liveTrends->windowTitle().isEmpty())
            liveTrends->setWindowTitle(tr("keldro trends"));
        restoreWindowPlace(liveTrends, settings->trendsGeometry());
        liveTrends->installEventFilter(this);
        rememberView(liveTrends);
        reportExport->watch(liveTrends);
        // The judge's log has the events since the window opened; the trends take the
        // rest as they come.
        liveTrends->setLimits(judge->limits());
        liveTrends->addEvents(judge->log()->events());
        connect(judge, &WindowJudge::eventsAdded, liveTrends, &TrendsWindow::addEvents);
        connect(judge, &WindowJudge::limitsChanged, liveTrends,
                [this] { liveTrends->setLimits(judge->limits()); });
        addCellsShortcut(liveTrends, QString());
    }
    return liveTrends;
}

// Every trends window starts with the span and the hidden lines the technician chose
// last, in any of them, and keeps what is chosen in it for the next.
void WindowMenu::rememberView(TrendsWindow *trends)
{
    if (const std::optional<int> span = settings->trendsRange())
        trends->setPreferredSpan(*span);
    const QStringList hidden = settings->trendsHidden();
    for (int series = 0; series < TrendStore::SeriesCount; ++series)
        trends->setSeriesHidden(series, hidden.contains(trends->graph(series)->name()));
    connect(trends, &TrendsWindow::spanChosen, settings, &WindowSettings::setTrendsRange);
    connect(trends, &TrendsWindow::seriesHiddenChanged, settings, [this, trends] {
        QStringList names;
        for (int series = 0; series < TrendStore::SeriesCount; ++series)
            if (trends->isSeriesHidden(series))
                names << trends->graph(series)->name();
        settings->setTrendsHidden(names);
    });
}

void WindowMenu::rememberPlaces()
{
    if (liveTrends && liveTrends->isVisible())
        settings->setTrendsGeometry(liveTrends->saveGeometry());
    if (eventsWindow && eventsWindow->isVisible())
        settings->setEventsGeometry(eventsWindow->saveGeometry());
    cellsHealth->rememberPlace();
}

void WindowMenu::setFileDialogOptions(QFileDialog::Options options)
{
    dialogOptions = options;
    reportExport->setFileDialogOptions(options);
}

// A report of the live session so far, with the live trends' plots.
void WindowMenu::exportReport()
{
    reportExport->exportSession(window, liveTrendsWindow()->store());
}

void WindowMenu::showTrends()
{
    liveTrendsWindow()->show();
    liveTrends->raise();
    liveTrends->activateWindow();
}

bool WindowMenu::openRecording(const QString &path)
{
    auto *trends = new TrendsWindow(window);
    trends->setAttribute(Qt::WA_DeleteOnClose);
    rememberView(trends);
    reportExport->watch(trends);
    // The limits loaded in the window, now and after: a recording is read against the
    // limits the technician holds it to, not the ones it was recorded with.
    trends->setLimits(judge->limits());
    connect(judge, &WindowJudge::limitsChanged, trends,
            [this, trends] { trends->setLimits(judge->limits()); });
    QString error;
    if (!trends->openRecording(path, &error)) {
        delete trends;
        warn(tr("Recording not opened"), error);
        return false;
    }
    // Offered again once it has been read: the file is only opened on the way.
    connect(trends, &TrendsWindow::recordingOpened, settings, &WindowSettings::addRecentRecording);
    // The window was made for this recording: without it, it has nothing to show.
    connect(trends, &TrendsWindow::openFailed, this,
            [this, trends](const QString &, const QString &reason) {
                trends->close();
                warn(tr("Recording not opened"), reason);
            });
    connect(trends, &TrendsWindow::openCancelled, trends, &QWidget::close);
    // The cells window works the same recording out once the trends have read it, and
    // shows it for Ctrl+H in the trends window.
    connect(trends, &TrendsWindow::recordingOpened, cellsHealth, &WindowHealth::takeRecording);
    addCellsShortcut(trends, path);
    trends->setWindowTitle(tr("keldro trends — %1").arg(QFileInfo(path).fileName()));
    // A second trends window on the first one's place would hide it: that one is
    // placed by the window system.
    const QList<TrendsWindow *> shown = window->findChildren<TrendsWindow *>();
    if (std::none_of(shown.begin(), shown.end(),
                     [](TrendsWindow *other) { return other->isVisible(); }))
        restoreWindowPlace(trends, settings->trendsGeometry());
    trends->installEventFilter(this);
    trends->show();

    const QString eventsPath = WindowRecorder::eventsPathFor(path);
    QFile eventsFile(eventsPath);
    if (!eventsFile.exists())
        return true;
    QVector<JudgeEvent> events;
    if (!eventsFile.open(QIODevice::ReadOnly) || !readEventLines(&eventsFile, &events, &error)) {
        warn(tr("Events not shown"),
             tr("%1: %2").arg(eventsPath, eventsFile.isOpen() ? error : eventsFile.errorString()));
        return true;
    }
    trends->addEvents(events);
    return true;
}

void WindowMenu::chooseRecording()
{
    const QString path = QFileDialog::getOpenFileName(
        window, tr("Open recording"), recordingsFolder(),
        tr("Recordings (*.csv *.jsonl);;All files (*)"), nullptr, dialogOptions);
    if (!path.isEmpty())
        openRecording(path);
}

bool WindowMenu::loadLimits(const QString &path)
{
    QString error;
    const std::optional<Limits> limits = readLimitsFile(path, &error);
    if (!limits) {
        warn(tr("Limits not loaded"),
             error + QLatin1Char('\n') +
                 (judge->hasLimits()
                      ? tr("The window keeps judging against %1.").arg(judge->limitsPath())
                      : tr("The window keeps judging without limits.")));
        return false;
    }
    judge->setLimits(*limits, path);
    settings->setLimitsFile(path);
    return true;
}

void WindowMenu::loadRememberedLimits()
{
    const QString path = settings->limitsFile();
    if (path.isEmpty())
        return;
    // At start a message box would stand between the technician and the window; the
    // log says why the window judges without limits, and the file stays remembered
    // for when it reads again.
    QString error;
    const std::optional<Limits> limits = readLimitsFile(path, &error);
    if (!limits) {
        ui.plainTextEdit->appendPlainText(
            tr("Limits not loaded: %1. The window judges without limits.").arg(error));
        return;
    }
    judge->setLimits(*limits, path);
}

void WindowMenu::unloadLimits()
{
    judge->setLimits(Limits(), QString());
    settings->setLimitsFile(QString());
}

// With no limits loaded, the technician wants a file. With limits loaded, the question
// is what to do with them: another file, the same one again after editing it, or none.
void WindowMenu::chooseLimits()
{
    if (!judge->hasLimits()) {
        chooseLimitsFile();
        return;
    }
    const QString path = judge->limitsPath();
    auto *box = new QMessageBox(QMessageBox::Question, tr("Limits"),
                                tr("The window judges against %1.").arg(path),
                                QMessageBox::NoButton, window);
    box->setInformativeText(limitsText(judge->limits()));
    QPushButton *another = box->addButton(tr("Load another file…"), QMessageBox::AcceptRole);
    QPushButton *reload = box->addButton(tr("Reload"), QMessageBox::AcceptRole);
    QPushButton *none = box->addButton(tr("No limits"), QMessageBox::DestructiveRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(reload);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::buttonClicked, this, [=](QAbstractButton *clicked) {
        std::function<void()> choice;
        if (clicked == another)
            choice = [this] { chooseLimitsFile(); };
        else if (clicked == reload)
            choice = [this, path] { loadLimits(path); };
        else if (clicked == none)
            choice = [this] { unloadLimits(); };
        // After the box has gone: the file dialog is a question of its own.
        if (choice)
            QTimer::singleShot(0, this, choice);
    });
    box->open();
}

void WindowMenu::chooseLimitsFile()
{
    const QString current = judge->limitsPath();
    const QString path = QFileDialog::getOpenFileName(
        window, tr("Load limits"), current.isEmpty() ? documentsFolder() : current,
        tr("Limits (*.toml);;All files (*)"), nullptr, dialogOptions);
    if (!path.isEmpty())
        loadLimits(path);
}

void WindowMenu::showEvents()
{
    if (!eventsWindow) {
        eventsWindow = new EventsWindow(judge, window);
        eventsWindow->setFileDialogOptions(dialogOptions);
        restoreWindowPlace(eventsWindow, settings->eventsGeometry());
        eventsWindow->installEventFilter(this);
    }
    eventsWindow->show();
    eventsWindow->raise();
    eventsWindow->activateWindow();
}

void WindowMenu::showHealth()
{
    cellsHealth->showWindow();
}

void WindowMenu::addCellsShortcut(TrendsWindow *trends, const QString &recording)
{
    auto *action = new QAction(tr("Cells…"), trends);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    trends->addAction(action);
    connect(action, &QAction::triggered, cellsHealth,
            [this, recording] { cellsHealth->showSource(recording); });
}

void WindowMenu::saveReceiveLog()
{
    const QString path = QFileDialog::getSaveFileName(
        window, tr("Save receive log"),
        timeStamped(documentsFolder(), QStringLiteral("keldro-log-"), QStringLiteral(".txt")),
        tr("Text (*.txt);;All files (*)"), nullptr, dialogOptions);
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(ui.plainTextEdit->toPlainText().toUtf8()) < 0 || !file.commit())
        warn(tr("Receive log not saved"), tr("%1: %2").arg(path, file.errorString()));
}

void WindowMenu::copyValues()
{
    const QString values = shownValuesText(ui);
    if (values.isEmpty())
        return;
    QString text =
        tr("keldro %1, %2, port %3")
            .arg(QStringLiteral(KELDRO_VERSION), QDateTime::currentDateTime().toString(Qt::ISODate),
                 ui.comboBox_Port->currentText());
    if (marks->isStale())
        text += tr(" (not live)");
    text += QLatin1Char('\n') + values;
    const QString balance = marks->balanceText();
    if (!balance.isEmpty())
        text += QLatin1Char('\n') + balance;
    QGuiApplication::clipboard()->setText(text + QLatin1Char('\n'));
}

void WindowMenu::showAbout()
{
    auto *box = new QMessageBox(
        QMessageBox::Information, tr("About keldro"),
        tr("<p><b>keldro %1</b></p>"
           "<p>Service tool for the BMS board on a serial line.</p>"
           "<p>Built with Qt %2, running on Qt %3.</p>"
           "<p>Licence: GNU General Public License, version 3 or (at your option) any later "
           "version (GPL-3.0-or-later). There is no warranty.</p>")
            .arg(QStringLiteral(KELDRO_VERSION), QStringLiteral(QT_VERSION_STR),
                 QString::fromLatin1(qVersion())),
        QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void WindowMenu::warn(const QString &title, const QString &text)
{
    // Not exec(): a question that runs its own event loop inside the receiver
    // would let the next frames in mid-frame.
    auto *box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
