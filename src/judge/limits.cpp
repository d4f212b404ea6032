#include "judge/limits.h"

namespace {

// clang-format off
constexpr std::array<LimitInfo, LimitCount> Infos{{
    {"cells",       "min_mV",           "cell_min",          LimitUnit::Millivolts, true,  true},
    {"cells",       "max_mV",           "cell_max",          LimitUnit::Millivolts, false, true},
    {"cells",       "max_spread_mV",    "cell_spread",       LimitUnit::Millivolts, false, true},
    {"pack",        "min_mV",           "pack_min",          LimitUnit::Millivolts, true,  true},
    {"pack",        "max_mV",           "pack_max",          LimitUnit::Millivolts, false, true},
    {"current",     "max_charge_mA",    "charge_current",    LimitUnit::Milliamps,  false, true},
    {"current",     "max_discharge_mA", "discharge_current", LimitUnit::Milliamps,  false, true},
    {"temperature", "min_C",            "temperature_min",   LimitUnit::Celsius,    true,  false},
    {"temperature", "max_C",            "temperature_max",   LimitUnit::Celsius,    false, false},
    {"soc",         "min_pct",          "soc_min",           LimitUnit::Percent,    true,  true},
}};
constexpr std::array<const char *, LimitCount> KeyPaths{
    "cells.min_mV", "cells.max_mV", "cells.max_spread_mV", "pack.min_mV", "pack.max_mV",
    "current.max_charge_mA", "current.max_discharge_mA", "temperature.min_C",
    "temperature.max_C", "soc.min_pct"};
// clang-format on

} // namespace

const LimitInfo &limitInfo(Limit limit)
{
    return Infos[int(limit)];
}

const char *limitKeyPath(Limit limit)
{
    return KeyPaths[int(limit)];
}

const char *limitUnitSymbol(LimitUnit unit)
{
    static constexpr std::array<const char *, LimitUnitCount> symbols{"mV", "mA", "°C", "%"};
    return symbols[int(unit)];
}

const char *hysteresisKey(LimitUnit unit)
{
    static constexpr std::array<const char *, LimitUnitCount> keys{"mV", "mA", "C", "pct"};
    return keys[int(unit)];
}

bool Limits::hasAnyLimit() const
{
    for (const auto &value : values)
        if (value)
            return true;
    return false;
}
