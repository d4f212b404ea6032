// The trends window: frames in, graph points out; the lowest/highest readout; the
// time spans and following the newest frame; recordings in both formats against the
// same frames fed live; the legend hiding a cell; the PNG export through its dialog.

#include "protocol/recordwriter.h"
#include "protocol/telemetryframe.h"
#include "window/customplot.h"
#include "window/trendswindow.h"
#include "workedexamples.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr qint64 StartMs = 1800000000000; // 2027-01-15, any fixed moment will do

// Frames stepMs apart; every value moves with the frame's number so that a point
// put in the wrong series or at the wrong time shows.
QVector<TelemetryRecord> frames(const QByteArray &frame, int count, qint64 stepMs = 1000)
{
    QVector<TelemetryRecord> records;
    for (int i = 0; i < count; ++i) {
        TelemetryRecord r;
        r.timeMs = StartMs + i * stepMs;
        r.port = QStringLiteral("ttyUSB0");
        r.telemetry = judgeChunk(frame).telemetry;
        for (quint16 &mv : r.telemetry.cellMillivolts)
            mv = quint16(mv + (mv ? i % 7 : 0));
        r.telemetry.currentMilliamps += i * 10;
        r.telemetry.stateOfCharge = quint8(i % 100);
        r.telemetry.ntc1 = qint16(r.telemetry.ntc1 + i);
        r.telemetry.mosfetNtc = qint16(r.telemetry.mosfetNtc - i);
        records << r;
    }
    return records;
}

double keyOf(const TelemetryRecord &r)
{
    return r.timeMs / 1000.0;
}

QCPRange timeRange(TrendsWindow &w)
{
    return w.graph(0)->keyAxis()->range();
}

void click(TrendsWindow &w, const char *name)
{
    w.findChild<QAbstractButton *>(QLatin1String(name))->click();
}

QString readout(TrendsWindow &w)
{
    return w.findChild<QLabel *>(QStringLiteral("readout"))->text();
}

QCPLegend *legendOf(TrendsWindow &w, QCPGraph *graph)
{
    for (QCPLayoutElement *e : w.plot()->plotLayout()->elements(true))
        if (auto *legend = qobject_cast<QCPLegend *>(e))
            if (legend->hasItemWithPlottable(graph))
                return legend;
    return nullptr;
}

void sendMouse(QWidget *to, QEvent::Type type, QPointF pos, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(to, &event);
}

// Where a time lies on screen, in the middle of the cell plot.
QPointF pointAt(TrendsWindow &w, double key)
{
    QCPAxis *time = w.graph(0)->keyAxis();
    return QPointF(time->coordToPixel(key), time->axisRect()->center().y());
}

} // namespace

class TstTrends : public QObject
{
    Q_OBJECT

private slots:
    void addRecord_fillsTheLayoutsGraphs_data();
    void addRecord_fillsTheLayoutsGraphs();
    void readout_newestFrameOrTheTimeUnderTheMouse();
    void legendClick_hidesAndShowsTheCell();
    void spans_showTheLastMinutesOrAll_data();
    void spans_showTheLastMinutesOrAll();
    void dragging_stopsFollowing_liveReturns();
    void openRecording_sameAsLive_data();
    void openRecording_sameAsLive();
    void openRecording_badFile_saysWhyAndKeepsTheWindow();
    void exportPng_writesThePlots();
};

void TstTrends::addRecord_fillsTheLayoutsGraphs_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("cells");
    QTest::addColumn<bool>("ntc3");
    QTest::newRow("type 1") << WorkedExamples::type1Frame << 9 << false;
    QTest::newRow("type 2") << WorkedExamples::type2Frame << 15 << true;
}

