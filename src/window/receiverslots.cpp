#include "protocol/displaytext.h"
#include "protocol/telemetryrecord.h"
#include "serial/serialport.h"
#include "ui_widget.h"
#include "window/telemetryview.h"
#include "window/widget.h"

#include <QDateTime>
#include <QDebug>

// Frames are taken out of what arrives by their content, the moment their last
// byte is here, so frames that pile up while the window is busy are each shown, in
// order. Text waits for the line to fall silent (see Widget's constructor).
void Widget::on_ReadyRead()
{
    if (serialPort->bytesAvailable() == 0)
        return;
    const QByteArray chunk = serialPort->readAll();
    qDebug() << "bytes.size:" << chunk.size();
    takeStreamItems(receiveStream.feed(chunk));
}

void Widget::takeStreamItems(const QVector<StreamItem> &items)
{
    for (const StreamItem &item : items) {
        switch (item.kind) {
        case StreamItem::Kind::Text:
            appendToReceiveLog(ui->plainTextEdit, item.bytes);
            break;
        case StreamItem::Kind::Rejected:
            break;
        case StreamItem::Kind::Frame: {
            showTelemetry(*ui, renderTelemetry(item.telemetry));
            const TelemetryRecord record{QDateTime::currentMSecsSinceEpoch(),
                                         serialPort->portName(), item.telemetry};
            emit frameAccepted(record);
            break;
        }
        }
    }
}

void Widget::on_ReceiveClearClicked()
{
    ui->plainTextEdit->clear();
    // The model and cell type labels stay: they name the board, not a reading.
    QTextBrowser *const fields[] = {
        ui->textBrowser_cell1,       ui->textBrowser_cell2,        ui->textBrowser_cell3,
        ui->textBrowser_cell4,       ui->textBrowser_cell5,        ui->textBrowser_cell6,
        ui->textBrowser_cell7,       ui->textBrowser_cell8,        ui->textBrowser_cell9,
        ui->textBrowser_cell10,      ui->textBrowser_cell11,       ui->textBrowser_cell12,
        ui->textBrowser_cell13,      ui->textBrowser_cell14,       ui->textBrowser_cell15,
        ui->textBrowser_bat,         ui->textBrowser_pack_voltage, ui->textBrowser_current,
        ui->textBrowser_SOC,         ui->textBrowser_BQ_NTC1,      ui->textBrowser_BQ_NTC2,
        ui->textBrowser_BQ_NTC3,     ui->textBrowser_cycle,        ui->textBrowser_MCU_NTC1,
        ui->textBrowser_MCU_NTC2,    ui->textBrowser_sys_status,   ui->textBrowser_bq_status,
        ui->textBrowser_bms_status,  ui->textBrowser_version,      ui->textBrowser_OCD,
        ui->textBrowser_OVB,         ui->textBrowser_SCD,          ui->textBrowser_OVD,
        ui->textBrowser_UV,          ui->textBrowser_LOW_TEMP,     ui->textBrowser_HIGH_TEMP,
        ui->textBrowser_manufacture,
    };
    for (QTextBrowser *field : fields)
        field->clear();
}
