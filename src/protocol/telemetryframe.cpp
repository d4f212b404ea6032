#include "protocol/telemetryframe.h"

#include "protocol/crc32words.h"

#include <QtEndian>
#include <type_traits>

namespace {

constexpr int SelectorOffset = 2;
constexpr int LengthOffset = 3;
constexpr int NoField = -1;

// Where each field sits in one layout. Type 1 leaves a hole after cell 8 and orders
// its state bytes differently from type 2, so each layout states every offset itself.
struct Layout
{
    TelemetryLayout id;
    int size;
    int cellCount;
    int firstCell;
    int cellsBeforeGap; // type 1 skips two bytes after cell 8
    int battery, pack, stateOfCharge, current;
    int ntc1, ntc2, ntc3, selfDischargeNtc, mosfetNtc;
    int cycleCount, manufactureDate, versionMajor, versionMinor;
    int model, systemState, bqStatus, bmsState, protectionFlags, cellType;
    int checkWord;

    int cellOffset(int cell) const
    {
        return firstCell + 2 * cell + (cell >= cellsBeforeGap ? 2 : 0);
    }
};

constexpr Layout Type1Layout{
    TelemetryLayout::Type1,
    TelemetryFrame::Type1Size,
    9,
    /*firstCell*/ 4,
    /*cellsBeforeGap*/ 8,
    /*battery*/ 24,
    /*pack*/ 26,
    /*stateOfCharge*/ 28,
    /*current*/ 32,
    /*ntc1*/ 36,
    /*ntc2*/ 38,
    /*ntc3*/ NoField,
    /*selfDischargeNtc*/ 40,
    /*mosfetNtc*/ 42,
    /*cycleCount*/ 44,
    /*manufactureDate*/ 46,
    /*versionMajor*/ 48,
    /*versionMinor*/ 49,
    /*model*/ 50,
    /*systemState*/ 51,
    /*bqStatus*/ 52,
    /*bmsState*/ 53,
    /*protectionFlags*/ NoField,
    /*cellType*/ 54,
    /*checkWord*/ 56,
};

constexpr Layout Type2Layout{
    TelemetryLayout::Type2,
    TelemetryFrame::Type2Size,
    Telemetry::MaxCells,
    /*firstCell*/ 4,
    /*cellsBeforeGap*/ Telemetry::MaxCells,
    /*battery*/ 34,
    /*pack*/ 36,
    /*stateOfCharge*/ 38,
    /*current*/ 40,
    /*ntc1*/ 44,
    /*ntc2*/ 46,
    /*ntc3*/ 48,
    /*selfDischargeNtc*/ 50,
    /*mosfetNtc*/ 52,
    /*cycleCount*/ 54,
    /*manufactureDate*/ 56,
    /*versionMajor*/ 58,
    /*versionMinor*/ 59,
    /*model*/ 60,
    /*systemState*/ 61,
    /*bqStatus*/ 64,
    /*bmsState*/ 62,
    /*protectionFlags*/ 63,
    /*cellType*/ 65,
    /*checkWord*/ 68,
};

static_assert(Type1Layout.checkWord + 4 == Type1Layout.size, "check word closes the frame");
static_assert(Type2Layout.checkWord + 4 == Type2Layout.size, "check word closes the frame");
static_assert(Type1Layout.checkWord % 4 == 0 && Type2Layout.checkWord % 4 == 0,
              "the check covers whole words");

const Layout &layoutOf(TelemetryLayout id)
{
    return id == TelemetryLayout::Type1 ? Type1Layout : Type2Layout;
}

// The one place that pairs fields with offsets; decoding and encoding both walk it,
// so the two directions cannot disagree. T is Telemetry or const Telemetry.
template <typename T, typename Access>
void forEachField(const Layout &layout, T &telemetry, Access &&access)
{
    for (int cell = 0; cell < layout.cellCount; ++cell)
        access(layout.cellOffset(cell), telemetry.cellMillivolts[cell]);
    access(layout.battery, telemetry.batteryMillivolts);
    access(layout.pack, telemetry.packMillivolts);
    access(layout.stateOfCharge, telemetry.stateOfCharge);
    access(layout.current, telemetry.currentMilliamps);
    access(layout.ntc1, telemetry.ntc1);
    access(layout.ntc2, telemetry.ntc2);
    access(layout.ntc3, telemetry.ntc3);
    access(layout.selfDischargeNtc, telemetry.selfDischargeNtc);
    access(layout.mosfetNtc, telemetry.mosfetNtc);
    access(layout.cycleCount, telemetry.cycleCount);
    access(layout.manufactureDate, telemetry.manufactureDate);
    access(layout.versionMajor, telemetry.versionMajor);
    access(layout.versionMinor, telemetry.versionMinor);
    access(layout.model, telemetry.model);
    access(layout.systemState, telemetry.systemState);
    access(layout.bqStatus, telemetry.bqStatus);
    access(layout.bmsState, telemetry.bmsState);
    access(layout.protectionFlags, telemetry.protectionFlags);
    access(layout.cellType, telemetry.cellType);
}

Telemetry decode(const Layout &layout, const uchar *frame)
{
    Telemetry telemetry;
    telemetry.layout = layout.id;
    telemetry.cellCount = layout.cellCount;
    forEachField(layout, telemetry, [frame](int offset, auto &field) {
        if (offset != NoField)
            field = qFromLittleEndian<std::remove_reference_t<decltype(field)>>(frame + offset);
    });
    return telemetry;
}

} // namespace

int TelemetryFrame::sizeOf(TelemetryLayout layout)
{
    return layoutOf(layout).size;
}

ChunkResult judgeChunk(const QByteArray &chunk)
{
    return judgeChunk(reinterpret_cast<const uchar *>(chunk.constData()), chunk.size());
}

ChunkResult judgeChunk(const uchar *data, qsizetype size)
{
    ChunkResult result;
    if (size < 2 || data[0] != TelemetryFrame::Header0 || data[1] != TelemetryFrame::Header1)
        return result;

    result.verdict = ChunkVerdict::Rejected;
    const Layout *layout = nullptr;
    if (size == Type1Layout.size && data[SelectorOffset] == quint8(TelemetryLayout::Type1))
        layout = &Type1Layout;
    else if (size == Type2Layout.size && data[SelectorOffset] == quint8(TelemetryLayout::Type2))
        layout = &Type2Layout;
    if (!layout)
        return result;

    const quint32 checkWord = qFromLittleEndian<quint32>(data + layout->checkWord);
    if (crc32Words(data, layout->checkWord / 4) != checkWord)
        return result;

    result.verdict = ChunkVerdict::Frame;
    result.telemetry = decode(*layout, data);
    return result;
}

QByteArray encodeTelemetry(const Telemetry &telemetry)
{
    const Layout &layout = layoutOf(telemetry.layout);
    QByteArray frame(layout.size, '\0');
    auto *bytes = reinterpret_cast<uchar *>(frame.data());
    bytes[0] = TelemetryFrame::Header0;
    bytes[1] = TelemetryFrame::Header1;
    bytes[SelectorOffset] = quint8(layout.id);
    bytes[LengthOffset] = quint8(layout.size);
    forEachField(layout, telemetry, [bytes](int offset, const auto &field) {
        if (offset != NoField)
            qToLittleEndian(field, bytes + offset);
    });
    qToLittleEndian(crc32Words(bytes, layout.checkWord / 4), bytes + layout.checkWord);
    return frame;
}
