#include "window/health/healthwindow.h"

#include "window/alarms/alarmstyle.h"
#include "window/health/healthplot.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <algorithm>
#include <cmath>

namespace {

enum Column { CellColumn, ResistanceColumn, StepsColumn, SagColumn, VerdictColumn, ColumnCount };

const QString Unknown = QStringLiteral("—");

// Rounded as the JSON rounds (halves away from zero), so that a table and keldro-cli
// health --format json never differ in the last digit.
QString fixed(double value, int decimals)
{
    const double steps[] = {1, 0.1, 0.01, 0.001};
    const double step = steps[decimals];
    const double rounded = std::round(value / step) * step;
    return QString::number(rounded == 0 ? 0.0 : rounded, 'f', decimals);
}

QString number(const std::optional<double> &value, int decimals, const QString &unit)
{
    if (!value)
        return Unknown;
    return fixed(*value, decimals) + QLatin1Char(' ') + unit;
}

// "2.41 ± 0.12 mΩ": the spread of the steps beside the value it qualifies.
QString resistanceText(const std::optional<double> &median, const std::optional<double> &iqr)
{
    if (!median)
        return Unknown;
    return QStringLiteral("%1 ± %2 mΩ").arg(fixed(*median, 2), fixed(iqr.value_or(0), 2));
}

QString timeText(const std::optional<qint64> &utcMs)
{
    if (!utcMs)
        return Unknown;
    return QDateTime::fromMSecsSinceEpoch(*utcMs).toLocalTime().toString(
        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString packText(const CellHealth &health)
{
    const PackEstimate &p = health.pack;
    const QString ah = QStringLiteral("Ah");
    const QString wh = QStringLiteral("Wh");
    QStringList parts;
    parts << HealthWindow::tr("charged %1, %2")
                 .arg(number(p.chargedAh, 3, ah), number(p.chargedWh, 2, wh));
    parts << HealthWindow::tr("discharged %1, %2")
                 .arg(number(p.dischargedAh, 3, ah), number(p.dischargedWh, 2, wh));
    parts << (p.capacityAh ? HealthWindow::tr("capacity %1").arg(number(p.capacityAh, 3, ah))
                           : HealthWindow::tr("capacity unknown: %1").arg(health.capacityMissing));
    auto soc = [](const std::optional<int> &value) {
        return value ? QString::number(*value) : Unknown;
    };
    parts << HealthWindow::tr("SOC %1 % → %2 %").arg(soc(p.socFrom), soc(p.socTo));
    parts << (p.gaps == 0   ? HealthWindow::tr("no gap")
              : p.gaps == 1 ? HealthWindow::tr("1 gap over 10 s not counted")
                            : HealthWindow::tr("%1 gaps over 10 s not counted").arg(p.gaps));
    return parts.join(QStringLiteral(" · "));
}

QString weakestText(const CellHealth &health)
{
    if (health.weakest)
        return health.weakest->why;
    const bool anyKnown =
        std::any_of(health.cells.begin(), health.cells.end(), [](const CellEstimate &cell) {
            return cell.verdict != HealthVerdict::Unknown;
        });
    if (anyKnown)
        return HealthWindow::tr("Every cell measured is ok.");
    return HealthWindow::tr("Nothing measured yet: %1.")
        .arg(health.resistanceMissing.isEmpty() ? health.sagMissing : health.resistanceMissing);
}

} // namespace

HealthWindow::HealthWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("health"));
    setWindowTitle(tr("keldro cells"));

