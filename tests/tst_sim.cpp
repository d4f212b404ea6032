#include "commandreader.h"
#include "packmodel.h"
#include "protocol/commandframe.h"
#include "protocol/telemetryframe.h"
#include "record/recordformat.h"
#include "wirefaults.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>
#include <algorithm>
#include <numeric>

namespace {

QByteArray bytesOf(const CommandFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

PackSettings settingsFor(TelemetryLayout layout, quint32 seed = 7)
{
    PackSettings settings;
    settings.layout = layout;
    settings.seed = seed;
    return settings;
}

// The model's reaction to one frame as the tool sends it, through the board's
// receive side.
BoardReaction send(PackModel &model, const CommandFrame &frame)
{
    CommandReader reader;
    const QVector<ReceivedCommand> received = reader.feed(bytesOf(frame));
    if (received.size() != 1 || !received.constFirst().checkWordMatches)
        return {};
    return model.apply(received.constFirst().command);
}

Telemetry nextFrame(PackModel &model)
{
    model.advance(1000);
    const ChunkResult result = judgeChunk(encodeTelemetry(model.telemetry()));
    return result.telemetry;
}

} // namespace

Q_DECLARE_METATYPE(TelemetryLayout)

class TestSim : public QObject
{
    Q_OBJECT

private slots:
    void frames_passToolAcceptanceAndStayPlausible_data();
    void frames_passToolAcceptanceAndStayPlausible();
    void sameSeed_givesSameFrames();

    void commandFrames_data();
    void commandFrames();
    void socCalibration_givesFullChargeInLaterFrames();
    void setManufactureDate_changesLaterFrames();
    void powerOff_stopsFramesUntilWoken();
    void boot_silencesFramesThenFallsBack();

    void reader_data();
    void reader();

    void split_keepsBytesWithShortPauses();
    void corrupt_makesToolRejectFrame();

