#include "judge/cellhealthestimator.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// mA·ms in an Ah, mA·mV·ms in a Wh.
constexpr double MaMsPerAh = 3.6e9;
constexpr double EnergyPerWh = 3.6e12;
// Room for an hour of steps every 10 s before the store first grows.
constexpr size_t ReservedSteps = 360;

// The trapezoid from a to b over dt, its part above zero added to *positive and the part
// below to *negative: a current that passes through zero between two frames is charge on
// one side and discharge on the other.
void addTrapezoid(double a, double b, double dt, double *positive, double *negative)
{
    if ((a >= 0) == (b >= 0)) {
        *(a >= 0 ? positive : negative) += (a + b) / 2 * dt;
        return;
    }
    const double zeroAt = a / (a - b) * dt;
    *(a >= 0 ? positive : negative) += a / 2 * zeroAt;
    *(b >= 0 ? positive : negative) += b / 2 * (dt - zeroAt);
}

struct Spread
{
    double median = 0;
    double iqr = 0;
};

// Quartiles by linear interpolation between the sorted values (as a spreadsheet's
// QUARTILE gives them); values must not be empty.
Spread spreadOf(std::vector<double> &values)
{
    std::sort(values.begin(), values.end());
    const auto quantile = [&values](double p) {
        const double h = double(values.size() - 1) * p;
        const size_t low = size_t(std::floor(h));
        const size_t high = std::min(low + 1, values.size() - 1);
        return values[low] + (h - double(low)) * (values[high] - values[low]);
    };
    return {quantile(0.5), quantile(0.75) - quantile(0.25)};
}

std::optional<double> medianOf(std::vector<double> values)
{
    if (values.empty())
        return std::nullopt;
    return spreadOf(values).median;
}

QString oneDecimal(double value)
{
    return QString::number(value, 'f', 1);
}

} // namespace

CellHealthEstimator::CellHealthEstimator(qint32 minStepMilliamps) : finder(minStepMilliamps)
{
    stepValues.reserve(ReservedSteps * Slots);
}

void CellHealthEstimator::reset()
{
    *this = CellHealthEstimator(finder.minStepMilliamps());
}

void CellHealthEstimator::add(const TelemetryRecord &record)
{
    const Telemetry &t = record.telemetry;
    if (t.cellCount <= 0 || t.cellCount > Telemetry::MaxCells)
        return;
    count(record);
    if (finder.add(record))
        addStep();
    if (t.currentMilliamps < 0) {
        if (t.stateOfCharge > SagHighSoc)
            addSag(t, High);
        else if (t.stateOfCharge < SagLowSoc)
            addSag(t, Low);
    }
}

void CellHealthEstimator::count(const TelemetryRecord &record)
{
    const Telemetry &t = record.telemetry;
    const double power = double(t.currentMilliamps) * t.packMillivolts;
    if (frameCount == 0) {
        firstMs = record.timeMs;
        firstSoc = t.stateOfCharge;
    } else {
        const qint64 dt = record.timeMs - lastMs;
        if (dt < 0 || dt > CountingGapMs) {
            ++gaps;
        } else {
            addTrapezoid(lastCurrent, t.currentMilliamps, double(dt), &chargedMaMs,
                         &dischargedMaMs);
            addTrapezoid(lastPower, power, double(dt), &chargedEnergy, &dischargedEnergy);
            countedSoc += t.stateOfCharge - lastSoc;
        }
    }
    ++frameCount;
    cellsCarried = std::max(cellsCarried, t.cellCount);
    lastMs = record.timeMs;
    lastSoc = t.stateOfCharge;
    lastCurrent = t.currentMilliamps;
    lastPower = power;
}

