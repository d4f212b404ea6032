// Figures of the trends window: a week of frames in its store, recordings of an hour,
// a day and a week opened on the worker thread, and what the window costs while it
// follows a live board.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench_trends week
//   QT_QPA_PLATFORM=offscreen build/bench/bench_trends open [runs] [folder]
//   QT_QPA_PLATFORM=offscreen build/bench/bench_trends live [seconds]
//   build/bench/bench_trends charge FILE [HOURS]
// week: a simulated 7-day session at 10 frames/s fed into the window as fast as it
// goes: the feed rate, the store's memory, and the slowest redraw of the ranges
// 1 min, 1 h, 24 h and All, and of 100 pans across the week.
// open: recordings of 1 h and 24 h at 10 frames/s and 7 days at 1 frame/s, CSV and
// JSON Lines, from openRecording until the window has drawn them (the median of runs,
// 3 by default), the peak memory the open adds, the latest a 10 frames/s timer on
// the window's thread ran meanwhile, and what RecordReader alone takes for the file.
// The recordings (1.4 GB) are made once in folder, /tmp/keldro-bench-trends by
// default, and kept there for the next run.
// live: CPU time of a 10 frames/s feed with the window showing the last 60 minutes
// (an hour of history already in it), against the same feed without the window;
// 60 seconds each by default.
// charge: a simulated hour-long charge at 10 frames/s, written as a recording
// (FILE.csv, FILE.jsonl) or drawn and saved as a picture of the window (FILE.png).
#include "benchsupport.h"
#include "packmodel.h"
#include "plot/trendsplot.h"
#include "record/recordreader.h"
#include "record/recordwriter.h"
#include "window/trends/trendswindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <malloc.h>
#include <memory>
#include <vector>

namespace {

constexpr int FrameIntervalMs = 100;
constexpr int FramesPerHour = 3600 * 1000 / FrameIntervalMs;

// A 15-cell pack, one frame every intervalMs up to now: on a charger from 20 %
// upwards, or cycling between charge and discharge.
class SimulatedPack
{
public:
    SimulatedPack(bool charger, qint64 frames, int intervalMs = FrameIntervalMs)
        : model(settings(charger)), intervalMs(intervalMs)
    {
        record.port = QStringLiteral("ttyUSB0");
        record.timeMs = QDateTime::currentMSecsSinceEpoch() - frames * intervalMs;
    }

    const TelemetryRecord &next()
    {
        model.advance(intervalMs);
        record.timeMs += intervalMs;
        record.telemetry = model.telemetry();
        return record;
    }

    QVector<TelemetryRecord> take(int count)
    {
        QVector<TelemetryRecord> records;
        records.reserve(count);
        for (int i = 0; i < count; ++i)
            records.push_back(next());
        return records;
    }

private:
    static PackSettings settings(bool charger)
    {
        PackSettings s;
        s.charger = charger;
        s.startSoc = charger ? 20 : 60;
        // A small pack, which the charger fills within the hour.
        s.capacityAh = 2.5;
        return s;
    }

