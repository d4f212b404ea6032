#include "window/alarms/eventswindow.h"

#include "window/alarms/eventlog.h"
#include "window/alarms/windowjudge.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QDir>
#include <QEvent>
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
    table->horizontalHeader()->setStretchLastSection(true);
    table->viewport()->installEventFilter(this);
    widenColumns(0, log->rowCount() - 1);

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
    connect(log, &QAbstractItemModel::rowsInserted, this,
            [this, showCount](const QModelIndex &, int first, int last) {
                showCount();
                widenColumns(first, last);
                if (followingNewest)
                    table->scrollToBottom();
            });
    connect(save, &QPushButton::clicked, this, &EventsWindow::chooseSaveFile);
    connect(judge, &WindowJudge::limitsChanged, this, &EventsWindow::showLimits);
    showLimits();
    table->scrollToBottom();
    resize(960, 420);
}

// The header's own sizing to contents measures only the rows in view, once: a window
// opened before the first event kept the columns as narrow as their titles. Here each
// new row widens them to its texts.
void EventsWindow::widenColumns(int firstRow, int lastRow)
{
    const QAbstractItemModel *log = table->model();
    const QFontMetrics metrics(table->font());
    // The item delegate's margin on either side of a text and the grid line, and half a
    // character's room so that the next column's text does not touch it.
    const int margins =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1) + 1 +
        metrics.averageCharWidth() / 2;
    for (const int column : {int(EventLog::TimeColumn), int(EventLog::PortColumn)}) {
        int &widest = contentWidths[size_t(column)];
        widest = qMax(widest, table->horizontalHeader()->sectionSizeHint(column));
        for (int row = firstRow; row <= lastRow; ++row)
            widest =
                qMax(widest, metrics.horizontalAdvance(log->index(row, column).data().toString()) +
                                 margins);
    }
    fitColumns();
}

// As wide as their contents while that leaves the events' texts half the table; beyond
// that they share the other half, and their tooltips tell the rest.
void EventsWindow::fitColumns()
{
    const int room = table->viewport()->width() / 2;
    const int wanted = contentWidths[EventLog::TimeColumn] + contentWidths[EventLog::PortColumn];
    for (const int column : {int(EventLog::TimeColumn), int(EventLog::PortColumn)}) {
        const int width = contentWidths[size_t(column)];
        table->horizontalHeader()->resizeSection(
            column, wanted <= room ? width : qMax(20, width * room / qMax(1, wanted)));
    }
}

// The table's width is known only once it is laid out and shown, and it changes with
// the window's.
bool EventsWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == table->viewport() && event->type() == QEvent::Resize)
        fitColumns();
    return QWidget::eventFilter(watched, event);
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
