// The trends window: frames in, graph points out; the lowest/highest readout; the
// time spans and following the newest frame; recordings in both formats against the
// same frames fed live, read on a worker thread that can be cancelled; the legend
// hiding a cell; the PNG export through its dialog. And the store under it, against
// a brute-force minimum and maximum of every interval.

#include "plot/trendsplot.h"
#include "protocol/telemetryframe.h"
#include "record/recordwriter.h"
#include "window/trends/recordingloader.h"
#include "window/trends/trendsreadout.h"
#include "window/trends/trendswindow.h"
#include "workedexamples.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool writeRecording(const QString &path, const QVector<TelemetryRecord> &records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    RecordWriter writer(&file, *recordFormatForPath(path));
    writer.writeHeader();
    for (const TelemetryRecord &r : records)
        writer.write(r);
    return writer.flush();
}

// Every level entry by entry, every series of every frame and interval.
void compareStores(const TrendStore &got, const TrendStore &expected)
{
    QCOMPARE(got.framesAdded(), expected.framesAdded());
    QCOMPARE(got.newestMs(), expected.newestMs());
    for (int level = 0; level < TrendStore::LevelCount; ++level) {
        QCOMPARE(got.keptSinceMs(level), expected.keptSinceMs(level));
        QCOMPARE(got.size(level), expected.size(level));
    }
    for (size_t i = 0; i < got.frames().size(); ++i) {
        const TrendStore::Frame &a = got.frames()[i], &b = expected.frames()[i];
        QCOMPARE(a.timeMs, b.timeMs);
        for (int series = 0; series < TrendStore::SeriesCount; ++series) {
            QCOMPARE(a.carries(series), b.carries(series));
            if (a.carries(series))
                QCOMPARE(a.value(series), b.value(series));
        }
    }
    for (int level = 1; level < TrendStore::LevelCount; ++level)
        for (size_t i = 0; i < got.summaries(level).size(); ++i) {
            const TrendStore::Summary &a = got.summaries(level)[i];
            const TrendStore::Summary &b = expected.summaries(level)[i];
            QCOMPARE(a.firstMs, b.firstMs);
            QCOMPARE(a.lastMs(), b.lastMs());
            QCOMPARE(a.frames, b.frames);
            for (int series = 0; series < TrendStore::SeriesCount; ++series) {
                QCOMPARE(a.carries(series), b.carries(series));
                if (a.carries(series))
                    QCOMPARE(qMakePair(a.minimum(series), a.maximum(series)),
                             qMakePair(b.minimum(series), b.maximum(series)));
            }
        }
}

