// Recording cost: a row formatted and written to a file, per second on one core.
// Target: at least 200,000 CSV rows/s, so that a recorder of many boards and a
// converter of long recordings are bound by the disk, not by formatting.
//   build/bench/bench_record
#include "protocol/telemetryframe.h"
#include "record/recordwriter.h"
#include "workedexamples.h"

#include <QFile>
#include <benchmark/benchmark.h>

namespace {

void formatAndWrite(benchmark::State &state, RecordFormat format)
{
    QFile sink(QStringLiteral("/dev/null"));
    if (!sink.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    RecordWriter writer(&sink, format);
    TelemetryRecord record{1796662683123, QStringLiteral("ttyUSB0"),
                           judgeChunk(WorkedExamples::type2Frame).telemetry};
    for (auto _ : state) {
        record.timeMs += 50;
        ++record.telemetry.cellMillivolts[0];
        writer.write(record);
        // As the recorder does once a second at 320 rows a second.
        if (writer.bufferedBytes() > 100000)
            writer.flush();
    }
    writer.flush();
    state.SetItemsProcessed(state.iterations());
}

void csvRows(benchmark::State &state)
{
    formatAndWrite(state, RecordFormat::Csv);
}
BENCHMARK(csvRows);

void jsonLinesRows(benchmark::State &state)
{
    formatAndWrite(state, RecordFormat::JsonLines);
}
BENCHMARK(jsonLinesRows);

} // namespace

BENCHMARK_MAIN();
