#pragma once

#include <QJsonObject>
#include <QString>
#include <QVector>
#include <optional>

// What a cell's estimate says of it.
enum class HealthVerdict : quint8 {
    Ok,
    HighResistance, // above 1.5 times the cells' median and at least 0.5 mΩ above it
    LowCapacity,    // sags more than 30 mV against the others as the pack empties
    Unknown,        // neither its resistance nor its sag could be measured
};
// "ok", "high resistance", "low capacity", "unknown": the JSON's words
const char *healthVerdictName(HealthVerdict verdict);

// One cell's estimate. A value that could not be measured is empty, never 0.
struct CellEstimate
{
    int cell = 0;                                // 1-15
    std::optional<double> resistanceMilliohm;    // median over its steps
    std::optional<double> resistanceIqrMilliohm; // interquartile range of the same
    int steps = 0;                               // the steps that measured it
    std::optional<double> sagMillivolts;         // below 30 % SOC minus above 60 %
    HealthVerdict verdict = HealthVerdict::Unknown;
};

// The pack as a whole: its own resistance from pack_mV, and the charge counted.
struct PackEstimate
{
    std::optional<double> resistanceMilliohm;
    std::optional<double> resistanceIqrMilliohm;
    double chargedAh = 0;
    double dischargedAh = 0;
    double chargedWh = 0;
    double dischargedWh = 0;
    // The net charge over the SOC it moved, once it moved 20 points or more.
    std::optional<double> capacityAh;
    std::optional<int> socFrom; // of the first frame
    std::optional<int> socTo;   // of the last
    int gaps = 0;               // gaps of more than 10 s, which the counting does not bridge
};

struct WeakestCell
{
    int cell = 0;
    HealthVerdict verdict = HealthVerdict::Ok;
    QString why; // "cell 7: 4.6 mΩ against a median of 2.1 mΩ over 23 steps"
};

// What CellHealthEstimator found in the frames it was given: the same for a live board
// and for a recording. keldro-cli health prints it, check judges [health] against it,
// and its JSON object (cellHealthJson) is what every other output carries.
struct CellHealth
{
    // The verdicts' thresholds.
    static constexpr double MedianRatio = 1.5;
    static constexpr double MedianExcessMilliohm = 0.5;
    static constexpr double LowCapacitySagMillivolts = -30;
    static constexpr int CapacitySocPoints = 20;

    qint64 frames = 0;
    std::optional<qint64> fromMs; // UTC of the first frame and of the last
    std::optional<qint64> toMs;
    int steps = 0;               // the current steps found
    qint32 minStepMilliamps = 0; // what counted as a step
    PackEstimate pack;
    QVector<CellEstimate> cells; // every cell the frames carried, from cell 1
    // The median of the cells' resistances: what a high one is measured against.
    std::optional<double> medianResistanceMilliohm;
    std::optional<WeakestCell> weakest; // empty when every cell is ok or unknown

    // Why a value is empty, in words for the text output and a check's ERROR; empty
    // where the value was measured.
    QString resistanceMissing; // "no current step of 2 A or more (the largest change …)"
    QString sagMissing;        // "no discharging frame below 30 % SOC"
    QString capacityMissing;   // "the SOC moved 12 points; 20 are needed"

    // "2 A", "2.5 A"
    QString minStepText() const;
};

// The object keldro-cli health writes as a line of JSON Lines, and the one MQTT and a
// report carry: exactly the keys
//   source frames from to steps pack cells weakest
//   pack: resistance_mOhm charged_Ah discharged_Ah charged_Wh discharged_Wh capacity_Ah
//         soc_from soc_to gaps
//   each of cells: cell resistance_mOhm resistance_iqr_mOhm steps sag_mV verdict
//   weakest: cell why, or null
// with null for every value not measured. Numbers are rounded to what they can tell:
// 0.01 mΩ, 0.1 mV, 0.001 Ah, 0.01 Wh.
QJsonObject cellHealthJson(const CellHealth &health, const QString &source);