// True once every reader thread has ended. One that waits to open path, a pipe, is
// let go first: a writer comes and goes, and the reader finds the end of the file.
bool readersEnded(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        ::close(fd);
    return RecordingLoader::readsUnderWay() == 0;
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
    void readout_whereOnlySummariesAreKept_givesTheirRange();
    void legendClick_hidesAndShowsTheCell();
    void spans_showTheLastMinutesOrAll_data();
    void spans_showTheLastMinutesOrAll();
    void spanThatFits_data();
    void spanThatFits();
    void dragging_stopsFollowing_liveReturns();
    void openRecording_sameAsLive_data();
    void openRecording_sameAsLive();
    void openRecording_badFile_saysWhyAndKeepsTheWindow();
    void openRecording_cancelled_leavesTheWindowAsItWas();
    void openRecording_endlessOrStuck_cancelAndCloseAnswerAtOnce_data();
    void openRecording_endlessOrStuck_cancelAndCloseAnswerAtOnce();
    void store_summariesHoldEachIntervalsExtremes_data();
    void store_summariesHoldEachIntervalsExtremes();
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
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QVector<TelemetryRecord> records = frames(frame, 30);
    for (const TelemetryRecord &r : records)
        w.addRecord(r);
    // The graphs hold what a replot draws; a minute of frames is drawn frame by frame.
    click(w, "span1");
    w.plot()->replot(QCustomPlot::rpImmediateRefresh);

    const TelemetryRecord &last = records.last();
    const Telemetry &t = last.telemetry;
    const QVector<QPair<int, double>> expected = {
        {0, double(t.cellMillivolts[0])},
        {8, double(t.cellMillivolts[8])},
        {14, double(t.cellMillivolts[14])},
        {TrendStore::CurrentSeries, double(t.currentMilliamps)},
        {TrendStore::StateOfChargeSeries, double(t.stateOfCharge)},
        {TrendStore::Ntc1Series, t.ntc1 / 10.0},
        {TrendStore::Ntc3Series, t.ntc3 / 10.0},
        {TrendStore::MosfetSeries, t.mosfetNtc / 10.0},
    };
    for (const auto &[series, value] : expected) {
        QCPGraph *graph = w.graph(series);
        const bool carried = (series >= cells && series < 15)   ? false
                             : series == TrendStore::Ntc3Series ? ntc3
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

void TstTrends::readout_whereOnlySummariesAreKept_givesTheirRange()
{
    TrendStore::Limits limits;
    limits.entries = {600, 600, 600, 600, 600, 600, 0};
    TrendStore store(limits);
    Telemetry t = judgeChunk(WorkedExamples::type2Frame).telemetry;
    const qint64 minute = StartMs / 60000 * 60000 + 60000;
    for (qint64 ms = minute; ms < minute + 3 * 3600 * 1000; ms += 100) {
        t.cellMillivolts[4] = ms == minute + 12300 ? 3900 : 3604;
        store.add(ms, t);
    }
    TrendsReadout readout;
    const double cursor = readout.showAt(store, (minute + 30000) / 1000.0, 0);
    QCOMPARE(cursor, (minute + 29950) / 1000.0); // the middle of the minute's frames
    const auto hhmm = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm"));
    };
    QCOMPARE(readout.text(),
             QStringLiteral("%1–%2   lowest: cell 1, 3600 mV   highest: cell 5, 3900 mV   over "
                            "600 frames (only their extremes are kept)")
                 .arg(hhmm(minute), hhmm(minute + 60000)));
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
    QTest::newRow("6 h") << QByteArray("span6h") << 6 * 3600;
    QTest::newRow("24 h") << QByteArray("span24h") << 24 * 3600;
    QTest::newRow("7 d") << QByteArray("span7d") << 7 * 24 * 3600;
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

// A young session is shown in the shortest span that holds it, until it outgrows the
// span the technician chose last.
void TstTrends::spanThatFits_data()
{
    QTest::addColumn<int>("preferred");
    QTest::addColumn<int>("heldSeconds");
    QTest::addColumn<int>("shown");
    QTest::newRow("20 s of 15 min") << 15 * 60 << 20 << 60;
    QTest::newRow("10 min of 15 min") << 15 * 60 << 600 << 15 * 60;
    QTest::newRow("20 min of 15 min") << 15 * 60 << 1200 << 15 * 60;
    QTest::newRow("20 s of 24 h") << 24 * 3600 << 20 << 60;
    QTest::newRow("2 h of 24 h") << 24 * 3600 << 7200 << 6 * 3600;
    QTest::newRow("20 s of all") << 0 << 20 << 0;
    QTest::newRow("8 d of 7 d") << 7 * 24 * 3600 << 8 * 24 * 3600 << 7 * 24 * 3600;
}

void TstTrends::spanThatFits()
{
    QFETCH(int, preferred);
    QFETCH(int, heldSeconds);
    QFETCH(int, shown);
    TrendsWindow w;
    w.setPreferredSpan(preferred);
    const int count = 21;
    const QVector<TelemetryRecord> records =
        frames(WorkedExamples::type2Frame, count, qint64(heldSeconds) * 1000 / (count - 1));
    w.addRecords(records);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE(w.span(), shown);

    // A button pressed is the technician's choice, and it stays.
    QSignalSpy chosen(&w, &TrendsWindow::spanChosen);
    click(w, "span1");
    QCOMPARE(chosen.count(), 1);
    w.addRecord(records.last());
    QCOMPARE(w.span(), 60);

    // A recording as short as the span chosen is shown whole.
    if (heldSeconds < preferred) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("short.csv"));
        QVERIFY(writeRecording(path, records));
        TrendsWindow opened;
        opened.setPreferredSpan(preferred);
        QSignalSpy done(&opened, &TrendsWindow::recordingOpened);
        QVERIFY(opened.openRecording(path));
        QVERIFY(done.wait(10000));
        QCOMPARE(opened.span(), 0);
    }
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
    QTest::addColumn<int>("count");
    const QByteArray type1 = WorkedExamples::type1Frame, type2 = WorkedExamples::type2Frame;
    QTest::newRow("CSV, type 2") << QStringLiteral("run.csv") << type2 << 120;
    QTest::newRow("JSON Lines, type 2") << QStringLiteral("run.jsonl") << type2 << 120;
    QTest::newRow("CSV, type 1") << QStringLiteral("run.csv") << type1 << 120;
    QTest::newRow("JSON Lines, type 1") << QStringLiteral("run.jsonl") << type1 << 120;
    // Over 4 MB: read in two halves at once.
    QTest::newRow("CSV, long") << QStringLiteral("long.csv") << type2 << 30000;
    QTest::newRow("JSON Lines, long") << QStringLiteral("long.jsonl") << type1 << 30000;
}

