#include "boardsimulator.h"
#include "protocol/commandframe.h"
#include "ptydevice.h"
#include "record/recordreader.h"
#include "recordingplayer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QSerialPort>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

const char Description[] =
    "Stands in for the BMS board: sends telemetry frames and answers the tool's\n"
    "command frames, on a new pseudo-terminal (its path is the first line on\n"
    "standard output) or on a serial device.\n"
    "\n"
    "One line on standard error for each command frame received:\n"
    "  poll\n"
    "  power off                 (no frames until --wake or a restart)\n"
    "  boot                      (answers \"BOOT: waiting for firmware\", sends no\n"
    "                            frames for 3 s, then \"BOOT: no firmware, starting\n"
    "                            application\")\n"
    "  soc calibration           (SOC 100 in later frames)\n"
    "  set manufacture date Y/M/D  (later frames carry the date)\n"
    "  unknown command 0xNN\n"
    "  bad check word            (the frame is ignored)\n"
    "and \"wake\" when the board wakes after --wake. A board that is off still\n"
    "reports what it receives but does not act on it.\n"
    "\n"
    "--fault drives one value of the pack out of range for a while, so that each of\n"
    "the tool's alarms can be tripped. Its seconds count from when the tool opens the\n"
    "pseudo-terminal (on --device from the start); UNTIL is the first second without\n"
    "the fault. A value carries its unit: mV, mA, % or C.\n"
    "  cell7=4300mV@10-20      cell 7 at 4300 mV from second 10 until second 20\n"
    "  current=-65000mA@3      a 65 A discharge from second 3 on\n"
    "  ntc2=75.5C@12-40        BAT_NTC2 at 75.5 degrees\n"
    "  soc=3%@30  pack=29000mV@0-5\n"
    "  ov@5-8                  the OV protection flag raised for 3 seconds\n"
    "Targets: cell1..cell15, pack, current, soc, ntc1, ntc2, ntc3, self_discharge,\n"
    "mosfet; flags: oc, sc, ovb, ov, uv, low_temp, high_temp. Cells 10-15, ntc3 and\n"
    "the flags need layout 2. Not with --replay.\n"
    "\n"
    "The cells are modelled so that keldro-cli health has a truth to find: a cell's\n"
    "voltage is its open-circuit voltage at its own state of charge plus I x R, and a\n"
    "polarisation of a quarter of R more that builds up over some 8 s. A cell of less\n"
    "capacity empties ahead of the others. A pack with a weak cell 7 under a load\n"
    "switched between 5 A and 30 A every 10 s:\n"
    "  keldro-sim --cell-resistance 7=5.5 --load -5/-30/10";

