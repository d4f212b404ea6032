#pragma once

#include "protocol/displaytext.h"
#include "record/recordformat.h"

#include <QString>
#include <array>
#include <cstring>

// What RecordReader's scanners hand to RecordRowReader: each column of a row as a range
// of UTF-8 bytes, mostly of the line itself, so that a row is read where it lies.

namespace RecordColumns {
// The columns by their place in a row, as Names lists them.
enum Column : int {
    Time,
    Port,
    Layout,
    Cell1,
    Battery = Cell1 + Telemetry::MaxCells,
    Pack,
    Current,
    Soc,
    Ntc1,
    Ntc2,
    Ntc3,
    SelfDischarge,
    Mosfet,
    Cycles,
    BqStatus,
    SystemState,
    BmsState,
    SystemStateText,
    BmsStateText,
    FirstFlag,
    Version = FirstFlag + ProtectionFlagCount,
    Model,
    CellType,
    ManufactureDate,
};
static_assert(ManufactureDate + 1 == Count, "every column has a place");
} // namespace RecordColumns

inline bool startsWithByteOrderMark(const char *text, qsizetype size)
{
    return size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0;
}

// A part of a line as QString. QString::fromUtf8() drops a byte order mark at the start,
// which within a line is part of the text, so it is kept.
QString recordFieldText(const char *text, qsizetype size);

// One field's text, UTF-8: a range of the line, or of the JSON texts with their escapes
// undone. A text that went through QString (QJsonDocument, a CSV row with broken UTF-8)
// is kept as it came, too: UTF-8 cannot hold every QString (a lone surrogate).
struct RecordField
{
    const char *data = nullptr;
    qsizetype size = 0;
    const QString *decoded = nullptr;

    bool is(char c) const { return size == 1 && *data == c; }
    QString text() const { return decoded ? *decoded : recordFieldText(data, size); }
};

using RecordFields = std::array<RecordField, RecordColumns::Count>;

inline bool isDecimalDigit(char c)
{
    return uchar(c - '0') < 10;
}

// 0-15, or -1 for a byte that is no hex digit.
inline int hexDigitValue(char c)
{
    if (isDecimalDigit(c))
        return c - '0';
    c = char(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}
