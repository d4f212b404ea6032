#include "judge/limitsfile.h"

#include <QtTest>

class tst_Limits : public QObject
{
    Q_OBJECT

private slots:
    void exampleFile();
    void readsStrictly_data();
    void readsStrictly();
};

// docs/limits.example.toml is the file the issue shows people; it must read as written.
void tst_Limits::exampleFile()
{
    QString error;
    const auto limits = readLimitsFile(QStringLiteral(KELDRO_LIMITS_EXAMPLE), &error);
    QVERIFY2(limits, qPrintable(error));
    const std::array<double, LimitCount> expected{2800,  4250,  80,  30000, 63000,
                                                  30000, 60000, -10, 60,    5};
    for (int i = 0; i < LimitCount; ++i)
        QCOMPARE(limits->value(Limit(i)), std::optional<double>(expected[i]));
    QCOMPARE(limits->hysteresis, (std::array<double, LimitUnitCount>{10, 500, 2, 1}));
    QCOMPARE(limits->failOn, Limits::AllProtectionFlags);
    QVERIFY(!limits->health.any());

    // Its [health] is commented out; with the # taken off it reads too.
    QFile file(QStringLiteral(KELDRO_LIMITS_EXAMPLE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    for (const char *line : {"\n#[health]", "\n#max_resistance_", "\n#min_capacity_"})
        text.replace(line, QByteArray(line).replace('#', ""));
    const auto withHealth = parseLimits(text, QStringLiteral("example"), &error);
    QVERIFY2(withHealth, qPrintable(error));
    QCOMPARE(withHealth->health.maxResistanceMilliohm, std::optional<double>(4.0));
    QCOMPARE(withHealth->health.maxResistanceRatio, std::optional<double>(1.5));
    QCOMPARE(withHealth->health.minCapacityAh, std::optional<double>(45));
}

void tst_Limits::readsStrictly_data()
{
    QTest::addColumn<QByteArray>("toml");
    // Empty: the file is good. Otherwise the message it must give, or its start where
    // toml++ words the rest.
    QTest::addColumn<QString>("error");
    const QString tables = QStringLiteral(
        "the tables are cells, pack, current, temperature, soc, protection, hysteresis");

    QTest::newRow("empty file: no limits") << QByteArray() << QString();
    QTest::newRow("integer degrees") << QByteArray("[temperature]\nmax_C = 60\n") << QString();
    QTest::newRow("no flag fails") << QByteArray("[protection]\nfail_on = []\n") << QString();
    QTest::newRow("dotted keys") << QByteArray("cells.max_mV = 4250\n") << QString();

    QTest::newRow("unknown key") << QByteArray("[cells]\nmin_mV = 2800\nmax_mv = 4250\n")
                                 << QStringLiteral(
                                        "limits.toml:3: cells.max_mv: unknown key; the "
                                        "keys of [cells] are min_mV, max_mV, max_spread_mV");
    QTest::newRow("unknown table")
        << QByteArray("[soc]\nmin_pct = 5\n[cell]\nmax_mV = 4250\n")
        << QStringLiteral("limits.toml:3: cell: unknown table; ") + tables;
    QTest::newRow("key outside a table")
        << QByteArray("max_mV = 4250\n")
        << QStringLiteral("limits.toml:1: max_mV: unknown key; ") + tables;
    QTest::newRow("table as a value")
        << QByteArray("cells = 4250\n")
        << QStringLiteral("limits.toml:1: cells: expected a table, found an integer");
    QTest::newRow("string for mV")
        << QByteArray("[pack]\nmax_mV = \"63000\"\n")
        << QStringLiteral("limits.toml:2: pack.max_mV: expected an integer (mV), found a string");
    QTest::newRow("float for mV")
        << QByteArray("[cells]\n\nmax_mV = 4250.0\n")
        << QStringLiteral("limits.toml:3: cells.max_mV: expected an integer (mV), found a float");
    QTest::newRow("string for degrees")
        << QByteArray("[temperature]\nmax_C = \"hot\"\n")
        << QStringLiteral(
               "limits.toml:2: temperature.max_C: expected a number (°C), found a string");
    QTest::newRow("boolean for hysteresis")
        << QByteArray("[hysteresis]\nmA = true\n")
        << QStringLiteral(
               "limits.toml:2: hysteresis.mA: expected an integer (mA), found a boolean");
    QTest::newRow("cell minimum above maximum")
        << QByteArray("[cells]\nmin_mV = 4300\nmax_mV = 4250\n")
        << QStringLiteral("limits.toml:2: cells.min_mV: 4300 mV is above cells.max_mV (4250 mV)");
    QTest::newRow("temperature minimum above maximum")
        << QByteArray("[temperature]\nmax_C = 10\nmin_C = 20.5\n")
        << QStringLiteral(
               "limits.toml:3: temperature.min_C: 20.5 °C is above temperature.max_C (10 °C)");
    QTest::newRow("negative spread")
        << QByteArray("[cells]\nmax_spread_mV = -5\n")
        << QStringLiteral("limits.toml:2: cells.max_spread_mV: -5 is negative");
    QTest::newRow("negative hysteresis")
        << QByteArray("[hysteresis]\nmV = 10\nC = -0.5\n")
        << QStringLiteral("limits.toml:3: hysteresis.C: -0.5 is negative");
    QTest::newRow("unknown hysteresis key")
        << QByteArray("[hysteresis]\nV = 10\n")
        << QStringLiteral("limits.toml:2: hysteresis.V: unknown key; the keys of [hysteresis] are "
                          "mV, mA, C, pct");
    QTest::newRow("SOC beyond 100")
        << QByteArray("[soc]\nmin_pct = 101\n")
        << QStringLiteral(
               "limits.toml:2: soc.min_pct: 101 is beyond anything the board reports (100 %)");
    QTest::newRow("unknown flag, on its own line")
        << QByteArray("[protection]\nfail_on = [\"ov\",\n    \"ovp\"]\n")
        << QStringLiteral(
               "limits.toml:3: protection.fail_on: \"ovp\" is not a protection flag; the "
               "flags are oc, sc, ovb, ov, uv, low_temp, high_temp");
    QTest::newRow("flags not an array")
        << QByteArray("[protection]\nfail_on = \"ov\"\n")
        << QStringLiteral("limits.toml:2: protection.fail_on: expected an array of flag names, "
                          "found a string");
    QTest::newRow("the first error in the file")
        << QByteArray("[soc]\nmin_pct = 5\nzz = 1\n[cells]\naa = 1\n")
        << QStringLiteral("limits.toml:3: soc.zz: unknown key; the keys of [soc] are min_pct");
    QTest::newRow("health, integers and floats")
        << QByteArray("[health]\nmax_resistance_mOhm = 4\nmax_resistance_ratio = 1.5\n"
                      "min_capacity_Ah = 45.5\n")
        << QString();
    QTest::newRow("health ratio below 1")
        << QByteArray("[health]\nmax_resistance_ratio = 0.9\n")
        << QStringLiteral("limits.toml:2: health.max_resistance_ratio: 0.9 is below 1");
    QTest::newRow("health resistance of 0")
        << QByteArray("[health]\n\nmax_resistance_mOhm = 0\n")
        << QStringLiteral("limits.toml:3: health.max_resistance_mOhm: 0 is not above 0");
    QTest::newRow("health capacity as a string")
        << QByteArray("[health]\nmin_capacity_Ah = \"45\"\n")
        << QStringLiteral(
               "limits.toml:2: health.min_capacity_Ah: expected a number (Ah), found a string");
    QTest::newRow("health, unknown key")
        << QByteArray("[health]\nmax_resistance = 4\n")
        << QStringLiteral("limits.toml:2: health.max_resistance: unknown key; the keys of "
                          "[health] are max_resistance_mOhm, max_resistance_ratio, "
                          "min_capacity_Ah");
    QTest::newRow("syntax error") << QByteArray("[cells]\nmax_mV =\n")
                                  << QStringLiteral("limits.toml:2: ");
    QTest::newRow("key twice") << QByteArray("[cells]\nmax_mV = 1\nmax_mV = 2\n")
                               << QStringLiteral("limits.toml:3: ");
}

void tst_Limits::readsStrictly()
{
    QFETCH(QByteArray, toml);
    QFETCH(QString, error);
    QString message;
    const auto limits = parseLimits(toml, QStringLiteral("limits.toml"), &message);
    if (error.isEmpty()) {
        QVERIFY2(limits, qPrintable(message));
        return;
    }
    QVERIFY(!limits);
    QVERIFY2(message.startsWith(error), qPrintable(message));
}

QTEST_GUILESS_MAIN(tst_Limits)
#include "tst_limits.moc"