struct Options
{
    QCommandLineOption device{QStringLiteral("device"),
                              QStringLiteral("Use the serial device PATH (8N1, no flow control) "
                                             "instead of a pseudo-terminal."),
                              QStringLiteral("PATH")};
    QCommandLineOption baud{QStringLiteral("baud"),
                            QStringLiteral("Baud rate of --device (default 115200)."),
                            QStringLiteral("N"), QStringLiteral("115200")};
    QCommandLineOption layout{QStringLiteral("layout"),
                              QStringLiteral("Telemetry layout: 1 (60 bytes, 9 cells) or 2 "
                                             "(72 bytes, 15 cells). Default 2."),
                              QStringLiteral("1|2"), QStringLiteral("2")};
    QCommandLineOption interval{QStringLiteral("interval"),
                                QStringLiteral("A frame every MS milliseconds (default 1000). With "
                                               "--on-poll the pack's clock still ticks at it."),
                                QStringLiteral("MS"), QStringLiteral("1000")};
    QCommandLineOption onPoll{QStringLiteral("on-poll"),
                              QStringLiteral("Send a frame only in answer to each poll request.")};
    QCommandLineOption wake{QStringLiteral("wake"),
                            QStringLiteral("After power off, wake up again after MS milliseconds."),
                            QStringLiteral("MS")};
    QCommandLineOption count{QStringLiteral("count"),
                             QStringLiteral("Exit (status 0) after N frames."),
                             QStringLiteral("N")};
    QCommandLineOption seed{QStringLiteral("seed"),
                            QStringLiteral("Seed of the values and faults; the same seed and "
                                           "options repeat a run. Default: a fresh one each run."),
                            QStringLiteral("N")};
    QCommandLineOption model{QStringLiteral("model"),
                             QStringLiteral("Model code (default 4, BMS-HARLO)."),
                             QStringLiteral("CODE"), QStringLiteral("4")};
    QCommandLineOption cellType{QStringLiteral("cell-type"),
                                QStringLiteral("Cell type code (default 2, 25R)."),
                                QStringLiteral("CODE"), QStringLiteral("2")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Firmware version (default 1.6)."),
                               QStringLiteral("MAJ.MIN"), QStringLiteral("1.6")};
    QCommandLineOption systemState{QStringLiteral("system-state"),
                                   QStringLiteral("System state code (default 2, SYS ON)."),
                                   QStringLiteral("CODE"), QStringLiteral("2")};
    QCommandLineOption bmsState{QStringLiteral("bms-state"),
                                QStringLiteral("BMS state code. Default: 1 (DISCHARGE) or 2 "
                                               "(CHARGE) by the direction of the current."),
                                QStringLiteral("CODE")};
    QCommandLineOption bqStatus{QStringLiteral("bq-status"),
                                QStringLiteral("bq status byte (default 0)."),
                                QStringLiteral("BYTE"), QStringLiteral("0")};
    QCommandLineOption protection{QStringLiteral("protection"),
                                  QStringLiteral("Protection flags, bits 0-6, layout 2 only "
                                                 "(default 0)."),
                                  QStringLiteral("BYTE"), QStringLiteral("0")};
    QCommandLineOption date{QStringLiteral("date"),
                            QStringLiteral("Manufacture date (default 2021-03-09)."),
                            QStringLiteral("YYYY-MM-DD"), QStringLiteral("2021-03-09")};
    QCommandLineOption cycles{QStringLiteral("cycles"), QStringLiteral("Cycle count (default 12)."),
                              QStringLiteral("N"), QStringLiteral("12")};
    QCommandLineOption soc{QStringLiteral("soc"),
                           QStringLiteral("State of charge at start, percent (default 80)."),
                           QStringLiteral("PERCENT"), QStringLiteral("80")};
    QCommandLineOption split{QStringLiteral("split"),
                             QStringLiteral("Send each frame in 2-3 pieces with 2-8 ms pauses, as "
                                            "USB adapters deliver them.")};
    QCommandLineOption noise{QStringLiteral("noise"),
                             QStringLiteral("Probability per frame (0..1) of a text line after it, "
                                            "kept apart by at least 60 ms of silence."),
                             QStringLiteral("RATE"), QStringLiteral("0")};
    QCommandLineOption corrupt{QStringLiteral("corrupt"),
                               QStringLiteral("Probability per frame (0..1) of one bit flipped "
                                              "behind the header."),
                               QStringLiteral("RATE"), QStringLiteral("0")};
    QCommandLineOption replay{QStringLiteral("replay"),
                              QStringLiteral("Play FILE, a recording of keldro-cli record (CSV or "
                                             "JSON Lines), as frames at its recorded spacing, or "
                                             "every --interval MS when that is given. Starts when "
                                             "the tool opens the port; exits when done. A last "
                                             "line cut short is left out, with a note on "
                                             "standard error. The pack and fault options do not "
                                             "apply."),
                              QStringLiteral("FILE")};
    QCommandLineOption fault{
        QStringLiteral("fault"),
        QStringLiteral("Drive a value of the pack out of range for a while, to trip the tool's "
                       "alarms: TARGET=VALUE@FROM-UNTIL, or FLAG@FROM-UNTIL for a protection "
                       "flag; -UNTIL left out holds it to the end. Repeatable; see below."),
        QStringLiteral("FAULT")};
    QCommandLineOption resistance{QStringLiteral("resistance"),
                                  QStringLiteral("Every cell's DC resistance in milliohms "
                                                 "(default 2.0)."),
                                  QStringLiteral("MOHM"), QStringLiteral("2.0")};
    QCommandLineOption cellResistance{QStringLiteral("cell-resistance"),
                                      QStringLiteral("One cell's resistance, as in 7=5.5 "
                                                     "(repeatable)."),
                                      QStringLiteral("N=MOHM")};
    QCommandLineOption capacity{QStringLiteral("capacity"),
                                QStringLiteral("The pack's capacity in Ah (default 50)."),
                                QStringLiteral("AH"), QStringLiteral("50")};
    QCommandLineOption cellCapacity{QStringLiteral("cell-capacity"),
                                    QStringLiteral("One cell's capacity in percent of the "
                                                   "pack's, as in 3=80 (repeatable)."),
                                    QStringLiteral("N=PERCENT")};
    QCommandLineOption load{QStringLiteral("load"),
                            QStringLiteral("Switch the current between A1 and A2 amperes, each "
                                           "for SECONDS, instead of random charge and discharge "
                                           "phases; negative is discharge: -5/-30/10."),
                            QStringLiteral("A1/A2/SECONDS")};
    QCommandLineOption merge{QStringLiteral("merge"),
                             QStringLiteral("Probability per frame (0..1) of two frames sent in "
                                            "one burst."),
                             QStringLiteral("RATE"), QStringLiteral("0")};

