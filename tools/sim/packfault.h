#pragma once

#include "protocol/telemetry.h"

#include <QString>
#include <optional>

// One value of the pack driven out of its range for a while, so that each alarm the
// tool raises can be tripped on purpose, in a test or in a demo. Written as
//
//   TARGET[=VALUE]@FROM[-UNTIL]
//
//   cell7=4300mV@10-20       cell 7 reads 4300 mV from second 10 until second 20
//   pack=29000mV@0           the pack reads 29 V from the first frame on
//   current=-65000mA@3-4.5   a 65 A discharge for a second and a half
//   soc=3%@30                the state of charge drops to 3 % at second 30
//   ntc2=75.5C@12-40         BAT_NTC2 reads 75.5 degrees
//   ov@5-8                   the OV protection flag is raised for 3 seconds
//
// Targets: cell1 … cell15, pack, current, soc, the sensors ntc1, ntc2, ntc3,
// self_discharge and mosfet, and the flags oc, sc, ovb, ov, uv, low_temp and high_temp,
// which take no value. A value carries its unit (mV, mA, %, C), so that 4.3 meant as
// volts cannot pass for millivolts. The seconds count from when the tool opened the
// port (see PackModel::startFaultClock); UNTIL is the first second without the fault.
struct PackFault
{
    enum class Target : quint8 { Cell, Pack, Current, Soc, Temperature, Flag };

    Target target = Target::Cell;
    int index = 0;    // cell 0-14, sensor 0-4 or flag bit 0-6
    double value = 0; // mV, mA, percent or tenths of a degree; unused for a flag
    qint64 fromMs = 0;
    qint64 untilMs = -1; // -1: for the rest of the run

    // An error names what is wrong in words for the command line, and what is expected.
    static std::optional<PackFault> parse(const QString &text, QString *error);

    // Why a frame of this layout cannot carry the fault ("cell12: a layout 1 frame has
    // 9 cells"); empty when it can.
    QString problemWith(TelemetryLayout layout) const;
    bool isActiveAt(qint64 ms) const { return ms >= fromMs && (untilMs < 0 || ms < untilMs); }
    void applyTo(Telemetry *telemetry) const;
};
