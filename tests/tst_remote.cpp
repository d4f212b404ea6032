// Boards on another machine: the serial layer, the window and keldro-cli through a
// real ser2net on 127.0.0.1, with a pseudo-terminal or keldro-sim behind it.
#include "childprocess.h"
#include "protocol/commandframe.h"
#include "ptypair.h"
#include "ser2netserver.h"
#include "serial/openfailure.h"
#include "serial/porturl.h"
#include "serial/serialenumerator.h"
#include "serial/serialport.h"
#include "window/widget.h"
#include "window/windowmenu.h"
#include "workedexamples.h"

#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>
#include <memory>

namespace {

QByteArray bytesOf(const CommandFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

// A date frame whose check word holds 0xFF, and one whose parameter does.
QByteArray commandsWithFF()
{
    QByteArray bytes = bytesOf(buildCommandFrame(CommandCode::SetManufactureDate, 0xFFFF));
    for (quint16 parameter = 0;; ++parameter) {
        const QByteArray frame =
            bytesOf(buildCommandFrame(CommandCode::SetManufactureDate, parameter));
        if (frame.mid(8).contains('\xFF'))
            return bytes + frame;
    }
}

} // namespace

class RemoteTest : public QObject
{
    Q_OBJECT

    // keldro-sim behind a ser2net of its own.
    struct RemoteBoard
    {
        Process sim;
        std::unique_ptr<Ser2netServer> server;
    };
    static RemoteBoard startRemoteBoard()
    {
        RemoteBoard board;
        board.sim = start(QStringLiteral(KELDRO_SIM_PATH), {"--interval", "50"});
        board.sim->waitForReadyRead(10000);
        board.server = std::make_unique<Ser2netServer>(
            QString::fromLocal8Bit(board.sim->readLine()).trimmed());
        board.server->start();
        return board;
    }
    static QString url(const Ser2netServer &server, const QString &kind)
    {
        return kind == QLatin1String("tcp") ? server.tcpUrl() : server.rfc2217Url();
    }

private slots:
    void initTestCase() { SerialEnumerator::setSystemPortsHidden(true); }

    void bytesFFCrossIntactBothWays_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("rfc2217") << "rfc2217";
        QTest::newRow("tcp") << "tcp";
    }
    void bytesFFCrossIntactBothWays()
    {
        QFETCH(QString, kind);
        PtyPair pty;
        Ser2netServer server(pty.slavePath());
        QVERIFY(server.start());
        SerialPort port(url(server, kind), PortSettings{}, SerialPort::EventDriven);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

        // A current and a temperature below zero: FF FF in the middle, and a lone FF
        // where the pty cuts the frame.
        const QByteArray telemetry = WorkedExamples::type1Frame;
        QVERIFY(telemetry.contains("\xFF\xFF"));
        QByteArray received;
        connect(&port, &QIODevice::readyRead, this, [&] { received += port.readAll(); });
        QVERIFY(pty.writeInPieces(telemetry + telemetry, telemetry.indexOf('\xFF') + 1, 20));
        QTRY_COMPARE_WITH_TIMEOUT(received, telemetry + telemetry, 5000);

        const QByteArray commands = commandsWithFF();
        QCOMPARE(port.write(commands), qint64(commands.size()));
        QCOMPARE(pty.read(commands.size(), 5000), commands);
    }

    void rateSetThroughRfc2217IsThePtysRate_data()
    {
        QTest::addColumn<int>("atOpen");
        QTest::addColumn<int>("changed");
        QTest::newRow("57600, then 9600") << 57600 << 9600;
        QTest::newRow("19200, then 921600") << 19200 << 921600;
    }
    void rateSetThroughRfc2217IsThePtysRate()
    {
        QFETCH(int, atOpen);
        QFETCH(int, changed);
        PtyPair pty;
        Ser2netServer server(pty.slavePath());
        QVERIFY(server.start());
        PortSettings settings;
        settings.baudRate = atOpen;
        SerialPort port(server.rfc2217Url(), settings, SerialPort::EventDriven);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        // The server has answered the rate before open() returns.
        QCOMPARE(pty.slaveBaudRate(), atOpen);
        port.setBaudRate(changed);
        QTRY_COMPARE_WITH_TIMEOUT(pty.slaveBaudRate(), changed, 5000);
    }

    // The window opens without waiting for the server, and tells why it failed.
    void openFailureSaysWhy_data()
    {
        QTest::addColumn<QString>("url"); // {telnet} and {silent} filled in
        QTest::addColumn<QString>("says");
        QTest::newRow("nothing listens") << "rfc2217://127.0.0.1:1"
                                         << "connection refused";
        QTest::newRow("no such host") << "tcp://keldro-no-such-host.invalid:7000"
                                      << "host not found";
        QTest::newRow("plain Telnet") << "{telnet}"
                                      << "refused the COM port option";
        QTest::newRow("raw TCP server, no answer")
            << "{silent}"
            << "refused the COM port option: no answer within 5 s";
    }
    void openFailureSaysWhy()
    {
        QFETCH(QString, url);
        QFETCH(QString, says);
        PtyPair pty;
        Ser2netServer server(pty.slavePath());
        QVERIFY(server.start());
        QTcpServer silent; // takes the connection and never says a word
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        url.replace("{telnet}", server.telnetUrl())
            .replace("{silent}", QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.serverPort()));

