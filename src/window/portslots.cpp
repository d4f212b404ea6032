#include "serial/openfailure.h"
#include "serial/serialport.h"
#include "ui_widget.h"
#include "window/linkreopener.h"
#include "window/linkstyle.h"
#include "window/portlist.h"
#include "window/valuefieldmarks.h"
#include "window/widget.h"
#include "window/windowjudge.h"

#include <QDebug>
#include <limits>

namespace {

// The baud box accepts typed rates; text that is no decimal number gives 0, which
// the port refuses to open with.
qint32 baudRateFromText(const QString &text)
{
    const uint rate = text.toUInt();
    return rate <= uint(std::numeric_limits<qint32>::max()) ? qint32(rate) : 0;
}

} // namespace

void Widget::on_PortNameChanged(const QString &)
{
    const QString name = ui->comboBox_Port->currentText();
    qDebug().noquote() << "setPortNam:" << name;
    serialPort->setPortName(name);
}

void Widget::on_BaudRateChanged(int)
{
    const QString text = ui->comboBox_BaudRate->currentText();
    qDebug().noquote() << "setBaudRate:" << text;
    serialPort->setBaudRate(baudRateFromText(text));
}

void Widget::on_OpenCloseButtonClicked()
{
    // The technician has taken the link in hand: no port is waited for any more.
    reopener->forget();
    if (serialPort->isOpen()) {
        serialPort->close();
        judge->linkLost(tr("port closed"));
        setLinkControlsClosed();
        return;
    }
    openLink();
}

bool Widget::openLink()
{
    // Every attempt takes name and rate afresh from the boxes, including a rate
    // typed but not yet confirmed with Enter.
    const QString name = ui->comboBox_Port->currentText();
    serialPort->setPortName(name);
    serialPort->setBaudRate(baudRateFromText(ui->comboBox_BaudRate->currentText()));
    if (!serialPort->open(QIODevice::ReadWrite)) {
        ui->plainTextEdit->appendPlainText(QStringLiteral("OPEN COM ERROR...") + name);
        ui->plainTextEdit->appendPlainText(explainOpenFailure(*serialPort).text);
        return false;
    }
    ui->plainTextEdit->appendPlainText(QStringLiteral("OPEN ") + name + QStringLiteral(" OK..."));
    // Nothing of an earlier link may join what this one receives.
    receiveStream.reset();
    judge->linkOpened(serialPort->portName());
    setLinkControlsOpen();
    return true;
}

bool Widget::reopenLink(const QString &portName)
{
    if (serialPort->isOpen())
        return true;
    const int index =
        ui->comboBox_Port->findText(portName, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0)
        return false;
    ui->comboBox_Port->setCurrentIndex(index);
    return openLink();
}

void Widget::linkLost()
{
    reopener->linkLost(serialPort->portName());
    judge->linkLost(tr("the device was removed"));
    setLinkControlsClosed();
}

void Widget::on_PortAddedOrRemoved()
{
    refillPortList(ui->comboBox_Port);
    // The list no longer names the port of the link: its adapter has gone.
    if (serialPort->portName() == ui->comboBox_Port->currentText())
        return;
    if (serialPort->isOpen()) {
        reopener->linkLost(serialPort->portName());
        serialPort->close();
        judge->linkLost(tr("the device was removed"));
    }
    setLinkControlsClosed();
}

void Widget::setLinkControlsOpen()
{
    ui->comboBox_Port->setEnabled(false);
    ui->comboBox_BaudRate->setEnabled(false);
    ui->pushButton_Off->setEnabled(true);
    ui->pushButton_OpenClose->setStyleSheet(QString::fromLatin1(LinkStyle::OpenButton));
}

void Widget::setLinkControlsClosed()
{
    ui->comboBox_Port->setEnabled(true);
    ui->comboBox_BaudRate->setEnabled(true);
    ui->pushButton_Off->setEnabled(false);
    ui->pushButton_Boot->setEnabled(false);
    ui->pushButton_OpenClose->setStyleSheet(QString::fromLatin1(LinkStyle::ClosedButton));
    marks->linkClosed();
}
