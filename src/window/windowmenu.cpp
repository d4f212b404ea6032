#include "window/windowmenu.h"

#include "protocol/telemetryrecord.h"
#include "ui_widget.h"
#include "window/shownvalues.h"
#include "window/trendswindow.h"
#include "window/valuefieldmarks.h"
#include "window/windowrecorder.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSaveFile>
#include <QStandardPaths>
#include <keldro_version.h>

namespace {

// Where a file dialog starts: the user's documents folder, or home on a system
// without one.
QString documentsFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString timeStamped(const QString &prefix, const QString &suffix)
{
    return documentsFolder() + QLatin1Char('/') + prefix +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + suffix;
}

} // namespace

WindowMenu::WindowMenu(QWidget *window, Ui::Widget &ui, ValueFieldMarks *marks,
                       WindowRecorder *recorder)
    : QObject(window), window(window), ui(ui), marks(marks), recorder(recorder)
{
    recordEntry = addEntry(tr("Record to file…"), QKeySequence(Qt::CTRL | Qt::Key_R),
                           &WindowMenu::toggleRecording);
    addEntry(tr("Trends…"), QKeySequence(Qt::CTRL | Qt::Key_T), &WindowMenu::showTrends);
    addEntry(tr("Open recording…"), QKeySequence(Qt::CTRL | Qt::Key_O),
             &WindowMenu::chooseRecording);
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
    for (QAction *action : qAsConst(actions)) {
        if (action)
            menu->addAction(action);
        else
            menu->addSeparator();
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(globalPos);
}

bool WindowMenu::startRecording(const QString &path)
{
    QString error;
    if (!recorder->start(path, &error)) {
        warn(tr("Recording not started"), error);
        return false;
    }
    titleBeforeRecording = window->windowTitle();
    window->setWindowTitle(titleBeforeRecording +
                           tr(" — recording %1").arg(QFileInfo(path).fileName()));
    recordEntry->setText(tr("Stop recording"));
    return true;
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
        timeStamped(QStringLiteral("keldro-"), QStringLiteral(".csv")),
        csv + QStringLiteral(";;") + jsonLines, &filter, dialogOptions);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += filter == jsonLines ? QStringLiteral(".jsonl") : QStringLiteral(".csv");
    startRecording(path);
}

void WindowMenu::recordingStopped()
{
    window->setWindowTitle(titleBeforeRecording);
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
}

TrendsWindow *WindowMenu::liveTrendsWindow()
{
    if (!liveTrends) {
        liveTrends = new TrendsWindow(window);
        if (liveTrends->windowTitle().isEmpty())
            liveTrends->setWindowTitle(tr("keldro trends"));
    }
    return liveTrends;
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
    QString error;
    if (!trends->openRecording(path, &error)) {
        delete trends;
        warn(tr("Recording not opened"), error);
        return false;
    }
    // The window was made for this recording: without it, it has nothing to show.
    connect(trends, &TrendsWindow::openFailed, this,
            [this, trends](const QString &, const QString &reason) {
                trends->close();
                warn(tr("Recording not opened"), reason);
            });
    connect(trends, &TrendsWindow::openCancelled, trends, &QWidget::close);
    trends->setWindowTitle(tr("keldro trends — %1").arg(QFileInfo(path).fileName()));
    trends->show();
    return true;
}

void WindowMenu::chooseRecording()
{
    const QString path = QFileDialog::getOpenFileName(
        window, tr("Open recording"), documentsFolder(),
        tr("Recordings (*.csv *.jsonl);;All files (*)"), nullptr, dialogOptions);
    if (!path.isEmpty())
        openRecording(path);
}

void WindowMenu::saveReceiveLog()
{
    const QString path = QFileDialog::getSaveFileName(
        window, tr("Save receive log"),
        timeStamped(QStringLiteral("keldro-log-"), QStringLiteral(".txt")),
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
