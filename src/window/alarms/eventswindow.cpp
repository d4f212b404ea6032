#include "window/alarms/eventswindow.h"

#include "window/alarms/eventlog.h"
#include "window/alarms/windowjudge.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>

EventsWindow::EventsWindow(WindowJudge *judge, QWidget *parent)
    : QWidget(parent, Qt::Window), judge(judge)
{
    setWindowTitle(tr("keldro events"));
    EventLog *log = judge->log();

    limitsLine = new QLabel(this);
    limitsLine->setObjectName(QStringLiteral("limits"));
    limitsLine->setTextInteractionFlags(Qt::TextSelectableByMouse);
    limitsLine->setWordWrap(true);

    table = new QTableView(this);
    table->setObjectName(QStringLiteral("events"));
    table->setModel(log);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    // Rows of one line: the default height leaves room for two.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    QHeaderView *columns = table->horizontalHeader();
    columns->setSectionResizeMode(EventLog::TimeColumn, QHeaderView::ResizeToContents);
    columns->setSectionResizeMode(EventLog::PortColumn, QHeaderView::ResizeToContents);
    columns->setStretchLastSection(true);

    auto *save = new QPushButton(tr("Save as JSON Lines…"), this);
    save->setObjectName(QStringLiteral("saveJsonLines"));
    auto *count = new QLabel(this);
    auto showCount = [count, log] {
        const int rows = log->rowCount();
        count->setText((rows == 1 ? tr("1 event") : tr("%1 events").arg(rows)) +
                       (log->rowCount() >= EventLog::MaxEvents
                            ? tr(", the newest %1 kept").arg(EventLog::MaxEvents)
                            : QString()));
    };
    showCount();

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(count, 1);
    bottom->addWidget(save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(limitsLine);
    layout->addWidget(table, 1);
    layout->addLayout(bottom);

    // New events scroll into view only while the newest is in view: a technician
    // reading back through the table is not pulled away.
    connect(log, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar *bar = table->verticalScrollBar();
        followingNewest = bar->value() == bar->maximum();
    });
    connect(log, &QAbstractItemModel::rowsInserted, this, [this, showCount] {
        showCount();
        if (followingNewest)
            table->scrollToBottom();
    });
    connect(save, &QPushButton::clicked, this, &EventsWindow::chooseSaveFile);
    connect(judge, &WindowJudge::limitsChanged, this, &EventsWindow::showLimits);
    showLimits();
    table->scrollToBottom();
    resize(960, 420);
}

void EventsWindow::showLimits()
{
    limitsLine->setText(
        judge->hasLimits()
            ? tr("Limits from %1.").arg(QDir::toNativeSeparators(judge->limitsPath()))
            : tr("No limits loaded: the protection flags, the states and the link "
                 "are judged. Load a limits file with Limits… (Ctrl+L) in the "
                 "main window."));
}

void EventsWindow::chooseSaveFile()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString proposed =
        QDir(QFileInfo(documents).isDir() ? documents : QDir::homePath())
            .filePath(
                QStringLiteral("keldro-events-%1.jsonl")
                    .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    QString path = QFileDialog::getSaveFileName(this, tr("Save events"), proposed,
                                                tr("JSON Lines (*.jsonl);;All files (*)"), nullptr,
                                                dialogOptions);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".jsonl");
    QString error;
    if (saveJsonLines(path, &error))
        return;
    auto *box =
        new QMessageBox(QMessageBox::Warning, tr("Events not saved"), error, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

bool EventsWindow::saveJsonLines(const QString &path, QString *error) const
{
    const EventLog *log = judge->log();
    QByteArray lines;
    for (int row = 0; row < log->rowCount(); ++row)
        lines.append(log->event(row).toJson()).append('\n');
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(lines) == lines.size() && file.commit())
        return true;
    if (error)
        *error = tr("%1: %2").arg(path, file.errorString());
    return false;
}
