#pragma once

#include <QString>

struct JudgeEvent;
struct Telemetry;

// How the window speaks of an alarm in a few words, where the events' sentences would
// not fit: the alarm strip, the title bar and the receive log.

// What a raised alarm is about: "cell 2", "spread", "pack", "charge current", "MOSFET",
// "SOC", "OV".
QString alarmName(const JudgeEvent &raised);

// A raised alarm as the newest frame shows it: "cell 2 2700 mV < 2800",
// "spread 1204 mV (cell 2–cell 3) > 80", "OV". A spread names the cells lowest and
// highest now, which move while it stays raised. A value the frame does not carry (a
// type 1 frame has no cells 10-15 and no NTC3), or no frame at all, gives the value
// that raised the alarm.
QString alarmNow(const JudgeEvent &raised, const Telemetry *now);

// The receive log's line for an alarm raised or cleared: "ALARM cell 2 at 2700 mV,
// below 2800 mV", "cleared: cell 2". Empty for every other event.
QString alarmLogLine(const JudgeEvent &event);

// A number as the events and the limits file write it: whole numbers without a
// fraction or an exponent ("60000", not "6e+04"), others as short as they read back.
QString judgedNumber(double value);
