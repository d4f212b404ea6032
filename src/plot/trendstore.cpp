#include "plot/trendstore.h"

#include <algorithm>

namespace {

// Each divides the next, so that an interval of one level lies in one of the next.
constexpr qint64 IntervalMs[TrendStore::LevelCount] = {0,      1000,    10000,   60000,
                                                       300000, 1800000, 10800000};

static_assert(sizeof(TrendStore::Frame) == 56, "a frame stays compact");
static_assert(sizeof(TrendStore::Summary) == 112, "a summary stays compact");

qint64 bucketStart(qint64 ms, qint64 interval)
{
    const qint64 q = ms / interval;
    return (ms % interval < 0 ? q - 1 : q) * interval;
}

TrendStore::Summary summaryOf(const TrendStore::Frame &frame)
{
    TrendStore::Summary s;
    s.firstMs = frame.timeMs;
    s.frames = 1;
    s.currentMin = s.currentMax = frame.currentMa;
    s.stateOfChargeMin = s.stateOfChargeMax = frame.stateOfCharge;
    for (size_t cell = 0; cell < size_t(TrendStore::MaxCells); ++cell) {
        const bool carried = cell < frame.cellCount;
        s.cellMin[cell] = carried ? frame.cellMv[cell] : std::numeric_limits<quint16>::max();
        s.cellMax[cell] = carried ? frame.cellMv[cell] : 0;
    }
    s.cellMin[TrendStore::MaxCells] = std::numeric_limits<quint16>::max();
    s.temperatureMin = s.temperatureMax = frame.temperature;
    if (!frame.hasNtc3) {
        s.temperatureMin[2] = std::numeric_limits<qint16>::max();
        s.temperatureMax[2] = std::numeric_limits<qint16>::min();
    }
    return s;
}

// Takes in a later stretch's extremes: over every cell and temperature alike, as a
// series the other did not carry has its lowest above its highest.
void merge(TrendStore::Summary &s, const TrendStore::Summary &later)
{
    s.spanMs = quint32(later.lastMs() - s.firstMs);
    s.frames += later.frames;
    s.currentMin = std::min(s.currentMin, later.currentMin);
    s.currentMax = std::max(s.currentMax, later.currentMax);
    s.stateOfChargeMin = std::min(s.stateOfChargeMin, later.stateOfChargeMin);
    s.stateOfChargeMax = std::max(s.stateOfChargeMax, later.stateOfChargeMax);
    for (size_t cell = 0; cell < s.cellMin.size(); ++cell) {
        s.cellMin[cell] = std::min(s.cellMin[cell], later.cellMin[cell]);
        s.cellMax[cell] = std::max(s.cellMax[cell], later.cellMax[cell]);
    }
    for (size_t i = 0; i < size_t(TrendStore::TemperatureCount); ++i) {
        s.temperatureMin[i] = std::min(s.temperatureMin[i], later.temperatureMin[i]);
        s.temperatureMax[i] = std::max(s.temperatureMax[i], later.temperatureMax[i]);
    }
}

size_t temperatureIndex(int series)
{
    return size_t(series - TrendStore::Ntc1Series);
}

} // namespace

bool TrendStore::Frame::carries(int series) const
{
    if (series < MaxCells)
        return series < cellCount;
    return series != Ntc3Series || hasNtc3;
}

double TrendStore::Frame::value(int series) const
{
    if (series < MaxCells)
        return cellMv[size_t(series)];
    if (series == CurrentSeries)
        return currentMa;
    if (series == StateOfChargeSeries)
        return stateOfCharge;
    return temperature[temperatureIndex(series)] / 10.0;
}

bool TrendStore::Summary::carries(int series) const
{
    if (series < MaxCells)
        return cellMin[size_t(series)] <= cellMax[size_t(series)];
    if (series >= Ntc1Series)
        return temperatureMin[temperatureIndex(series)] <= temperatureMax[temperatureIndex(series)];
    return frames > 0;
}

double TrendStore::Summary::minimum(int series) const
{
    if (series < MaxCells)
        return cellMin[size_t(series)];
    if (series == CurrentSeries)
        return currentMin;
    if (series == StateOfChargeSeries)
        return stateOfChargeMin;
    return temperatureMin[temperatureIndex(series)] / 10.0;
}

double TrendStore::Summary::maximum(int series) const
{
    if (series < MaxCells)
        return cellMax[size_t(series)];
    if (series == CurrentSeries)
        return currentMax;
    if (series == StateOfChargeSeries)
        return stateOfChargeMax;
    return temperatureMax[temperatureIndex(series)] / 10.0;
}

TrendStore::TrendStore() : TrendStore(Limits()) {}

TrendStore::TrendStore(const Limits &limits) : limits(limits)
{
    keptSince.fill(std::numeric_limits<qint64>::min());
    openUntil.fill(std::numeric_limits<qint64>::min());
}

qint64 TrendStore::intervalMs(int level)
{
    return IntervalMs[level];
}

qint64 TrendStore::intervalStartMs(int level, qint64 ms)
{
    return bucketStart(ms, IntervalMs[level]);
}

