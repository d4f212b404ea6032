// CellHealthEstimator against keldro-sim's pack model, which knows each cell's true
// resistance and capacity, and against frames made by hand for the rules of a step.
#include "judge/cellhealthestimator.h"
#include "packmodel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

namespace {

constexpr qint64 Start = 1796662683000;

// The model's frames, as fast as it makes them, every intervalMs for seconds.
CellHealth simulate(const PackSettings &settings, int intervalMs, int seconds)
{
    PackModel model(settings);
    CellHealthEstimator estimator;
    for (qint64 ms = intervalMs; ms <= qint64(seconds) * 1000; ms += intervalMs) {
        model.advance(intervalMs);
        estimator.add({Start + ms, QStringLiteral("ttyUSB0"), model.telemetry()});
    }
    return estimator.result();
}

PackSettings loadedPack(quint32 seed, TelemetryLayout layout = TelemetryLayout::Type2)
{
    PackSettings settings;
    settings.seed = seed;
    settings.layout = layout;
    settings.load = LoadCycle{-5000, -30000, 10};
    return settings;
}

// A frame of a pack whose cells sit at 3700 mV with 2 mΩ each, and pack_mV at 15 of them
// with 40 mΩ.
TelemetryRecord frameAt(qint64 ms, qint32 currentMa, int soc = 50)
{
    TelemetryRecord record{Start + ms, QStringLiteral("ttyUSB0"), Telemetry()};
    Telemetry &t = record.telemetry;
    t.cellCount = 15;
    t.cellMillivolts.fill(quint16(3700 + currentMa * 2 / 1000));
    t.packMillivolts = quint16(55500 + currentMa * 40 / 1000);
    t.batteryMillivolts = t.packMillivolts;
    t.currentMilliamps = currentMa;
    t.stateOfCharge = quint8(soc);
    return record;
}

QStringList keysOf(const QJsonValue &object)
{
    QStringList keys = object.toObject().keys();
    keys.sort();
    return keys;
}

QStringList sorted(QStringList keys)
{
    keys.sort();
    return keys;
}

using Frames = QVector<QPair<int, int>>; // ms, mA

} // namespace

Q_DECLARE_METATYPE(TelemetryLayout)

class HealthTest : public QObject
{
    Q_OBJECT

private slots:
    void resistance_matchesModel_data();
    void resistance_matchesModel();
    void lowCapacity_namedAndCapacityCounted();
    void noSteps_nullsAndUnknown();
    void stepRules_data();
    void stepRules();
    void counting_trapezoidWithoutGaps();
    void sag_isDistanceFromMedianOfOthers_data();
    void sag_isDistanceFromMedianOfOthers();
};

void HealthTest::resistance_matchesModel_data()
{
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<TelemetryLayout>("layout");
    QTest::newRow("1 Hz") << 1000 << 1u << TelemetryLayout::Type2;
    QTest::newRow("10 Hz") << 100 << 2u << TelemetryLayout::Type2;
    QTest::newRow("1 Hz, layout 1") << 1000 << 3u << TelemetryLayout::Type1;
    QTest::newRow("10 Hz, layout 1") << 100 << 4u << TelemetryLayout::Type1;
}

// A load switched between 5 A and 30 A every 10 s for ten minutes: ΔI = 25 A.
void HealthTest::resistance_matchesModel()
{
    QFETCH(int, intervalMs);
    QFETCH(quint32, seed);
    QFETCH(TelemetryLayout, layout);
    PackSettings settings = loadedPack(seed, layout);
    settings.cellResistanceMilliohm = {{7, 5.5}, {2, 2.6}, {9, 1.6}};
    const CellHealth health = simulate(settings, intervalMs, 600);

    QCOMPARE(health.cells.size(), layout == TelemetryLayout::Type1 ? 9 : 15);
    QVERIFY2(health.steps >= 55, qPrintable(QString::number(health.steps)));
    for (const CellEstimate &cell : health.cells) {
        const double truth = settings.resistanceOf(cell.cell);
        QVERIFY(cell.resistanceMilliohm);
        QVERIFY2(std::abs(*cell.resistanceMilliohm - truth) <= std::max(0.1 * truth, 0.2),
                 qPrintable(QStringLiteral("cell %1: %2 mΩ, truly %3 mΩ")
                                .arg(cell.cell)
                                .arg(*cell.resistanceMilliohm)
                                .arg(truth)));
        QCOMPARE(cell.steps, health.steps);
        QCOMPARE(cell.verdict, cell.cell == 7 ? HealthVerdict::HighResistance : HealthVerdict::Ok);
    }
    QVERIFY(health.pack.resistanceMilliohm);
    QVERIFY(health.weakest);
    QCOMPARE(health.weakest->cell, 7);
    QVERIFY2(health.weakest->why.startsWith(QStringLiteral("cell 7: 5.")),
             qPrintable(health.weakest->why));
    const QJsonObject weakest =
        cellHealthJson(health, QString())[QLatin1String("weakest")].toObject();
    QCOMPARE(weakest[QLatin1String("cell")].toInt(), 7);
    QCOMPARE(weakest[QLatin1String("why")].toString(), health.weakest->why);
}

