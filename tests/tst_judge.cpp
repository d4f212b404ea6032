#include "judge/judge.h"
#include "judge/limitsfile.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {

// A healthy 15-cell pack at rest, which each step of a row changes.
Telemetry restingPack()
{
    Telemetry t;
    t.layout = TelemetryLayout::Type2;
    t.cellCount = 15;
    t.cellMillivolts.fill(3320);
    t.packMillivolts = 49800;
    t.stateOfCharge = 50;
    t.ntc1 = t.ntc2 = t.ntc3 = t.selfDischargeNtc = t.mosfetNtc = 250;
    return t;
}

Limits limitsOf(const QByteArray &toml)
{
    QString error;
    const auto limits = parseLimits(toml, QStringLiteral("test.toml"), &error);
    if (!limits)
        qFatal("%s", qPrintable(error));
    return *limits;
}

// A step is a frame one second after the last ("cell7=4262,ntc2=61.5,flags=0x08",
// "layout=1", "bms=2", "@5000" for its time) or a link call ("open@0", "check@4000",
// "lost@6000", "end@9000"). Every frame starts again from the resting pack.
QVector<JudgeEvent> run(Judge &judge, const QStringList &steps)
{
    QVector<JudgeEvent> events;
    qint64 time = 0;
    for (const QString &step : steps) {
        const QStringList verb = step.split(QLatin1Char('@'));
        if (verb.size() == 2 && !verb[0].isEmpty() && !verb[0].contains(QLatin1Char('='))) {
            time = verb[1].toLongLong();
            if (verb[0] == QLatin1String("open"))
                judge.linkOpened(time, &events);
            else if (verb[0] == QLatin1String("check"))
                judge.checkLink(time, &events);
            else if (verb[0] == QLatin1String("lost"))
                judge.linkLost(time, QString(), &events);
            else if (verb[0] == QLatin1String("end"))
                judge.endRun(time, &events);
            continue;
        }
        TelemetryRecord record{time += 1000, QStringLiteral("ttyUSB0"), restingPack()};
        Telemetry &t = record.telemetry;
        for (const QString &assignment : step.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (assignment.startsWith(QLatin1Char('@'))) {
                record.timeMs = time = assignment.mid(1).toLongLong();
                continue;
            }
            const QString key = assignment.section(QLatin1Char('='), 0, 0);
            const QString value = assignment.section(QLatin1Char('='), 1);
            const int number = value.toInt(nullptr, 0);
            const auto tenths = qint16(qRound(value.toDouble() * 10));
            if (key.startsWith(QLatin1String("cell")))
                t.cellMillivolts[key.mid(4).toInt() - 1] = quint16(number);
            else if (key == QLatin1String("layout") && number == 1) {
                t.layout = TelemetryLayout::Type1;
                t.cellCount = 9;
                std::fill(t.cellMillivolts.begin() + 9, t.cellMillivolts.end(), 0);
                t.ntc3 = 0;
            } else if (key == QLatin1String("pack"))
                t.packMillivolts = quint16(number);
            else if (key == QLatin1String("current"))
                t.currentMilliamps = number;
            else if (key == QLatin1String("soc"))
                t.stateOfCharge = quint8(number);
            else if (key == QLatin1String("ntc2"))
                t.ntc2 = tenths;
            else if (key == QLatin1String("ntc3"))
                t.ntc3 = tenths;
            else if (key == QLatin1String("flags"))
                t.protectionFlags = quint8(number);
            else if (key == QLatin1String("sys"))
                t.systemState = quint8(number);
            else if (key == QLatin1String("bms"))
                t.bmsState = quint8(number);
            else
                qFatal("unknown step %s", qPrintable(assignment));
        }
        judge.judgeFrame(record, &events);
    }
    return events;
}

} // namespace

class tst_Judge : public QObject
{
    Q_OBJECT

private slots:
    void events_data();
    void events();
    void raisedAlarmsAndTally();
    void linkTally_data();
    void linkTally();
    void eventJson();
};