void TstTrends::openRecording_sameAsLive()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, frame);
    QFETCH(int, count);
    const QVector<TelemetryRecord> records = frames(frame, count, 100);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QVERIFY(writeRecording(path, records));

    TrendsWindow live;
    for (const TelemetryRecord &r : records)
        live.addRecord(r);
    TrendsWindow opened;
    QSignalSpy done(&opened, &TrendsWindow::recordingOpened);
    QString error;
    QVERIFY2(opened.openRecording(path, &error), qPrintable(error));
    // A minute: 30,000 rows of JSON take their time under the sanitizers.
    QVERIFY(done.wait(60000));

    // Every frame at full resolution and every summary as the live window has them.
    compareStores(opened.store(), live.store());
    QCOMPARE(opened.store().frames().size(), size_t(count));
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
    // Even a missing file is opened on the reader's thread, and fails there.
    QString error;
    QSignalSpy failed(&w, &TrendsWindow::openFailed);
    QVERIFY(w.openRecording(dir.filePath(QStringLiteral("missing.csv")), &error));
    QVERIFY(failed.wait(10000));
    error = failed.takeFirst().at(1).toString();
    QVERIFY2(error.contains(QStringLiteral("missing.csv")), qPrintable(error));
    QVERIFY(w.openRecording(broken, &error));
    QVERIFY(failed.wait(10000));
    error = failed.first().at(1).toString();
    QVERIFY2(error.contains(QStringLiteral("line 2")), qPrintable(error));
    QCOMPARE(w.store().framesAdded(), 3);
}

void TstTrends::openRecording_cancelled_leavesTheWindowAsItWas()
{
    // The recording comes through a named pipe, as from a writer still at it: the
    // reading waits there until Cancel has been pressed.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("growing.csv"));
    QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    QFile pipe(path);
    QVERIFY(pipe.open(QIODevice::ReadWrite)); // as O_RDWR it waits for no reader
    TrendsWindow w;
    const QVector<TelemetryRecord> shown = frames(WorkedExamples::type1Frame, 30);
    w.addRecords(shown);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    click(w, "span5");
    const QString title = w.windowTitle();
    const TrendStore *store = &w.store();

    QSignalSpy cancelled(&w, &TrendsWindow::openCancelled);
    QVERIFY(w.openRecording(path));
    auto *progress = w.findChild<QProgressBar *>(QStringLiteral("openProgress"));
    QVERIFY(progress->isVisible());
    click(w, "cancelOpen");
    // Given up at once, with the reader still waiting in the pipe.
    QCOMPARE(cancelled.count(), 1);
    // What comes after that does not reach the window. Fewer bytes than the pipe
    // holds: the write does not wait for the reader.
    RecordWriter rows(&pipe, RecordFormat::Csv);
    rows.writeHeader();
    for (const TelemetryRecord &r : frames(WorkedExamples::type2Frame, 100, 100))
        rows.write(r);
    QVERIFY(rows.flush() && pipe.flush());
    // The end of the file: the reader's thread ends on its own.
    pipe.close();
    QTRY_VERIFY(readersEnded(path));
    QCOMPARE(cancelled.count(), 1);

    QVERIFY(!w.isOpening());
    QVERIFY(!progress->isVisible());
    QCOMPARE(&w.store(), store);
    QCOMPARE(w.store().framesAdded(), shown.size());
    QCOMPARE(w.windowTitle(), title);
    QCOMPARE(w.span(), 5 * 60);
    QCOMPARE(timeRange(w).upper, keyOf(shown.last()));
    QVERIFY(w.findChild<QAbstractButton *>(QStringLiteral("live"))->isVisible());
}

