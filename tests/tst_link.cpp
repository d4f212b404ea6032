// The live link against a pseudo-terminal board: open and close, reception,
// commands and polling, as a technician would drive them.
#include "protocol/commandframe.h"
#include "protocol/telemetryframe.h"
#include "protocol/telemetryrecord.h"
#include "ptypair.h"
#include "scratchsettings.h"
#include "serial/serialenumerator.h"
#include "serial/serialport.h"
#include "stall.h"
#include "ui_widget.h"
#include "window/alarms/windowjudge.h"
#include "window/widget.h"
#include "window/windowsettings.h"
#include "workedexamples.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <memory>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const QByteArray &type1Example = WorkedExamples::type1Frame;
const QByteArray &type2Example = WorkedExamples::type2Frame;

QByteArray bytes(const CommandFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

using FieldTexts = QMap<QString, QString>;

// What the window shows for the two worked examples.
const FieldTexts type1Texts = {
    {"textBrowser_cell1", "3700"},
    {"textBrowser_cell8", "3707"},
    {"textBrowser_cell9", "3709"},
    {"textBrowser_bat", "37045"},
    {"textBrowser_pack_voltage", "37000"},
    {"textBrowser_SOC", "80"},
    {"textBrowser_current", "-1500"},
    {"textBrowser_BQ_NTC1", "25.3"},
    {"textBrowser_BQ_NTC2", "25.1"},
    {"textBrowser_MCU_NTC1", "30"},
    {"textBrowser_MCU_NTC2", "-1.2"},
    {"textBrowser_cycle", "12"},
    {"textBrowser_manufacture", "2021/3/9"},
    {"textBrowser_version", "1.6"},
    {"textBrowser_bq_status", "0x1f"},
    {"textBrowser_sys_status", "0x2|SYS ON"},
    {"textBrowser_bms_status", "0x1|DISCHARGE"},
    {"label_battery_version", "25R"},
    {"label_BMS", "BMS-HARLO"},
};
const FieldTexts type2Texts = {
    {"textBrowser_cell1", "3600"},
    {"textBrowser_cell9", "3608"},
    {"textBrowser_cell15", "3614"},
    {"textBrowser_bat", "54100"},
    {"textBrowser_pack_voltage", "54000"},
    {"textBrowser_SOC", "55"},
    {"textBrowser_current", "2500"},
    {"textBrowser_BQ_NTC1", "24.5"},
    {"textBrowser_BQ_NTC2", "25"},
    {"textBrowser_BQ_NTC3", "26"},
    {"textBrowser_MCU_NTC1", "35"},
    {"textBrowser_MCU_NTC2", "-5.5"},
    {"textBrowser_cycle", "300"},
    {"textBrowser_manufacture", "2021/3/9"},
    {"textBrowser_version", "2.10"},
    {"textBrowser_bq_status", "0x80"},
    {"textBrowser_sys_status", "0x1|RESET"},
    {"textBrowser_bms_status", "0x2|CHARGE"},
    {"label_battery_version", "VTC6"},
    {"label_BMS", "BMS-BRISQ"},
    {"textBrowser_OCD", "1"},
    {"textBrowser_SCD", "0"},
    {"textBrowser_OVB", "0"},
    {"textBrowser_OVD", "0"},
    {"textBrowser_UV", "0"},
    {"textBrowser_LOW_TEMP", "1"},
    {"textBrowser_HIGH_TEMP", "0"},
};

QStringList debugLines;

void collectDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines << message;
}

Qt::Alignment effectiveAlignment(QTextBrowser *field)
{
    const QTextBlockFormat block = field->document()->firstBlock().blockFormat();
    return block.hasProperty(QTextFormat::BlockAlignment)
               ? block.alignment()
               : field->document()->defaultTextOption().alignment();
}

} // namespace

class LinkTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PtyPair> board;
    std::unique_ptr<Widget> window;

    template <typename T = QWidget> T *child(const QString &name) const
    {
        T *found = window->findChild<T *>(name);
        if (!found)
            qFatal("no widget %s", qPrintable(name));
        return found;
    }
    QString text(const QString &name) const
    {
        if (auto *label = window->findChild<QLabel *>(name))
            return label->text();
        return child<QTextBrowser>(name)->toPlainText();
    }
    QString log() const { return child<QPlainTextEdit>("plainTextEdit")->toPlainText(); }
    QString portName() const { return board->slavePath(); }

    void clickOpenClose()
    {
        QTest::mouseClick(child<QPushButton>("pushButton_OpenClose"), Qt::LeftButton);
    }
    void openLink()
    {
        clickOpenClose();
        QVERIFY(log().endsWith(QStringLiteral("OPEN %1 OK...").arg(portName())));
    }
    bool linkControlsOpen() const
    {
        return !child("comboBox_Port")->isEnabled() && !child("comboBox_BaudRate")->isEnabled() &&
               child("pushButton_Off")->isEnabled() &&
               child("pushButton_OpenClose")->styleSheet().contains("100,240,20");
    }
    bool linkControlsClosed() const
    {
        return child("comboBox_Port")->isEnabled() && child("comboBox_BaudRate")->isEnabled() &&
               !child("pushButton_Off")->isEnabled() && !child("pushButton_Boot")->isEnabled() &&
               child("pushButton_OpenClose")->styleSheet() ==
                   "QPushButton{color:rgb(0,0,0); background:rgb(225,225,225)}";
    }
    // Sends bytes as one burst of the board and waits until the window has judged it.
    void sendBurst(const QByteArray &burst)
    {
        const int before = debugLines.size();
        QVERIFY(board->write(burst));
        QTRY_VERIFY_WITH_TIMEOUT(debugLines.size() > before, 5000);
    }
    // Answers the next modal question with button, noting its title and text.
    void answerNextQuestion(QMessageBox::StandardButton button, QString *seen)
    {
        auto *timer = new QTimer(window.get());
        connect(timer, &QTimer::timeout, timer, [timer, button, seen] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            *seen = box->windowTitle() + '|' + box->text();
            timer->deleteLater();
            box->button(button)->click();
        });
        timer->start(10);
    }