    sourceBox = new QComboBox(this);
    sourceBox->setObjectName(QStringLiteral("healthSource"));
    sourceBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    sourceBox->setToolTip(tr("The live board, or a recording opened in a trends window"));
    sourceBox->addItem(tr("Live board"));
    sources.emplace_back();
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("healthStatus"));
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Source:"), this));
    top->addWidget(sourceBox);
    top->addWidget(status, 1);

    plot = new HealthPlot(this);

    table = new QTableWidget(0, ColumnCount, this);
    table->setObjectName(QStringLiteral("healthTable"));
    table->setHorizontalHeaderLabels(
        {tr("Cell"), tr("Resistance ± IQR"), tr("Steps"), tr("Sag"), tr("Verdict")});
    const QString tips[ColumnCount] = {
        QString(),
        tr("The median over the current steps of the cell's voltage change over the current "
           "change, and the interquartile range of those steps"),
        tr("The current steps of 2 A or more that measured the cell"),
        tr("How far the cell falls away from the others as the pack empties: its distance "
           "from their median below 30 % SOC minus the same above 60 %, its own I×R taken "
           "out. Below −30 mV is low capacity"),
        tr("high resistance: above 1.5 times the cells' median and 0.5 mΩ or more above it; "
           "low capacity: a sag below −30 mV; unknown: nothing measured")};
    for (int column = 0; column < ColumnCount; ++column)
        table->horizontalHeaderItem(column)->setToolTip(tips[column]);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 3);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);

    pack = new QLabel(this);
    pack->setObjectName(QStringLiteral("healthPack"));
    pack->setWordWrap(true);
    pack->setTextInteractionFlags(Qt::TextSelectableByMouse);
    weakest = new QLabel(this);
    weakest->setObjectName(QStringLiteral("healthWeakest"));
    weakest->setWordWrap(true);
    weakest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = weakest->font();
    bold.setBold(true);
    weakest->setFont(bold);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(plot, 1);
    layout->addWidget(table);
    layout->addWidget(pack);
    layout->addWidget(weakest);

    connect(sourceBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &HealthWindow::showChosen);
    setEntry(0, std::nullopt, tr("Waiting for the board's frames."));
    resize(980, 640);
}

int HealthWindow::indexOf(const QString &path) const
{
    for (int i = 1; i < int(sources.size()); ++i)
        if (sources[i].path == path)
            return i;
    return -1;
}

void HealthWindow::showLive(const QString &port, const CellHealth &health)
{
    sourceBox->setItemText(0, tr("Live board on %1").arg(port));
    setEntry(0, health, QString());
}

void HealthWindow::addRecording(const QString &path)
{
    int index = indexOf(path);
    if (index < 0) {
        index = int(sources.size());
        sources.push_back(Source{path, std::nullopt, QString()});
        sourceBox->addItem(QFileInfo(path).fileName());
        sourceBox->setItemData(index, QDir::toNativeSeparators(path), Qt::ToolTipRole);
    }
    setEntry(index, std::nullopt, tr("Reading %1…").arg(QFileInfo(path).fileName()));
    sourceBox->setCurrentIndex(index);
}

void HealthWindow::showRecording(const QString &path,
                                 const QVector<QPair<QString, CellHealth>> &boards)
{
    const int first = indexOf(path);
    if (first < 0 || boards.isEmpty())
        return;
    // A recording read again may hold other boards than before.
    while (first + 1 < int(sources.size()) && sources[size_t(first + 1)].path == path) {
        sources.erase(sources.begin() + first + 1);
        sourceBox->removeItem(first + 1);
    }
    const QString fileName = QFileInfo(path).fileName();
    for (int i = 0; i < boards.size(); ++i) {
        const int index = first + i;
        // "night.csv#ttyUSB1": the board's name beyond the path, after the file's name.
        const QString text = fileName + boards[i].first.mid(path.size());
        if (i > 0) {
            sources.insert(sources.begin() + index, Source{path, std::nullopt, QString()});
            sourceBox->insertItem(index, text);
            sourceBox->setItemData(index, QDir::toNativeSeparators(path), Qt::ToolTipRole);
        }
        sourceBox->setItemText(index, text);
        setEntry(index, boards[i].second, QString());
    }
}

void HealthWindow::recordingFailed(const QString &path, const QString &reason)
{
    const int index = indexOf(path);
    if (index >= 0)
        setEntry(index, std::nullopt, reason);
}