    PackModel model;
    int intervalMs;
    TelemetryRecord record;
};

void click(TrendsWindow &window, const char *name)
{
    window.findChild<QAbstractButton *>(QLatin1String(name))->click();
}

double msSince(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// The GUI thread's whole answer to a new range: the range, the points for it, the
// replot.
double redrawMs(TrendsWindow &window, const std::function<void()> &move)
{
    QElapsedTimer clock;
    clock.start();
    move();
    window.plot()->replot(QCustomPlot::rpImmediateRefresh);
    return msSince(clock);
}

bool writeRecording(const QString &path, SimulatedPack &pack, qint64 frames)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    RecordWriter writer(&file, recordFormatForPath(path).value_or(RecordFormat::Csv));
    writer.writeHeader();
    for (qint64 i = 0; i < frames; ++i) {
        writer.write(pack.next());
        if (i % 10000 == 0 && !writer.flush())
            return false;
    }
    return writer.flush();
}

// What reading the records costs, on one thread and without the window.
double readingMs(const QString &path)
{
    QElapsedTimer clock;
    clock.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    RecordReader reader(&file);
    TelemetryRecord record;
    while (reader.next(&record)) {
    }
    return msSince(clock);
}

// The process's peak resident memory starts again from what it holds now.
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

long peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

int benchWeek()
{
    constexpr int Hours = 7 * 24;
    TrendsWindow window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    const long before = BenchSupport::residentKiB();
    SimulatedPack pack(false, qint64(Hours) * FramesPerHour);
    double feedMs = 0;
    for (int hour = 0; hour < Hours; ++hour) {
        const QVector<TelemetryRecord> records = pack.take(FramesPerHour);
        QElapsedTimer clock;
        clock.start();
        window.addRecords(records);
        feedMs += msSince(clock);
    }
    const long held = BenchSupport::residentKiB() - before;
    const TrendStore &store = window.store();
    std::printf("week: %lld frames (7 days at 10 frames/s, 15 cells)\n"
                "  feed: %.0f frames/s (%.1f s in all)\n"
                "  store: %.1f MB of entries (%zu frames kept, then summaries); "
                "resident memory grew %.1f MB\n",
                store.framesAdded(), store.framesAdded() / (feedMs / 1000), feedMs / 1000,
                store.memoryBytes() / 1e6, store.frames().size(), held / 1024.0);

    QCoreApplication::processEvents();
    double worst = 0;
    for (const char *span : {"span1", "span60", "span24h", "spanAll"}) {
        std::vector<double> ms;
        for (int run = 0; run < 5; ++run)
            ms.push_back(redrawMs(window, [&] { click(window, span); }));
        std::printf("  redraw %-8s: slowest of 5 %.1f ms (level %d)\n", span + 4,
                    *std::max_element(ms.begin(), ms.end()), window.plot()->shownLevel());
        worst = std::max(worst, *std::max_element(ms.begin(), ms.end()));
    }
    // Views of 1 min, 3 min (the most frames drawn one by one), 1 h and 24 h at 100
    // places across the week, each moved on by a tenth of its width as a drag does.
    const double first = store.firstMs() / 1000.0, newest = store.newestMs() / 1000.0;
    const double widths[] = {60, 180, 3600, 24 * 3600};
    std::vector<double> pans;
    for (int i = 0; i < 100; ++i) {
        const double width = widths[i % 4];
        const double lower = first + (newest - first - width) * i / 99.0;
        pans.push_back(
            redrawMs(window, [&] { window.setTimeRange(QCPRange(lower, lower + width)); }));
        pans.push_back(redrawMs(window, [&] {
            window.setTimeRange(QCPRange(lower + width / 10, lower + width * 1.1));
        }));
    }
    std::sort(pans.begin(), pans.end());
    std::printf("  pans: median %.1f ms, slowest %.1f ms (%zu redraws)\n", pans[pans.size() / 2],
                pans.back(), pans.size());
    std::printf("  slowest redraw of all: %.1f ms\n", std::max(worst, pans.back()));
    return 0;
}

struct Recording
{
    const char *name;
    int hours;
    int intervalMs;
};

int benchOpen(int runs, const QString &folder)
{
    const Recording recordings[] = {{"hour", 1, 100}, {"day", 24, 100}, {"week-1s", 7 * 24, 1000}};
    QDir().mkpath(folder);
    for (const Recording &recording : recordings) {
        const qint64 frames = qint64(recording.hours) * 3600 * 1000 / recording.intervalMs;
        for (const char *suffix : {".csv", ".jsonl"}) {
            const QString path = QDir(folder).filePath(QLatin1String(recording.name) + suffix);
            if (!QFileInfo::exists(path)) {
                std::fprintf(stderr, "bench_trends: writing %s\n", qPrintable(path));
                SimulatedPack pack(false, frames, recording.intervalMs);
                // Written under a name of its own until complete; the suffix tells the format.
                const QString part =
                    QDir(folder).filePath(QLatin1String("part-") + QFileInfo(path).fileName());
                if (!writeRecording(part, pack, frames) || !QFile::rename(part, path)) {
                    std::fprintf(stderr, "bench_trends: cannot write %s\n", qPrintable(path));
                    return 1;
                }
            }
            std::vector<double> ms, readMs;
            double lateMs = 0;
            long peak = 0, peakAll = 0;
            for (int run = 0; run < runs; ++run) {
                readMs.push_back(readingMs(path));
                auto window = std::make_unique<TrendsWindow>();
                window->show();
                if (!QTest::qWaitForWindowExposed(window.get()))
                    return 1;
                // What a main window showing live frames would meet: a 100 ms timer
                // that the load must not hold up.
                QElapsedTimer sinceTick;
                QTimer ticks;
                ticks.setTimerType(Qt::PreciseTimer);
                QObject::connect(&ticks, &QTimer::timeout, [&] {
                    lateMs = std::max(lateMs, msSince(sinceTick) - FrameIntervalMs);
                    sinceTick.restart();
                });
                QSignalSpy opened(window.get(), &TrendsWindow::recordingOpened);
                // What the last run freed goes back to the system, so that this run's
                // peak counts only what it took itself.
                malloc_trim(0);
                const long before = BenchSupport::residentKiB();
                resetPeakMemory();
                QElapsedTimer clock;
                clock.start();
                sinceTick.start();
                ticks.start(FrameIntervalMs);
                QString error;
                if (!window->openRecording(path, &error) || !opened.wait(60000)) {
                    std::fprintf(stderr, "bench_trends: %s not opened %s\n", qPrintable(path),
                                 qPrintable(error));
                    return 1;
                }
                window->plot()->replot(QCustomPlot::rpImmediateRefresh);
                ms.push_back(msSince(clock));
                ticks.stop();
                peak = std::max(peak, peakKiB() - before);
                peakAll = std::max(peakAll, peakKiB());
            }
            std::sort(ms.begin(), ms.end());
            std::sort(readMs.begin(), readMs.end());
            std::printf("open %s (%lld frames, %.0f MB): drawn after median %.0f ms (min %.0f, "
                        "max %.0f, %d runs); peak memory +%.1f MB (process %.0f MB); a 100 ms "
                        "timer late by at most %.1f ms; RecordReader alone, one thread: %.0f ms\n",
                        qPrintable(QFileInfo(path).fileName()), frames,
                        QFileInfo(path).size() / 1e6, ms[ms.size() / 2], ms.front(), ms.back(),
                        runs, peak / 1024.0, peakAll / 1024.0, lateMs, readMs[readMs.size() / 2]);
        }
    }
    return 0;
}

// CPU seconds that a 10 frames/s feed uses over this many seconds of wall time.
double feedCpu(int seconds, TrendsWindow *window, SimulatedPack &pack)
{
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const TelemetryRecord &record = pack.next();
        if (window)
            window->addRecord(record);
    });
    const double before = BenchSupport::cpuSeconds();
    feed.start(FrameIntervalMs);
    QTest::qWait(seconds * 1000);
    feed.stop();
    return BenchSupport::cpuSeconds() - before;
}