void TstTrends::addRecord_fillsTheLayoutsGraphs()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, cells);
    QFETCH(bool, ntc3);
    TrendsWindow w;
    const QVector<TelemetryRecord> records = frames(frame, 30);
    for (const TelemetryRecord &r : records)
        w.addRecord(r);

    const TelemetryRecord &last = records.last();
    const Telemetry &t = last.telemetry;
    const QVector<QPair<int, double>> expected = {
        {0, double(t.cellMillivolts[0])},
        {8, double(t.cellMillivolts[8])},
        {14, double(t.cellMillivolts[14])},
        {TrendsWindow::CurrentSeries, double(t.currentMilliamps)},
        {TrendsWindow::StateOfChargeSeries, double(t.stateOfCharge)},
        {TrendsWindow::Ntc1Series, t.ntc1 / 10.0},
        {TrendsWindow::Ntc3Series, t.ntc3 / 10.0},
        {TrendsWindow::MosfetSeries, t.mosfetNtc / 10.0},
    };
    for (const auto &[series, value] : expected) {
        QCPGraph *graph = w.graph(series);
        const bool carried = (series >= cells && series < 15)     ? false
                             : series == TrendsWindow::Ntc3Series ? ntc3
                                                                  : true;
        QCOMPARE(graph->dataCount(), carried ? records.size() : 0);
        QCOMPARE(legendOf(w, graph) != nullptr, carried);
        if (carried) {
            QCOMPARE(graph->data()->at(graph->dataCount() - 1)->key, keyOf(last));
            QCOMPARE(graph->data()->at(graph->dataCount() - 1)->value, value);
        }
    }
    QCOMPARE(w.windowTitle(), QStringLiteral("keldro trends — ttyUSB0"));
}

void TstTrends::readout_newestFrameOrTheTimeUnderTheMouse()
{
    TrendsWindow w;
    QVector<TelemetryRecord> records = frames(WorkedExamples::type2Frame, 2);
    records[0].telemetry.cellMillivolts = {3600, 3601, 3602, 3603, 3604, 3605, 3606, 3607,
                                           3608, 3609, 3610, 3611, 3612, 3613, 3614};
    records[1].telemetry.cellMillivolts[2] = 3590;
    records[1].telemetry.cellMillivolts[6] = 3641;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    click(w, "span1");
    for (const TelemetryRecord &r : records)
        w.addRecord(r);

    QTRY_VERIFY2(readout(w).endsWith(QStringLiteral(
                     "lowest: cell 3, 3590 mV   highest: cell 7, 3641 mV   spread: 51 mV")),
                 qPrintable(readout(w)));
    QVERIFY(readout(w).startsWith(QStringLiteral("Newest frame ")));

    sendMouse(w.plot(), QEvent::MouseMove, pointAt(w, keyOf(records[0]) + 0.2), Qt::NoButton);
    QCOMPARE(
        readout(w),
        QStringLiteral("At %1   lowest: cell 1, 3600 mV   highest: cell 15, 3614 mV   "
                       "spread: 14 mV")
            .arg(QDateTime::fromMSecsSinceEpoch(StartMs).toString(QStringLiteral("HH:mm:ss"))));

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(w.plot(), &leave);
    QVERIFY(readout(w).endsWith(QStringLiteral("spread: 51 mV")));
}

void TstTrends::legendClick_hidesAndShowsTheCell()
{
    TrendsWindow w;
    w.addRecords(frames(WorkedExamples::type2Frame, 5));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCPGraph *cell4 = w.graph(3);
    QCPLegend *legend = legendOf(w, cell4);
    QVERIFY(legend);
    w.plot()->replot(QCustomPlot::rpImmediateRefresh);
    const QPointF entry = legend->itemWithPlottable(cell4)->rect().center();

    for (bool visible : {false, true}) {
        sendMouse(w.plot(), QEvent::MouseButtonPress, entry, Qt::LeftButton);
        sendMouse(w.plot(), QEvent::MouseButtonRelease, entry, Qt::NoButton);
        QCOMPARE(cell4->visible(), visible);
        QVERIFY(w.graph(2)->visible());
    }
}

void TstTrends::spans_showTheLastMinutesOrAll_data()
{
    QTest::addColumn<QByteArray>("button");
    QTest::addColumn<int>("seconds");
    QTest::newRow("1 min") << QByteArray("span1") << 60;
    QTest::newRow("5 min") << QByteArray("span5") << 5 * 60;
    QTest::newRow("15 min") << QByteArray("span15") << 15 * 60;
    QTest::newRow("60 min") << QByteArray("span60") << 60 * 60;
    QTest::newRow("all") << QByteArray("spanAll") << 0;
}

void TstTrends::spans_showTheLastMinutesOrAll()
{
    QFETCH(QByteArray, button);
    QFETCH(int, seconds);
    TrendsWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // Two hours, a frame every ten seconds.
    const QVector<TelemetryRecord> records = frames(WorkedExamples::type2Frame, 721, 10000);
    w.addRecords(records.mid(0, 720));
    click(w, button.constData());
    const double first = keyOf(records.first());
    double newest = keyOf(records[719]);
    QCOMPARE(timeRange(w).upper, newest);
    QCOMPARE(timeRange(w).lower, seconds ? newest - seconds : first);

    // A new frame moves the view along.
    w.addRecord(records.last());
    newest = keyOf(records.last());
    QTRY_COMPARE(timeRange(w).upper, newest);
    QCOMPARE(timeRange(w).lower, seconds ? newest - seconds : first);
}

