#include "protocol/commandframe.h"
#include "serial/serialport.h"
#include "ui_widget.h"
#include "window/widget.h"

#include <QDateTime>
#include <QMessageBox>
#include <QTimer>

// Commands are fire and forget: the board answers, if at all, in its telemetry.
void Widget::sendFrame(const uchar *frame, int size)
{
    serialPort->write(reinterpret_cast<const char *>(frame), size);
}

// Asks before a command that changes the board. Only an explicit No (or closing
// the question, which Qt counts as No) stops it.
bool Widget::askOperator(const QString &question)
{
    return QMessageBox::question(this, tr("提示"), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::NoButton) != QMessageBox::No;
}

void Widget::on_ButtonOffClicked()
{
    if (!serialPort->isOpen())
        return;
    sendFrame(powerOffFrame.data(), int(powerOffFrame.size()));
}

void Widget::on_ButtonBootClicked()
{
    if (!askOperator(tr("确定要更新固件吗?")))
        return;
    // The question runs its own event loop; the link may have closed meanwhile.
    if (!serialPort->isOpen())
        return;
    sendFrame(bootFrame.data(), int(bootFrame.size()));
}

void Widget::on_ButtonSOCCalClicked()
{
    if (!askOperator(tr("确定要校准吗?")))
        return;
    if (!serialPort->isOpen())
        return;
    sendFrame(socCalibrationFrame.data(), int(socCalibrationFrame.size()));
}

void Widget::on_ButtonManufactureDateSetClicked()
{
    if (!askOperator(tr("确定要设置出厂日期吗?")))
        return;
    if (!serialPort->isOpen())
        return;
    // The date of the moment of sending, not of the click: the question may have
    // stood open over midnight.
    const QDate today = QDateTime::currentDateTime().date();
    const CommandFrame frame = setManufactureDateFrame(today.year(), today.month(), today.day());
    sendFrame(frame.data(), int(frame.size()));
}

void Widget::timerComTrnasEvent()
{
    if (!serialPort->isOpen())
        return;
    sendFrame(pollFrame.data(), int(pollFrame.size()));
}

void Widget::on_checkBoxTransState()
{
    // start() on a running timer restarts it: the next poll comes one full
    // interval after the last change of the switch.
    if (ui->checkBox_Trans->isChecked())
        pollTimer->start();
    else
        pollTimer->stop();
}
