// The tool against the board simulator in a process of its own, over a
// pseudo-terminal: what a technician sees with a board on the line.
#include "scratchsettings.h"
#include "serial/serialenumerator.h"
#include "ui_widget.h"
#include "window/widget.h"
#include "window/windowsettings.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <memory>

namespace {

QStringList chunkSizes; // from the receiver's "bytes.size:" debug lines

void collectChunkSizes(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && message.startsWith(QLatin1String("bytes.size: ")))
        chunkSizes << message.mid(12);
}

} // namespace

class EndToEndTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QProcess> board;
    std::unique_ptr<Widget> window;
    int framesShown = 0;
    QString port;
    QByteArray boardReport; // the simulator's standard error

    template <typename T = QWidget> T *child(const char *name) const
    {
        T *found = window->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no widget %s", name);
        return found;
    }
    QString text(const char *name) const
    {
        if (auto *label = window->findChild<QLabel *>(QLatin1String(name)))
            return label->text();
        return child<QTextBrowser>(name)->toPlainText();
    }
    QString log() const { return child<QPlainTextEdit>("plainTextEdit")->toPlainText(); }

    void startBoard(const QStringList &arguments)
    {
        board = std::make_unique<QProcess>();
        connect(board.get(), &QProcess::readyReadStandardError, this,
                [this] { boardReport += board->readAllStandardError(); });
        board->start(QStringLiteral(KELDRO_SIM_PATH), arguments);
        QVERIFY2(board->waitForStarted(10000), qPrintable(board->errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(board->canReadLine(), 10000);
        port = QString::fromLocal8Bit(board->readLine()).trimmed();
        QVERIFY(port.startsWith(QLatin1String("/dev/")));
        SerialEnumerator::addVirtualPort(port);

        window = std::make_unique<Widget>();
        window->show();
        auto *ports = child<QComboBox>("comboBox_Port");
        ports->setCurrentIndex(ports->findText(port));
        QCOMPARE(ports->currentText(), port);
        chunkSizes.clear();
        framesShown = 0;
        connect(window.get(), &Widget::frameAccepted, this, [this] { ++framesShown; });
        QTest::mouseClick(child<QPushButton>("pushButton_OpenClose"), Qt::LeftButton);
        QVERIFY(log().contains(QStringLiteral("OPEN %1 OK...").arg(port)));
    }

private slots:
    void initTestCase()
    {
        useScratchSettings();
        SerialEnumerator::setSystemPortsHidden(true);
        qInstallMessageHandler(collectChunkSizes);
    }

    void cleanup()
    {
        window.reset();
        WindowSettings::clearStored();
        if (board) {
            board->kill();
            board->waitForFinished(5000);
        }
        board.reset();
        SerialEnumerator::removeVirtualPort(port);
        boardReport.clear();
    }

    void telemetryShown_thenPowerOffReachesBoard_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("lastCell");
        QTest::addColumn<QString>("firstAbsentCell");
        QTest::newRow("type 1, 9 cells") << "1"
                                         << "textBrowser_cell9"
                                         << "textBrowser_cell10";
        QTest::newRow("type 2, 15 cells") << "2"
                                          << "textBrowser_cell15"
                                          << "";
    }
    void telemetryShown_thenPowerOffReachesBoard()
    {
        QFETCH(QString, layout);
        QFETCH(QString, lastCell);
        QFETCH(QString, firstAbsentCell);
        startBoard({"--interval", "100", "--seed", "1", "--layout", layout, "--model", "5",
                    "--date", "2024-02-29"});

        QTRY_VERIFY_WITH_TIMEOUT(!text("textBrowser_cell1").isEmpty(), 20000);
        const int cell = text(qPrintable(lastCell)).toInt();
        QVERIFY2(cell > 2800 && cell < 4400, qPrintable(text(qPrintable(lastCell))));
        if (!firstAbsentCell.isEmpty())
            QCOMPARE(text(qPrintable(firstAbsentCell)), QString());
        QCOMPARE(text("label_BMS"), "BMS-MIRSK");
        QCOMPARE(text("textBrowser_manufacture"), "2024/2/29");
        QCOMPARE(text("textBrowser_version"), "1.6");
        const int soc = text("textBrowser_SOC").toInt();
        QVERIFY(soc > 0 && soc <= 100);

        QTest::mouseClick(child<QPushButton>("pushButton_Off"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(boardReport.contains("power off\n"), 10000);
        // A board that is off sends nothing more.
        QTest::qWait(500);
        const int chunks = chunkSizes.size();
        QTest::qWait(1000);
        QCOMPARE(chunkSizes.size(), chunks);
    }

    void splitFramesAndNoise_framesShownNoiseLogged()
    {
        startBoard({"--interval", "100", "--split", "--noise", "0.5", "--seed", "1"});
        // A split frame reaches the window only if the receiver put it back together.
        QTRY_VERIFY_WITH_TIMEOUT(framesShown >= 20, 30000);
        QVERIFY(!text("textBrowser_cell15").isEmpty());

        // And the log holds the board's text lines, nothing of a frame.
        // The board's text follows the open message on its line.
        const QString opened = QStringLiteral("OPEN %1 OK...").arg(port);
        QVERIFY(log().startsWith(opened));
        const QStringList lines =
            log().mid(opened.size()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.size() >= 3);
        const QRegularExpression noiseLine(QStringLiteral("^[A-Z]{2,4}: [ -~]+$"));
        for (QString line : qAsConst(lines)) {
            line.remove(QLatin1Char('\r'));
            QVERIFY2(noiseLine.match(line).hasMatch(), qPrintable(line));
        }
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
