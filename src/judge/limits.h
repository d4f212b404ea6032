#pragma once

#include <QtGlobal>
#include <array>
#include <optional>

// The limits a person sets on a pack, as the limits file holds them (see
// docs/limits.example.toml). Every limit is optional: one left out is not judged.

// One limit of the file; each has a key of its own and an event name of its own.
enum class Limit : quint8 {
    CellMin,          // [cells] min_mV: every cell the layout carries
    CellMax,          // [cells] max_mV
    CellSpread,       // [cells] max_spread_mV: highest cell minus lowest cell
    PackMin,          // [pack] min_mV: pack_mV
    PackMax,          // [pack] max_mV
    ChargeCurrent,    // [current] max_charge_mA: current_mA while positive
    DischargeCurrent, // [current] max_discharge_mA: on -current_mA
    TemperatureMin,   // [temperature] min_C: every sensor the layout carries
    TemperatureMax,   // [temperature] max_C
    SocMin,           // [soc] min_pct
};
constexpr int LimitCount = 10;

// The units of the limits; each has its own hysteresis key.
enum class LimitUnit : quint8 { Millivolts, Milliamps, Celsius, Percent };
constexpr int LimitUnitCount = 4;

// What the file, the judge and the reports know of a limit, in one table.
struct LimitInfo
{
    const char *table;     // "cells"
    const char *key;       // "max_mV"
    const char *eventName; // "cell_max"
    LimitUnit unit;
    bool isMinimum;    // crossed below the limit, not above it
    bool isWholeValue; // the file holds an integer, not a float
};
const LimitInfo &limitInfo(Limit limit);
// "cells.max_mV"
const char *limitKeyPath(Limit limit);
// "mV", "mA", "°C", "%"
const char *limitUnitSymbol(LimitUnit unit);
// "mV", "mA", "C", "pct": the keys of [hysteresis]
const char *hysteresisKey(LimitUnit unit);

// [health]: judged once, at the end of a check, on what CellHealthEstimator found in all
// its frames. Each is optional.
struct HealthLimits
{
    std::optional<double> maxResistanceMilliohm; // any cell's resistance above it fails
    std::optional<double> maxResistanceRatio;    // ... above this times the cells' median
    std::optional<double> minCapacityAh;         // the counted capacity below it fails

    bool any() const { return maxResistanceMilliohm || maxResistanceRatio || minCapacityAh; }
};

struct Limits
{
    // Bits 0-6 as in Telemetry::protectionFlags: oc, sc, ovb, ov, uv, low_temp, high_temp.
    static constexpr quint8 AllProtectionFlags = 0x7F;

    // Each in the unit of its key (mV, mA, degrees Celsius, percent).
    std::array<std::optional<double>, LimitCount> values{};
    // How far back inside its limit a raised alarm must come before it clears.
    std::array<double, LimitUnitCount> hysteresis{};
    // The protection flags whose raising fails a check. Every flag gives events.
    quint8 failOn = AllProtectionFlags;
    HealthLimits health;

    std::optional<double> value(Limit limit) const { return values[int(limit)]; }
    void set(Limit limit, double value) { values[int(limit)] = value; }
    double hysteresisOf(Limit limit) const { return hysteresis[int(limitInfo(limit).unit)]; }
    bool failsOn(int flagBit) const { return (failOn >> flagBit) & 1; }
    bool hasAnyLimit() const;
};
