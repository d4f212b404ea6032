#include "packmodel.h"

#include "protocol/displaytext.h"

#include <QtMath>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

namespace {

constexpr double AmbientTenths = 250;
constexpr double ThermalLagS = 90;
// Below this the board keeps reporting the direction it last saw.
constexpr double IdleCurrentMa = 50;
// A charger delivers its full current up to this state of charge, then less and
// less as the cells near their top voltage.
constexpr double ChargerMa = 2000;
constexpr double ChargerTaperSoc = 85;

// Open-circuit voltage of a lithium-ion cell over its state of charge: steep at
// both ends, a long plateau between.
struct OcvPoint
{
    double soc;
    double millivolts;
};
constexpr OcvPoint OcvCurve[] = {
    {0, 3000},  {5, 3300},  {10, 3450}, {20, 3560},  {40, 3660},
    {60, 3790}, {80, 3960}, {95, 4110}, {100, 4180},
};

double openCircuitMillivolts(double soc)
{
    const auto upper = std::find_if(std::begin(OcvCurve), std::end(OcvCurve),
                                    [soc](const OcvPoint &p) { return p.soc >= soc; });
    if (upper == std::begin(OcvCurve))
        return upper->millivolts;
    if (upper == std::end(OcvCurve))
        return std::prev(upper)->millivolts;
    const OcvPoint &lower = *std::prev(upper);
    const double t = (soc - lower.soc) / (upper->soc - lower.soc);
    return lower.millivolts + t * (upper->millivolts - lower.millivolts);
}

template <typename T> T clampTo(double value)
{
    const double low = double(std::numeric_limits<T>::min());
    const double high = double(std::numeric_limits<T>::max());
    return T(qRound64(std::clamp(value, low, high)));
}

} // namespace

PackModel::PackModel(const PackSettings &settings)
    : settings(settings), random(settings.seed), soc(std::clamp(settings.startSoc, 0, 100))
{
    // Cells of one pack are matched at the factory: each sits a few millivolts off
    // the others and stays there.
    for (double &offset : cellOffsetMv)
        offset = jitter(3);
    cellSoc.fill(soc);
    ntc1 = AmbientTenths + jitter(5);
    ntc2 = AmbientTenths + jitter(5);
    ntc3 = AmbientTenths + jitter(5);
    selfDischargeNtc = AmbientTenths + 20 + jitter(5);
    mosfetNtc = AmbientTenths + 30 + jitter(5);
    startPhase(soc < 30);
    currentMa = targetCurrentMa;
    if (settings.load)
        currentMa = settings.load->firstMilliamps;
    for (int cell = 0; cell < Telemetry::MaxCells; ++cell)
        polarisationMv[size_t(cell)] =
            currentMa / 1000 * settings.resistanceOf(cell + 1) * PolarisationShare;
    bmsState = settings.bmsState.value_or(charging ? 2 : 1);
}

double PackModel::jitter(double amplitude)
{
    return (random.generateDouble() * 2 - 1) * amplitude;
}

double PackModel::chargerMilliamps() const
{
    if (soc < ChargerTaperSoc)
        return ChargerMa;
    return ChargerMa * std::max(0.0, (100 - soc) / (100 - ChargerTaperSoc));
}

void PackModel::startPhase(bool charge)
{
    if (settings.charger) {
        charging = true;
        targetCurrentMa = chargerMilliamps();
        return;
    }
    charging = charge;
    targetCurrentMa = charging ? 1000 + random.bounded(3000.0) : -(1500 + random.bounded(4500.0));
    phaseLeftS = 20 + random.bounded(40.0);
}

void PackModel::followLoad(int ms)
{
    // The load switches at once, as a relay does; the cells' polarisation lags behind.
    loadMs += ms;
    const LoadCycle &load = *settings.load;
    const auto periodMs = qint64(load.seconds * 1000);
    const bool second = loadMs % (2 * periodMs) >= periodMs;
    currentMa = (second ? load.secondMilliamps : load.firstMilliamps) + jitter(25);
    // The board cuts a discharge off once a cell is empty.
    const int cells = settings.layout == TelemetryLayout::Type1 ? 9 : 15;
    if (currentMa < 0 && *std::min_element(cellSoc.begin(), cellSoc.begin() + cells) <= 0)
        currentMa = 0;
    charging = currentMa > 0;
}

void PackModel::stepTemperature(double &value, double target, double seconds)
{
    value += (target - value) * std::min(1.0, seconds / ThermalLagS) + jitter(0.3);
}

void PackModel::startFaultClock()
{
    if (faultClockMs < 0)
        faultClockMs = 0;
}