void CellHealthEstimator::addStep()
{
    const StepFrame &before = finder.before();
    const StepFrame &after = finder.after();
    const double dI = double(after.currentMilliamps) - before.currentMilliamps;
    const size_t at = stepValues.size();
    stepValues.resize(at + Slots, std::numeric_limits<float>::quiet_NaN());
    // mV over mA is Ω; a discharge step (dI < 0) lowers the voltage, so R comes out
    // positive either way.
    stepValues[at] = float((double(after.packMillivolts) - before.packMillivolts) / dI * 1000);
    const int cells = std::min(before.cellCount, after.cellCount);
    for (int c = 0; c < cells; ++c)
        stepValues[at + 1 + size_t(c)] =
            float((double(after.cellMillivolts[size_t(c)]) - before.cellMillivolts[size_t(c)]) /
                  dI * 1000);
    ++stepCount;
}

void CellHealthEstimator::middleThree(const Telemetry &t, int *below, int *middle, int *above)
{
    const int n = t.cellCount;
    const int mid = n / 2;
    const auto &mv = t.cellMillivolts;
    // The cells' order hardly changes from one frame to the next, so the last frame's
    // middle voltage splits this frame's cells almost in half: count those under it and
    // at it, and keep the two highest under it and the two lowest over it. One pass and
    // no sort, whose comparisons of noisy millivolts the processor cannot predict.
    constexpr int None = std::numeric_limits<int>::min();
    constexpr int Over = std::numeric_limits<int>::max();
    const int pivot = lastMiddle;
    int under = 0, at = 0;
    int high1 = None, high2 = None, low1 = Over, low2 = Over;
    for (int i = 0; i < n; ++i) {
        const int v = mv[size_t(i)];
        under += v < pivot;
        at += v == pivot;
        const int u = v < pivot ? v : None;
        high2 = std::max(high2, std::min(high1, u));
        high1 = std::max(high1, u);
        const int o = v > pivot ? v : Over;
        low2 = std::min(low2, std::max(low1, o));
        low1 = std::min(low1, o);
    }
    // The value of rank r, when it is among those found.
    const auto rankValue = [&](int r, int *value) {
        if (r >= under && r < under + at)
            *value = pivot;
        else if (r == under - 1)
            *value = high1;
        else if (r == under - 2)
            *value = high2;
        else if (r == under + at)
            *value = low1;
        else if (r == under + at + 1)
            *value = low2;
        else
            return false;
        return true;
    };
    if (!rankValue(mid - 1, below) || !rankValue(mid, middle) ||
        !rankValue(std::min(mid + 1, n - 1), above)) {
        // The first frame, or a jump: select them the long way.
        std::array<quint16, Telemetry::MaxCells> v = mv;
        const auto first = v.begin();
        std::nth_element(first, first + mid, first + n);
        *middle = v[size_t(mid)];
        *below = *std::max_element(first, first + mid);
        *above = mid + 1 < n ? *std::min_element(first + mid + 1, first + n) : *middle;
    }
    lastMiddle = *middle;
}

void CellHealthEstimator::addSag(const Telemetry &t, SagRange range)
{
    const int n = t.cellCount;
    if (n < 3)
        return;
    // The median of the other cells is one of three values, by where the cell's own
    // voltage stands against the middle of all of them: so only the middle three of the
    // sorted voltages are needed, not a sort per cell. Twice the median keeps it whole.
    int below = 0, middle = 0, above = 0;
    middleThree(t, &below, &middle, &above);
    // With an even count the others' median is a single value: the middle one for a cell
    // below it, the one below the middle for any other.
    const bool odd = n % 2;
    const int underMiddle = odd ? middle + above : 2 * middle;
    const int atMiddle = odd ? below + above : 2 * below;
    const int overMiddle = odd ? below + middle : 2 * below;
    SagSums &sums = sag[range];
    for (int i = 0; i < n; ++i) {
        const int own = t.cellMillivolts[size_t(i)];
        const int twiceMedian = own < middle ? underMiddle : own > middle ? overMiddle : atMiddle;
        sums.twiceDistance[size_t(i)] += 2 * own - twiceMedian;
    }
    sums.currentWithCells[size_t(n)] += t.currentMilliamps;
    ++sums.framesWithCells[size_t(n)];
}

