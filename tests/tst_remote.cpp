// Boards on another machine: the serial layer, the window and keldro-cli through a
// real ser2net on 127.0.0.1, with a pseudo-terminal or keldro-sim behind it, and
// through support/portserver.py, a server that misbehaves on purpose.
#include "childprocess.h"
#include "protocol/commandframe.h"
#include "ptypair.h"
#include "scratchsettings.h"
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

    static QByteArray nextLineOf(QProcess &process)
    {
        while (!process.canReadLine() && process.waitForReadyRead(10000)) {
        }
        return process.readLine().trimmed();
    }
    struct PortServer
    {
        Process process;
        QString url;
        // What it put on its serial line for the connection that ended next.
        QByteArray nextLine()
        {
            const QByteArray said = nextLineOf(*process);
            return said.startsWith("line") ? QByteArray::fromHex(said.mid(5)) : "? " + said;
        }
    };
    static PortServer startPortServer(const QString &kind, const QStringList &options)
    {
        QStringList arguments{QStringLiteral(KELDRO_PORT_SERVER)};
        if (kind == QLatin1String("rfc2217"))
            arguments << QStringLiteral("--rfc2217");
        PortServer server{start(QStringLiteral("python3"), arguments + options), QString()};
        server.url = QStringLiteral("%1://127.0.0.1:%2")
                         .arg(kind, QString::fromLatin1(nextLineOf(*server.process)));
        return server;
    }

private slots:
    void initTestCase()
    {
        useScratchSettings();
        SerialEnumerator::setSystemPortsHidden(true);
    }

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

    // The server throws away what is not yet on its line when the client hangs up,
    // as ser2net does, hangs up itself within the frame, or sets another rate: exit
    // status 0 and "sent" mean on the line.
    void cliSendSaysSentOnceOnTheLine_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("misbehaviour");
        QTest::addColumn<int>("status");
        QTest::newRow("rfc2217") << "rfc2217" << QStringList() << 0;
        QTest::newRow("tcp") << "tcp" << QStringList() << 0;
        QTest::newRow("rfc2217, hung up within the frame")
            << "rfc2217" << QStringList{"--cut-after", "6"} << 1;
        QTest::newRow("rfc2217, rate set otherwise")
            << "rfc2217" << QStringList{"--set-rate", "115200"} << 3;
    }
    void cliSendSaysSentOnceOnTheLine()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, misbehaviour);
        QFETCH(int, status);
        PortServer server = startPortServer(kind, misbehaviour);
        Process cli =
            start(QStringLiteral(KELDRO_CLI_PATH), {"send", server.url, "off", "--baud", "9600"});
        QVERIFY(cli->waitForFinished(10000));
        const QByteArray said = cli->readAllStandardError();
        QVERIFY2(cli->exitCode() == status, said.constData());
        QCOMPARE(said.contains("sent off"), status == 0);
        if (status == 0)
            QCOMPARE(server.nextLine(), bytesOf(powerOffFrame));
        if (status == 3)
            QVERIFY2(said.contains("the server set 115200 baud, not 9600"), said.constData());
    }

    // The window tells the rate the server set otherwise, and Off clicked with the
    // port closed at once still reaches the line.
    void windowTellsTheRateAndKeepsACommandOnClose()
    {
        PortServer server = startPortServer(QStringLiteral("rfc2217"), {"--set-rate", "9600"});
        SerialEnumerator::addVirtualPort(server.url);
        Widget window;
        auto *log = window.findChild<QPlainTextEdit *>("plainTextEdit");
        auto *openClose = window.findChild<QPushButton *>("pushButton_OpenClose");
        QTest::mouseClick(openClose, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            log->toPlainText().contains("the server set 9600 baud, not 115200"), 10000);
        QTest::mouseClick(window.findChild<QPushButton *>("pushButton_Off"), Qt::LeftButton);
        QTest::mouseClick(openClose, Qt::LeftButton);
        // The connection ends in the window's own time.
        QTRY_VERIFY_WITH_TIMEOUT(server.process->canReadLine(), 10000);
        QVERIFY(server.nextLine().endsWith(bytesOf(powerOffFrame)));
        SerialEnumerator::removeVirtualPort(server.url);
    }

    // A subnegotiation that never ends, or one within another: the line closes, and
    // nothing of it is taken for the board's bytes.
    void malformedSubnegotiationClosesTheLine_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::newRow("endless") << "endless-sub";
        QTest::newRow("one within another") << "nested-sub";
    }
    void malformedSubnegotiationClosesTheLine()
    {
        QFETCH(QString, sent);
        PortServer server = startPortServer(QStringLiteral("rfc2217"), {"--send", sent});
        SerialPort port(server.url, PortSettings{}, SerialPort::EventDriven);
        QByteArray received;
        connect(&port, &QIODevice::readyRead, this, [&] { received += port.readAll(); });
        QSignalSpy lost(&port, &SerialPort::deviceLost);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        port.write("go");
        QVERIFY(lost.wait(10000));
        const QString reason = lost.at(0).at(0).toString();
        QVERIFY2(reason.endsWith("the server sent a malformed Telnet subnegotiation"),
                 qPrintable(reason));
        QCOMPARE(received, QByteArray("board bytes before it\n"));
    }
};

QTEST_MAIN(RemoteTest)
#include "tst_remote.moc"
