#pragma once

#include "protocol/telemetry.h"

#include <QtGlobal>
#include <array>
#include <deque>
#include <limits>
#include <vector>

// What the trends keep of a session, in memory that stays bounded however long the
// session runs, done the way a digital oscilloscope's peak-detect mode does it: the
// newest frames whole, and for every stretch of time each interval's lowest and
// highest value of every series, at a few interval lengths. A one-frame spike then
// survives every level, and a plot asks for no more points than its pixels show.
//
// Level 0 holds frames; levels 1 to 6 hold summaries of 1 s, 10 s, 1 min, 5 min,
// 30 min and 3 h. Each level keeps its newest entries up to a limit and gives up
// its oldest ones a whole interval of the next coarser level at a time, so that the
// coarser level takes over exactly where a finer one ends: no time is held twice
// and none is lost. Intervals are aligned to the clock (14:02:00-14:03:00).
//
// Values are kept as the board sends them (millivolts, milliamps, percent, tenths of
// a degree), in the smallest integer that holds them exactly.
class TrendStore
{
public:
    // Every series the trends show: the cells first, then these.
    enum Series {
        CurrentSeries = Telemetry::MaxCells,
        StateOfChargeSeries,
        Ntc1Series,
        Ntc2Series,
        Ntc3Series,
        SelfDischargeSeries,
        MosfetSeries,
        SeriesCount
    };
    static constexpr int MaxCells = Telemetry::MaxCells;
    static constexpr int TemperatureCount = 5; // NTC1, NTC2, NTC3, SELF-DSG, MOSFET
    static constexpr int LevelCount = 7;       // frames, then six summary levels

    // One frame, 56 bytes.
    struct Frame
    {
        qint64 timeMs = 0;
        qint32 currentMa = 0;
        std::array<quint16, MaxCells> cellMv{};
        std::array<qint16, TemperatureCount> temperature{}; // tenths of a degree
        quint8 stateOfCharge = 0;
        quint8 cellCount = 0; // 9 or 15: the cells the frame's layout carries
        bool hasNtc3 = false;

        bool carries(int series) const;
        double value(int series) const;
    };

    // The frames of one interval, 112 bytes: each series' lowest and highest value.
    // A series no frame of the interval carried has its lowest above its highest.
    struct Summary
    {
        qint64 firstMs = 0; // the interval's first and last frame
        quint32 spanMs = 0;
        quint32 frames = 0;
        qint32 currentMin = 0, currentMax = 0;
        // Sixteen, one unused, fill the space that alignment would leave anyway, and
        // let the compiler take all cells in two vector instructions.
        std::array<quint16, MaxCells + 1> cellMin{}, cellMax{};
        std::array<qint16, TemperatureCount> temperatureMin{}, temperatureMax{};
        quint8 stateOfChargeMin = 0, stateOfChargeMax = 0;

        qint64 lastMs() const { return firstMs + spanMs; }
        // Where the plot draws the interval: the middle of its frames.
        qint64 middleMs() const { return firstMs + spanMs / 2; }
        bool carries(int series) const;
        double minimum(int series) const;
        double maximum(int series) const;
    };

    // How many entries each level keeps before it gives up its oldest. The defaults
    // hold 24 hours of frames at 10 frames/s, 1 s intervals for a week, 10 s for two
    // weeks, 1 min for a month, 5 min for three months, 30 min for a year and 3 h
    // for ever after: under 145 MB in all, plus a third of a megabyte a year.
    struct Limits
    {
        std::array<qsizetype, LevelCount> entries = {864000, 604800, 120960, 43200,
                                                     26280,  17520,  0}; // 0: no limit
    };

    // Part of one level's entries, [begin, end), as select() hands them out.
    struct Piece
    {
        int level;
        qsizetype begin;
        qsizetype end;
    };

    TrendStore();
    explicit TrendStore(const Limits &limits);

    // A frame that the clock puts before the newest one (a clock set back) is kept at
    // the newest one's time: the levels hold their entries in time order.
    void add(qint64 timeMs, const Telemetry &telemetry);

