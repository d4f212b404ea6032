#include "protocol/displaytext.h"
#include "protocol/telemetryrecord.h"
#include "serial/serialport.h"
#include "ui_widget.h"
#include "window/alarms/valuefieldmarks.h"
#include "window/seriallog.h"
#include "window/telemetryview.h"
#include "window/widget.h"

#include <QDateTime>

// Frames are taken out of what arrives by their content, the moment their last
// byte is here, so frames that pile up while the window is busy are each shown, in
// order. Text waits for the line to fall silent (see Widget's constructor).
void Widget::on_ReadyRead()
{
    if (serialPort->bytesAvailable() == 0)
        return;
    const QByteArray chunk = serialPort->readAll();
    qCDebug(lcSerial) << "bytes.size:" << chunk.size();
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
    for (QTextBrowser *field : valueFields(*ui))
        field->clear();
    marks->cleared();
}