// A cell of 80 % empties ahead of the others: the pack from 80 % until it is empty.
void HealthTest::lowCapacity_namedAndCapacityCounted()
{
    PackSettings settings = loadedPack(5);
    settings.capacityAh = 10;
    settings.cellCapacityPercent = {{3, 80}};
    const CellHealth health = simulate(settings, 1000, 1500);

    for (const CellEstimate &cell : health.cells) {
        QVERIFY(cell.sagMillivolts);
        QCOMPARE(cell.verdict, cell.cell == 3 ? HealthVerdict::LowCapacity : HealthVerdict::Ok);
    }
    QVERIFY2(*health.cells.at(2).sagMillivolts < -30,
             qPrintable(QString::number(*health.cells.at(2).sagMillivolts)));
    QVERIFY(health.weakest);
    QCOMPARE(health.weakest->cell, 3);
    QVERIFY(health.pack.capacityAh);
    QVERIFY2(std::abs(*health.pack.capacityAh - settings.capacityAh) <= 0.05 * settings.capacityAh,
             qPrintable(QString::number(*health.pack.capacityAh)));
}

void HealthTest::noSteps_nullsAndUnknown()
{
    PackSettings settings = loadedPack(6);
    settings.load = LoadCycle{-10000, -10000, 10};
    const CellHealth health = simulate(settings, 1000, 120);
    QVERIFY2(health.resistanceMissing.startsWith(
                 QStringLiteral("no current step of 2 A or more (the largest change was 0.")),
             qPrintable(health.resistanceMissing));
    QVERIFY(health.weakest == std::nullopt);

    const QJsonObject json = cellHealthJson(health, QStringLiteral("quiet.csv"));
    QCOMPARE(keysOf(json),
             sorted({"source", "frames", "from", "to", "steps", "pack", "cells", "weakest"}));
    QCOMPARE(keysOf(json[QLatin1String("pack")]),
             sorted({"resistance_mOhm", "charged_Ah", "discharged_Ah", "charged_Wh",
                     "discharged_Wh", "capacity_Ah", "soc_from", "soc_to", "gaps"}));
    QCOMPARE(json[QLatin1String("steps")].toInt(-1), 0);
    QVERIFY(json[QLatin1String("weakest")].isNull());
    QVERIFY(json[QLatin1String("pack")][QLatin1String("resistance_mOhm")].isNull());
    QVERIFY(json[QLatin1String("pack")][QLatin1String("capacity_Ah")].isNull());
    const QJsonArray cells = json[QLatin1String("cells")].toArray();
    QCOMPARE(cells.size(), 15);
    for (const QJsonValue &cell : cells) {
        QCOMPARE(keysOf(cell), sorted({"cell", "resistance_mOhm", "resistance_iqr_mOhm", "steps",
                                       "sag_mV", "verdict"}));
        QVERIFY(cell[QLatin1String("resistance_mOhm")].isNull());
        QVERIFY(cell[QLatin1String("resistance_iqr_mOhm")].isNull());
        QVERIFY(cell[QLatin1String("sag_mV")].isNull());
        QCOMPARE(cell[QLatin1String("verdict")].toString(), QStringLiteral("unknown"));
    }
}

void HealthTest::stepRules_data()
{
    QTest::addColumn<Frames>("frames");
    QTest::addColumn<int>("steps");
    const Frames level{{0, -5000}, {1000, -5000}, {2000, -5000}};
    QTest::newRow("1 Hz: the frame a second on")
        << level + Frames{{3000, -30000}, {4000, -30000}} << 1;
    Frames tenHertz;
    for (int ms = 0; ms <= 2700; ms += 100)
        tenHertz.append({ms, ms <= 2000 ? -5000 : -30000});
    QTest::newRow("10 Hz: the frame 0.5 s on") << tenHertz << 1;
    QTest::newRow("charge to discharge")
        << Frames{{0, 5000}, {1000, 5000}, {2000, 5000}, {3000, -20000}, {4000, -20000}} << 1;
    QTest::newRow("a gap of 1.5 s inside") << level + Frames{{3000, -30000}, {4500, -30000}} << 1;
    QTest::newRow("a gap of 2.5 s inside") << level + Frames{{3000, -30000}, {5500, -30000}} << 0;
    QTest::newRow("a gap of 2.5 s in the level before")
        << Frames{{0, -5000}, {2500, -5000}, {3500, -5000}, {4500, -30000}, {5500, -30000}} << 0;
    QTest::newRow("level held 1.5 s before")
        << Frames{{500, -5000}, {1000, -5000}, {2000, -5000}, {3000, -30000}, {4000, -30000}} << 0;
    QTest::newRow("a spike") << level + Frames{{3000, -30000}, {4000, -5000}} << 0;
    QTest::newRow("a ramp") << level + Frames{{3000, -15000}, {4000, -30000}, {5000, -30000}} << 0;
    QTest::newRow("1.5 A is no step") << level + Frames{{3000, -6500}, {4000, -6500}} << 0;
}

