#include "serial/openfailure.h"
#include "serial/serialport.h"
#include "ui_widget.h"
#include "window/alarms/valuefieldmarks.h"
#include "window/alarms/windowjudge.h"
#include "window/linkreopener.h"
#include "window/linkstyle.h"
#include "window/portlist.h"
#include "window/seriallog.h"
#include "window/widget.h"
#include "window/windowsettings.h"

#include <limits>

Q_LOGGING_CATEGORY(lcSerial, "keldro.serial", QtInfoMsg)

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
    const QString name = currentPortName(ui->comboBox_Port);
    qCDebug(lcSerial).noquote() << "setPortNam:" << name;
    serialPort->setPortName(name);
    rememberLinkChoice();
}

void Widget::on_BaudRateChanged(int)
{
    const QString text = ui->comboBox_BaudRate->currentText();
    qCDebug(lcSerial).noquote() << "setBaudRate:" << text;
    serialPort->setBaudRate(baudRateFromText(text));
    rememberLinkChoice();
}

void Widget::selectBaudRate(int rate)
{
    // A typed rate comes back as the box keeps one typed and confirmed with Enter:
    // an entry at the end of the list.
    int index = ui->comboBox_BaudRate->findText(QString::number(rate));
    if (index < 0) {
        ui->comboBox_BaudRate->addItem(QString::number(rate), rate);
        index = ui->comboBox_BaudRate->count() - 1;
    }
    ui->comboBox_BaudRate->setCurrentIndex(index);
}

void Widget::rememberLinkChoice()
{
    // A box that shows no port (its adapter unplugged) keeps the remembered one.
    const int port = ui->comboBox_Port->currentIndex();
    if (port >= 0)
        settings->setPort(portAt(ui->comboBox_Port, port));
    settings->setBaudRate(baudRateFromText(ui->comboBox_BaudRate->currentText()));
}

void Widget::on_OpenCloseButtonClicked()
{
    // The technician has taken the link in hand: no port is waited for any more.
    reopener->forget();
    // A click while a server is still being called gives up the call.
    if (serialPort->isOpen() || serialPort->isOpening()) {
        serialPort->close();
        judge->linkLost(tr("port closed"));
        setLinkControlsClosed();
        return;
    }
    openLink();
}

void Widget::openLink()
{
    // Every attempt takes name and rate afresh from the boxes, including a rate
    // typed but not yet confirmed with Enter.
    serialPort->setPortName(currentPortName(ui->comboBox_Port));
    serialPort->setBaudRate(baudRateFromText(ui->comboBox_BaudRate->currentText()));
    // A device answers at once. A server on another machine may take seconds, and the
    // window goes on meanwhile with the boxes held at what is being tried; the result
    // comes to linkOpenFinished() either way.
    serialPort->startOpen(QIODevice::ReadWrite);
    if (serialPort->isOpening()) {
        ui->comboBox_Port->setEnabled(false);
        ui->comboBox_BaudRate->setEnabled(false);
    }
}

void Widget::linkOpenFinished(bool opened)
{
    const QString name = ui->comboBox_Port->currentText();
    if (!opened) {
        ui->comboBox_Port->setEnabled(true);
        ui->comboBox_BaudRate->setEnabled(true);
        // A server that stays away is called every second: its reason is told once,
        // and again only when it changes.
        const QString why = explainOpenFailure(*serialPort).text;
        const bool retold = reopener->isReopening() && why == lastReopenFailure;
        lastReopenFailure = reopener->isReopening() ? why : QString();
        reopener->openFinished(false);
        if (retold)
            return;
        ui->plainTextEdit->appendPlainText(QStringLiteral("OPEN COM ERROR...") + name);
        ui->plainTextEdit->appendPlainText(why);
        return;
    }
    lastReopenFailure.clear();
    reopener->openFinished(true);
    ui->plainTextEdit->appendPlainText(QStringLiteral("OPEN ") + name + QStringLiteral(" OK..."));
    rememberLinkChoice();
    // Nothing of an earlier link may join what this one receives.
    receiveStream.reset();
    judge->linkOpened(serialPort->portName());
    setLinkControlsOpen();
}

bool Widget::reopenLink(const QString &portName)
{
    // Opened by hand meanwhile: nothing is waited for any more.
    if (serialPort->isOpen()) {
        reopener->forget();
        return false;
    }
    const int index = findPort(ui->comboBox_Port, portName);
    if (index < 0)
        return false;
    ui->comboBox_Port->setCurrentIndex(index);
    openLink();
    return true;
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
    if (serialPort->portName() == currentPortName(ui->comboBox_Port))
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
