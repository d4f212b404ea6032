#include "window/widget.h"

#include "judge/alarmtext.h"
#include "protocol/telemetryrecord.h"
#include "serial/serialenumerator.h"
#include "serial/serialport.h"
#include "ui_widget.h"
#include "window/alarms/alarmstrip.h"
#include "window/alarms/valuefieldmarks.h"
#include "window/alarms/windowjudge.h"
#include "window/linkreopener.h"
#include "window/linkstyle.h"
#include "window/portboxstyle.h"
#include "window/portlist.h"
#include "window/telemetryview.h"
#include "window/windowmenu.h"
#include "window/windowplace.h"
#include "window/windowrecorder.h"
#include "window/windowsettings.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QIntValidator>
#include <QTimer>

namespace {

constexpr int PollIntervalMs = 100;

constexpr int BaudRates[] = {9600, 19200, 38400, 57600, 115200, 256000, 921600};

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

    settings = new WindowSettings(this);
    restoreWindowPlace(this, settings->mainGeometry());

    // Typed rates between 1 and 10 Mbaud are handed to the port as they are.
    ui->comboBox_BaudRate->setValidator(new QIntValidator(1, 10000000, ui->comboBox_BaudRate));

    // Switching notifications on reports the ports already present; nothing is
    // connected yet, so those reports run no slot. The list is filled from what they
    // reported: one enumeration of the system's ports instead of two.
    portEnumerator = new SerialEnumerator(this);
    portEnumerator->setUpNotifications();
    // Nothing is connected yet either: choosing the remembered port and rate is
    // no choice of the technician's, and nothing opens.
    const QList<PortInfo> ports = portEnumerator->ports();
    fillPortList(ui->comboBox_Port, ports);
    const int rememberedPort = rememberedPortIndex(ports, settings->port());
    if (rememberedPort >= 0)
        ui->comboBox_Port->setCurrentIndex(rememberedPort);
    showCurrentPortToolTip(ui->comboBox_Port);
    PortBoxStyle::install(ui->comboBox_Port);

    for (const int rate : BaudRates)
        ui->comboBox_BaudRate->addItem(QString::number(rate), rate);
    selectBaudRate(settings->baudRate());
    connect(ui->comboBox_BaudRate, SIGNAL(currentIndexChanged(int)), this,
            SLOT(on_BaudRateChanged(int)));

    serialPort =
        new SerialPort(currentPortName(ui->comboBox_Port), PortSettings{}, SerialPort::EventDriven);
    ui->pushButton_OpenClose->setStyleSheet(QString::fromLatin1(LinkStyle::ClosedButton));

    pollTimer = new QTimer(this);
    pollTimer->setInterval(PollIntervalMs);

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
    connect(serialPort, &SerialPort::deviceLost, this, &Widget::linkLost);
    connect(serialPort, &SerialPort::lineWarning, ui->plainTextEdit,
            &QPlainTextEdit::appendPlainText);
    connect(serialPort, &SerialPort::openFinished, this, &Widget::linkOpenFinished);
    connect(ui->comboBox_Port, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { showCurrentPortToolTip(ui->comboBox_Port); });
    connect(serialPort, &SerialPort::lineSilent, this,
            [this](int silentMs) { takeStreamItems(receiveStream.lineSilent(silentMs)); });
    // However the link closes, text the board sent last reaches the log.
    connect(serialPort, &QIODevice::aboutToClose, this, [this] {
        on_ReadyRead();
        takeStreamItems(receiveStream.flush());
    });

    setWindowTitle(tr("KELDRO V") + tr("1.6.1") + tr("  zivO"));

    prepareValueFields(*ui);

    marks = new ValueFieldMarks(*ui, this);
    recorder = new WindowRecorder(this);
    reopener = new LinkReopener(
        portEnumerator, [this](const QString &name) { return reopenLink(name); }, this);
    judge = new WindowJudge(this);
    menu = new WindowMenu(this, *ui, marks, recorder, settings, judge);
    connect(menu->reopenAction(), &QAction::toggled, reopener, &LinkReopener::setEnabled);
    menu->reopenAction()->setChecked(settings->reopenWhenPortReturns());
    connect(menu->reopenAction(), &QAction::toggled, settings,
            &WindowSettings::setReopenWhenPortReturns);
    connect(this, &Widget::frameAccepted, recorder, &WindowRecorder::addRecord);
    connect(this, &Widget::frameAccepted, menu, &WindowMenu::frameAccepted);
    connect(this, &Widget::frameAccepted, marks,
            [this](const TelemetryRecord &record) { marks->frameShown(record.telemetry); });

    if (!settings->readProblem().isEmpty())
        ui->plainTextEdit->appendPlainText(settings->readProblem());
    connect(settings, &WindowSettings::saveFailed, ui->plainTextEdit,
            &QPlainTextEdit::appendPlainText);
    // The strip has the frame before the judge raises or clears anything with it.
    strip = new AlarmStrip(this);
    connect(this, &Widget::frameAccepted, strip,
            [this](const TelemetryRecord &record) { strip->frameShown(record.telemetry); });
    connect(this, &Widget::frameAccepted, judge, &WindowJudge::frameAccepted);
    connect(judge, &WindowJudge::alarmsChanged, marks,
            [this] { marks->showAlarms(judge->raisedAlarms()); });
    connect(judge, &WindowJudge::alarmsChanged, strip,
            [this] { strip->setAlarms(judge->raisedAlarms()); });
    connect(marks, &ValueFieldMarks::staleChanged, strip, &AlarmStrip::setStale);
    connect(strip, &AlarmStrip::itemsChanged, menu, &WindowMenu::showAlarms);
    connect(strip, &AlarmStrip::clicked, menu, &WindowMenu::showEvents);
    connect(judge, &WindowJudge::eventsAdded, this, &Widget::logAlarms);
    connect(judge, &WindowJudge::eventsAdded, recorder, &WindowRecorder::addEvents);
    connect(judge, &WindowJudge::limitsChanged, recorder,
            [this] { recorder->setKeepEvents(judge->hasLimits()); });
}

// A line in the receive log for each alarm raised or cleared, among what the board
// said: the log is where the technician reads back what happened when.
void Widget::logAlarms(const QVector<JudgeEvent> &events)
{
    for (const JudgeEvent &event : events) {
        const QString line = alarmLogLine(event);
        if (!line.isEmpty())
            appendLineToReceiveLog(ui->plainTextEdit, line);
    }
}

Widget::~Widget()
{
    // The port closes below, after the log it would write to has gone.
    serialPort->disconnect(this);
    delete ui;
    delete serialPort;
    delete pollTimer;
    delete portEnumerator;
}

void Widget::closeEvent(QCloseEvent *event)
{
    settings->setMainGeometry(saveGeometry());
    menu->rememberPlaces();
    QWidget::closeEvent(event);
}

void Widget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
}