void HealthTest::stepRules()
{
    QFETCH(Frames, frames);
    QFETCH(int, steps);
    CellHealthEstimator estimator;
    for (const auto &[ms, ma] : frames)
        estimator.add(frameAt(ms, ma));
    const CellHealth health = estimator.result();
    QCOMPARE(health.steps, steps);
    QCOMPARE(health.cells.constFirst().resistanceMilliohm.has_value(), steps > 0);
    QCOMPARE(health.pack.resistanceMilliohm.has_value(), steps > 0);
    if (steps > 0) {
        QCOMPARE(*health.cells.constFirst().resistanceMilliohm, 2.0);
        QCOMPARE(*health.pack.resistanceMilliohm, 40.0);
        QCOMPARE(*health.cells.constFirst().resistanceIqrMilliohm, 0.0);
    } else {
        QVERIFY(health.resistanceMissing.startsWith(QStringLiteral("no current step of 2 A")));
    }
}

// An hour at 10 A discharge, then a gap of 20 s, then 1 A of charge: the gap is counted,
// not bridged.
void HealthTest::counting_trapezoidWithoutGaps()
{
    CellHealthEstimator estimator;
    for (int s = 0; s <= 3600; ++s)
        estimator.add(frameAt(s * 1000, -10000, 80 - s / 120));
    for (int s = 0; s <= 3600; ++s)
        estimator.add(frameAt((3620 + s) * 1000, 1000, 50));
    const CellHealth health = estimator.result();
    QCOMPARE(health.pack.gaps, 1);
    QCOMPARE(qRound(health.pack.dischargedAh * 1000), 10000);
    QCOMPARE(qRound(health.pack.chargedAh * 1000), 1000);
    // pack_mV is 55100 at -10 A.
    QCOMPARE(qRound(health.pack.dischargedWh * 10), 5510);
    // 30 points in the hour counted; the 20 s gap took none.
    QVERIFY(health.pack.capacityAh);
    QCOMPARE(qRound(*health.pack.capacityAh * 1000), qRound(9.0 / 30 * 100 * 1000));
}

void HealthTest::sag_isDistanceFromMedianOfOthers_data()
{
    QTest::addColumn<int>("cells");
    QTest::addColumn<int>("spread"); // mV: how far apart the cells' voltages wander
    QTest::newRow("15 cells, a few mV apart, many equal") << 15 << 4;
    QTest::newRow("15 cells, far apart") << 15 << 300;
    QTest::newRow("9 cells") << 9 << 20;
}

// Discharging frames of random voltages, half above 60 % SOC and half below 30 %, without
// a step: the sag must be what the definition gives, the median of the others worked out
// by sorting them for each cell.
void HealthTest::sag_isDistanceFromMedianOfOthers()
{
    QFETCH(int, cells);
    QFETCH(int, spread);
    QRandomGenerator random(quint32(cells * 1000 + spread));
    CellHealthEstimator estimator;
    std::array<std::array<double, 2>, Telemetry::MaxCells> sums{};
    for (int i = 0; i < 2000; ++i) {
        const bool high = i % 2 == 0;
        TelemetryRecord record = frameAt(i * 1000, -5000, high ? 70 : 20);
        record.telemetry.cellCount = cells;
        for (int c = 0; c < cells; ++c)
            record.telemetry.cellMillivolts[size_t(c)] =
                quint16(3600 + c % 3 + int(random.bounded(spread + 1)) - (c == 4 && !high) * 50);
        estimator.add(record);
        for (int c = 0; c < cells; ++c) {
            std::vector<int> others;
            for (int o = 0; o < cells; ++o)
                if (o != c)
                    others.push_back(record.telemetry.cellMillivolts[size_t(o)]);
            std::sort(others.begin(), others.end());
            const size_t m = others.size();
            const double median = m % 2 ? others[m / 2] : (others[m / 2 - 1] + others[m / 2]) / 2.0;
            sums[size_t(c)][high] += record.telemetry.cellMillivolts[size_t(c)] - median;
        }
    }
    const CellHealth health = estimator.result();
    for (const CellEstimate &cell : health.cells) {
        const auto &sum = sums[size_t(cell.cell - 1)];
        QVERIFY(cell.sagMillivolts);
        const double expected = (sum[0] - sum[1]) / 1000;
        QVERIFY2(std::abs(*cell.sagMillivolts - expected) < 1e-9,
                 qPrintable(QStringLiteral("cell %1: %2 mV, not %3 mV")
                                .arg(cell.cell)
                                .arg(*cell.sagMillivolts)
                                .arg(expected)));
    }
    QCOMPARE(health.cells.at(4).verdict, HealthVerdict::LowCapacity);
}

QTEST_MAIN(HealthTest)
#include "tst_health.moc"