void TstTrends::dragging_stopsFollowing_liveReturns()
{
    TrendsWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QVector<TelemetryRecord> records = frames(WorkedExamples::type2Frame, 200);
    w.addRecords(records.mid(0, 199));
    click(w, "span1");
    auto *live = w.findChild<QAbstractButton *>(QStringLiteral("live"));
    QVERIFY(live->isChecked());

    const QPointF from = pointAt(w, keyOf(records[170]));
    sendMouse(w.plot(), QEvent::MouseButtonPress, from, Qt::LeftButton);
    sendMouse(w.plot(), QEvent::MouseMove, from + QPointF(120, 0), Qt::LeftButton);
    sendMouse(w.plot(), QEvent::MouseButtonRelease, from + QPointF(120, 0), Qt::NoButton);
    const QCPRange dragged = timeRange(w);
    QVERIFY(dragged.upper < keyOf(records[198]));
    QVERIFY(!live->isChecked());

    w.addRecord(records.last());
    QTest::qWait(300);
    QCOMPARE(timeRange(w), dragged);

    live->click();
    QCOMPARE(timeRange(w).upper, keyOf(records.last()));
    QCOMPARE(timeRange(w).size(), 60.0);
}

void TstTrends::openRecording_sameAsLive_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("CSV, type 2") << QStringLiteral("run.csv") << WorkedExamples::type2Frame;
    QTest::newRow("JSON Lines, type 2")
        << QStringLiteral("run.jsonl") << WorkedExamples::type2Frame;
    QTest::newRow("CSV, type 1") << QStringLiteral("run.csv") << WorkedExamples::type1Frame;
    QTest::newRow("JSON Lines, type 1")
        << QStringLiteral("run.jsonl") << WorkedExamples::type1Frame;
}

void TstTrends::openRecording_sameAsLive()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, frame);
    const QVector<TelemetryRecord> records = frames(frame, 120, 100);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    RecordWriter writer(&file, *recordFormatForPath(path));
    writer.writeHeader();
    for (const TelemetryRecord &r : records)
        writer.write(r);
    QVERIFY(writer.flush());
    file.close();

    TrendsWindow live;
    for (const TelemetryRecord &r : records)
        live.addRecord(r);
    TrendsWindow opened;
    QString error;
    QVERIFY2(opened.openRecording(path, &error), qPrintable(error));

    for (int series = 0; series < TrendsWindow::SeriesCount; ++series) {
        const auto expected = live.graph(series)->data();
        const auto got = opened.graph(series)->data();
        QCOMPARE(got->size(), expected->size());
        for (int i = 0; i < got->size(); ++i) {
            QCOMPARE(got->at(i)->key, expected->at(i)->key);
            QCOMPARE(got->at(i)->value, expected->at(i)->value);
        }
    }
    QCOMPARE(opened.windowTitle(), QStringLiteral("keldro trends — ") + name);
    QCOMPARE(timeRange(opened), QCPRange(keyOf(records.first()), keyOf(records.last())));
}

void TstTrends::openRecording_badFile_saysWhyAndKeepsTheWindow()
{
    QTemporaryDir dir;
    const QString broken = dir.filePath(QStringLiteral("broken.csv"));
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(csvHeaderRow() + "not,a,row\n");
    file.close();

    TrendsWindow w;
    w.addRecords(frames(WorkedExamples::type2Frame, 3));
    QString error;
    QVERIFY(!w.openRecording(dir.filePath(QStringLiteral("missing.csv")), &error));
    QVERIFY2(error.contains(QStringLiteral("missing.csv")), qPrintable(error));
    QVERIFY(!w.openRecording(broken, &error));
    QVERIFY2(error.contains(QStringLiteral("line 2")), qPrintable(error));
    QCOMPARE(w.graph(0)->dataCount(), 3);
}

void TstTrends::exportPng_writesThePlots()
{
    TrendsWindow w;
    w.addRecords(frames(WorkedExamples::type2Frame, 50));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTemporaryDir dir;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            name->setText(dir.filePath(QStringLiteral("trends")));
            static_cast<QDialog *>(dialog)->accept();
        }
    });
    answer.start(20);
    click(w, "exportPng");

    const QImage image(dir.filePath(QStringLiteral("trends.png")));
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), w.plot()->size());
}

QTEST_MAIN(TstTrends)
#include "tst_trends.moc"