QByteArray PackModel::advance(int ms)
{
    if (faultClockMs >= 0 && ms > 0)
        faultClockMs += ms;
    if (!poweredOn || ms <= 0)
        return {};
    if (bootWaitLeftMs > 0) {
        bootWaitLeftMs -= ms;
        if (bootWaitLeftMs <= 0)
            return QByteArrayLiteral("BOOT: no firmware, starting application\r\n");
        return {};
    }

    const double seconds = ms / 1000.0;
    if (settings.load) {
        followLoad(ms);
    } else {
        phaseLeftS -= seconds;
        if (settings.charger)
            targetCurrentMa = chargerMilliamps();
        else if (phaseLeftS <= 0 || (charging && soc >= 98) || (!charging && soc <= 10))
            startPhase(!charging && soc < 98);

        // The charger and the load ramp over a few seconds, so the current passes
        // through zero instead of jumping from one sign to the other.
        currentMa += (targetCurrentMa - currentMa) * std::min(1.0, seconds / 3) + jitter(25);
    }
    // The board counts charge against the pack's capacity; each cell fills and empties
    // against its own, and a cell of less capacity runs ahead of the others.
    const double ah = currentMa * seconds / 3600 / 1000;
    soc = std::clamp(soc + ah / settings.capacityAh * 100, 0.0, 100.0);
    const double settle = 1 - std::exp(-seconds / PolarisationSeconds);
    for (int cell = 0; cell < Telemetry::MaxCells; ++cell) {
        double &cellState = cellSoc[size_t(cell)];
        cellState = std::clamp(cellState + ah / settings.capacityOf(cell + 1) * 100, 0.0, 100.0);
        const double target =
            currentMa / 1000 * settings.resistanceOf(cell + 1) * PolarisationShare;
        polarisationMv[size_t(cell)] += (target - polarisationMv[size_t(cell)]) * settle;
    }

    for (double &noise : cellNoiseMv)
        noise = jitter(1.5);

    const double heatTenths = qAbs(currentMa) / 1000;
    stepTemperature(ntc1, AmbientTenths + heatTenths * 8, seconds);
    stepTemperature(ntc2, AmbientTenths + heatTenths * 7, seconds);
    stepTemperature(ntc3, AmbientTenths + heatTenths * 9, seconds);
    stepTemperature(selfDischargeNtc, AmbientTenths + 20, seconds);
    stepTemperature(mosfetNtc, AmbientTenths + 30 + heatTenths * 25, seconds);

    if (!settings.bmsState) {
        if (currentMa > IdleCurrentMa)
            bmsState = 2;
        else if (currentMa < -IdleCurrentMa)
            bmsState = 1;
    }
    return {};
}

BoardReaction PackModel::apply(const DecodedCommand &command)
{
    BoardReaction reaction;
    switch (CommandCode(command.code)) {
    case CommandCode::Poll:
        reaction.logLine = QStringLiteral("poll");
        reaction.frameRequested = isSending();
        return reaction;
    case CommandCode::PowerOff:
        reaction.logLine = QStringLiteral("power off");
        poweredOn = false;
        bootWaitLeftMs = 0;
        return reaction;
    case CommandCode::Boot:
        reaction.logLine = QStringLiteral("boot");
        if (poweredOn) {
            bootWaitLeftMs = BootWaitMs;
            reaction.reply = QByteArrayLiteral("BOOT: waiting for firmware\r\n");
        }
        return reaction;
    case CommandCode::SocCalibration:
        reaction.logLine = QStringLiteral("soc calibration");
        if (poweredOn)
            soc = 100;
        return reaction;
    case CommandCode::SetManufactureDate:
        reaction.logLine = QStringLiteral("set manufacture date ") +
                           DisplayText::manufactureDate(command.parameter);
        if (poweredOn)
            settings.manufactureDate = command.parameter;
        return reaction;
    }
    reaction.logLine =
        QStringLiteral("unknown command 0x%1").arg(command.code, 2, 16, QLatin1Char('0'));
    return reaction;
}

void PackModel::wake()
{
    poweredOn = true;
    bootWaitLeftMs = 0;
}

int PackModel::cellMillivolts(int cell) const
{
    // A discharge (negative current) pulls the cell below its open-circuit voltage.
    const double drop = currentMa / 1000 * settings.resistanceOf(cell + 1);
    return qRound(openCircuitMillivolts(cellSoc[size_t(cell)]) + drop +
                  polarisationMv[size_t(cell)] + cellOffsetMv[size_t(cell)] +
                  cellNoiseMv[size_t(cell)]);
}

Telemetry PackModel::telemetry() const
{
    Telemetry t;
    t.layout = settings.layout;
    t.cellCount = settings.layout == TelemetryLayout::Type1 ? 9 : 15;
    int battery = 0;
    for (int cell = 0; cell < t.cellCount; ++cell) {
        const int mv = cellMillivolts(cell);
        t.cellMillivolts[size_t(cell)] = clampTo<quint16>(mv);
        battery += mv;
    }
    t.batteryMillivolts = clampTo<quint16>(battery);
    // The pack terminals sit behind the discharge MOSFETs and the shunt.
    t.packMillivolts = clampTo<quint16>(battery - 40 - qAbs(currentMa) / 100);
    t.stateOfCharge = quint8(qRound(soc));
    t.currentMilliamps = clampTo<qint32>(currentMa);
    t.ntc1 = clampTo<qint16>(ntc1);
    t.ntc2 = clampTo<qint16>(ntc2);
    if (t.hasExtendedFields()) {
        t.ntc3 = clampTo<qint16>(ntc3);
        t.protectionFlags = settings.protectionFlags;
    }
    t.selfDischargeNtc = clampTo<qint16>(selfDischargeNtc);
    t.mosfetNtc = clampTo<qint16>(mosfetNtc);
    t.cycleCount = settings.cycleCount;
    t.manufactureDate = settings.manufactureDate;
    t.versionMajor = settings.versionMajor;
    t.versionMinor = settings.versionMinor;
    t.model = settings.model;
    t.systemState = settings.systemState;
    t.bqStatus = settings.bqStatus;
    t.bmsState = bmsState;
    t.cellType = settings.cellType;
    if (faultClockMs >= 0)
        for (const PackFault &fault : settings.faults)
            if (fault.isActiveAt(faultClockMs))
                fault.applyTo(&t);
    return t;
}