    void fault_holdsItsValueForItsSeconds_data();
    void fault_holdsItsValueForItsSeconds();
};

void TestSim::frames_passToolAcceptanceAndStayPlausible_data()
{
    QTest::addColumn<TelemetryLayout>("layout");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("startSoc");
    QTest::newRow("type 1, seed 1") << TelemetryLayout::Type1 << 1u << 80;
    QTest::newRow("type 2, seed 2") << TelemetryLayout::Type2 << 2u << 80;
    QTest::newRow("type 2, nearly empty") << TelemetryLayout::Type2 << 3u << 12;
    QTest::newRow("type 1, nearly full") << TelemetryLayout::Type1 << 4u << 97;
}

void TestSim::frames_passToolAcceptanceAndStayPlausible()
{
    QFETCH(TelemetryLayout, layout);
    QFETCH(quint32, seed);
    QFETCH(int, startSoc);
    PackSettings settings = settingsFor(layout, seed);
    settings.startSoc = startSoc;
    // A small pack, whose SOC moves visibly in half an hour of the random phases.
    settings.capacityAh = 2.5;
    PackModel model(settings);

    const int expectedSize = TelemetryFrame::sizeOf(layout);
    bool sawCharge = false, sawDischarge = false;
    int lowestSoc = 100, highestSoc = 0;
    Telemetry previous = model.telemetry();
    // Half an hour of a pack at one frame a second.
    for (int step = 0; step < 1800; ++step) {
        model.advance(1000);
        const QByteArray frame = encodeTelemetry(model.telemetry());
        QCOMPARE(frame.size(), expectedSize);
        const ChunkResult result = judgeChunk(frame);
        QCOMPARE(result.verdict, ChunkVerdict::Frame);
        const Telemetry &t = result.telemetry;
        QCOMPARE(t.layout, layout);

        const auto cells = t.cellMillivolts.cbegin();
        const auto [low, high] = std::minmax_element(cells, cells + t.cellCount);
        QVERIFY2(*high - *low <= 12, qPrintable(QString::number(*high - *low)));
        QVERIFY(*low >= 2800 && *high <= 4400);
        QCOMPARE(int(t.batteryMillivolts), std::accumulate(cells, cells + t.cellCount, 0));
        QVERIFY(t.packMillivolts < t.batteryMillivolts);
        QVERIFY(t.stateOfCharge <= 100);
        QVERIFY(qAbs(t.ntc1 - previous.ntc1) <= 5);
        QVERIFY(qAbs(t.mosfetNtc - previous.mosfetNtc) <= 5);
        QCOMPARE(t.cycleCount, settings.cycleCount);
        QCOMPARE(t.manufactureDate, settings.manufactureDate);

        sawCharge = sawCharge || t.currentMilliamps > 500;
        sawDischarge = sawDischarge || t.currentMilliamps < -500;
        lowestSoc = qMin(lowestSoc, int(t.stateOfCharge));
        highestSoc = qMax(highestSoc, int(t.stateOfCharge));
        previous = t;
    }
    QVERIFY(sawCharge && sawDischarge);
    QVERIFY2(highestSoc - lowestSoc >= 2, "SOC does not follow the current");
}

void TestSim::sameSeed_givesSameFrames()
{
    PackModel first(settingsFor(TelemetryLayout::Type2, 42));
    PackModel second(settingsFor(TelemetryLayout::Type2, 42));
    PackModel other(settingsFor(TelemetryLayout::Type2, 43));
    bool differs = false;
    for (int step = 0; step < 50; ++step) {
        first.advance(100);
        second.advance(100);
        other.advance(100);
        QCOMPARE(encodeTelemetry(first.telemetry()), encodeTelemetry(second.telemetry()));
        differs =
            differs || encodeTelemetry(first.telemetry()) != encodeTelemetry(other.telemetry());
    }
    QVERIFY(differs);
}

void TestSim::commandFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<bool>("sendingAfter");
    QTest::addColumn<bool>("frameRequested");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("poll") << bytesOf(pollFrame) << "poll" << true << true << QByteArray();
    QTest::newRow("power off") << bytesOf(powerOffFrame) << "power off" << false << false
                               << QByteArray();
    QTest::newRow("boot") << bytesOf(bootFrame) << "boot" << false << false
                          << QByteArray("BOOT: waiting for firmware\r\n");
    QTest::newRow("soc calibration")
        << bytesOf(socCalibrationFrame) << "soc calibration" << true << false << QByteArray();
    QTest::newRow("set date 2026/12/6")
        << bytesOf(setManufactureDateFrame(2026, 12, 6)) << "set manufacture date 2026/12/6" << true
        << false << QByteArray();
    QTest::newRow("unknown code 0x42") << bytesOf(buildCommandFrame(CommandCode(0x42)))
                                       << "unknown command 0x42" << true << false << QByteArray();
}

void TestSim::commandFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, logLine);
    QFETCH(bool, sendingAfter);
    QFETCH(bool, frameRequested);
    QFETCH(QByteArray, reply);

    PackModel model(settingsFor(TelemetryLayout::Type2));
    CommandReader reader;
    const QVector<ReceivedCommand> received = reader.feed(frame);
    QCOMPARE(received.size(), 1);
    QVERIFY(received.constFirst().checkWordMatches);
    const BoardReaction reaction = model.apply(received.constFirst().command);
    QCOMPARE(reaction.logLine, logLine);
    QCOMPARE(model.isSending(), sendingAfter);
    QCOMPARE(reaction.frameRequested, frameRequested);
    QCOMPARE(reaction.reply, reply);

    // The same frame with its check word damaged is refused.
    frame[10] = char(frame.at(10) ^ 0x01);
    const QVector<ReceivedCommand> damaged = CommandReader().feed(frame);
    QCOMPARE(damaged.size(), 1);
    QVERIFY(!damaged.constFirst().checkWordMatches);
}