    QList<QCommandLineOption> all() const
    {
        return {device,     baud,           layout,     interval,     onPoll,  wake,
                count,      seed,           model,      cellType,     version, systemState,
                bmsState,   bqStatus,       protection, date,         cycles,  soc,
                split,      noise,          corrupt,    merge,        replay,  fault,
                resistance, cellResistance, capacity,   cellCapacity, load};
    }
};

// Collects the first bad value instead of stopping at each.
class ValueReader
{
public:
    explicit ValueReader(const QCommandLineParser &parser) : parser(parser) {}

    long long integer(const QCommandLineOption &option, long long low, long long high)
    {
        bool ok = false;
        const long long value = parser.value(option).toLongLong(&ok, 0);
        if (!ok || value < low || value > high) {
            fail(option, QStringLiteral("an integer from %1 to %2").arg(low).arg(high));
            return low;
        }
        return value;
    }

    double rate(const QCommandLineOption &option)
    {
        bool ok = false;
        const double value = parser.value(option).toDouble(&ok);
        if (!ok || value < 0 || value > 1) {
            fail(option, QStringLiteral("a probability from 0 to 1"));
            return 0;
        }
        return value;
    }

    double number(const QCommandLineOption &option, double low, double high)
    {
        bool ok = false;
        const double value = parser.value(option).toDouble(&ok);
        if (!ok || !(value >= low && value <= high)) {
            fail(option, QStringLiteral("a number from %1 to %2").arg(low).arg(high));
            return low;
        }
        return value;
    }

    // Each N=VALUE of a repeatable option, for cells 1 to cells.
    QHash<int, double> cellValues(const QCommandLineOption &option, int cells, double low,
                                  double high)
    {
        QHash<int, double> values;
        for (const QString &text : parser.values(option)) {
            const int equals = text.indexOf(QLatin1Char('='));
            bool cellOk = false, valueOk = false;
            const int cell = text.left(equals).toInt(&cellOk);
            const double value = text.mid(equals + 1).toDouble(&valueOk);
            if (equals < 0 || !cellOk || !valueOk || cell < 1 || cell > cells ||
                !(value >= low && value <= high)) {
                failWith(option, text,
                         QStringLiteral("N=VALUE with a cell from 1 to %1 and a value from %2 "
                                        "to %3")
                             .arg(cells)
                             .arg(low)
                             .arg(high));
                continue;
            }
            values.insert(cell, value);
        }
        return values;
    }