void tst_Judge::events_data()
{
    QTest::addColumn<QByteArray>("limits");
    QTest::addColumn<QStringList>("steps");
    // Each event's text, in order; "@time " before one checks its time as well.
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("raise, hold, clear only back inside by the hysteresis")
        << QByteArray("[cells]\nmax_mV = 4250\n[hysteresis]\nmV = 10\n")
        << QStringList{"cell7=4250", "cell7=4262", "cell7=4270", "cell7=4245", "cell7=4240"}
        << QStringList{"@2000 cell 7 at 4262 mV, above 4250 mV",
                       "@5000 cell 7 at 4240 mV, back below 4250 mV"};
    QTest::newRow("a minimum, and each cell its own alarm")
        << QByteArray("[cells]\nmin_mV = 2800\n[hysteresis]\nmV = 10\n")
        << QStringList{"cell3=2799", "cell3=2805,cell9=2700", "cell3=2810,cell9=2700", ""}
        << QStringList{"cell 3 at 2799 mV, below 2800 mV", "cell 9 at 2700 mV, below 2800 mV",
                       "cell 3 at 2810 mV, back above 2800 mV",
                       "cell 9 at 3320 mV, back above 2800 mV"};
    QTest::newRow("the spread names both cells")
        << QByteArray("[cells]\nmax_spread_mV = 80\n")
        << QStringList{"cell2=3301,cell11=3394", "cell2=3301,cell11=3390", "cell11=3390"}
        << QStringList{
               "spread 93 mV between cell 2 (3301 mV) and cell 11 (3394 mV), above 80 mV",
               "spread 70 mV between cell 1 (3320 mV) and cell 11 (3390 mV), back below 80 mV"};
    QTest::newRow("layout 1 after layout 2 keeps cells 10-15 and NTC3")
        << QByteArray("[cells]\nmax_mV = 4250\n[temperature]\nmax_C = 60.0\n")
        << QStringList{"cell12=4300,ntc3=70", "layout=1,cell1=4300", "layout=1", ""}
        << QStringList{
               "cell 12 at 4300 mV, above 4250 mV",      "BAT_NTC3 at 70 °C, above 60 °C",
               "cell 1 at 4300 mV, above 4250 mV",       "cell 1 at 3320 mV, back below 4250 mV",
               "cell 12 at 3320 mV, back below 4250 mV", "BAT_NTC3 at 25 °C, back below 60 °C"};
    QTest::newRow("pack, currents, temperature and SOC")
        << QByteArray("[pack]\nmax_mV = 63000\n[current]\nmax_charge_mA = 30000\n"
                      "max_discharge_mA = 60000\n[temperature]\nmin_C = -10\nmax_C = 60.0\n"
                      "[soc]\nmin_pct = 5\n")
        << QStringList{"pack=63150,current=31200", "current=-61000,ntc2=61.5,soc=4",
                       "ntc2=-10.5,soc=5"}
        << QStringList{"pack at 63150 mV, above 63000 mV",
                       "charge current at 31200 mA, above 30000 mA",
                       "BAT_NTC2 at 61.5 °C, above 60 °C",
                       "pack at 49800 mV, back below 63000 mV",
                       "charge current at -61000 mA, back below 30000 mA",
                       "discharge current at 61000 mA, above 60000 mA",
                       "SOC at 4 %, below 5 %",
                       "BAT_NTC2 at -10.5 °C, below -10 °C",
                       "BAT_NTC2 at -10.5 °C, back below 60 °C",
                       "discharge current at 0 mA, back below 60000 mA",
                       "SOC at 5 %, back above 5 %"};
    QTest::newRow("degrees clear at the tenth the hysteresis names")
        << QByteArray("[temperature]\nmax_C = 60.3\n[hysteresis]\nC = 0.1\n")
        << QStringList{"ntc2=60.4", "ntc2=60.3", "ntc2=60.2"}
        << QStringList{"BAT_NTC2 at 60.4 °C, above 60.3 °C",
                       "BAT_NTC2 at 60.2 °C, back below 60.3 °C"};
    QTest::newRow("flags without a limits file; layout 1 has none")
        << QByteArray() << QStringList{"flags=0x08", "flags=0x08", "flags=0x09", "layout=1", ""}
        << QStringList{"OV raised", "OC raised", "OC cleared", "OV cleared"};
    QTest::newRow("state changes, not on the first frame")
        << QByteArray() << QStringList{"bms=1,sys=2", "bms=1,sys=2", "bms=2", "bms=3,sys=2"}
        << QStringList{"system state SYS ON → STANDBY", "BMS state DISCHARGE → CHARGE",
                       "system state STANDBY → SYS ON", "BMS state CHARGE → 0x3"};
    QTest::newRow("link opened, stale after 3 s, live, lost")
        << QByteArray() << QStringList{"open@0",     "@1000", "check@3999", "check@5500",
                                       "check@9000", "@9500", "lost@9600",  "check@20000"}
        << QStringList{"@0 link opened", "@4000 link stale: no good frame for 3 s",
                       "@9500 link live again", "@9600 link lost"};
}