void HealthWindow::choose(const QString &path)
{
    const int index = path.isEmpty() ? 0 : indexOf(path);
    if (index >= 0)
        sourceBox->setCurrentIndex(index);
}

QString HealthWindow::shownRecording() const
{
    return sources[size_t(sourceBox->currentIndex())].path;
}

const CellHealth *HealthWindow::shownHealth() const
{
    const std::optional<CellHealth> &health = sources[size_t(sourceBox->currentIndex())].health;
    return health ? &*health : nullptr;
}

void HealthWindow::setEntry(int index, const std::optional<CellHealth> &health,
                            const QString &statusText)
{
    sources[size_t(index)].health = health;
    sources[size_t(index)].status = statusText;
    if (index == sourceBox->currentIndex())
        showChosen();
}

void HealthWindow::showChosen()
{
    const CellHealth *health = shownHealth();
    QString text = sources[size_t(sourceBox->currentIndex())].status;
    if (text.isEmpty() && health)
        text = tr("%1 frames, %2 to %3")
                   .arg(health->frames)
                   .arg(timeText(health->fromMs), timeText(health->toMs));
    status->setText(text);
    plot->showHealth(health);
    fillTable(health);
    pack->setText(health ? packText(*health) : QString());
    weakest->setText(health ? weakestText(*health) : QString());
    QPalette palette = weakest->palette();
    palette.setColor(QPalette::WindowText, health && health->weakest
                                               ? HealthPlot::weakestColour().darker(120)
                                               : this->palette().color(QPalette::WindowText));
    weakest->setPalette(palette);
    const QString shown = shownRecording();
    setWindowTitle(shown.isEmpty() ? tr("keldro cells")
                                   : tr("keldro cells — %1").arg(QFileInfo(shown).fileName()));
}

void HealthWindow::fillTable(const CellHealth *health)
{
    const int cells = health ? health->cells.size() : 0;
    const int weakestCell = health && health->weakest ? health->weakest->cell : -1;
    // The pack's own resistance in the last row, as keldro-cli health has it.
    const int rows = health ? cells + 1 : 0;
    table->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        QStringList texts;
        bool bad = false;
        bool weakestRow = false;
        if (row < cells) {
            const CellEstimate &cell = health->cells[row];
            texts << QString::number(cell.cell)
                  << resistanceText(cell.resistanceMilliohm, cell.resistanceIqrMilliohm)
                  << QString::number(cell.steps)
                  << number(cell.sagMillivolts, 1, QStringLiteral("mV"))
                  << QLatin1String(healthVerdictName(cell.verdict));
            // A cell with a verdict against it stands out as an alarm's value does.
            bad = cell.verdict == HealthVerdict::HighResistance ||
                  cell.verdict == HealthVerdict::LowCapacity;
            weakestRow = cell.cell == weakestCell;
        } else {
            const PackEstimate &pack = health->pack;
            texts << tr("pack")
                  << resistanceText(pack.resistanceMilliohm, pack.resistanceIqrMilliohm)
                  << QString::number(health->steps) << QString() << QString();
        }
        for (int column = 0; column < ColumnCount; ++column) {
            QTableWidgetItem *item = table->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                table->setItem(row, column, item);
            }
            item->setText(texts[column]);
            item->setTextAlignment(column == VerdictColumn ? Qt::AlignLeft | Qt::AlignVCenter
                                                           : Qt::AlignRight | Qt::AlignVCenter);
            item->setBackground(bad ? QBrush(AlarmStyle::background()) : QBrush());
            QFont font = item->font();
            font.setBold(weakestRow);
            item->setFont(font);
        }
    }
    // Every cell in sight at once: a technician looking for the weak one should not
    // have to scroll to cell 15. The plot takes the height that is left.
    table->setFixedHeight(table->horizontalHeader()->sizeHint().height() + 2 * table->frameWidth() +
                          rows * table->verticalHeader()->defaultSectionSize());
}
