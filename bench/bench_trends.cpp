// Figures of the trends window: how long a one-hour recording at 10 frames/s takes
// to open and draw, and what the window costs while it follows a live board.
//
//   QT_QPA_PLATFORM=offscreen build/bench_trends open [runs]
//   QT_QPA_PLATFORM=offscreen build/bench_trends live [seconds]
//   build/bench_trends charge FILE [HOURS]
// open: openRecording plus the first replot of a CSV and a JSON Lines recording,
// the median of runs (5 by default).
// live: CPU time of a 10 frames/s feed with the window showing the last 60 minutes
// (an hour of history already in it), against the same feed without the window;
// 60 seconds each by default.
// charge: a simulated hour-long charge at 10 frames/s, written as a recording
// (FILE.csv, FILE.jsonl) or drawn and saved as a picture of the window (FILE.png).
// HOURS makes the recording longer (24: the 864,000 frames of a day that
// `keldro-cli check --recording` is timed with); the pack stays full past the first.
#include "benchsupport.h"
#include "packmodel.h"
#include "protocol/recordreader.h"
#include "protocol/recordwriter.h"
#include "window/customplot.h"
#include "window/trendswindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int FrameIntervalMs = 100;
constexpr int FramesPerHour = 3600 * 1000 / FrameIntervalMs;

// A 15-cell pack on a charger, from 20 % upwards, one frame every 100 ms.
class SimulatedCharge
{
public:
    // Ending about now.
    explicit SimulatedCharge(int hours = 1) : model(settings())
    {
        record.port = QStringLiteral("ttyUSB0");
        record.timeMs =
            QDateTime::currentMSecsSinceEpoch() - qint64(hours) * FramesPerHour * FrameIntervalMs;
    }

    const TelemetryRecord &next()
    {
        model.advance(FrameIntervalMs);
        record.timeMs += FrameIntervalMs;
        record.telemetry = model.telemetry();
        return record;
    }

private:
    static PackSettings settings()
    {
        PackSettings s;
        s.charger = true;
        s.startSoc = 20;
        return s;
    }

    PackModel model;
    TelemetryRecord record;
};

QVector<TelemetryRecord> oneHour(SimulatedCharge &charge)
{
    QVector<TelemetryRecord> records;
    records.reserve(FramesPerHour);
    for (int i = 0; i < FramesPerHour; ++i)
        records.push_back(charge.next());
    return records;
}

void click(TrendsWindow &window, const char *name)
{
    window.findChild<QAbstractButton *>(QLatin1String(name))->click();
}

bool writeRecording(const QString &path, const QVector<TelemetryRecord> &records)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    RecordWriter writer(&file, recordFormatForPath(path).value_or(RecordFormat::Csv));
    writer.writeHeader();
    for (const TelemetryRecord &record : records)
        writer.write(record);
    return writer.flush();
}

// What reading the records costs without the window.
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
    return double(clock.nsecsElapsed()) / 1e6;
}

int benchOpen(int runs)
{
    SimulatedCharge charge;
    const QVector<TelemetryRecord> records = oneHour(charge);
    QTemporaryDir dir;
    for (const char *name : {"hour.csv", "hour.jsonl"}) {
        const QString path = dir.filePath(QLatin1String(name));
        if (!writeRecording(path, records))
            return 1;
        std::vector<double> ms, readMs;
        for (int run = 0; run < runs; ++run) {
            readMs.push_back(readingMs(path));
            TrendsWindow window;
            window.show();
            if (!QTest::qWaitForWindowExposed(&window))
                return 1;
            QElapsedTimer clock;
            clock.start();
            QString error;
            if (!window.openRecording(path, &error)) {
                std::fprintf(stderr, "bench_trends: %s\n", qPrintable(error));
                return 1;
            }
            window.plot()->replot(QCustomPlot::rpImmediateRefresh);
            ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::sort(readMs.begin(), readMs.end());
        std::printf("open %s (%d frames, 15 cells, %.1f MB): open + first replot median "
                    "%.1f ms (min %.1f, max %.1f, %d runs); of it RecordReader alone %.1f ms\n",
                    name, FramesPerHour, QFileInfo(path).size() / 1e6, ms[ms.size() / 2],
                    ms.front(), ms.back(), runs, readMs[readMs.size() / 2]);
    }
    return 0;
}

// CPU seconds that a 10 frames/s feed uses over this many seconds of wall time.
double feedCpu(int seconds, TrendsWindow *window, SimulatedCharge &charge)
{
    QTimer feed;
    feed.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feed, &QTimer::timeout, [&] {
        const TelemetryRecord &record = charge.next();
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
    SimulatedCharge idle;
    const double without = feedCpu(seconds, nullptr, idle);

    SimulatedCharge charge;
    QVector<TelemetryRecord> history = oneHour(charge);
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
    const double with = feedCpu(seconds, &window, charge);

    std::printf("live: 10 frames/s for %d s, window showing the last 60 minutes of %d frames\n"
                "  without the window: %.2f %% of a core\n"
                "  with the window:    %.2f %% of a core\n"
                "  the window costs:   %.2f %% of a core\n"
                "  an hour of frames takes %.1f MB in the window\n",
                seconds, FramesPerHour, 100 * without / seconds, 100 * with / seconds,
                100 * (with - without) / seconds, held / 1024.0);
    return 0;
}

// Written as it is made: a day's frames would not fit in memory as records.
bool writeHours(const QString &path, int hours)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    SimulatedCharge charge(hours);
    RecordWriter writer(&file, recordFormatForPath(path).value_or(RecordFormat::Csv));
    writer.writeHeader();
    for (qint64 frame = 0; frame < qint64(hours) * FramesPerHour; ++frame) {
        writer.write(charge.next());
        if (writer.bufferedBytes() > (1 << 20) && !writer.flush())
            return false;
    }
    return writer.flush();
}

int charge(const QString &path, int hours)
{
    if (!path.endsWith(QLatin1String(".png")))
        return writeHours(path, hours) ? 0 : 1;
    SimulatedCharge charge;
    const QVector<TelemetryRecord> records = oneHour(charge);
    TrendsWindow window;
    window.addRecords(records);
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
    const bool recordingOnly = (argc == 3 || argc == 4) && qstrcmp(argv[1], "charge") == 0 &&
                               !QByteArray(argv[2]).endsWith(".png");
    std::unique_ptr<QCoreApplication> app(recordingOnly ? new QCoreApplication(argc, argv)
                                                        : new QApplication(argc, argv));
    const QStringList args = app->arguments().mid(1);
    const QString part = args.value(0);
    if (part == QLatin1String("open"))
        return benchOpen(std::max(1, args.value(1, QStringLiteral("5")).toInt()));
    if (part == QLatin1String("live"))
        return benchLive(std::max(1, args.value(1, QStringLiteral("60")).toInt()));
    const int hours = args.value(2, QStringLiteral("1")).toInt();
    if (part == QLatin1String("charge") && (args.size() == 2 || args.size() == 3) && hours > 0) {
        if (charge(args[1], hours) == 0)
            return 0;
        std::fprintf(stderr, "bench_trends: cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    std::fprintf(stderr,
                 "usage: bench_trends open [runs] | live [seconds] | charge FILE [HOURS]\n");
    return 2;
}
