// Writes a simulated recording as fast as the disk takes it, for the report's figures
// and for trying the report without a board:
//
//   build/bench/bench_makerecording FILE HOURS [--rate N] [--load A1/A2/SECONDS]
//       [--cell-resistance N=MOHM]... [--cell-capacity N=PERCENT]... [--fault FAULT]...
//
// FILE is CSV or JSON Lines by its extension. The pack is keldro-sim's, and the options
// mean what they mean there; a fault's seconds count from the first frame. The
// recording ends now.
#include "packmodel.h"
#include "record/recordwriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "bench_makerecording: %s\n", qPrintable(message));
    return 2;
}

// "7=5.5": cell 7, 5.5.
bool cellValue(const QString &text, QHash<int, double> *values)
{
    const QStringList parts = text.split(QLatin1Char('='));
    bool cellOk = false, valueOk = false;
    const int cell = parts.value(0).toInt(&cellOk);
    const double value = parts.value(1).toDouble(&valueOk);
    if (parts.size() != 2 || !cellOk || !valueOk || cell < 1 || cell > Telemetry::MaxCells)
        return false;
    values->insert(cell, value);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption rate(QStringLiteral("rate"), QStringLiteral("Frames a second."),
                                  QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption load(QStringLiteral("load"), QStringLiteral("A1/A2/SECONDS"),
                                  QStringLiteral("LOAD"));
    const QCommandLineOption resistance(QStringLiteral("cell-resistance"), QStringLiteral("N=MOHM"),
                                        QStringLiteral("CELL"));
    const QCommandLineOption capacity(QStringLiteral("cell-capacity"), QStringLiteral("N=PERCENT"),
                                      QStringLiteral("CELL"));
    const QCommandLineOption fault(QStringLiteral("fault"), QStringLiteral("As keldro-sim's."),
                                   QStringLiteral("FAULT"));
    parser.addOptions({rate, load, resistance, capacity, fault});
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("CSV or JSON Lines"));
    parser.addPositionalArgument(QStringLiteral("HOURS"), QStringLiteral("Its length"));
    parser.process(app);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return fail(QStringLiteral("name FILE and HOURS"));
    const QString path = positional.at(0);
    const double hours = positional.at(1).toDouble();
    const double framesPerSecond = parser.value(rate).toDouble();
    if (!(hours > 0) || !(framesPerSecond > 0))
        return fail(QStringLiteral("HOURS and --rate are positive numbers"));

    PackSettings settings;
    for (const QString &text : parser.values(fault)) {
        QString error;
        const std::optional<PackFault> parsed = PackFault::parse(text, &error);
        if (!parsed)
            return fail(text + QStringLiteral(": ") + error);
        settings.faults << *parsed;
    }
    for (const QString &text : parser.values(resistance))
        if (!cellValue(text, &settings.cellResistanceMilliohm))
            return fail(text + QStringLiteral(": not N=MOHM"));
    for (const QString &text : parser.values(capacity))
        if (!cellValue(text, &settings.cellCapacityPercent))
            return fail(text + QStringLiteral(": not N=PERCENT"));
    if (parser.isSet(load)) {
        const QStringList parts = parser.value(load).split(QLatin1Char('/'));
        if (parts.size() != 3)
            return fail(QStringLiteral("--load is A1/A2/SECONDS"));
        settings.load = LoadCycle{parts.at(0).toDouble() * 1000, parts.at(1).toDouble() * 1000,
                                  parts.at(2).toDouble()};
    }

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(path + QStringLiteral(": ") + file.errorString());
    PackModel model(settings);
    model.startFaultClock();
    RecordWriter writer(&file, recordFormatForPath(path).value_or(RecordFormat::Csv));
    writer.writeHeader();
    const qint64 frames = qint64(hours * 3600 * framesPerSecond);
    const double intervalMs = 1000.0 / framesPerSecond;
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
    if (!writer.flush())
        return fail(path + QStringLiteral(": ") + file.errorString());
    std::fprintf(stderr, "%lld frames written to %s\n", static_cast<long long>(frames),
                 qPrintable(path));
    return 0;
}