void TestSim::socCalibration_givesFullChargeInLaterFrames()
{
    PackSettings settings = settingsFor(TelemetryLayout::Type1);
    settings.startSoc = 40;
    PackModel model(settings);
    QCOMPARE(nextFrame(model).stateOfCharge, quint8(40));
    send(model, socCalibrationFrame);
    QCOMPARE(nextFrame(model).stateOfCharge, quint8(100));
}

void TestSim::setManufactureDate_changesLaterFrames()
{
    PackModel model(settingsFor(TelemetryLayout::Type2));
    QCOMPARE(nextFrame(model).manufactureDate, quint16(0x5269));
    send(model, setManufactureDateFrame(2026, 12, 6));
    QCOMPARE(nextFrame(model).manufactureDate, quint16(0x5D86));
    QCOMPARE(nextFrame(model).manufactureDate, quint16(0x5D86));
}

void TestSim::powerOff_stopsFramesUntilWoken()
{
    PackModel model(settingsFor(TelemetryLayout::Type2));
    send(model, powerOffFrame);
    model.advance(60000);
    QVERIFY(!model.isSending());
    // A board that is off hears a poll but does not answer it, nor act on commands.
    QVERIFY(!send(model, pollFrame).frameRequested);
    send(model, setManufactureDateFrame(2026, 12, 6));
    model.wake();
    QVERIFY(model.isSending());
    QCOMPARE(nextFrame(model).manufactureDate, quint16(0x5269));
}

void TestSim::boot_silencesFramesThenFallsBack()
{
    PackModel model(settingsFor(TelemetryLayout::Type2));
    send(model, bootFrame);
    QVERIFY(model.advance(PackModel::BootWaitMs - 1000).isEmpty());
    QVERIFY(!model.isSending());
    QVERIFY(model.advance(1000).startsWith("BOOT:"));
    QVERIFY(model.isSending());
}

void TestSim::reader_data()
{
    const QByteArray poll = bytesOf(pollFrame);
    const QByteArray off = bytesOf(powerOffFrame);
    QByteArray corrupted = off;
    corrupted[4] = char(0xA4);

    QTest::addColumn<QByteArrayList>("pieces");
    QTest::addColumn<QString>("expected"); // one letter a frame: code in hex, "!" for bad

    QTest::newRow("one frame") << QByteArrayList{poll} << "00";
    QTest::newRow("byte by byte") << [&] {
        QByteArrayList bytes;
        for (const char byte : off)
            bytes.append(QByteArray(1, byte));
        return bytes;
    }() << "a5";
    QTest::newRow("text before, header split between reads")
        << QByteArrayList{"BOOT?\r\n" + off.left(2), off.mid(2)} << "a5";
    QTest::newRow("two frames in one read") << QByteArrayList{poll + off} << "00a5";
    QTest::newRow("corrupted then good") << QByteArrayList{corrupted + poll} << "!00";
    QTest::newRow("good frame behind a truncated one")
        << QByteArrayList{off.left(7) + poll} << "!00";
    QTest::newRow("frame not finished yet") << QByteArrayList{off.left(11)} << "";
}

void TestSim::reader()
{
    QFETCH(QByteArrayList, pieces);
    QFETCH(QString, expected);
    CommandReader reader;
    QString seen;
    for (const QByteArray &piece : pieces) {
        for (const ReceivedCommand &r : reader.feed(piece))
            seen += r.checkWordMatches
                        ? QStringLiteral("%1").arg(r.command.code, 2, 16, QLatin1Char('0'))
                        : QStringLiteral("!");
    }
    QCOMPARE(seen, expected);
}