void tst_Judge::events()
{
    QFETCH(QByteArray, limits);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, expected);
    Judge judge(limitsOf(limits), QStringLiteral("ttyUSB0"));
    const QVector<JudgeEvent> events = run(judge, steps);
    QStringList texts;
    for (int i = 0; i < events.size(); ++i) {
        const bool timed = i < expected.size() && expected[i].startsWith(QLatin1Char('@'));
        texts << (timed ? QStringLiteral("@%1 %2").arg(events[i].timeMs).arg(events[i].text)
                        : events[i].text);
    }
    QCOMPARE(texts, expected);
}

void tst_Judge::raisedAlarmsAndTally()
{
    Judge judge(limitsOf("[cells]\nmax_mV = 4250\n[protection]\nfail_on = [\"oc\"]\n"),
                QStringLiteral("ttyUSB0"));
    const QVector<JudgeEvent> events =
        run(judge, {"cell7=4262,cell9=4300", "cell7=4200,cell9=4310,flags=0x09"});
    // OV is not in fail_on: an event, but no alarm.
    QCOMPARE(events.size(), 5);
    QCOMPARE(events[3].text, QStringLiteral("OV raised"));
    QVERIFY(!events[3].isAlarm);

    const QVector<JudgeEvent> &raised = judge.raisedAlarms();
    QCOMPARE(raised.size(), 2);
    QCOMPARE(raised[0].text, QStringLiteral("cell 9 at 4300 mV, above 4250 mV"));
    QCOMPARE(raised[0].field, EventField::Cell);
    QCOMPARE(raised[0].index, 8);
    QCOMPARE(raised[1].text, QStringLiteral("OC raised"));
    QCOMPARE(raised[1].field, EventField::ProtectionFlag);
    QCOMPARE(raised[1].index, 0);

    const CheckTally &tally = judge.tally();
    QCOMPARE(tally.frames, qint64(2));
    const LimitTally &cellMax = tally.of(Limit::CellMax);
    QCOMPARE(cellMax.worst, 4310.0);
    QCOMPARE(cellMax.cell, 9);
    QCOMPARE(cellMax.raised, 2);
    QCOMPARE(cellMax.firstRaised->text, QStringLiteral("cell 7 at 4262 mV, above 4250 mV"));
    QVERIFY(!tally.of(Limit::CellMin).seen);
    QCOMPARE(tally.protection.seenFlags, quint8(0x09));
    QCOMPARE(tally.protection.raised, 1);
    QVERIFY(tally.failed());

    Judge lenient(limitsOf("[protection]\nfail_on = []\n"));
    run(lenient, {"flags=0x7f"});
    QVERIFY(!lenient.anyAlarmRaised());
    QVERIFY(!lenient.tally().failed());
}

