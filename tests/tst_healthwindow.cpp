// The cells window: its table against keldro-cli health for the same recording, opened
// with Ctrl+H, and the cell fields' tooltips on a live board. The pack model of
// keldro-sim, with a weak cell 7, makes the recording and the live frames.
#include "packmodel.h"
#include "record/recordwriter.h"
#include "scratchsettings.h"
#include "serial/serialenumerator.h"
#include "window/health/healthwindow.h"
#include "window/health/windowhealth.h"
#include "window/trends/trendswindow.h"
#include "window/widget.h"
#include "window/windowmenu.h"
#include "window/windowsettings.h"

#include <QHelpEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolTip>
#include <functional>

namespace {

// A load switched between 5 A and 30 A every 10 s, cell 7 three times as resistive as
// the others, ten frames a second.
QVector<TelemetryRecord> weakCellFrames(int count)
{
    PackSettings settings;
    settings.load = LoadCycle{-5000, -30000, 10};
    settings.cellResistanceMilliohm.insert(7, 6.0);
    PackModel model(settings);
    QVector<TelemetryRecord> records;
    qint64 timeMs = 1767225600000; // 2026-01-01T00:00:00Z
    for (int i = 0; i < count; ++i) {
        model.advance(100);
        timeMs += 100;
        records.append({timeMs, QStringLiteral("ttyUSB0"), model.telemetry()});
    }
    return records;
}

} // namespace

class HealthWindowTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        useScratchSettings();
        SerialEnumerator::setSystemPortsHidden(true);
        QVERIFY(dir.isValid());
    }
    void cleanup() { WindowSettings::clearStored(); }

    void tableMatchesTheCommandLine()
    {
        const QString path = dir.filePath(QStringLiteral("weak7.csv"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        RecordWriter writer(&file, RecordFormat::Csv);
        writer.writeHeader();
        for (const TelemetryRecord &record : weakCellFrames(3000))
            writer.write(record);
        QVERIFY(writer.flush());
        file.close();

        QProcess cli;
        cli.start(
            QStringLiteral(KELDRO_CLI_PATH),
            {QStringLiteral("health"), path, QStringLiteral("--format"), QStringLiteral("json")});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 0);
        const QJsonObject json = QJsonDocument::fromJson(cli.readAllStandardOutput()).object();
        QCOMPARE(json.value(QLatin1String("weakest")).toObject().value(QLatin1String("cell")), 7);

        Widget window;
        window.show();
        QVERIFY(window.windowMenu()->openRecording(path));
        // Ctrl+H where the technician is: in the recording's trends window.
        auto *trends = window.findChild<TrendsWindow *>();
        trends->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(trends));
        QTest::keyClick(trends, Qt::Key_H, Qt::ControlModifier);
        auto *health = window.findChild<HealthWindow *>(QStringLiteral("health"));
        QVERIFY(health);
        QVERIFY(QTest::qWaitForWindowExposed(health));
        // The trends read the recording first, then the cells window.
        QTRY_VERIFY_WITH_TIMEOUT(health->shownHealth(), 30000);
        QCOMPARE(health->shownRecording(), path);

        const auto *table = health->findChild<QTableWidget *>(QStringLiteral("healthTable"));
        const QJsonArray cells = json.value(QLatin1String("cells")).toArray();
        // Then the pack's row.
        QCOMPARE(table->rowCount(), cells.size() + 1);
        auto text = [](const QJsonValue &value, int decimals, const char *unit) {
            return value.isNull() ? QStringLiteral("—")
                                  : QString::number(value.toDouble(), 'f', decimals) +
                                        QLatin1Char(' ') + QString::fromUtf8(unit);
        };
        for (int row = 0; row < cells.size(); ++row) {
            const QJsonObject cell = cells.at(row).toObject();
            const QJsonValue resistance = cell.value(QLatin1String("resistance_mOhm"));
            const QStringList expected{
                QString::number(cell.value(QLatin1String("cell")).toInt()),
                resistance.isNull()
                    ? QStringLiteral("—")
                    : QStringLiteral("%1 ± %2")
                          .arg(resistance.toDouble(), 0, 'f', 2)
                          .arg(text(cell.value(QLatin1String("resistance_iqr_mOhm")), 2, "mΩ")),
                QString::number(cell.value(QLatin1String("steps")).toInt()),
                text(cell.value(QLatin1String("sag_mV")), 1, "mV"),
                cell.value(QLatin1String("verdict")).toString()};
            QStringList shown;
            for (int column = 0; column < table->columnCount(); ++column)
                shown << table->item(row, column)->text();
            QCOMPARE(shown, expected);
        }
        QCOMPARE(
            health->findChild<QLabel *>(QStringLiteral("healthWeakest"))->text(),
            json.value(QLatin1String("weakest")).toObject().value(QLatin1String("why")).toString());
        const QJsonObject pack = json.value(QLatin1String("pack")).toObject();
        QVERIFY(table->item(cells.size(), 1)
                    ->text()
                    .startsWith(QString::number(
                        pack.value(QLatin1String("resistance_mOhm")).toDouble(), 'f', 2)));
        QCOMPARE(table->item(cells.size(), 2)->text(),
                 QString::number(json.value(QLatin1String("steps")).toInt()));
        const QString packLine = health->findChild<QLabel *>(QStringLiteral("healthPack"))->text();
        for (const QString &part : {text(pack.value(QLatin1String("charged_Ah")), 3, "Ah"),
                                    text(pack.value(QLatin1String("discharged_Ah")), 3, "Ah"),
                                    text(pack.value(QLatin1String("discharged_Wh")), 2, "Wh")})
            QVERIFY2(packLine.contains(part),
                     qPrintable(packLine + QStringLiteral(" lacks ") + part));
    }

    void cellTooltipsTellTheResistance()
    {
        Widget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const TelemetryRecord &record : weakCellFrames(400))
            window.windowMenu()->frameAccepted(record);
        auto *cell7 = window.findChild<QTextBrowser *>(QStringLiteral("textBrowser_cell7"));
        auto tooltip = [&] {
            QHelpEvent event(QEvent::ToolTip, QPoint(2, 2), cell7->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(cell7, &event);
            return QToolTip::text();
        };
        // The live estimate, as the window has it once its second is up.
        QTRY_VERIFY(tooltip().contains(QStringLiteral(" mΩ over ")));
        const CellEstimate seventh = window.windowMenu()->health()->liveHealth().cells.at(6);
        QVERIFY(seventh.resistanceMilliohm && *seventh.resistanceMilliohm > 4);
        QVERIFY2(tooltip().endsWith(QStringLiteral("resistance %1 mΩ over %2 steps")
                                        .arg(*seventh.resistanceMilliohm, 0, 'f', 1)
                                        .arg(seventh.steps)),
                 qPrintable(tooltip()));
    }
};

QTEST_MAIN(HealthWindowTest)
#include "tst_healthwindow.moc"