private slots:
    void initTestCase()
    {
        useScratchSettings();
        SerialEnumerator::setSystemPortsHidden(true);
        qInstallMessageHandler(collectDebug);
        // The serial debug lines are off unless asked for.
        QLoggingCategory::setFilterRules(QStringLiteral("keldro.serial.debug=true"));
    }

    void init()
    {
        board = std::make_unique<PtyPair>();
        QVERIFY(board->isValid());
        SerialEnumerator::addVirtualPort(board->slavePath());
        window = std::make_unique<Widget>();
        // The worked type 2 frame raises OC and LOW_TEMP: as alarms they would each
        // get a line in the log, among the board's text these cases look at.
        Limits noFlagAlarms;
        noFlagAlarms.failOn = 0;
        window->windowJudge()->setLimits(noFlagAlarms, QString());
        window->show();
        QCOMPARE(child<QComboBox>("comboBox_Port")->currentText(), portName());
        debugLines.clear();
    }

    void cleanup()
    {
        window.reset();
        WindowSettings::clearStored();
        SerialEnumerator::removeVirtualPort(board->slavePath());
        board.reset();
    }

    void openAndClose()
    {
        QVERIFY(linkControlsClosed());
        openLink();
        QVERIFY(linkControlsOpen());
        QCOMPARE(board->slaveBaudRate(), 115200);
        const QString logBefore = log();
        clickOpenClose();
        QVERIFY(linkControlsClosed());
        QCOMPARE(log(), logBefore);
    }

    void openFailure_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("reason"); // how the line after the error starts
        QTest::newRow("no port chosen") << "noPort"
                                        << "No port is chosen";
        QTest::newRow("empty baud box gives rate 0") << "rateZero"
                                                     << "The baud rate is not";
        QTest::newRow("device gone before the click") << "deviceGone"
                                                      << "%1 is not there";
        QTest::newRow("port held by another program") << "busy"
                                                      << "%1 is in use";
    }
    void openFailure()
    {
        QFETCH(QString, cause);
        QFETCH(QString, reason);
        QString name = portName();
        SerialPort holder(name, PortSettings{}, SerialPort::EventDriven);
        if (cause == "noPort") {
            child<QComboBox>("comboBox_Port")->setCurrentIndex(-1);
            name.clear();
        } else if (cause == "rateZero") {
            child<QComboBox>("comboBox_BaudRate")->setEditText(QString());
        } else if (cause == "busy") {
            QVERIFY(holder.open(QIODevice::ReadWrite));
        } else {
            board->closeMaster();
        }
        clickOpenClose();
        const QStringList lines = log().split('\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), "OPEN COM ERROR..." + name);
        QVERIFY2(lines.at(1).startsWith(reason.arg(name)), qPrintable(lines.at(1)));
        QVERIFY(linkControlsClosed());
        clickOpenClose();
        QCOMPARE(log(), lines.join('\n') + '\n' + lines.join('\n'));
    }

    void typedRateIsUsedAtTheNextOpen()
    {
        child<QComboBox>("comboBox_BaudRate")->setEditText("123457");
        openLink();
        QCOMPARE(board->slaveBaudRate(), 123457);
        QVERIFY(!debugLines.join('\n').contains("setBaudRate:"));
    }

    void frameIsShown_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<FieldTexts>("expected");
        QTest::newRow("type 1 whole") << type1Example << 60 << type1Texts;
        QTest::newRow("type 1 in three pieces") << type1Example << 20 << type1Texts;
        QTest::newRow("type 2 whole") << type2Example << 72 << type2Texts;
        QTest::newRow("type 2 cut like a USB packet") << type2Example << 64 << type2Texts;
    }
    void frameIsShown()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, pieceSize);
        QFETCH(FieldTexts, expected);
        openLink();
        const QString logBefore = log();
        QVERIFY(board->writeInPieces(frame, pieceSize, 16));
        QTRY_COMPARE_WITH_TIMEOUT(text("textBrowser_cell1"), expected.value("textBrowser_cell1"),
                                  5000);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(text(it.key()), it.value());
        // One debug line per read, whatever the pieces; together they are the frame.
        int read = 0;
        for (const QString &line : debugLines.filter("bytes.size:"))
            read += line.section(QLatin1Char(' '), 1).toInt();
        QCOMPARE(read, frame.size());
        QCOMPARE(log(), logBefore);
        for (const char *name :
             {"textBrowser_cell1", "textBrowser_bat", "textBrowser_current", "textBrowser_BQ_NTC1",
              "textBrowser_version", "textBrowser_bms_status"})
            QVERIFY2(effectiveAlignment(child<QTextBrowser>(name)) & Qt::AlignRight, name);
    }

    void type1LeavesWhatOnlyType2Carries()
    {
        openLink();
        sendBurst(type2Example);
        QTest::qWait(60);
        sendBurst(type1Example);
        QCOMPARE(text("textBrowser_cell1"), "3700");
        const FieldTexts kept = {
            {"textBrowser_cell10", "3609"}, {"textBrowser_cell15", "3614"},
            {"textBrowser_BQ_NTC3", "26"},  {"textBrowser_OCD", "1"},
            {"textBrowser_LOW_TEMP", "1"},  {"textBrowser_HIGH_TEMP", "0"},
        };
        for (auto it = kept.cbegin(); it != kept.cend(); ++it)
            QCOMPARE(text(it.key()), it.value());
    }

    void badChunkChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QByteArray badCheck = type2Example;
        badCheck[71] = char(badCheck[71] ^ 0x01);
        QByteArray wrongSelector = type2Example;
        wrongSelector[2] = 0x01;
        QTest::newRow("bad check word") << badCheck;
        QTest::newRow("selector 1 on 72 bytes") << wrongSelector;
        QTest::newRow("frame cut short") << type1Example.left(59);
        QTest::newRow("header alone") << hex("FE EF");
    }
    void badChunkChangesNothing()
    {
        QFETCH(QByteArray, chunk);
        openLink();
        sendBurst(type2Example);
        QTest::qWait(60);
        const QString logBefore = log();
        debugLines.clear();
        sendBurst(chunk);
        QTest::qWait(60); // text would reach the log once the line falls silent
        QCOMPARE(debugLines, QStringList{QStringLiteral("bytes.size: %1").arg(chunk.size())});
        QCOMPARE(log(), logBefore);
        for (auto it = type2Texts.cbegin(); it != type2Texts.cend(); ++it)
            QCOMPARE(text(it.key()), it.value());
    }

    // What piles up while the window is busy, or what the board sends without a
    // pause: each frame is shown and handed on in order, text around it is logged.
    void framesAndTextInOneBurstAreEachTaken()
    {
        openLink();
        QList<int> layouts;
        connect(
            window.get(), &Widget::frameAccepted, this,
            [&layouts](const TelemetryRecord &record) { layouts << int(record.telemetry.layout); });
        const QString opened = log();
        sendBurst("boot\n" + type2Example + type1Example + "ok\n");
        QTRY_COMPARE_WITH_TIMEOUT(log(), opened + "boot\nok\n", 5000);
        QCOMPARE(layouts, (QList<int>{2, 1}));
        QCOMPARE(text("textBrowser_cell1"), type1Texts.value("textBrowser_cell1"));
        QCOMPARE(text("textBrowser_cell15"), type2Texts.value("textBrowser_cell15"));
    }

    // The window's process stopped for 500 ms while the board sends a frame every
    // 50 ms: the frames pile up in one read and each is still shown, in order.
    void stalledWindowLosesNoFrame()
    {
        openLink();
        QList<int> cycles;
        connect(
            window.get(), &Widget::frameAccepted, this,
            [&cycles](const TelemetryRecord &record) { cycles << record.telemetry.cycleCount; });
        Telemetry telemetry = judgeChunk(type2Example).telemetry;
        QByteArrayList frames;
        QList<int> sent;
        for (int i = 0; i < 20; ++i) {
            telemetry.cycleCount = quint16(i);
            frames << encodeTelemetry(telemetry);
            sent << i;
        }
        const pid_t writer = writeFromAnotherProcess(board->masterDescriptor(), frames, 50);
        const pid_t stopper = stopProcessLater(getpid(), 200, 500);
        QTRY_COMPARE_WITH_TIMEOUT(cycles.size(), sent.size(), 10000);
        QCOMPARE(cycles, sent);
        waitpid(writer, nullptr, 0);
        waitpid(stopper, nullptr, 0);
    }

    void textGoesToTheLog_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QString>("logged");
        QTest::newRow("two lines") << QByteArrayList{"OK\r\n", "OK\r\n"} << "OK\nOK\n";
        QTest::newRow("NUL bytes are left out")
            << QByteArrayList{QByteArray("AB\0CD", 5)} << "ABCD";
        QTest::newRow("NUL first") << QByteArrayList{QByteArray("\0AB\n", 4)} << "AB\n";
        QTest::newRow("the next chunk after NUL padding shows")
            << QByteArrayList{QByteArray("AB\0\0\0", 5), "CD\n"} << "ABCD\n";
        QTest::newRow("invalid UTF-8") << QByteArrayList{"x\xff y"} << QString("x\uFFFD y");
        QTest::newRow("0xFE inside text") << QByteArrayList{"a\xfe b"} << QString("a\uFFFD b");
    }
    void textGoesToTheLog()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QString, logged);
        openLink();
        const QString opened = log();
        for (const QByteArray &chunk : chunks) {
            sendBurst(chunk);
            QTest::qWait(60);
        }
        QTRY_COMPARE_WITH_TIMEOUT(log(), opened + logged, 5000);
        QCOMPARE(text("textBrowser_cell1"), QString());
    }

    // A USB adapter in a virtual machine or a Bluetooth bridge stalls mid-frame: the
    // frame is still shown, and none of it reaches the log.
    void pausedFrameIsShownWhole()
    {
        openLink();
        const QString opened = log();
        const pid_t writer = writeFromAnotherProcess(
            board->masterDescriptor(), {type2Example.left(40), type2Example.mid(40)}, 400);
        QTRY_COMPARE_WITH_TIMEOUT(text("textBrowser_cell15"), "3614", 10000);
        waitpid(writer, nullptr, 0);
        // Read apart: the window did see the pause.
        QVERIFY(debugLines.filter("bytes.size:").size() >= 2);
        QCOMPARE(log(), opened);
    }

    void logIsWrittenAtItsEndWhereverTheCursorIs()
    {
        openLink();
        sendBurst("first\n");
        auto *logView = child<QPlainTextEdit>("plainTextEdit");
        QTextCursor inside = logView->textCursor();
        inside.setPosition(2);
        inside.setPosition(4, QTextCursor::KeepAnchor);
        logView->setTextCursor(inside);
        sendBurst("second\n");
        QTRY_VERIFY_WITH_TIMEOUT(log().endsWith("first\nsecond\n"), 5000);
        QCOMPARE(logView->textCursor().position(), logView->document()->characterCount() - 1);
        QVERIFY(!logView->textCursor().hasSelection());
    }

    void logKeepsALineWithoutEndsBounded()
    {
        openLink();
        const QByteArray line(3000, 'a');
        sendBurst(line);
        QTRY_VERIFY_WITH_TIMEOUT(log().count('a') == 3000, 5000);
        const QStringList lines = log().split('\n');
        QCOMPARE(lines.join(QString()).count('a'), 3000);
        for (const QString &l : lines)
            QVERIFY(l.size() <= 256);
    }

    void clearEmptiesFieldsButNotTheBoardName()
    {
        openLink();
        sendBurst(type2Example);
        QTest::mouseClick(child<QPushButton>("pushButton_Receive_Clear"), Qt::LeftButton);
        QCOMPARE(log(), QString());
        for (auto *field : window->findChildren<QTextBrowser *>())
            QVERIFY2(field->toPlainText().isEmpty(), qPrintable(field->objectName()));
        QCOMPARE(text("label_BMS"), "BMS-BRISQ");
        QCOMPARE(text("label_battery_version"), "VTC6");
        QTest::qWait(60);
        sendBurst(type2Example);
        QCOMPARE(text("textBrowser_cell15"), "3614");
        QVERIFY(effectiveAlignment(child<QTextBrowser>("textBrowser_cell15")) & Qt::AlignRight);
    }

    void offSendsPowerOffOnly()
    {
        openLink();
        QTest::mouseClick(child<QPushButton>("pushButton_Off"), Qt::LeftButton);
        QCOMPARE(board->read(12), hex("FE EF 01 0C A5 00 00 00 42 F5 09 83"));
        QCOMPARE(board->read(1, 200), QByteArray());
        QVERIFY(!QApplication::activeModalWidget());
    }

    void questionedCommand_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QByteArray>("sent");
        const QDate today = QDate::currentDate();
        const QByteArray dateFrame =
            bytes(setManufactureDateFrame(today.year(), today.month(), today.day()));
        const QByteArray boot = hex("FE EF 01 0C 8B 00 00 00 A8 E3 A4 27");
        const QByteArray cal = hex("FE EF 01 0C E3 00 00 00 87 C8 09 AD");
        const int yes = QMessageBox::Yes, no = QMessageBox::No;
        QTest::newRow("boot, yes")
            << QByteArray("on_ButtonBootClicked") << "确定要更新固件吗?" << true << yes << boot;
        QTest::newRow("boot, no") << QByteArray("on_ButtonBootClicked") << "确定要更新固件吗?"
                                  << true << no << QByteArray();
        QTest::newRow("boot, yes, link closed")
            << QByteArray("on_ButtonBootClicked") << "确定要更新固件吗?" << false << yes
            << QByteArray();
        QTest::newRow("calibration, yes")
            << QByteArray("on_ButtonSOCCalClicked") << "确定要校准吗?" << true << yes << cal;
        QTest::newRow("calibration, no") << QByteArray("on_ButtonSOCCalClicked") << "确定要校准吗?"
                                         << true << no << QByteArray();
        QTest::newRow("set date, yes") << QByteArray("on_ButtonManufactureDateSetClicked")
                                       << "确定要设置出厂日期吗?" << true << yes << dateFrame;
        QTest::newRow("set date, yes, link closed")
            << QByteArray("on_ButtonManufactureDateSetClicked") << "确定要设置出厂日期吗?" << false
            << yes << QByteArray();
    }
    void questionedCommand()
    {
        QFETCH(QByteArray, slot);
        QFETCH(QString, question);
        QFETCH(bool, open);
        QFETCH(int, answer);
        QFETCH(QByteArray, sent);
        if (open)
            openLink();
        QString seen;
        answerNextQuestion(QMessageBox::StandardButton(answer), &seen);
        QVERIFY(QMetaObject::invokeMethod(window.get(), slot.constData()));
        QCOMPARE(seen, "提示|" + question);
        QCOMPARE(board->read(qMax(1, sent.size()), sent.isEmpty() ? 200 : 2000), sent);
    }

    void bootIsNeverEnabled()
    {
        QVERIFY(!child("pushButton_Boot")->isEnabled());
        openLink();
        QVERIFY(!child("pushButton_Boot")->isEnabled());
        clickOpenClose();
        QVERIFY(!child("pushButton_Boot")->isEnabled());
        QVERIFY(child("pushButton_Boot")->isVisible());
        QVERIFY(!child("pushButton_SOC_Cal")->isVisible());
        QVERIFY(!child("pushButton_manu_date_set")->isVisible());
    }

    void pollingSendsOnlyWhileOpen()
    {
        auto *transfer = child<QCheckBox>("checkBox_Trans");
        transfer->setChecked(true);
        QTest::qWait(350);
        QCOMPARE(board->read(1, 0), QByteArray());
        openLink();
        QCOMPARE(board->read(1, 0), QByteArray());
        const QByteArray polls = board->read(24, 3000);
        QVERIFY(polls.size() >= 24);
        QCOMPARE(polls.size() % 12, 0);
        QCOMPARE(polls.left(12), hex("FE EF 01 0C 00 00 00 00 27 C8 E3 65"));
        QCOMPARE(polls, polls.left(12).repeated(polls.size() / 12));
        transfer->setChecked(false);
        board->read(1, 150);
        QCOMPARE(board->read(1, 300), QByteArray());
    }

    void recheckingRestartsTheInterval()
    {
        QTimer *poll = nullptr;
        for (QTimer *t : window->findChildren<QTimer *>())
            if (t->interval() == 100 && t->parent() == window.get())
                poll = t;
        QVERIFY(poll);
        auto *transfer = child<QCheckBox>("checkBox_Trans");
        transfer->setChecked(true);
        QTest::qWait(70);
        transfer->setChecked(false);
        transfer->setChecked(true);
        QVERIFY(poll->isActive());
        QVERIFY(poll->remainingTime() > 60);
    }

    void vanishedDeviceClosesTheLink()
    {
        openLink();
        const QString logBefore = log();
        board->closeMaster();
        QTRY_VERIFY_WITH_TIMEOUT(linkControlsClosed(), 5000);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        QTest::qWait(1000);
        getrusage(RUSAGE_SELF, &after);
        const auto cpuMs = [](const rusage &r) {
            return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 +
                   (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
        };
        QVERIFY2(cpuMs(after) - cpuMs(before) < 500, "the event loop spins after the device left");
        QCOMPARE(log(), logBefore);
    }
};

QTEST_MAIN(LinkTest)
#include "tst_link.moc"