    // A1/A2/SECONDS, in amperes and seconds.
    std::optional<LoadCycle> loadCycle(const QCommandLineOption &option)
    {
        if (!parser.isSet(option))
            return std::nullopt;
        const QStringList parts = parser.value(option).split(QLatin1Char('/'));
        bool ok[3] = {false, false, false};
        LoadCycle load;
        if (parts.size() == 3) {
            load.firstMilliamps = parts.at(0).toDouble(&ok[0]) * 1000;
            load.secondMilliamps = parts.at(1).toDouble(&ok[1]) * 1000;
            load.seconds = parts.at(2).toDouble(&ok[2]);
        }
        if (!ok[0] || !ok[1] || !ok[2] || std::abs(load.firstMilliamps) > 1e6 ||
            std::abs(load.secondMilliamps) > 1e6 ||
            !(load.seconds >= 0.1 && load.seconds <= 86400)) {
            fail(option, QStringLiteral("A1/A2/SECONDS with currents up to 1000 A and 0.1 to "
                                        "86400 s"));
            return std::nullopt;
        }
        return load;
    }

    void fail(const QCommandLineOption &option, const QString &expected)
    {
        failWith(option, parser.value(option), expected);
    }

    void failWith(const QCommandLineOption &option, const QString &value, const QString &expected)
    {
        if (error.isEmpty())
            error = QStringLiteral("--%1: \"%2\" is not %3")
                        .arg(option.names().constFirst(), value, expected);
    }

    QString error;

private:
    const QCommandLineParser &parser;
};

