#include "window/shownvalues.h"

#include "ui_widget.h"

namespace {

struct Row
{
    const QLabel *label;
    const QTextBrowser *value;
    const QLabel *unit; // none for counts, states and flags
};

void addLine(QStringList &lines, const QString &label, const QString &value, const QLabel *unit)
{
    if (value.isEmpty())
        return;
    QString line = label + QLatin1Char(' ') + value;
    if (unit)
        line += QLatin1Char(' ') + unit->text();
    lines << line;
}

} // namespace

QString shownValuesText(const Ui::Widget &ui)
{
    const Row rows[] = {
        {ui.label_cell1, ui.textBrowser_cell1, ui.label_cell1_unit},
        {ui.label_cell2, ui.textBrowser_cell2, ui.label_cell2_unit},
        {ui.label_cell3, ui.textBrowser_cell3, ui.label_cell3_unit},
        {ui.label_cell4, ui.textBrowser_cell4, ui.label_cell4_unit},
        {ui.label_cell5, ui.textBrowser_cell5, ui.label_cell5_unit},
        {ui.label_cell6, ui.textBrowser_cell6, ui.label_cell6_unit},
        {ui.label_cell7, ui.textBrowser_cell7, ui.label_cell7_unit},
        {ui.label_cell8, ui.textBrowser_cell8, ui.label_cell8_unit},
        {ui.label_cell9, ui.textBrowser_cell9, ui.label_cell9_unit},
        {ui.label_cell10, ui.textBrowser_cell10, ui.label_cell10_unit},
        {ui.label_cell11, ui.textBrowser_cell11, ui.label_cell11_unit},
        {ui.label_cell12, ui.textBrowser_cell12, ui.label_cell12_unit},
        {ui.label_cell13, ui.textBrowser_cell13, ui.label_cell13_unit},
        {ui.label_cell14, ui.textBrowser_cell14, ui.label_cell14_unit},
        {ui.label_cell15, ui.textBrowser_cell15, ui.label_cell15_unit},
        {ui.label_bat, ui.textBrowser_bat, ui.label_bat_unit},
        {ui.label_pack_voltage, ui.textBrowser_pack_voltage, ui.label_pack_voltage_unit},
        {ui.label_BQ_NTC1, ui.textBrowser_BQ_NTC1, ui.label_BQ_NTC1_unit},
        {ui.label_BQ_NTC2, ui.textBrowser_BQ_NTC2, ui.label_BQ_NTC2_unit},
        {ui.label_BQ_NTC3, ui.textBrowser_BQ_NTC3, ui.label_BQ_NTC3_unit},
        {ui.label_MCU_NTC1, ui.textBrowser_MCU_NTC1, ui.label_MCU_NTC1_unit},
        {ui.label_MCU_NTC2, ui.textBrowser_MCU_NTC2, ui.label_MCU_NTC2_unit},
        {ui.label_current, ui.textBrowser_current, ui.label_current_unit},
        {ui.label_SOC, ui.textBrowser_SOC, ui.label_SOC_unit},
        {ui.label_cycle, ui.textBrowser_cycle, nullptr},
        {ui.label_bq_status, ui.textBrowser_bq_status, nullptr},
        {ui.label_version, ui.textBrowser_version, nullptr},
        {ui.label_manufacture, ui.textBrowser_manufacture, nullptr},
        {ui.label_sys_status, ui.textBrowser_sys_status, nullptr},
        {ui.label_bms_status, ui.textBrowser_bms_status, nullptr},
        {ui.label_OCD, ui.textBrowser_OCD, nullptr},
        {ui.label_SCD, ui.textBrowser_SCD, nullptr},
        {ui.label_UV, ui.textBrowser_UV, nullptr},
        {ui.label_OVB, ui.textBrowser_OVB, nullptr},
        {ui.label_OVD, ui.textBrowser_OVD, nullptr},
        {ui.label_OCD_6, ui.textBrowser_LOW_TEMP, nullptr},
        {ui.label_OCD_7, ui.textBrowser_HIGH_TEMP, nullptr},
    };
    QStringList lines;
    for (const Row &row : rows)
        addLine(lines, row.label->text(), row.value->toPlainText(), row.unit);
    if (lines.isEmpty())
        return QString();
    // The board's name and cell type have no label of their own in the window.
    lines.prepend(ui.label_BMS->text() + QLatin1Char(' ') + ui.label_battery_version->text());
    return lines.join(QLatin1Char('\n'));
}