void TstTrends::openRecording_endlessOrStuck_cancelAndCloseAnswerAtOnce_data()
{
    QTest::addColumn<bool>("pipe");
    QTest::addColumn<bool>("closeWindow");
    QTest::newRow("20 GB of NUL, Cancel") << false << false;
    QTest::newRow("20 GB of NUL, window closed") << false << true;
    QTest::newRow("pipe nobody writes to, Cancel") << true << false;
    QTest::newRow("pipe nobody writes to, window closed") << true << true;
}

void TstTrends::openRecording_endlessOrStuck_cancelAndCloseAnswerAtOnce()
{
    QFETCH(bool, pipe);
    QFETCH(bool, closeWindow);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stuck.csv"));
    if (pipe) {
        // Opening it waits for a writer, for ever.
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else {
        // A row, then what a power cut leaves: NUL bytes, here a sparse 20 GB of them.
        QVERIFY(writeRecording(path, frames(WorkedExamples::type2Frame, 1)));
        QFile file(path);
        QVERIFY(file.resize(qint64(20) << 30));
    }
    auto *w = new TrendsWindow;
    w->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<TrendsWindow> alive(w);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QSignalSpy cancelled(w, &TrendsWindow::openCancelled);
    QVERIFY(w->openRecording(path));
    QVERIFY(w->isOpening());
    if (closeWindow) {
        w->close();
        QTRY_VERIFY(alive.isNull());
    } else {
        click(*w, "cancelOpen");
        QCOMPARE(cancelled.count(), 1);
        QVERIFY(!w->isOpening());
        delete w;
    }
    QTRY_VERIFY(readersEnded(path));
}

void TstTrends::store_summariesHoldEachIntervalsExtremes_data()
{
    QTest::addColumn<int>("stepMs"); // 0: bursts at 20 frames/s, pauses, a clock set back
    QTest::addColumn<int>("count");
    QTest::newRow("10 frames/s for an hour") << 100 << 36000;
    QTest::newRow("a frame every 7 s for four days") << 7000 << 50000;
    QTest::newRow("bursts and pauses") << 0 << 40000;
}

void TstTrends::store_summariesHoldEachIntervalsExtremes()
{
    QFETCH(int, stepMs);
    QFETCH(int, count);
    // Small limits, so that each level gives up its oldest entries to the next.
    TrendStore::Limits limits;
    limits.entries = {5000, 2000, 600, 300, 100, 50, 0};
    TrendStore store(limits);
    TrendStore::Limits everything;
    everything.entries.fill(0);
    TrendStore all(everything);                // its frames are the brute force's input
    TrendStore earlier(limits), later(limits); // the same frames in two halves

    QRandomGenerator random(17);
    const Telemetry type2 = judgeChunk(WorkedExamples::type2Frame).telemetry;
    const Telemetry type1 = judgeChunk(WorkedExamples::type1Frame).telemetry;
    qint64 ms = StartMs + 123;
    for (int i = 0; i < count; ++i) {
        if (stepMs)
            ms += stepMs;
        else
            ms += random.bounded(2000) ? 50 : random.bounded(-5, 3600) * 1000;
        Telemetry t = random.bounded(10) ? type2 : type1;
        for (quint16 &mv : t.cellMillivolts)
            mv = quint16(3300 + random.bounded(100));
        // A one-frame spike, up or down, in one cell.
        if (random.bounded(3000) == 0)
            t.cellMillivolts[size_t(random.bounded(t.cellCount))] = random.bounded(2) ? 3900 : 2700;
        t.currentMilliamps = random.bounded(-60000, 60000);
        t.stateOfCharge = quint8(random.bounded(101));
        for (qint16 *tenths : {&t.ntc1, &t.ntc2, &t.ntc3, &t.selfDischargeNtc, &t.mosfetNtc})
            *tenths = qint16(random.bounded(-400, 900));
        store.add(ms, t);
        all.add(ms, t);
        (i < count / 2 ? earlier : later).add(ms, t);
    }
    QVERIFY(earlier.append(std::move(later)));
    compareStores(earlier, store);
    if (QTest::currentTestFailed())
        return;
    const std::deque<TrendStore::Frame> &frames = all.frames();
    const auto firstAt = [&frames](qint64 t) {
        return std::partition_point(frames.begin(), frames.end(),
                                    [t](const TrendStore::Frame &f) { return f.timeMs < t; });
    };

    // Each interval against its frames, series by series.
    for (int level = 1; level < TrendStore::LevelCount; ++level) {
        QVERIFY(store.size(level) <= limits.entries[size_t(level)] || level == 6);
        for (const TrendStore::Summary &summary : store.summaries(level)) {
            QVERIFY(summary.firstMs >= store.keptSinceMs(level));
            const qint64 start = TrendStore::intervalStartMs(level, summary.firstMs);
            const auto begin = firstAt(start);
            const auto end = firstAt(start + TrendStore::intervalMs(level));
            QCOMPARE(qint64(summary.frames), qint64(end - begin));
            QCOMPARE(summary.firstMs, begin->timeMs);
            QCOMPARE(summary.lastMs(), (end - 1)->timeMs);
            for (int series = 0; series < TrendStore::SeriesCount; ++series) {
                double low = 1e9, high = -1e9;
                for (auto f = begin; f != end; ++f)
                    if (f->carries(series)) {
                        low = std::min(low, f->value(series));
                        high = std::max(high, f->value(series));
                    }
                QCOMPARE(summary.carries(series), low <= high);
                if (low <= high) {
                    QCOMPARE(summary.minimum(series), low);
                    QCOMPARE(summary.maximum(series), high);
                }
            }
        }
    }
    // The frames kept are the newest, whole.
    const auto kept = firstAt(store.keptSinceMs(0));
    QCOMPARE(store.frames().size(), size_t(frames.end() - kept));
    QCOMPARE(store.frames().front().timeMs, kept->timeMs);
    QCOMPARE(store.frames().back().value(3), frames.back().value(3));

    // The whole session at every width: the levels follow each other without a gap
    // and without a frame twice.
    for (int pixels : {1, 20, 200, 2000, 100000}) {
        int finest = -1;
        const std::vector<TrendStore::Piece> pieces =
            store.select(store.firstMs(), store.newestMs(), pixels, &finest);
        qint64 framesSeen = 0, points = 0, lastMs = std::numeric_limits<qint64>::min();
        for (const TrendStore::Piece &piece : pieces)
            for (qsizetype i = piece.begin; i < piece.end; ++i) {
                const bool isFrame = piece.level == 0;
                const qint64 first = isFrame ? store.frames()[size_t(i)].timeMs
                                             : store.summaries(piece.level)[size_t(i)].firstMs;
                QVERIFY2(first > lastMs || (isFrame && first == lastMs),
                         qPrintable(
                             QStringLiteral("level %1 entry %2 overlaps").arg(piece.level).arg(i)));
                lastMs = isFrame ? first : store.summaries(piece.level)[size_t(i)].lastMs();
                framesSeen += isFrame ? 1 : store.summaries(piece.level)[size_t(i)].frames;
                points += isFrame ? 1 : 2;
            }
        QCOMPARE(framesSeen, qint64(count));
        QVERIFY(points <= 2 * pixels || finest == TrendStore::LevelCount - 1);
    }

    // Any stretch at any width draws every series' lowest and highest value, spikes
    // above all.
    for (int round = 0; round < 30; ++round) {
        const double span = double(store.newestMs() - store.firstMs());
        const qint64 a = store.firstMs() + qint64(random.bounded(span));
        const qint64 b = store.firstMs() + qint64(random.bounded(span));
        const qint64 from = std::min(a, b), to = std::max(a, b);
        const auto begin = firstAt(from), end = firstAt(to + 1);
        for (int pixels : {60, 400, 1500}) {
            const std::vector<TrendStore::Piece> pieces = store.select(from, to, pixels);
            for (int series = 0; series < TrendStore::SeriesCount; ++series) {
                double low = 1e9, high = -1e9, drawnLow = 1e9, drawnHigh = -1e9;
                for (auto f = begin; f != end; ++f)
                    if (f->carries(series)) {
                        low = std::min(low, f->value(series));
                        high = std::max(high, f->value(series));
                    }
                store.forEachPoint(pieces, series, [&](qint64, double value) {
                    drawnLow = std::min(drawnLow, value);
                    drawnHigh = std::max(drawnHigh, value);
                });
                QVERIFY2(drawnLow <= low && drawnHigh >= high,
                         qPrintable(QStringLiteral("series %1, %2 px").arg(series).arg(pixels)));
            }
        }
    }
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