int fail(const QString &message)
{
    std::fprintf(stderr, "keldro-sim: %s\n", message.toLocal8Bit().constData());
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("keldro-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    parser.addHelpOption();
    const Options options;
    parser.addOptions(options.all());
    parser.process(app);

    ValueReader read(parser);
    PackSettings pack;
    WireFaultSettings faults;
    SimulatorSettings settings;

    pack.layout =
        read.integer(options.layout, 1, 2) == 1 ? TelemetryLayout::Type1 : TelemetryLayout::Type2;
    settings.intervalMs = int(read.integer(options.interval, 1, 3600000));
    settings.onPoll = parser.isSet(options.onPoll);
    if (parser.isSet(options.wake))
        settings.wakeAfterMs = int(read.integer(options.wake, 0, 86400000));
    if (parser.isSet(options.count))
        settings.frameLimit = int(read.integer(options.count, 1, 1000000000));
    const quint32 seed = parser.isSet(options.seed)
                             ? quint32(read.integer(options.seed, 0, 0xFFFFFFFFLL))
                             : QRandomGenerator::global()->generate();
    pack.seed = seed;
    faults.seed = seed;

    pack.model = quint8(read.integer(options.model, 0, 255));
    pack.cellType = quint8(read.integer(options.cellType, 0, 255));
    pack.systemState = quint8(read.integer(options.systemState, 0, 255));
    if (parser.isSet(options.bmsState))
        pack.bmsState = quint8(read.integer(options.bmsState, 0, 255));
    pack.bqStatus = quint8(read.integer(options.bqStatus, 0, 255));
    pack.protectionFlags = quint8(read.integer(options.protection, 0, 255));
    pack.cycleCount = quint16(read.integer(options.cycles, 0, 65535));
    pack.startSoc = int(read.integer(options.soc, 0, 100));
    const int cells = pack.layout == TelemetryLayout::Type1 ? 9 : 15;
    pack.resistanceMilliohm = read.number(options.resistance, 0, 1000);
    pack.cellResistanceMilliohm = read.cellValues(options.cellResistance, cells, 0, 1000);
    pack.capacityAh = read.number(options.capacity, 0.1, 10000);
    pack.cellCapacityPercent = read.cellValues(options.cellCapacity, cells, 1, 200);
    pack.load = read.loadCycle(options.load);

    const QStringList version = parser.value(options.version).split(QLatin1Char('.'));
    bool majorOk = false, minorOk = false;
    if (version.size() == 2) {
        const uint major = version.at(0).toUInt(&majorOk);
        const uint minor = version.at(1).toUInt(&minorOk);
        pack.versionMajor = quint8(major);
        pack.versionMinor = quint8(minor);
        majorOk = majorOk && major <= 255;
        minorOk = minorOk && minor <= 255;
    }
    if (!majorOk || !minorOk)
        read.fail(options.version, QStringLiteral("MAJ.MIN with both from 0 to 255"));

    const QDate date = QDate::fromString(parser.value(options.date), Qt::ISODate);
    if (date.isValid())
        pack.manufactureDate = packDate(date.year(), date.month(), date.day());
    else
        read.fail(options.date, QStringLiteral("a date YYYY-MM-DD"));

    faults.split = parser.isSet(options.split);
    faults.noiseRate = read.rate(options.noise);
    faults.corruptRate = read.rate(options.corrupt);
    faults.mergeRate = read.rate(options.merge);
    const qint32 baud = qint32(read.integer(options.baud, 1, 10000000));

    if (!read.error.isEmpty())
        return fail(read.error);
    const QStringList faultTexts = parser.values(options.fault);
    if (!faultTexts.isEmpty() && parser.isSet(options.replay))
        return fail(QStringLiteral("--fault: a replayed recording plays as it was recorded; "
                                   "leave out --fault or --replay"));
    for (const QString &text : faultTexts) {
        QString error;
        const std::optional<PackFault> fault = PackFault::parse(text, &error);
        if (!fault)
            return fail(QStringLiteral("--fault %1").arg(error));
        if (const QString problem = fault->problemWith(pack.layout); !problem.isEmpty())
            return fail(QStringLiteral("--fault \"%1\": %2").arg(text, problem));
        pack.faults.append(*fault);
    }

    QVector<TelemetryRecord> recording;
    if (parser.isSet(options.replay)) {
        QFile file(parser.value(options.replay));
        if (!file.open(QIODevice::ReadOnly))
            return fail(
                QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        RecordReader reader(&file);
        TelemetryRecord record;
        while (reader.next(&record))
            recording.append(record);
        if (reader.hasError())
            return fail(QStringLiteral("%1: %2").arg(file.fileName(), reader.errorString()));
        // What a killed recorder or a power cut leaves is played up to its last whole row.
        if (reader.lastLineCutShort())
            std::fprintf(stderr, "keldro-sim: %s: the last line is cut short: %lld frames read\n",
                         file.fileName().toLocal8Bit().constData(), reader.recordsRead());
    }

    QIODevice *line = nullptr;
    PtyDevice *pty = nullptr;
    QString path;
    if (parser.isSet(options.device)) {
        path = parser.value(options.device);
        auto *port = new QSerialPort(path, &app);
        port->setBaudRate(baud);
        port->setDataBits(QSerialPort::Data8);
        port->setParity(QSerialPort::NoParity);
        port->setStopBits(QSerialPort::OneStop);
        port->setFlowControl(QSerialPort::NoFlowControl);
        if (!port->open(QIODevice::ReadWrite))
            return fail(QStringLiteral("cannot open %1: %2").arg(path, port->errorString()));
        QObject::connect(port, &QSerialPort::errorOccurred, &app,
                         [port](QSerialPort::SerialPortError error) {
                             if (error != QSerialPort::ResourceError)
                                 return;
                             fail(QStringLiteral("device lost: %1").arg(port->errorString()));
                             QCoreApplication::exit(1);
                         });
        line = port;
    } else {
        pty = new PtyDevice(&app);
        if (!pty->open(QIODevice::ReadWrite))
            return fail(
                QStringLiteral("cannot open a pseudo-terminal: %1").arg(pty->errorString()));
        path = pty->slavePath();
        line = pty;
    }
    // Scripts and tests wait for this line before they open the port.
    std::printf("%s\n", path.toLocal8Bit().constData());
    std::fflush(stdout);

    if (parser.isSet(options.replay)) {
        const int interval = parser.isSet(options.interval) ? settings.intervalMs : -1;
        auto *player = new RecordingPlayer(line, recording, interval, &app);
        if (pty)
            QObject::connect(player, &RecordingPlayer::burstWritten, pty, &PtyDevice::burstEnded);
        QObject::connect(player, &RecordingPlayer::finished, &app, &QCoreApplication::exit);
        player->start([pty] { return !pty || pty->hasListener(); });
        return app.exec();
    }

    BoardSimulator simulator(line, pack, faults, settings);
    if (pty)
        QObject::connect(&simulator, &BoardSimulator::burstWritten, pty, &PtyDevice::burstEnded);
    QObject::connect(&simulator, &BoardSimulator::finished, &app, &QCoreApplication::exit);
    simulator.start([pty] { return !pty || pty->hasListener(); });
    return app.exec();
}
