#include "mainwindow/widget.h"

#include "serial/serialenumerator.h"
#include "serial/serialport.h"
#include "seriallink/linkstyle.h"
#include "ui_widget.h"

#include <QEvent>
#include <QIntValidator>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextOption>
#include <QTimer>

namespace {

constexpr int PollIntervalMs = 100;

struct BaudRate
{
    const char *text;
    int rate;
};
constexpr BaudRate BaudRates[] = {
    {"9600", 9600},     {"19200", 19200},   {"38400", 38400},   {"57600", 57600},
    {"115200", 115200}, {"256000", 256000}, {"921600", 921600},
};
constexpr int DefaultBaudIndex = 4; // 115200, the board's rate out of the factory

// The value fields are 20 pixels high. Qt's default document margin of 4 pixels
// on every side leaves 12 pixels for an 11-point line, which cuts the digits;
// one pixel is enough to keep them clear of the frame.
constexpr qreal ValueFieldMargin = 1;

// Right alignment has to live in the document's default text option:
// QTextEdit::setText replaces the document's blocks, and with them any block
// alignment set through setAlignment, so every value after the first would
// otherwise come out left-aligned.
void alignRight(QTextBrowser *field)
{
    field->setAlignment(Qt::AlignRight);
    QTextOption option = field->document()->defaultTextOption();
    option.setAlignment(Qt::AlignRight);
    field->document()->setDefaultTextOption(option);
}

} // namespace

Widget::Widget(QWidget *parent) : QWidget(parent)
{
    ui = new Ui::Widget;
    ui->setupUi(this);

    setFixedSize(size());
    setWindowFlags(Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    ui->pushButton_manu_date_set->setVisible(false);
    ui->pushButton_SOC_Cal->setVisible(false);
    ui->checkBox_Trans->setVisible(false);

    // Typed rates between 1 and 10 Mbaud are handed to the port as they are.
    ui->comboBox_BaudRate->setValidator(new QIntValidator(1, 10000000, ui->comboBox_BaudRate));

    for (const PortInfo &port : SerialEnumerator::getPorts())
        ui->comboBox_Port->addItem(port.portName);

    for (const BaudRate &baud : BaudRates)
        ui->comboBox_BaudRate->addItem(QString::fromLatin1(baud.text), baud.rate);
    ui->comboBox_BaudRate->setCurrentIndex(DefaultBaudIndex);
    connect(ui->comboBox_BaudRate, SIGNAL(currentIndexChanged(int)), this,
            SLOT(on_BaudRateChanged(int)));

    serialPort =
        new SerialPort(ui->comboBox_Port->currentText(), PortSettings{}, SerialPort::EventDriven);
    ui->pushButton_OpenClose->setStyleSheet(QString::fromLatin1(LinkStyle::ClosedButton));

    pollTimer = new QTimer(this);
    pollTimer->setInterval(PollIntervalMs);

    // Switching notifications on reports the ports already present; nothing is
    // connected yet, so those reports run no slot and the list above stays.
    portEnumerator = new SerialEnumerator(this);
    portEnumerator->setUpNotifications();

    connect(ui->comboBox_Port, SIGNAL(currentTextChanged(QString)), this,
            SLOT(on_PortNameChanged(QString)));
    connect(ui->pushButton_OpenClose, SIGNAL(clicked()), this, SLOT(on_OpenCloseButtonClicked()));
    connect(ui->pushButton_Off, SIGNAL(clicked()), this, SLOT(on_ButtonOffClicked()));
    connect(ui->pushButton_Boot, SIGNAL(clicked()), this, SLOT(on_ButtonBootClicked()));
    connect(ui->pushButton_Receive_Clear, SIGNAL(clicked()), this, SLOT(on_ReceiveClearClicked()));
    connect(ui->pushButton_SOC_Cal, SIGNAL(clicked()), this, SLOT(on_ButtonSOCCalClicked()));
    connect(ui->pushButton_manu_date_set, SIGNAL(clicked()), this,
            SLOT(on_ButtonManufactureDateSetClicked()));
    connect(pollTimer, SIGNAL(timeout()), this, SLOT(timerComTrnasEvent()));
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(on_ReadyRead()));
    connect(portEnumerator, SIGNAL(deviceDiscovered(PortInfo)), this,
            SLOT(on_PortAddedOrRemoved()));
    connect(portEnumerator, SIGNAL(deviceRemoved(PortInfo)), this, SLOT(on_PortAddedOrRemoved()));
    connect(ui->checkBox_Trans, SIGNAL(stateChanged(int)), this, SLOT(on_checkBoxTransState()));
    // A vanished device closes the link as if its port had left the list.
    connect(serialPort, &SerialPort::deviceLost, this, &Widget::setLinkControlsClosed);

    setWindowTitle(tr("KELDRO V") + tr("1.6.1") + tr("  zivO"));

    QTextBrowser *const valueFields[] = {
        ui->textBrowser_cell1,        ui->textBrowser_cell2,    ui->textBrowser_cell3,
        ui->textBrowser_cell4,        ui->textBrowser_cell5,    ui->textBrowser_cell6,
        ui->textBrowser_cell7,        ui->textBrowser_cell8,    ui->textBrowser_cell9,
        ui->textBrowser_cell10,       ui->textBrowser_cell11,   ui->textBrowser_cell12,
        ui->textBrowser_cell13,       ui->textBrowser_cell14,   ui->textBrowser_cell15,
        ui->textBrowser_BQ_NTC1,      ui->textBrowser_BQ_NTC2,  ui->textBrowser_BQ_NTC3,
        ui->textBrowser_MCU_NTC1,     ui->textBrowser_MCU_NTC2, ui->textBrowser_bat,
        ui->textBrowser_pack_voltage, ui->textBrowser_current,  ui->textBrowser_SOC,
        ui->textBrowser_bq_status,    ui->textBrowser_version,  ui->textBrowser_manufacture,
        ui->textBrowser_bms_status,
    };
    for (QTextBrowser *field : valueFields)
        alignRight(field);
    for (QTextBrowser *field : findChildren<QTextBrowser *>())
        field->document()->setDocumentMargin(ValueFieldMargin);
}

Widget::~Widget()
{
    delete ui;
    delete serialPort;
    delete pollTimer;
    delete portEnumerator;
}

void Widget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}
