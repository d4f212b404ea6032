#pragma once

#include "protocol/telemetryrecord.h"

#include <QByteArray>
#include <QString>
#include <optional>

// How recordings keep accepted frames: CSV with a header row, or JSON Lines with one
// object per frame under the same keys. Both hold the same columns in the same order:
//
//   time (UTC, ISO 8601 with milliseconds), port, layout (1 or 2), cell1_mV .. cell15_mV,
//   battery_mV, pack_mV, current_mA, soc_pct, ntc1_C, ntc2_C, ntc3_C, self_discharge_C,
//   mosfet_C (degrees, one decimal), cycles, bq_status ("0x1f"), system_state, bms_state
//   (codes), system_state_text, bms_state_text (the window's words), oc, sc, ovb, ov, uv,
//   low_temp, high_temp (0/1), version ("1.6"), model, cell_type (the window's words),
//   manufacture_date (YYYY-MM-DD as packed, also when no calendar has that day)
//
// A field the frame's layout does not carry is empty in CSV and null in JSON.
enum class RecordFormat { Csv, JsonLines };

namespace RecordColumns {
constexpr int Count = 44;
extern const char *const Names[Count];
// ntc1_C, ntc2_C, ntc3_C, self_discharge_C, mosfet_C follow each other from here,
// as oc, sc, ovb, ov, uv, low_temp, high_temp do (the flags' bit order).
constexpr int FirstTemperature = 22;
constexpr int FirstProtectionFlag = 33;
} // namespace RecordColumns

// ".csv" is CSV; ".jsonl", ".ndjson" and ".json" are JSON Lines; anything else has no
// format of its own.
std::optional<RecordFormat> recordFormatForPath(const QString &path);

// Appends one row, line end included: a CSV line or a JSON Lines object.
void appendRecordRow(QByteArray &out, const TelemetryRecord &record, RecordFormat format);
// The CSV header row, line end included.
QByteArray csvHeaderRow();

// One record as one compact JSON object with the keys of a JSON Lines recording,
// without a line end: what a message broker gets for each frame.
QByteArray telemetryRecordJson(const TelemetryRecord &record);

// A JSON string of UTF-8 text, quoted and escaped.
void appendJsonString(QByteArray &out, const QByteArray &utf8);

// The time column: "2026-12-07T16:58:03.123Z" for UTC milliseconds since the epoch.
void appendRecordTime(QByteArray &out, qint64 utcMs);
std::optional<qint64> parseRecordTime(const QString &text);
// The same from UTF-8 bytes, as a reader finds them in a line.
std::optional<qint64> parseRecordTime(const char *text, qsizetype size);