    // Takes in what a store of the frames that followed this one's holds, as if they
    // had been added here: a recording read in parts. False, with nothing changed,
    // when the later frames start before this one's newest.
    bool append(TrendStore &&later);

    bool isEmpty() const { return added == 0; }
    qint64 framesAdded() const { return added; }
    qint64 firstMs() const { return first; }
    qint64 newestMs() const { return newest; }
    // The most cells a frame carried, and whether any carried BAT_NTC3.
    int cellCount() const { return cells; }
    bool hasNtc3() const { return ntc3; }
    // Changes with every frame added.
    quint64 revision() const { return quint64(added); }

    static qint64 intervalMs(int level); // level 1 and up
    // Where the level's interval that holds the time begins.
    static qint64 intervalStartMs(int level, qint64 ms);
    qsizetype size(int level) const;
    const std::deque<Frame> &frames() const { return frameLevel; }
    const std::deque<Summary> &summaries(int level) const
    {
        return summaryLevels[size_t(level - 1)];
    }
    // Level keeps everything from this time on; the coarser levels hold what is before.
    qint64 keptSinceMs(int level) const { return keptSince[size_t(level)]; }
    // The newest frame, or nullptr before the first.
    const Frame *newestFrame() const { return frameLevel.empty() ? nullptr : &frameLevel.back(); }

    // What to draw of the time fromMs..toMs at no more than two points per pixel:
    // the finest level whose entries in the range fit (a frame is one point, a
    // summary two), and where it no longer reaches back, the coarser levels that
    // do, oldest first. One entry on either side of the range is included, so
    // that the lines run to the plot's edges. *level is the finest level chosen.
    std::vector<Piece> select(qint64 fromMs, qint64 toMs, int pixels, int *level = nullptr) const;
    // Calls point(timeMs, value) for each point of the series in the pieces, in time
    // order: a frame's value, or an interval's lowest and then highest value.
    template <typename Point>
    void forEachPoint(const std::vector<Piece> &pieces, int series, Point point) const;

    // The frame nearest to the time, where frames of that time are still kept;
    // nullptr where only summaries are.
    const Frame *nearestFrame(qint64 ms) const;
    // The interval nearest to the time, at this level or, where it no longer
    // reaches back, the next coarser level that does; *found is that level.
    const Summary *nearestSummary(int level, qint64 ms, int *found) const;

    // Bytes the entries take, allocator overhead left aside.
    qint64 memoryBytes() const;

private:
    qint64 entryMs(int level, qsizetype index) const;
    qsizetype firstAtOrAfter(int level, qint64 ms) const;
    qsizetype firstEndingAtOrAfter(int level, qint64 ms) const;
    qsizetype firstAfter(int level, qint64 ms) const;
    std::vector<Piece> stitch(int finest) const;
    void trim(int level);
    void dropBefore(int level, qint64 ms);

    Limits limits;
    std::deque<Frame> frameLevel;
    std::array<std::deque<Summary>, LevelCount - 1> summaryLevels;
    std::array<qint64, LevelCount> keptSince;
    std::array<qint64, LevelCount> openUntil; // where each level's newest interval ends
    qint64 added = 0;
    qint64 first = 0;
    qint64 newest = std::numeric_limits<qint64>::min();
    int cells = 0;
    bool ntc3 = false;
};

template <typename Point>
void TrendStore::forEachPoint(const std::vector<Piece> &pieces, int series, Point point) const
{
    for (const Piece &piece : pieces) {
        if (piece.level == 0) {
            for (qsizetype i = piece.begin; i < piece.end; ++i) {
                const Frame &frame = frameLevel[size_t(i)];
                if (frame.carries(series))
                    point(frame.timeMs, frame.value(series));
            }
            continue;
        }
        const std::deque<Summary> &level = summaryLevels[size_t(piece.level - 1)];
        for (qsizetype i = piece.begin; i < piece.end; ++i) {
            const Summary &summary = level[size_t(i)];
            if (!summary.carries(series))
                continue;
            point(summary.middleMs(), summary.minimum(series));
            point(summary.middleMs(), summary.maximum(series));
        }
    }
}
