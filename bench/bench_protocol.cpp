// The receiver runs on the GUI thread for every chunk, so a frame must be judged,
// decoded and rendered in a few microseconds. Targets: the table-driven check word
// at least ten times faster than the bit-by-bit register, and accept + decode +
// render of a type 2 frame under 5 us; judging a frame against every limit of the
// limits file under 1 us. FrameStream's cost per byte is reported as a rate; a change
// to it should stay within 10 % of the last figure.
#include "judge/judge.h"
#include "judge/limitsfile.h"
#include "protocol/crc32words.h"
#include "protocol/displaytext.h"
#include "protocol/framestream.h"
#include "protocol/telemetryframe.h"
#include "workedexamples.h"

#include <benchmark/benchmark.h>

namespace {

using WorkedExamples::bitwiseCrc32Words;
using WorkedExamples::type2Frame;

const uchar *type2Bytes()
{
    return reinterpret_cast<const uchar *>(type2Frame.constData());
}

void tableDrivenCrc(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32Words(type2Bytes(), 17));
}
BENCHMARK(tableDrivenCrc);

void bitwiseReferenceCrc(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(bitwiseCrc32Words(type2Bytes(), 17));
}
BENCHMARK(bitwiseReferenceCrc);

void acceptDecodeRenderType2(benchmark::State &state)
{
    if (judgeChunk(type2Frame).verdict != ChunkVerdict::Frame)
        state.SkipWithError("the type 2 frame is not accepted");
    for (auto _ : state) {
        const ChunkResult result = judgeChunk(type2Frame);
        TelemetryTexts texts = renderTelemetry(result.telemetry);
        benchmark::DoNotOptimize(texts);
    }
}
BENCHMARK(acceptDecodeRenderType2);

// Every limit set, every alarm quiet: what the window and keldro-cli pay for each frame
// of a healthy board. Each frame is a second later, so the link never goes stale.
void judgeType2WithEveryLimit(benchmark::State &state)
{
    QString error;
    const auto limits = parseLimits("[cells]\nmin_mV = 1000\nmax_mV = 5000\nmax_spread_mV = 4000\n"
                                    "[pack]\nmin_mV = 1000\nmax_mV = 65000\n"
                                    "[current]\nmax_charge_mA = 100000\nmax_discharge_mA = 100000\n"
                                    "[temperature]\nmin_C = -40\nmax_C = 150\n"
                                    "[soc]\nmin_pct = 0\n"
                                    "[hysteresis]\nmV = 10\nmA = 500\nC = 2.0\npct = 1\n",
                                    QStringLiteral("bench.toml"), &error);
    TelemetryRecord record{0, QStringLiteral("ttyUSB0"), judgeChunk(type2Frame).telemetry};
    Judge judge(*limits, record.port);
    QVector<JudgeEvent> events;
    judge.judgeFrame(record, &events); // the example frame raises its flags once
    events.clear();
    for (auto _ : state) {
        record.timeMs += 1000;
        judge.judgeFrame(record, &events);
    }
    if (!events.isEmpty())
        state.SkipWithError("a quiet frame gave an event");
}
BENCHMARK(judgeType2WithEveryLimit);

// What a busy board sends: bursts of both frames and a line of text, as a USB
// adapter delivers them in 64-byte packets, each burst ended by the line's silence.
void frameStreamPerByte(benchmark::State &state)
{
    const QByteArray burst = type2Frame + WorkedExamples::type1Frame + "cell 3 balancing\r\n";
    constexpr int PacketSize = 64;
    constexpr int Bursts = 100;
    FrameStream stream;
    qint64 frames = 0;
    for (auto _ : state) {
        for (int b = 0; b < Bursts; ++b) {
            for (int at = 0; at < burst.size(); at += PacketSize)
                frames += stream.feed(burst.mid(at, PacketSize)).size();
            frames += stream.lineSilent(30).size();
        }
    }
    if (frames != qint64(state.iterations()) * Bursts * 3)
        state.SkipWithError("the stream did not take every frame and line");
    state.SetBytesProcessed(qint64(state.iterations()) * Bursts * burst.size());
}
BENCHMARK(frameStreamPerByte);

} // namespace

BENCHMARK_MAIN();
