// Cell health: what the estimator costs per frame, what it adds to reading a day's
// recording, and how close it comes to the simulator's truth.
//
//   build/bench/bench_health [--benchmark_filter=...]
//
// perFrame: CellHealthEstimator::add on a 15-cell pack at 10 frames/s under a switched
// load. Target: under 2 µs.
// dayRecording/read and dayRecording/health: a 24 h CSV recording at 10 frames/s
// (864,000 frames, made once in /tmp/keldro-bench-health, about 300 MB), read by
// RecordReader alone, and read through an estimator with the result and its JSON at the
// end, as keldro-cli health does. Target: health under 1.2 times read. cliHealth runs
// keldro-cli health on the same file.
// accuracy: 20 seeds, each a pack of cells between 1.5 and 3 mΩ with one weak cell of
// 4.5 to 6.75 mΩ (2 to 3 times their middle), under a load that steps by 10 A to 40 A,
// 10 minutes at 1 Hz and at 10 Hz: the median and the worst error of a cell's resistance
// against the truth, and how often the weak cell was named.
#include "judge/cellhealthestimator.h"
#include "packmodel.h"
#include "record/recordreader.h"
#include "record/recordwriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr qint64 Start = 1796662683000;
constexpr int FrameIntervalMs = 100;

PackSettings weakCellPack(quint32 seed)
{
    PackSettings settings;
    settings.seed = seed;
    settings.cellResistanceMilliohm = {{7, 5.5}};
    settings.load = LoadCycle{-5000, -30000, 10};
    return settings;
}

void perFrame(benchmark::State &state)
{
    // An hour of frames, fed again and again with the time running on.
    PackModel model(weakCellPack(1));
    std::vector<Telemetry> frames;
    for (int i = 0; i < 36000; ++i) {
        model.advance(FrameIntervalMs);
        frames.push_back(model.telemetry());
    }
    CellHealthEstimator estimator;
    TelemetryRecord record{Start, QStringLiteral("ttyUSB0"), Telemetry()};
    size_t i = 0;
    for (auto _ : state) {
        record.telemetry = frames[i];
        record.timeMs += FrameIntervalMs;
        estimator.add(record);
        if (++i == frames.size())
            i = 0;
    }
    benchmark::DoNotOptimize(estimator.steps());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(perFrame);

QString dayRecording()
{
    const QString folder = QDir::temp().filePath(QStringLiteral("keldro-bench-health"));
    const QString path = QDir(folder).filePath(QStringLiteral("day.csv"));
    if (QFileInfo(path).size() > 0)
        return path;
    QDir().mkpath(folder);
    QFile file(path + QStringLiteral(".tmp"));
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    RecordWriter writer(&file, RecordFormat::Csv);
    writer.writeHeader();
    PackSettings settings = weakCellPack(2);
    // A day of a 500 Ah pack: it never empties, and the steps go on all day.
    settings.capacityAh = 500;
    PackModel model(settings);
    TelemetryRecord record{Start, QStringLiteral("ttyUSB0"), Telemetry()};
    for (int i = 0; i < 24 * 36000; ++i) {
        model.advance(FrameIntervalMs);
        record.timeMs += FrameIntervalMs;
        record.telemetry = model.telemetry();
        writer.write(record);
        if (writer.bufferedBytes() > 1 << 20 && !writer.flush())
            return QString();
    }
    if (!writer.flush())
        return QString();
    file.close();
    QFile::remove(path);
    return file.rename(path) ? path : QString();
}

void readDay(benchmark::State &state, bool estimate)
{
    const QString path = dayRecording();
    if (path.isEmpty()) {
        state.SkipWithError("cannot write the recording");
        return;
    }
    qint64 frames = 0;
    for (auto _ : state) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        RecordReader reader(&file);
        CellHealthEstimator estimator;
        TelemetryRecord record;
        frames = 0;
        while (reader.next(&record)) {
            if (estimate)
                estimator.add(record);
            ++frames;
        }
        if (estimate) {
            const QByteArray json =
                QJsonDocument(cellHealthJson(estimator.result(), path)).toJson();
            benchmark::DoNotOptimize(json.constData());
        }
    }
    state.SetItemsProcessed(state.iterations() * frames);
}

void dayRecordingRead(benchmark::State &state)
{
    readDay(state, false);
}
BENCHMARK(dayRecordingRead)
    ->Name("dayRecording/read")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void dayRecordingHealth(benchmark::State &state)
{
    readDay(state, true);
}
BENCHMARK(dayRecordingHealth)
    ->Name("dayRecording/health")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void cliHealth(benchmark::State &state)
{
    const QString path = dayRecording();
    for (auto _ : state) {
        QProcess cli;
        cli.start(
            QStringLiteral(KELDRO_CLI_PATH),
            {QStringLiteral("health"), path, QStringLiteral("--format"), QStringLiteral("json")});
        if (!cli.waitForFinished(600000) || cli.exitCode() != 0) {
            state.SkipWithError("keldro-cli health failed");
            return;
        }
    }
}
BENCHMARK(cliHealth)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void accuracy(benchmark::State &state)
{
    std::vector<double> percent;
    double worstMilliohm = 0;
    int named = 0, runs = 0;
    for (auto _ : state) {
        for (quint32 seed = 1; seed <= 20; ++seed) {
            QRandomGenerator random(seed);
            PackSettings settings;
            settings.seed = seed;
            for (int cell = 1; cell <= Telemetry::MaxCells; ++cell)
                settings.cellResistanceMilliohm.insert(cell, 1.5 + random.bounded(1.5));
            const int weak = 1 + int(random.bounded(Telemetry::MaxCells));
            // Two to three times the middle of the others: a weak cell by any measure.
            settings.cellResistanceMilliohm[weak] = 2.25 * (2 + random.bounded(1.0));
            const double low = -(2000 + random.bounded(6000.0));
            settings.load = LoadCycle{low, low - (10000 + random.bounded(30000.0)), 10};
            for (const int intervalMs : {1000, 100}) {
                PackModel model(settings);
                CellHealthEstimator estimator;
                for (qint64 ms = intervalMs; ms <= 600000; ms += intervalMs) {
                    model.advance(intervalMs);
                    estimator.add({Start + ms, QStringLiteral("ttyUSB0"), model.telemetry()});
                }
                const CellHealth health = estimator.result();
                for (const CellEstimate &cell : health.cells) {
                    const double truth = settings.resistanceOf(cell.cell);
                    const double error = std::abs(cell.resistanceMilliohm.value_or(0) - truth);
                    percent.push_back(error / truth * 100);
                    worstMilliohm = std::max(worstMilliohm, error);
                }
                named += health.weakest && health.weakest->cell == weak;
                ++runs;
            }
        }
    }
    std::sort(percent.begin(), percent.end());
    state.counters["median_error_pct"] = percent[percent.size() / 2];
    state.counters["worst_error_pct"] = percent.back();
    state.counters["worst_error_mOhm"] = worstMilliohm;
    state.counters["weak_cell_named_pct"] = 100.0 * named / runs;
}
BENCHMARK(accuracy)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
