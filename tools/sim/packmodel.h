#pragma once

#include "packsettings.h"
#include "protocol/commandframe.h"
#include "protocol/telemetry.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>
#include <array>

// What the board does about one command frame.
struct BoardReaction
{
    QString logLine;             // one line for the simulator's standard error
    QByteArray reply;            // text the board sends back, as a burst of its own
    bool frameRequested = false; // a poll that a running board answers with a frame
};

// The battery pack and its board, without any I/O: the values a real pack would
// report as time passes, and the board's reaction to the tool's commands. All
// randomness comes from one generator seeded by the settings, so that the same
// seed and the same calls give the same frames.
class PackModel
{
public:
    // A board that is told to boot waits this long for firmware before it falls
    // back to its application and sends telemetry again.
    static constexpr int BootWaitMs = 3000;

    explicit PackModel(const PackSettings &settings);

    // Lets ms of time pass. Returns the text the board prints meanwhile, if any.
    QByteArray advance(int ms);

    BoardReaction apply(const DecodedCommand &command);

    // A board that is switched off or sits in its boot loader sends no telemetry.
    bool isSending() const { return poweredOn && bootWaitLeftMs <= 0; }
    bool isPoweredOn() const { return poweredOn; }
    void wake();
    // The faults' seconds count from here: the moment the tool has the port open, so
    // that a fault at second 10 comes 10 s into what the tool sees, however long it took
    // to start. Later calls change nothing.
    void startFaultClock();

    Telemetry telemetry() const;

    // Behind a cell's resistance sits its polarisation: a further resistance of this
    // share of it, reached with this time constant. A step's voltage a second in is
    // mostly the ohmic drop; after a minute it is a quarter more.
    static constexpr double PolarisationShare = 0.25;
    static constexpr double PolarisationSeconds = 8;

private:
    void startPhase(bool charging);
    void followLoad(int ms);
    double chargerMilliamps() const;
    void stepTemperature(double &value, double target, double seconds);
    double jitter(double amplitude);
    int cellMillivolts(int cell) const;

    PackSettings settings;
    QRandomGenerator random;
    bool poweredOn = true;
    qint64 faultClockMs = -1; // not started
    int bootWaitLeftMs = 0;

    double soc;
    double currentMa = 0;
    double targetCurrentMa = 0;
    double phaseLeftS = 0;
    bool charging = false;
    quint8 bmsState = 1;
    std::array<double, Telemetry::MaxCells> cellOffsetMv{};
    std::array<double, Telemetry::MaxCells> cellNoiseMv{};
    std::array<double, Telemetry::MaxCells> cellSoc{};
    std::array<double, Telemetry::MaxCells> polarisationMv{};
    qint64 loadMs = 0;                                    // into the load cycle
    double ntc1, ntc2, ntc3, selfDischargeNtc, mosfetNtc; // tenths of a degree
};