int benchLive(int seconds)
{
    SimulatedPack idle(true, FramesPerHour);
    const double without = feedCpu(seconds, nullptr, idle);

    SimulatedPack pack(true, FramesPerHour);
    QVector<TelemetryRecord> history = pack.take(FramesPerHour);
    TrendsWindow window;
    const long before = BenchSupport::residentKiB();
    window.addRecords(history);
    const long held = BenchSupport::residentKiB() - before;
    history.clear();
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    click(window, "span60");
    QTest::qWait(2000);
    const double with = feedCpu(seconds, &window, pack);

    std::printf("live: 10 frames/s for %d s, window showing the last 60 minutes of %d frames\n"
                "  without the window: %.2f %% of a core\n"
                "  with the window:    %.2f %% of a core\n"
                "  the window costs:   %.2f %% of a core\n"
                "  an hour of frames takes %.1f MB in the window\n",
                seconds, FramesPerHour, 100 * without / seconds, 100 * with / seconds,
                100 * (with - without) / seconds, held / 1024.0);
    return 0;
}

int charge(const QString &path, int hours)
{
    if (!path.endsWith(QLatin1String(".png"))) {
        SimulatedPack pack(true, qint64(hours) * FramesPerHour);
        return writeRecording(path, pack, qint64(hours) * FramesPerHour) ? 0 : 1;
    }
    SimulatedPack pack(true, FramesPerHour);
    TrendsWindow window;
    window.addRecords(pack.take(FramesPerHour));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    click(window, "spanAll");
    QTest::qWait(500);
    return window.grab().save(path) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Writing a recording needs no display.
    const bool recordingOnly =
        argc >= 3 && qstrcmp(argv[1], "charge") == 0 && !QByteArray(argv[2]).endsWith(".png");
    std::unique_ptr<QCoreApplication> app(recordingOnly ? new QCoreApplication(argc, argv)
                                                        : new QApplication(argc, argv));
    const QStringList args = app->arguments().mid(1);
    const QString part = args.value(0);
    if (part == QLatin1String("week"))
        return benchWeek();
    if (part == QLatin1String("open"))
        return benchOpen(std::max(1, args.value(1, QStringLiteral("3")).toInt()),
                         args.value(2, QStringLiteral("/tmp/keldro-bench-trends")));
    if (part == QLatin1String("live"))
        return benchLive(std::max(1, args.value(1, QStringLiteral("60")).toInt()));
    if (part == QLatin1String("charge") && (args.size() == 2 || args.size() == 3)) {
        if (charge(args[1], std::max(1, args.value(2, QStringLiteral("1")).toInt())) == 0)
            return 0;
        std::fprintf(stderr, "bench_trends: cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    std::fprintf(stderr, "usage: bench_trends week | open [runs] [folder] | live [seconds] | "
                         "charge FILE [HOURS]\n");
    return 2;
}