        SerialEnumerator::addVirtualPort(url);
        Widget window;
        auto *log = window.findChild<QPlainTextEdit *>("plainTextEdit");
        auto *box = window.findChild<QComboBox *>("comboBox_Port");
        QCOMPARE(box->currentText(), PortUrl::parse(url)->hostAndPort());
        QVERIFY(box->toolTip().startsWith(url));
        QTest::mouseClick(window.findChild<QPushButton *>("pushButton_OpenClose"), Qt::LeftButton);
        // The click has returned before the server's answer: the window goes on meanwhile.
        QVERIFY(!box->isEnabled());
        QVERIFY(!log->toPlainText().contains("OPEN COM ERROR"));
        QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().contains(says), 10000);
        QVERIFY(log->toPlainText().contains("OPEN COM ERROR..." + box->currentText() + '\n'));
        QVERIFY(box->isEnabled());
        SerialEnumerator::removeVirtualPort(url);
    }

    // ser2net stopped: the link closes with the reason. Started again: the window's
    // reopener finds it back, and so does an open by hand.
    void stoppedServerClosesTheLink_startedReopens()
    {
        PtyPair pty;
        Ser2netServer server(pty.slavePath());
        QVERIFY(server.start());
        SerialPort port(server.rfc2217Url(), PortSettings{}, SerialPort::EventDriven);
        QVERIFY(port.open(QIODevice::ReadWrite));
        QSignalSpy lost(&port, &SerialPort::deviceLost);

        SerialEnumerator::addVirtualPort(server.tcpUrl());
        Widget window;
        auto *log = window.findChild<QPlainTextEdit *>("plainTextEdit");
        window.windowMenu()->reopenAction()->setChecked(true);
        // Both on the one pseudo-terminal: ser2net serves it to one client at a time.
        port.close();
        QTest::mouseClick(window.findChild<QPushButton *>("pushButton_OpenClose"), Qt::LeftButton);
        const QString opened = "OPEN " + PortUrl::parse(server.tcpUrl())->hostAndPort() + " OK...";
        QTRY_COMPARE_WITH_TIMEOUT(log->toPlainText().count(opened), 1, 5000);

        server.stop();
        QTRY_VERIFY_WITH_TIMEOUT(window.findChild<QComboBox *>("comboBox_Port")->isEnabled(), 5000);
        QVERIFY(server.start());
        QTRY_COMPARE_WITH_TIMEOUT(log->toPlainText().count(opened), 2, 10000);
        // Closed by hand, the window leaves the line to the port below.
        QTest::mouseClick(window.findChild<QPushButton *>("pushButton_OpenClose"), Qt::LeftButton);
        SerialEnumerator::removeVirtualPort(server.tcpUrl());

        QTRY_VERIFY_WITH_TIMEOUT(port.open(QIODevice::ReadWrite), 5000);
        server.stop();
        QVERIFY(lost.wait(5000));
        QVERIFY(!port.isOpen());
        QVERIFY2(lost.at(0).at(0).toString().contains("closed by the server"),
                 qPrintable(lost.at(0).at(0).toString()));
        QVERIFY(!port.open(QIODevice::ReadWrite));
        QCOMPARE(explainOpenFailure(port).cause, OpenFailure::Cause::ConnectionRefused);
        QVERIFY(server.start());
        QVERIFY(port.open(QIODevice::ReadWrite));
    }

    void cliRecordsAndSends_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("command");
        QTest::newRow("record rfc2217") << "rfc2217"
                                        << "record";
        QTest::newRow("record tcp") << "tcp"
                                    << "record";
        QTest::newRow("send rfc2217") << "rfc2217"
                                      << "send";
        QTest::newRow("send tcp") << "tcp"
                                  << "send";
    }
    void cliRecordsAndSends()
    {
        QFETCH(QString, kind);
        QFETCH(QString, command);
        RemoteBoard board = startRemoteBoard();
        const QString portUrl = url(*board.server, kind);
        const QStringList arguments =
            command == QLatin1String("record")
                ? QStringList{"record", portUrl, "--count", "3", "--format", "jsonl"}
                : QStringList{"send", portUrl, "calibrate-soc", "--yes"};
        Process cli = start(QStringLiteral(KELDRO_CLI_PATH), arguments);
        QVERIFY(cli->waitForFinished(10000));
        QVERIFY2(cli->exitCode() == 0, cli->readAllStandardError().constData());
        if (command == QLatin1String("record")) {
            const QByteArray rows = cli->readAllStandardOutput();
            QCOMPARE(rows.count("\"port\":\"" + portUrl.toUtf8() + '"'), 3);
        } else {
            QByteArray said;
            QTRY_VERIFY_WITH_TIMEOUT(
                (said += board.sim->readAllStandardError()).contains("soc calibration"), 5000);
        }
    }
};

QTEST_MAIN(RemoteTest)
#include "tst_remote.moc"