qsizetype TrendStore::size(int level) const
{
    return qsizetype(level == 0 ? frameLevel.size() : summaryLevels[size_t(level - 1)].size());
}

void TrendStore::add(qint64 timeMs, const Telemetry &telemetry)
{
    Frame frame;
    frame.timeMs = std::max(timeMs, newest);
    frame.currentMa = telemetry.currentMilliamps;
    frame.cellCount = quint8(std::clamp(telemetry.cellCount, 0, MaxCells));
    // The cells a layout does not carry are zero in every frame.
    frame.cellMv = telemetry.cellMillivolts;
    frame.temperature = {telemetry.ntc1, telemetry.ntc2, telemetry.ntc3, telemetry.selfDischargeNtc,
                         telemetry.mosfetNtc};
    frame.hasNtc3 = telemetry.hasExtendedFields();
    if (!frame.hasNtc3)
        frame.temperature[2] = 0;
    frame.stateOfCharge = telemetry.stateOfCharge;

    if (added == 0)
        first = frame.timeMs;
    newest = frame.timeMs;
    ++added;
    cells = std::max(cells, int(frame.cellCount));
    ntc3 = ntc3 || frame.hasNtc3;

    if (frame.timeMs >= keptSince[0]) {
        frameLevel.push_back(frame);
        trim(0);
    }
    const Summary alone = summaryOf(frame);
    for (int level = 1; level < LevelCount; ++level) {
        if (frame.timeMs < keptSince[size_t(level)])
            continue;
        std::deque<Summary> &entries = summaryLevels[size_t(level - 1)];
        if (frame.timeMs < openUntil[size_t(level)] && !entries.empty()) {
            merge(entries.back(), alone);
            continue;
        }
        entries.push_back(alone);
        openUntil[size_t(level)] = bucketStart(frame.timeMs, IntervalMs[level]) + IntervalMs[level];
        trim(level);
    }
}

bool TrendStore::append(TrendStore &&later)
{
    if (later.isEmpty())
        return true;
    if (!isEmpty() && later.first < newest)
        return false;
    for (int level = 0; level < LevelCount; ++level) {
        // Where the later frames alone filled a level, what it holds here is older
        // still and gives way.
        if (later.keptSince[size_t(level)] > keptSince[size_t(level)])
            dropBefore(level, later.keptSince[size_t(level)]);
        // Moved entry by entry, so that the later store's memory goes as this one's
        // grows.
        if (level == 0) {
            for (; !later.frameLevel.empty(); later.frameLevel.pop_front())
                frameLevel.push_back(later.frameLevel.front());
        } else {
            std::deque<Summary> &ours = summaryLevels[size_t(level - 1)];
            std::deque<Summary> &theirs = later.summaryLevels[size_t(level - 1)];
            if (!ours.empty() && !theirs.empty() &&
                bucketStart(ours.back().firstMs, IntervalMs[level]) ==
                    bucketStart(theirs.front().firstMs, IntervalMs[level])) {
                merge(ours.back(), theirs.front());
                theirs.pop_front();
            }
            for (; !theirs.empty(); theirs.pop_front())
                ours.push_back(theirs.front());
        }
        trim(level);
    }
    if (isEmpty())
        first = later.first;
    added += later.added;
    newest = later.newest;
    cells = std::max(cells, later.cells);
    ntc3 = ntc3 || later.ntc3;
    openUntil = later.openUntil;
    return true;
}

// A level past its limit gives up its oldest entries up to the end of the coarser
// level's interval that holds the last one it must give up, and the finer levels
// give up the same time, so that each level covers from its start to the newest frame.
void TrendStore::trim(int level)
{
    const qsizetype limit = limits.entries[size_t(level)];
    const qsizetype excess = size(level) - limit;
    if (limit <= 0 || excess <= 0)
        return;
    qint64 cut = entryMs(level, excess);
    if (level + 1 < LevelCount)
        cut =
            bucketStart(entryMs(level, excess - 1), IntervalMs[level + 1]) + IntervalMs[level + 1];
    for (int finer = 0; finer <= level; ++finer)
        dropBefore(finer, cut);
}

void TrendStore::dropBefore(int level, qint64 ms)
{
    if (level == 0) {
        while (!frameLevel.empty() && frameLevel.front().timeMs < ms)
            frameLevel.pop_front();
    } else {
        std::deque<Summary> &entries = summaryLevels[size_t(level - 1)];
        while (!entries.empty() && entries.front().firstMs < ms)
            entries.pop_front();
    }
    keptSince[size_t(level)] = std::max(keptSince[size_t(level)], ms);
}

qint64 TrendStore::entryMs(int level, qsizetype index) const
{
    return level == 0 ? frameLevel[size_t(index)].timeMs
                      : summaryLevels[size_t(level - 1)][size_t(index)].firstMs;
}

qsizetype TrendStore::firstAtOrAfter(int level, qint64 ms) const
{
    if (level == 0)
        return std::partition_point(frameLevel.begin(), frameLevel.end(),
                                    [ms](const Frame &f) { return f.timeMs < ms; }) -
               frameLevel.begin();
    const std::deque<Summary> &entries = summaryLevels[size_t(level - 1)];
    return std::partition_point(entries.begin(), entries.end(),
                                [ms](const Summary &s) { return s.firstMs < ms; }) -
           entries.begin();
}

