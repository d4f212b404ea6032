// Writes a simulated recording as fast as the disk takes it, for the report's figures
// and for trying the report without a board:
//
//   build/bench/bench_makerecording FILE HOURS [FRAMES_PER_SECOND] [FAULT...]
//
// FILE is CSV or JSON Lines by its extension; the pack is keldro-sim's, with its
// default settings and the faults written as keldro-sim --fault takes them
// ("cell7=4300mV@3600-3660", seconds from the first frame). The recording ends now.
#include "packmodel.h"
#include "record/recordwriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: %s FILE HOURS [FRAMES_PER_SECOND] [FAULT...]\n", argv[0]);
        return 2;
    }
    const QString path = arguments.at(1);
    const double hours = arguments.at(2).toDouble();
    const double rate = arguments.size() > 3 ? arguments.at(3).toDouble() : 10;
    PackSettings settings;
    for (int i = 4; i < arguments.size(); ++i) {
        QString error;
        const std::optional<PackFault> fault = PackFault::parse(arguments.at(i), &error);
        if (!fault) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(arguments.at(i)), qPrintable(error));
            return 2;
        }
        settings.faults << *fault;
    }
    if (hours <= 0 || rate <= 0) {
        std::fprintf(stderr, "HOURS and FRAMES_PER_SECOND are positive numbers\n");
        return 2;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return 1;
    }
    PackModel model(settings);
    model.startFaultClock();
    RecordWriter writer(&file, recordFormatForPath(path).value_or(RecordFormat::Csv));
    writer.writeHeader();
    const qint64 frames = qint64(hours * 3600 * rate);
    const double intervalMs = 1000.0 / rate;
    const qint64 startMs = QDateTime::currentMSecsSinceEpoch() - qint64(frames * intervalMs);
    TelemetryRecord record;
    record.port = QStringLiteral("ttyUSB0");
    qint64 elapsedMs = 0;
    for (qint64 i = 0; i < frames; ++i) {
        const qint64 nextMs = qint64((i + 1) * intervalMs);
        model.advance(int(nextMs - elapsedMs));
        elapsedMs = nextMs;
        record.timeMs = startMs + elapsedMs;
        record.telemetry = model.telemetry();
        writer.write(record);
        if (i % 10000 == 0 && !writer.flush())
            break;
    }
    if (!writer.flush()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return 1;
    }
    std::fprintf(stderr, "%lld frames written to %s\n", static_cast<long long>(frames),
                 qPrintable(path));
    return 0;
}
