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
QString resistanceText(const CellEstimate &cell)
{
    if (!cell.resistanceMilliohm)
        return Unknown;
    return QStringLiteral("%1 ± %2 mΩ")
        .arg(fixed(*cell.resistanceMilliohm, 2), fixed(cell.resistanceIqrMilliohm.value_or(0), 2));
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
    parts << HealthWindow::tr("Pack %1 over %2 steps")
                 .arg(number(p.resistanceMilliohm, 2, QStringLiteral("mΩ")))
                 .arg(health.steps);
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
    parts << (p.gaps == 1 ? HealthWindow::tr("1 gap") : HealthWindow::tr("%1 gaps").arg(p.gaps));
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
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
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
    layout->addWidget(plot, 3);
    layout->addWidget(table, 2);
    layout->addWidget(pack);
    layout->addWidget(weakest);

    connect(sourceBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &HealthWindow::showChosen);
    setEntry(0, std::nullopt, tr("Waiting for the board's frames."));
    resize(760, 660);
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

void HealthWindow::showRecording(const QString &path, const CellHealth &health)
{
    const int index = indexOf(path);
    if (index >= 0)
        setEntry(index, health, QString());
}

void HealthWindow::recordingFailed(const QString &path, const QString &reason)
{
    const int index = indexOf(path);
    if (index >= 0)
        setEntry(index, std::nullopt, reason);
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
    const QString shown = shownRecording();
    setWindowTitle(shown.isEmpty() ? tr("keldro cells")
                                   : tr("keldro cells — %1").arg(QFileInfo(shown).fileName()));
}

void HealthWindow::fillTable(const CellHealth *health)
{
    const int rows = health ? health->cells.size() : 0;
    const int weakestCell = health && health->weakest ? health->weakest->cell : -1;
    table->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        const CellEstimate &cell = health->cells[row];
        const QString texts[ColumnCount] = {QString::number(cell.cell), resistanceText(cell),
                                            QString::number(cell.steps),
                                            number(cell.sagMillivolts, 1, QStringLiteral("mV")),
                                            QLatin1String(healthVerdictName(cell.verdict))};
        // A cell with a verdict against it stands out as an alarm's value does.
        const bool bad = cell.verdict == HealthVerdict::HighResistance ||
                         cell.verdict == HealthVerdict::LowCapacity;
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
            font.setBold(cell.cell == weakestCell);
            item->setFont(font);
        }
    }
}