// A check wants the frames to keep coming: stale, or lost and back after more than the
// stale time, they stopped; lost and back sooner, they did not.
void tst_Judge::linkTally_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("stopped");
    QTest::addColumn<int>("longestGapMs");
    QTest::addColumn<bool>("lost"); // and not back
    QTest::newRow("a frame each second")
        << QStringList{"open@0", "", "", "end@3500"} << 0 << 1500 << false;
    QTest::newRow("stale, live again")
        << QStringList{"open@0", "", "check@5000", "@6000", "end@6500"} << 1 << 5000 << false;
    QTest::newRow("lost, back within 3 s")
        << QStringList{"open@0", "", "lost@1500", "open@2500", "@3000", "end@3500"} << 0 << 2000
        << false;
    QTest::newRow("lost, back after 4 s")
        << QStringList{"open@0", "", "lost@1500", "open@5500", "@6000", "end@6100"} << 1 << 5000
        << false;
    QTest::newRow("lost, not back")
        << QStringList{"open@0", "", "lost@1500", "end@9000"} << 0 << 8000 << true;
}

void tst_Judge::linkTally()
{
    QFETCH(QStringList, steps);
    QFETCH(int, stopped);
    QFETCH(int, longestGapMs);
    QFETCH(bool, lost);
    Judge judge;
    run(judge, steps);
    const LinkTally &link = judge.tally().link;
    QCOMPARE(link.stopped, stopped);
    QCOMPARE(link.longestGapMs, qint64(longestGapMs));
    QCOMPARE(link.isLost(), lost);
    QCOMPARE(judge.tally().failed(), stopped > 0);
}

void tst_Judge::eventJson()
{
    Judge judge(limitsOf("[cells]\nmax_mV = 4250\n[temperature]\nmax_C = 60\n"),
                QStringLiteral("ttyUSB0"));
    const QVector<JudgeEvent> events =
        run(judge, {"open@1796662682000", "@1796662683123,cell7=4262,ntc2=61.5"});
    QCOMPARE(events.size(), 3);
    QByteArray file;
    for (const JudgeEvent &event : events)
        file += event.toJson() + '\n';

    const QList<QByteArray> lines = file.split('\n');
    const QJsonObject cell = QJsonDocument::fromJson(lines[1]).object();
    QCOMPARE(cell.keys(), (QStringList{"cell", "kind", "limit", "name", "port", "sensor", "state",
                                       "text", "time", "value"}));
    QCOMPARE(cell.value("time").toString(), QStringLiteral("2026-12-07T16:58:03.123Z"));
    QCOMPARE(cell.value("port").toString(), QStringLiteral("ttyUSB0"));
    QCOMPARE(cell.value("kind").toString(), QStringLiteral("limit"));
    QCOMPARE(cell.value("name").toString(), QStringLiteral("cell_max"));
    QCOMPARE(cell.value("state").toString(), QStringLiteral("raised"));
    QCOMPARE(cell.value("cell").toInt(), 7);
    QVERIFY(cell.value("sensor").isNull());
    QCOMPARE(cell.value("value").toDouble(), 4262.0);
    QCOMPARE(cell.value("limit").toDouble(), 4250.0);
    QVERIFY(lines[2].contains(R"("sensor":"ntc2_C","value":61.5,"limit":60,)"));
    QVERIFY(lines[0].contains(R"("kind":"link","name":"link","state":"opened","cell":null,)"
                              R"("sensor":null,"value":null,"limit":null,"text":"link opened"})"));

    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    QVector<JudgeEvent> read;
    QString error;
    QVERIFY2(readEventLines(&buffer, &read, &error), qPrintable(error));
    QCOMPARE(read.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(read[i].toJson(), events[i].toJson());
        QCOMPARE(read[i].field, events[i].field);
        QCOMPARE(read[i].index, events[i].index);
        QVERIFY(read[i].isSameAlarm(events[i]));
    }

    QByteArray bad = lines[0] + "\n{\"time\":\"yesterday\"}\n";
    QBuffer badBuffer(&bad);
    badBuffer.open(QIODevice::ReadOnly);
    QVERIFY(!readEventLines(&badBuffer, &read, &error));
    QVERIFY2(error.startsWith(QLatin1String("line 2: time:")), qPrintable(error));
}

QTEST_GUILESS_MAIN(tst_Judge)
#include "tst_judge.moc"