CellHealth CellHealthEstimator::result() const
{
    CellHealth h;
    h.frames = frameCount;
    h.steps = stepCount;
    h.minStepMilliamps = finder.minStepMilliamps();
    if (frameCount > 0) {
        h.fromMs = firstMs;
        h.toMs = lastMs;
        h.pack.socFrom = firstSoc;
        h.pack.socTo = lastSoc;
    }

    PackEstimate &pack = h.pack;
    pack.chargedAh = chargedMaMs / MaMsPerAh;
    pack.dischargedAh = -dischargedMaMs / MaMsPerAh;
    pack.chargedWh = chargedEnergy / EnergyPerWh;
    pack.dischargedWh = -dischargedEnergy / EnergyPerWh;
    pack.gaps = gaps;
    if (std::abs(countedSoc) >= CellHealth::CapacitySocPoints)
        pack.capacityAh = std::abs(pack.chargedAh - pack.dischargedAh) / std::abs(countedSoc) * 100;
    else if (frameCount == 0)
        h.capacityMissing = QStringLiteral("no frame");
    else
        h.capacityMissing = QStringLiteral("the SOC moved %1 point%2 in the time counted; %3 "
                                           "are needed")
                                .arg(std::abs(countedSoc))
                                .arg(std::abs(countedSoc) == 1 ? QString() : QStringLiteral("s"))
                                .arg(CellHealth::CapacitySocPoints);

    // Each slot's steps: median, spread, count.
    std::vector<double> values;
    values.reserve(size_t(stepCount));
    const auto measure = [&](int slot, std::optional<double> *median, std::optional<double> *iqr) {
        values.clear();
        for (size_t at = size_t(slot); at < stepValues.size(); at += Slots)
            if (!std::isnan(stepValues[at]))
                values.push_back(double(stepValues[at]));
        if (values.empty())
            return 0;
        const Spread spread = spreadOf(values);
        *median = spread.median;
        *iqr = spread.iqr;
        return int(values.size());
    };
    measure(0, &pack.resistanceMilliohm, &pack.resistanceIqrMilliohm);
    std::vector<double> known;
    for (int cell = 1; cell <= cellsCarried; ++cell) {
        CellEstimate c;
        c.cell = cell;
        c.steps = measure(cell, &c.resistanceMilliohm, &c.resistanceIqrMilliohm);
        if (c.resistanceMilliohm)
            known.push_back(*c.resistanceMilliohm);
        h.cells.append(c);
    }
    h.medianResistanceMilliohm = medianOf(known);

    for (CellEstimate &c : h.cells) {
        const size_t i = size_t(c.cell - 1);
        // The frames that carried the cell, and their current.
        const auto carried = [c](const SagSums &s) {
            qint64 frames = 0, current = 0;
            for (int cells = c.cell; cells <= Telemetry::MaxCells; ++cells) {
                frames += s.framesWithCells[size_t(cells)];
                current += s.currentWithCells[size_t(cells)];
            }
            return std::pair{frames, current};
        };
        const auto [highFrames, highCurrent] = carried(sag[High]);
        const auto [lowFrames, lowCurrent] = carried(sag[Low]);
        if (highFrames == 0 || lowFrames == 0)
            continue;
        // The cell's I×R against the others' comes out of its distance from them.
        double extraMilliohm = 0;
        if (c.resistanceMilliohm) {
            std::vector<double> others;
            for (const CellEstimate &o : qAsConst(h.cells))
                if (o.cell != c.cell && o.resistanceMilliohm)
                    others.push_back(*o.resistanceMilliohm);
            if (const auto median = medianOf(others))
                extraMilliohm = *c.resistanceMilliohm - *median;
        }
        const auto distance = [&](const SagSums &s, qint64 frames, qint64 current) {
            return (double(s.twiceDistance[i]) / 2 - double(current) * extraMilliohm / 1000) /
                   double(frames);
        };
        c.sagMillivolts = distance(sag[Low], lowFrames, lowCurrent) -
                          distance(sag[High], highFrames, highCurrent);
    }

    double worstExcess = 0;
    for (CellEstimate &c : h.cells) {
        double excess = 0;
        const auto median = h.medianResistanceMilliohm;
        if (c.resistanceMilliohm && *c.resistanceMilliohm > CellHealth::MedianRatio * *median &&
            *c.resistanceMilliohm - *median >= CellHealth::MedianExcessMilliohm) {
            c.verdict = HealthVerdict::HighResistance;
            excess = *c.resistanceMilliohm / (CellHealth::MedianRatio * *median);
        } else if (c.sagMillivolts && *c.sagMillivolts < CellHealth::LowCapacitySagMillivolts) {
            c.verdict = HealthVerdict::LowCapacity;
            excess = *c.sagMillivolts / CellHealth::LowCapacitySagMillivolts;
        } else {
            c.verdict = c.resistanceMilliohm || c.sagMillivolts ? HealthVerdict::Ok
                                                                : HealthVerdict::Unknown;
        }
        if (excess <= worstExcess)
            continue;
        worstExcess = excess;
        WeakestCell weakest{c.cell, c.verdict, QString()};
        if (c.verdict == HealthVerdict::HighResistance)
            weakest.why = QStringLiteral("cell %1: %2 mΩ against a median of %3 mΩ over %4 steps")
                              .arg(c.cell)
                              .arg(oneDecimal(*c.resistanceMilliohm), oneDecimal(*median))
                              .arg(c.steps);
        else
            weakest.why = QStringLiteral("cell %1: sags %2 mV against the other cells from "
                                         "above %3 % to below %4 % SOC")
                              .arg(c.cell)
                              .arg(oneDecimal(-*c.sagMillivolts))
                              .arg(SagHighSoc)
                              .arg(SagLowSoc);
        h.weakest = weakest;
    }

    if (stepCount == 0) {
        const StepRejections &r = finder.rejections();
        h.resistanceMissing = QStringLiteral("no current step of %1 or more").arg(h.minStepText());
        QStringList why;
        if (r.notSteadyBefore > 0)
            why << QStringLiteral("%1 after a level held less than 2 s").arg(r.notSteadyBefore);
        if (r.notSteadyAfter > 0)
            why << QStringLiteral("%1 whose new level did not hold").arg(r.notSteadyAfter);
        if (r.tooLate > 0)
            why << QStringLiteral("%1 without a frame 0.5 s to 2 s after the change")
                       .arg(r.tooLate);
        if (r.gap > 0)
            why << QStringLiteral("%1 with a gap of more than 2 s").arg(r.gap);
        if (frameCount == 0)
            h.resistanceMissing += QStringLiteral(": no frame");
        else if (!why.isEmpty())
            h.resistanceMissing +=
                QStringLiteral(" that counts: ") + why.join(QStringLiteral(", "));
        else
            h.resistanceMissing += QStringLiteral(" (the largest change was %1 A)")
                                       .arg(r.largestChangeMilliamps / 1000.0, 0, 'f', 1);
    }
    const auto anyFrame = [](const SagSums &s) {
        return std::any_of(s.framesWithCells.begin(), s.framesWithCells.end(),
                           [](qint64 frames) { return frames > 0; });
    };
    const bool high = anyFrame(sag[High]);
    const bool low = anyFrame(sag[Low]);
    if (!high || !low)
        h.sagMissing = QStringLiteral("no discharging frame %1")
                           .arg(!high && !low ? QStringLiteral("above %1 % nor below %2 % SOC")
                                                    .arg(SagHighSoc)
                                                    .arg(SagLowSoc)
                                : !high ? QStringLiteral("above %1 % SOC").arg(SagHighSoc)
                                        : QStringLiteral("below %1 % SOC").arg(SagLowSoc));
    return h;
}