qsizetype TrendStore::firstEndingAtOrAfter(int level, qint64 ms) const
{
    if (level == 0)
        return firstAtOrAfter(0, ms);
    const std::deque<Summary> &entries = summaryLevels[size_t(level - 1)];
    return std::partition_point(entries.begin(), entries.end(),
                                [ms](const Summary &s) { return s.lastMs() < ms; }) -
           entries.begin();
}

qsizetype TrendStore::firstAfter(int level, qint64 ms) const
{
    return ms == std::numeric_limits<qint64>::max() ? size(level) : firstAtOrAfter(level, ms + 1);
}

// Every entry of the finest level, and before them, each coarser level's entries for
// the time the finer ones no longer reach: the whole session, oldest first.
std::vector<TrendStore::Piece> TrendStore::stitch(int finest) const
{
    std::vector<Piece> pieces;
    for (int level = LevelCount - 1; level >= finest; --level) {
        const qsizetype end =
            level == finest ? size(level) : firstAtOrAfter(level, keptSince[size_t(level - 1)]);
        if (end > 0)
            pieces.push_back({level, 0, end});
    }
    return pieces;
}

std::vector<TrendStore::Piece> TrendStore::select(qint64 fromMs, qint64 toMs, int pixels,
                                                  int *chosen) const
{
    const qsizetype budget = 2 * qsizetype(std::max(pixels, 1));
    for (int finest = 0;; ++finest) {
        std::vector<Piece> pieces = stitch(finest);
        const size_t count = pieces.size();
        // The first entry that reaches into the range, one step back.
        size_t startPiece = count;
        qsizetype start = 0;
        for (size_t p = 0; p < count; ++p) {
            const qsizetype i =
                std::min(firstEndingAtOrAfter(pieces[p].level, fromMs), pieces[p].end);
            if (i < pieces[p].end) {
                startPiece = p;
                start = i;
                break;
            }
        }
        if (startPiece == count && count > 0) {
            startPiece = count - 1;
            start = pieces.back().end;
        }
        if (startPiece < count && start > pieces[startPiece].begin)
            --start;
        else if (startPiece > 0 && startPiece < count)
            start = pieces[--startPiece].end - 1;
        // The last entry that begins in the range, one step on.
        size_t endPiece = count;
        qsizetype end = 0;
        for (size_t p = count; p-- > 0;) {
            const qsizetype i = std::min(firstAfter(pieces[p].level, toMs), pieces[p].end);
            if (i > pieces[p].begin) {
                endPiece = p;
                end = i;
                break;
            }
        }
        if (endPiece == count && count > 0) {
            endPiece = 0;
            end = pieces.front().begin;
        }
        if (endPiece < count && end < pieces[endPiece].end)
            ++end;
        else if (endPiece + 1 < count)
            end = pieces[++endPiece].begin + 1;

        std::vector<Piece> shown;
        qsizetype points = 0;
        for (size_t p = startPiece; p < count && p <= endPiece; ++p) {
            Piece piece = pieces[p];
            if (p == startPiece)
                piece.begin = start;
            if (p == endPiece)
                piece.end = end;
            if (piece.begin >= piece.end)
                continue;
            points += (piece.end - piece.begin) * (piece.level == 0 ? 1 : 2);
            shown.push_back(piece);
        }
        if (points <= budget || finest == LevelCount - 1) {
            if (chosen)
                *chosen = finest;
            return shown;
        }
    }
}

const TrendStore::Frame *TrendStore::nearestFrame(qint64 ms) const
{
    if (frameLevel.empty() || ms < keptSince[0])
        return nullptr;
    const qsizetype i = firstAtOrAfter(0, ms);
    if (i == size(0))
        return &frameLevel.back();
    if (i > 0 && ms - frameLevel[size_t(i - 1)].timeMs < frameLevel[size_t(i)].timeMs - ms)
        return &frameLevel[size_t(i - 1)];
    return &frameLevel[size_t(i)];
}

const TrendStore::Summary *TrendStore::nearestSummary(int level, qint64 ms, int *found) const
{
    for (level = std::max(level, 1); level < LevelCount; ++level) {
        const std::deque<Summary> &entries = summaryLevels[size_t(level - 1)];
        if (entries.empty() || (ms < keptSince[size_t(level)] && level + 1 < LevelCount))
            continue;
        if (found)
            *found = level;
        const qsizetype i = firstEndingAtOrAfter(level, ms);
        if (i == size(level))
            return &entries.back();
        if (i > 0 && ms - entries[size_t(i - 1)].lastMs() < entries[size_t(i)].firstMs - ms)
            return &entries[size_t(i - 1)];
        return &entries[size_t(i)];
    }
    return nullptr;
}

qint64 TrendStore::memoryBytes() const
{
    qint64 bytes = qint64(frameLevel.size() * sizeof(Frame));
    for (const std::deque<Summary> &entries : summaryLevels)
        bytes += qint64(entries.size() * sizeof(Summary));
    return bytes;
}
