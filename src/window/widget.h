#pragma once

#include "protocol/framestream.h"

#include <QWidget>

class AlarmStrip;
class LinkReopener;
class QTimer;
class SerialEnumerator;
class SerialPort;
class ValueFieldMarks;
class WindowJudge;
class WindowMenu;
class WindowRecorder;
class WindowSettings;
struct JudgeEvent;
struct TelemetryRecord;

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

// The one window of the tool: port controls, the telemetry fields, the command
// buttons and the receive log. The slots are grouped by what they drive:
// portslots.cpp (port choice, open/close, hot-plug), receiverslots.cpp (receiver,
// Clear), commandslots.cpp (operator commands, poll). The context menu and what
// it offers live in WindowMenu and the classes it drives.
class Widget : public QWidget
{
    Q_OBJECT

public:
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

    // The context menu's entries, for the command line's --record and --open.
    WindowMenu *windowMenu() const { return menu; }
    // What the window makes of the board's values: events and alarms.
    WindowJudge *windowJudge() const { return judge; }

signals:
    // A good frame has just been shown, stamped with the time it arrived.
    void frameAccepted(const TelemetryRecord &record);

protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void on_PortNameChanged(const QString &text);
    void on_BaudRateChanged(int index);
    void on_OpenCloseButtonClicked();
    void on_ButtonOffClicked();
    void on_ButtonBootClicked();
    void on_ButtonSOCCalClicked();
    void on_ButtonManufactureDateSetClicked();
    void on_ReadyRead();
    void on_PortAddedOrRemoved();
    void on_ReceiveClearClicked();
    void timerComTrnasEvent();
    void on_checkBoxTransState();

private:
    void setLinkControlsOpen();
    void setLinkControlsClosed();
    void selectBaudRate(int rate);
    void rememberLinkChoice();
    void openLink();
    void linkOpenFinished(bool opened);
    bool reopenLink(const QString &portName);
    void linkLost();
    void sendFrame(const uchar *frame, int size);
    bool askOperator(const QString &question);
    void takeStreamItems(const QVector<StreamItem> &items);
    void logAlarms(const QVector<JudgeEvent> &events);

    SerialPort *serialPort;
    SerialEnumerator *portEnumerator;
    Ui::Widget *ui;
    WindowSettings *settings;
    QTimer *pollTimer;
    ValueFieldMarks *marks;
    WindowRecorder *recorder;
    LinkReopener *reopener;
    WindowJudge *judge;
    WindowMenu *menu;
    AlarmStrip *strip;
    // What the board sent and has not yet made a whole frame or line of text.
    FrameStream receiveStream;
    // Why the reopener's last attempt failed, told in the log already.
    QString lastReopenFailure;
};