void TestSim::split_keepsBytesWithShortPauses()
{
    WireFaultSettings settings;
    settings.split = true;
    WireFaults faults(settings);
    const QByteArray frame =
        encodeTelemetry(PackModel(settingsFor(TelemetryLayout::Type2)).telemetry());
    for (int i = 0; i < 200; ++i) {
        const QVector<LinePiece> pieces = faults.cut(frame);
        QVERIFY(pieces.size() == 2 || pieces.size() == 3);
        QByteArray joined;
        for (const LinePiece &piece : pieces) {
            QVERIFY(!piece.bytes.isEmpty());
            QVERIFY(piece.pauseBeforeMs < 16);
            joined += piece.bytes;
        }
        QCOMPARE(joined, frame);
    }
}

void TestSim::corrupt_makesToolRejectFrame()
{
    WireFaultSettings settings;
    settings.corruptRate = 1;
    WireFaults faults(settings);
    PackModel model(settingsFor(TelemetryLayout::Type1));
    for (int i = 0; i < 200; ++i) {
        model.advance(100);
        QByteArray frame = encodeTelemetry(model.telemetry());
        faults.corrupt(frame);
        QCOMPARE(judgeChunk(frame).verdict, ChunkVerdict::Rejected);
    }
}

void TestSim::fault_holdsItsValueForItsSeconds_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<TelemetryLayout>("layout");
    QTest::addColumn<QString>("error"); // empty: accepted
    QTest::addColumn<QString>("key");   // the record's key of the value driven
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("ends"); // at second 20
    const auto two = TelemetryLayout::Type2;
    QTest::newRow("cell") << "cell7=4300mV@10-20" << two << ""
                          << "cell7_mV" << 4300.0 << true;
    QTest::newRow("discharge to the end") << "current=-65000mA@10" << two << ""
                                          << "current_mA" << -65000.0 << false;
    QTest::newRow("sensor, tenths") << "ntc2=75.5C@10-20" << two << ""
                                    << "ntc2_C" << 75.5 << true;
    QTest::newRow("soc") << "soc=3%@10-20" << two << ""
                         << "soc_pct" << 3.0 << true;
    QTest::newRow("flag") << "ov@10-20" << two << ""
                          << "ov" << 1.0 << true;
    QTest::newRow("volts for millivolts") << "cell7=4.3V@1" << two << "the unit is mV"
                                          << "" << 0.0 << false;
    QTest::newRow("flag with a value") << "ov=1@1" << two << "takes no value"
                                       << "" << 0.0 << false;
    QTest::newRow("hundredths") << "ntc2=75.55C@1" << two << "in tenths"
                                << "" << 0.0 << false;
    QTest::newRow("ends before it starts") << "soc=3%@5-2" << two << "not after it starts"
                                           << "" << 0.0 << false;
    QTest::newRow("cell 12 of 9") << "cell12=3000mV@1" << TelemetryLayout::Type1 << "has 9 cells"
                                  << "" << 0.0 << false;
}

void TestSim::fault_holdsItsValueForItsSeconds()
{
    QFETCH(QString, written);
    QFETCH(TelemetryLayout, layout);
    QFETCH(QString, error);
    QFETCH(QString, key);
    QFETCH(double, value);
    QFETCH(bool, ends);
    QString message;
    const std::optional<PackFault> fault = PackFault::parse(written, &message);
    if (fault)
        message = fault->problemWith(layout);
    QVERIFY2(message.contains(error) && message.isEmpty() == error.isEmpty(), qPrintable(message));
    if (!fault || !message.isEmpty())
        return;

    PackSettings settings = settingsFor(layout);
    settings.faults = {*fault};
    PackModel model(settings);
    auto valueAfterASecond = [&] {
        model.advance(1000);
        const QByteArray json = telemetryRecordJson({0, QStringLiteral("p"), model.telemetry()});
        return QJsonDocument::fromJson(json).object().value(key).toDouble();
    };
    // The seconds count from when the tool opened the port, not from the pack's start.
    for (int second = 1; second <= 15; ++second)
        QVERIFY(valueAfterASecond() != value);
    model.startFaultClock();
    for (int second = 1; second <= 25; ++second)
        QCOMPARE(valueAfterASecond() == value, second >= 10 && (second < 20 || !ends));
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
