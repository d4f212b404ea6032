#include "protocol/recordreader.h"

#include "protocol/displaytext.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <numeric>
#include <string_view>
#include <utility>
#include <vector>

// The trends window opens an hour of frames (36,000 rows, 8 MB of CSV or 26 MB of JSON
// Lines) while the user waits, so a row is read where it lies: fields are byte ranges of
// the line, numbers come straight from their digits, and nothing is allocated per field.
// What is not in the writer's own form (a number with spaces or a plus sign, an
// exponent, a key the record does not have, broken UTF-8 in a quoted CSV field) goes the
// general way through QString and QJsonDocument, so that it is taken or refused as ever.

namespace {

enum Column {
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
static_assert(ManufactureDate + 1 == RecordColumns::Count, "every column has a place");

constexpr qint64 BlockSize = 256 * 1024;
constexpr char ByteOrderMark[] = "\xEF\xBB\xBF";

bool startsWithByteOrderMark(const char *text, qsizetype size)
{
    return size >= 3 && std::memcmp(text, ByteOrderMark, 3) == 0;
}

// A part of a line as QString: QString::fromUtf8() drops a byte order mark at the start,
// which within a line is part of the text.
QString textOf(const char *text, qsizetype size)
{
    QString marks;
    for (; startsWithByteOrderMark(text, size); text += 3, size -= 3)
        marks += QChar(0xFEFF);
    return marks + QString::fromUtf8(text, int(size));
}

// One field's text, UTF-8: a range of the line, or of the JSON texts with their escapes
// undone. A text that QJsonDocument read is kept as it gave it, too: UTF-8 cannot hold
// every QString (a lone surrogate).
struct Field
{
    const char *data = nullptr;
    qsizetype size = 0;
    const QString *decoded = nullptr;

    bool is(char c) const { return size == 1 && *data == c; }
    QString text() const { return decoded ? *decoded : textOf(data, size); }
};

bool isDigit(char c)
{
    return uchar(c - '0') < 10;
}

// Up to maxDigits decimal digits and nothing else.
bool plainDigits(const char *text, qsizetype size, qsizetype maxDigits, qint64 *value)
{
    if (size < 1 || size > maxDigits)
        return false;
    qint64 number = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (!isDigit(text[i]))
            return false;
        number = number * 10 + (text[i] - '0');
    }
    *value = number;
    return true;
}

// "-1500": a whole number as the writer writes it.
bool plainWholeNumber(Field field, qint64 *value)
{
    const bool negative = field.size > 0 && *field.data == '-';
    if (!plainDigits(field.data + negative, field.size - negative, 18, value))
        return false;
    if (negative)
        *value = -*value;
    return true;
}

// "-1.2" or "25": degrees as the writer writes them, in tenths.
bool plainTenths(Field field, qint64 *tenths)
{
    const bool negative = field.size > 0 && *field.data == '-';
    const char *digits = field.data + negative;
    const qsizetype size = field.size - negative;
    const bool decimal = size >= 3 && digits[size - 2] == '.';
    qint64 whole = 0;
    if (!plainDigits(digits, decimal ? size - 2 : size, 9, &whole) ||
        (decimal && !isDigit(digits[size - 1])))
        return false;
    *tenths = whole * 10 + (decimal ? digits[size - 1] - '0' : 0);
    if (negative)
        *tenths = -*tenths;
    return true;
}

int hexDigit(char c)
{
    if (isDigit(c))
        return c - '0';
    c = char(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "0x1f": a byte in hex as the writer writes it.
bool plainHexByte(Field field, uint *value)
{
    if (field.size < 3 || field.size > 4 || field.data[0] != '0' || field.data[1] != 'x')
        return false;
    uint byte = 0;
    for (qsizetype i = 2; i < field.size; ++i) {
        const int digit = hexDigit(field.data[i]);
        if (digit < 0)
            return false;
        byte = byte << 4 | uint(digit);
    }
    *value = byte;
    return true;
}

// The names the window shows, back to their codes: the lowest code wins where several
// share the fallback text ("BMS-XX", "XX"), which the window shows the same way. Each
// table holds a handful of names, so a look along it is quicker than hashing.
class NameCodes
{
public:
    explicit NameCodes(QString (*text)(quint8))
    {
        for (int code = 0; code < 256; ++code) {
            const QByteArray name = text(quint8(code)).toUtf8();
            if (std::none_of(names.begin(), names.end(),
                             [&name](const auto &known) { return known.first == name; }))
                names.emplace_back(name, quint8(code));
        }
    }

    bool find(Field field, quint8 *code) const
    {
        for (const auto &[name, nameCode] : names) {
            if (name.size() == field.size &&
                std::memcmp(name.constData(), field.data, name.size()) == 0) {
                *code = nameCode;
                return true;
            }
        }
        return false;
    }

private:
    std::vector<std::pair<QByteArray, quint8>> names;
};

// Turns the fields of one row into a record, naming the first column that does not fit.
// The port is left to the caller, who keeps its text from row to row.
class RowReader
{
public:
    explicit RowReader(const std::array<Field, RecordColumns::Count> &fields) : fields(fields) {}

    bool read(TelemetryRecord *record);
    QString error;

private:
    Field field(int column) const { return fields[size_t(column)]; }
    bool fail(int column, const QString &expected)
    {
        if (error.isEmpty())
            error = QStringLiteral("%1: \"%2\" is not %3")
                        .arg(QLatin1String(RecordColumns::Names[column]), field(column).text(),
                             expected);
        return false;
    }
    bool fail(int column, const char *expected) { return fail(column, QLatin1String(expected)); }
    template <typename T> T integer(int column)
    {
        qint64 value = 0;
        bool ok = plainWholeNumber(field(column), &value);
        if (!ok)
            value = field(column).text().toLongLong(&ok);
        if (ok && value >= std::numeric_limits<T>::min() && value <= std::numeric_limits<T>::max())
            return T(value);
        fail(column, QStringLiteral("a whole number from %1 to %2")
                         .arg(qint64(std::numeric_limits<T>::min()))
                         .arg(qint64(std::numeric_limits<T>::max())));
        return 0;
    }
    qint16 tenths(int column);
    void absent(int column)
    {
        if (field(column).size != 0 && error.isEmpty())
            error = QStringLiteral("%1: \"%2\" where the layout carries nothing")
                        .arg(QLatin1String(RecordColumns::Names[column]), field(column).text());
    }
    quint8 byName(int column, const NameCodes &codes);
    uint bqStatus();
    void version(Telemetry *t);
    void manufactureDate(Telemetry *t);

    const std::array<Field, RecordColumns::Count> &fields;
};

qint16 RowReader::tenths(int column)
{
    qint64 value = 0;
    bool ok = plainTenths(field(column), &value);
    if (!ok) {
        const QString text = field(column).text();
        const int point = text.indexOf(QLatin1Char('.'));
        ok = !text.isEmpty() && (point < 0 || point == text.size() - 2);
        const QString digits = point < 0 ? text + QLatin1Char('0') : QString(text).remove(point, 1);
        value = ok ? digits.toInt(&ok) : 0;
        ok = ok && text.at(text.size() - 1).isDigit();
    }
    if (ok && value >= -32768 && value <= 32767)
        return qint16(value);
    fail(column, "degrees with at most one decimal");
    return 0;
}

quint8 RowReader::byName(int column, const NameCodes &codes)
{
    quint8 code = 0;
    if (!codes.find(field(column), &code))
        fail(column, "a name the window shows");
    return code;
}

uint RowReader::bqStatus()
{
    uint bq = 0;
    bool ok = plainHexByte(field(BqStatus), &bq);
    if (!ok) {
        const QString text = field(BqStatus).text();
        ok = text.startsWith(QLatin1String("0x"));
        bq = ok ? text.mid(2).toUInt(&ok, 16) : 0;
    }
    if (!ok || bq > 255)
        fail(BqStatus, "a byte in hex such as 0x1f");
    return bq;
}

void RowReader::version(Telemetry *t)
{
    const Field text = field(Version);
    const char *point =
        text.size ? static_cast<const char *>(std::memchr(text.data, '.', size_t(text.size)))
                  : nullptr;
    qint64 major = 0, minor = 0;
    bool majorOk = false, minorOk = false;
    if (point && plainDigits(text.data, point - text.data, 3, &major) &&
        plainDigits(point + 1, text.data + text.size - point - 1, 3, &minor)) {
        majorOk = minorOk = true;
    } else {
        const QStringList parts = text.text().split(QLatin1Char('.'));
        if (parts.size() == 2) {
            major = parts.at(0).toUInt(&majorOk);
            minor = parts.at(1).toUInt(&minorOk);
        }
    }
    majorOk = majorOk && major < 256;
    minorOk = minorOk && minor < 256;
    t->versionMajor = quint8(major);
    t->versionMinor = quint8(minor);
    if (!majorOk || !minorOk)
        fail(Version, "MAJOR.MINOR such as 1.6");
}

void RowReader::manufactureDate(Telemetry *t)
{
    // The packed bits as they were: the year's seven bits, a month and a day of up to
    // four and five bits, whether or not a calendar has that day.
    const Field text = field(ManufactureDate);
    qint64 parts[3] = {};
    bool dateOk = text.size == 10 && text.data[4] == '-' && text.data[7] == '-' &&
                  plainDigits(text.data, 4, 4, &parts[0]) &&
                  plainDigits(text.data + 5, 2, 2, &parts[1]) &&
                  plainDigits(text.data + 8, 2, 2, &parts[2]);
    if (!dateOk) {
        const QStringList date = text.text().split(QLatin1Char('-'));
        dateOk = date.size() == 3 && date.at(0).size() == 4 && date.at(1).size() == 2 &&
                 date.at(2).size() == 2;
        for (int i = 0; dateOk && i < 3; ++i)
            parts[i] = date.at(i).toInt(&dateOk);
    }
    dateOk = dateOk && parts[0] >= 1980 && parts[0] <= 2107 && parts[1] >= 0 && parts[1] <= 15 &&
             parts[2] >= 0 && parts[2] <= 31;
    if (dateOk)
        t->manufactureDate = quint16((parts[0] - 1980) << 9 | parts[1] << 5 | parts[2]);
    else
        fail(ManufactureDate, "YYYY-MM-DD from 1980 to 2107");
}

bool RowReader::read(TelemetryRecord *record)
{
    static const NameCodes models(&DisplayText::model);
    static const NameCodes cellTypes(&DisplayText::cellType);

    const std::optional<qint64> time = parseRecordTime(field(Time).data, field(Time).size);
    if (!time)
        return fail(Time, "a UTC time such as 2026-12-07T16:58:03.123Z");
    record->timeMs = *time;

    Telemetry &t = record->telemetry;
    t = Telemetry();
    if (field(Layout).is('1'))
        t.layout = TelemetryLayout::Type1;
    else if (!field(Layout).is('2'))
        return fail(Layout, "1 or 2");
    const bool extended = t.hasExtendedFields();
    t.cellCount = extended ? Telemetry::MaxCells : 9;
    for (int cell = 0; cell < Telemetry::MaxCells; ++cell) {
        if (cell < t.cellCount)
            t.cellMillivolts[size_t(cell)] = integer<quint16>(Cell1 + cell);
        else
            absent(Cell1 + cell);
    }
    t.batteryMillivolts = integer<quint16>(Battery);
    t.packMillivolts = integer<quint16>(Pack);
    t.currentMilliamps = integer<qint32>(Current);
    t.stateOfCharge = integer<quint8>(Soc);
    t.ntc1 = tenths(Ntc1);
    t.ntc2 = tenths(Ntc2);
    if (extended)
        t.ntc3 = tenths(Ntc3);
    else
        absent(Ntc3);
    t.selfDischargeNtc = tenths(SelfDischarge);
    t.mosfetNtc = tenths(Mosfet);
    t.cycleCount = integer<quint16>(Cycles);
    t.bqStatus = quint8(bqStatus());
    t.systemState = integer<quint8>(SystemState);
    t.bmsState = integer<quint8>(BmsState);
    for (int bit = 0; bit < ProtectionFlagCount; ++bit) {
        if (!extended)
            absent(FirstFlag + bit);
        else if (field(FirstFlag + bit).is('1'))
            t.protectionFlags |= quint8(1 << bit);
        else if (!field(FirstFlag + bit).is('0'))
            fail(FirstFlag + bit, "0 or 1");
    }
    version(&t);
    t.model = byName(Model, models);
    t.cellType = byName(CellType, cellTypes);
    manufactureDate(&t);
    return error.isEmpty();
}

// Reads one flat JSON object whose keys are the record's columns, each once, with a
// text, a number or null for each: the writer's rows, also with the keys in another
// order, with spaces, or with escaped texts, as jq and friends write them again. It
// gives up on anything else (another key, true, a nested value, an exponent, a number
// whose text QJsonDocument would write otherwise, a surrogate, broken UTF-8, a malformed
// line), which then goes to QJsonDocument.
class JsonRowScanner
{
public:
    // Undone escapes go to unescaped, which has room for the line. keyOrder holds the
    // columns in the order of the last line's keys: a file that a tool rewrote has them
    // in its own order, the same on every line.
    JsonRowScanner(const char *begin, const char *end, char *unescaped,
                   std::array<qint8, RecordColumns::Count> *keyOrder)
        : at(begin), end(end), out(unescaped), keyOrder(*keyOrder)
    {}

    bool scan(std::array<Field, RecordColumns::Count> *fields);

private:
    void skipSpace()
    {
        while (at != end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r'))
            ++at;
    }
    bool take(char c)
    {
        skipSpace();
        if (at == end || *at != c)
            return false;
        ++at;
        return true;
    }
    bool key(int index, int *column);
    bool string(Field *field);
    bool escape();
    bool utf8Character();
    bool number(Field *field);

    const char *at;
    const char *end;
    char *out;
    std::array<qint8, RecordColumns::Count> &keyOrder;
};

bool JsonRowScanner::scan(std::array<Field, RecordColumns::Count> *fields)
{
    static_assert(RecordColumns::Count <= 64, "one bit per column");
    constexpr quint64 AllColumns = (quint64(1) << RecordColumns::Count) - 1;
    quint64 seen = 0;
    int keys = 0;
    if (!take('{'))
        return false;
    do {
        skipSpace();
        int column = 0;
        if (!key(keys++, &column) || seen & quint64(1) << column || !take(':'))
            return false;
        seen |= quint64(1) << column;
        skipSpace();
        Field &field = (*fields)[size_t(column)];
        if (at == end)
            return false;
        if (*at == '"') {
            if (!string(&field))
                return false;
        } else if (*at == 'n') {
            if (end - at < 4 || std::memcmp(at, "null", 4) != 0)
                return false;
            at += 4;
            field = Field();
        } else if (!number(&field)) {
            return false;
        }
    } while (take(','));
    if (!take('}'))
        return false;
    skipSpace();
    return at == end && seen == AllColumns;
}

bool JsonRowScanner::key(int index, int *column)
{
    using Name = std::pair<std::string_view, int>;
    static const auto names = [] {
        std::array<std::string_view, RecordColumns::Count> names;
        for (int i = 0; i < RecordColumns::Count; ++i)
            names[size_t(i)] = RecordColumns::Names[i];
        return names;
    }();
    static const auto sorted = [] {
        std::array<Name, RecordColumns::Count> sorted;
        for (int i = 0; i < RecordColumns::Count; ++i)
            sorted[size_t(i)] = {names[size_t(i)], i};
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }();
    if (at == end || *at != '"' || index >= RecordColumns::Count)
        return false;
    const char *begin = ++at;
    while (at != end && *at != '"') {
        if (*at == '\\' || uchar(*at) < 0x20 || uchar(*at) >= 0x80)
            return false;
        ++at;
    }
    if (at == end)
        return false;
    const std::string_view name(begin, size_t(at - begin));
    ++at;
    qint8 &expected = keyOrder[size_t(index)];
    if (name != names[size_t(expected)]) {
        const auto found = std::lower_bound(sorted.begin(), sorted.end(), Name(name, -1));
        if (found == sorted.end() || found->first != name)
            return false;
        expected = qint8(found->second);
    }
    *column = expected;
    return true;
}

bool JsonRowScanner::string(Field *field)
{
    const char *begin = ++at;
    char *copy = nullptr; // where the text goes once an escape is undone
    for (;;) {
        if (at == end)
            return false;
        const uchar c = uchar(*at);
        if (c == '"')
            break;
        if (c == '\\') {
            if (!copy) {
                copy = out;
                std::memcpy(out, begin, size_t(at - begin));
                out += at - begin;
            }
            if (!escape())
                return false;
            continue;
        }
        const char *character = at;
        if (c < 0x20)
            return false;
        if (c < 0x80)
            ++at;
        else if (!utf8Character())
            return false;
        if (copy) {
            std::memcpy(out, character, size_t(at - character));
            out += at - character;
        }
    }
    *field = copy ? Field{copy, out - copy} : Field{begin, at - begin};
    ++at;
    return true;
}

// Characters that UTF-8 conversions treat in their own ways: noncharacters (U+FFFE,
// U+FDD0...) and the byte order mark, which QJsonDocument drops at the start of a text
// but keeps elsewhere. QJsonDocument decides about these.
bool isAmbiguousCharacter(uint codePoint)
{
    return (codePoint & 0xFFFE) == 0xFFFE || (codePoint >= 0xFDD0 && codePoint <= 0xFDEF) ||
           codePoint == 0xFEFF;
}

// One character beyond ASCII in strict UTF-8: no overlong form, no surrogate, nothing
// past U+10FFFF.
bool JsonRowScanner::utf8Character()
{
    const uchar lead = uchar(*at);
    int length = 0;
    uint codePoint = 0;
    uchar low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return false;
    }
    if (end - at < length)
        return false;
    for (int i = 1; i < length; ++i) {
        const uchar c = uchar(at[i]);
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return false;
        codePoint = codePoint << 6 | (c & 0x3F);
    }
    if (isAmbiguousCharacter(codePoint))
        return false;
    at += length;
    return true;
}

// Each escape writes at most as many bytes as it takes.
bool JsonRowScanner::escape()
{
    if (end - at < 2)
        return false;
    const char c = at[1];
    at += 2;
    static const char Escaped[] = "\"\\/bfnrt";
    static const char Meant[] = "\"\\/\b\f\n\r\t";
    if (const char *known = c ? std::strchr(Escaped, c) : nullptr) {
        *out++ = Meant[known - Escaped];
        return true;
    }
    if (c != 'u' || end - at < 4)
        return false;
    uint unit = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigit(at[i]);
        if (digit < 0)
            return false;
        unit = unit << 4 | uint(digit);
    }
    at += 4;
    if ((unit >= 0xD800 && unit <= 0xDFFF) || isAmbiguousCharacter(unit))
        return false;
    if (unit < 0x80) {
        *out++ = char(unit);
    } else if (unit < 0x800) {
        *out++ = char(0xC0 | unit >> 6);
        *out++ = char(0x80 | (unit & 0x3F));
    } else {
        *out++ = char(0xE0 | unit >> 12);
        *out++ = char(0x80 | (unit >> 6 & 0x3F));
        *out++ = char(0x80 | (unit & 0x3F));
    }
    return true;
}

// Whole numbers of up to 15 digits and numbers with one decimal, as the writer writes
// them; the field holds the text that QJsonDocument's double gives back, as a part of
// the number's own text: "25.0" is "25", "-0" is "0".
bool JsonRowScanner::number(Field *field)
{
    const char *begin = at;
    const bool negative = *at == '-';
    at += negative;
    const char *digits = at;
    while (at != end && isDigit(*at))
        ++at;
    const qsizetype wholeDigits = at - digits;
    if (wholeDigits == 0 || (*digits == '0' && wholeDigits > 1) || wholeDigits > 15)
        return false;
    const char *wholeEnd = at;
    char decimal = '0';
    if (at != end && *at == '.') {
        if (end - at < 2 || !isDigit(at[1]) || wholeDigits > 14)
            return false;
        decimal = at[1];
        at += 2;
    }
    if (at != end && (isDigit(*at) || *at == '.' || *at == 'e' || *at == 'E'))
        return false;
    if (decimal != '0')
        *field = {begin, at - begin};
    else if (negative && wholeDigits == 1 && *digits == '0')
        *field = {digits, 1};
    else
        *field = {begin, wholeEnd - begin};
    return true;
}

bool isBlank(const char *text, qsizetype size)
{
    // What QByteArray::trimmed() takes away.
    for (qsizetype i = 0; i < size; ++i)
        if (text[i] != ' ' && (text[i] < '\t' || text[i] > '\r'))
            return false;
    return true;
}

} // namespace

struct RecordReader::Fields
{
    std::array<Field, RecordColumns::Count> at;
    // The texts of a row that went through QString, which the fields point into: room
    // for every column is reserved first.
    std::vector<QString> decoded;
    std::vector<QByteArray> texts;

    void keepDecoded(int column, const QString &text)
    {
        decoded.push_back(text);
        texts.push_back(text.toUtf8());
        at[size_t(column)] = {texts.back().constData(), texts.back().size(), &decoded.back()};
    }
};

namespace {

int codeOf(char c)
{
    return uchar(c);
}

int codeOf(QChar c)
{
    return c.unicode();
}

// Splits a row with quotes as RFC 4180 has them, undoing them in place (a field only
// ever gets shorter), on bytes or on the row decoded.
template <typename Char, typename Add> void splitQuotedCsv(Char *begin, Char *end, Add add)
{
    Char *out = begin;
    Char *fieldStart = out;
    bool quoted = false;
    for (const Char *c = begin; c != end; ++c) {
        if (quoted) {
            if (codeOf(*c) != '"')
                *out++ = *c;
            else if (c + 1 != end && codeOf(c[1]) == '"')
                *out++ = *++c;
            else
                quoted = false;
        } else if (codeOf(*c) == '"') {
            quoted = true;
        } else if (codeOf(*c) == ',') {
            add(fieldStart, out);
            fieldStart = out;
        } else {
            *out++ = *c;
        }
    }
    add(fieldStart, out);
}

} // namespace

RecordReader::RecordReader(QIODevice *device) : device(device)
{
    std::iota(jsonKeyOrder.begin(), jsonKeyOrder.end(), 0);
}

bool RecordReader::fail(const QString &message)
{
    error = QStringLiteral("line %1: %2").arg(lineNumber).arg(message);
    return false;
}

bool RecordReader::readBlock()
{
    // A device that is not open ends the data without a warning, as its atEnd() did.
    if (!device->isReadable())
        return false;
    // What is left of the last block moves to the front.
    buffer.remove(0, int(lineStart));
    lineStart = 0;
    const qsizetype kept = buffer.size();
    buffer.resize(int(kept + BlockSize));
    const qint64 read = device->read(buffer.data() + kept, BlockSize);
    buffer.resize(int(kept + std::max<qint64>(read, 0)));
    return read > 0;
}

bool RecordReader::readLine(Line *line)
{
    qsizetype lineEnd = -1;
    for (;;) {
        const char *from = buffer.constData() + lineStart + searched;
        const qsizetype size = buffer.size() - lineStart - searched;
        if (const void *found = std::memchr(from, '\n', size_t(size))) {
            lineEnd = static_cast<const char *>(found) - buffer.constData();
            break;
        }
        searched += size;
        if (!readBlock())
            break;
    }
    qsizetype size = (lineEnd < 0 ? buffer.size() : lineEnd) - lineStart;
    if (lineEnd < 0 && size == 0)
        return false;
    char *const begin = buffer.data() + lineStart;
    lineStart += size + (lineEnd < 0 ? 0 : 1);
    searched = 0;
    ++lineNumber;
    while (size > 0 && (begin[size - 1] == '\r' || begin[size - 1] == '\n'))
        --size;
    *line = {begin, size};
    return true;
}

bool RecordReader::readFirstLine(Line *line)
{
    if (!readLine(line))
        return false;
    if (startsWithByteOrderMark(line->data, line->size)) {
        // spreadsheets save CSV with a byte order mark
        line->data += 3;
        line->size -= 3;
    }
    if (line->size > 0 && line->data[0] == '{') {
        recordFormat = RecordFormat::JsonLines;
        return true;
    }
    static const QByteArray header = csvHeaderRow().chopped(1);
    if (line->size != header.size() || std::memcmp(line->data, header.constData(), header.size()))
        return fail(QStringLiteral("neither the CSV header (time,port,layout,...) nor a JSON "
                                   "object"));
    recordFormat = RecordFormat::Csv;
    return readLine(line);
}

const QString &RecordReader::portText(const char *data, qsizetype size)
{
    if (lastPortBytes.isNull() || lastPortBytes.size() != size ||
        (size && std::memcmp(lastPortBytes.constData(), data, size_t(size)) != 0)) {
        lastPortBytes = QByteArray(data, int(size));
        lastPort = size ? textOf(data, size) : QString();
    }
    return lastPort;
}

bool RecordReader::next(TelemetryRecord *record)
{
    if (hasError())
        return false;
    Line line;
    if (!recordFormat) {
        if (!readFirstLine(&line))
            return false;
    } else if (!readLine(&line)) {
        return false;
    }
    while (isBlank(line.data, line.size))
        if (!readLine(&line))
            return false;

    Fields fields;
    const bool split =
        recordFormat == RecordFormat::Csv ? splitCsv(line, &fields) : splitJson(line, &fields);
    if (!split)
        return false;
    RowReader row(fields.at);
    if (!row.read(record))
        return fail(row.error);
    const Field port = fields.at[Port];
    record->port = port.decoded ? *port.decoded : portText(port.data, port.size);
    return true;
}

bool RecordReader::splitCsv(Line line, Fields *fields)
{
    const qint64 firstLine = lineNumber;
    // The row's text used to go through QString::fromUtf8(), which drops a byte order
    // mark at its start.
    if (startsWithByteOrderMark(line.data, line.size)) {
        line.data += 3;
        line.size -= 3;
    }
    int count = 0;
    const auto add = [fields, &count](const char *begin, const char *end) {
        if (count < RecordColumns::Count)
            fields->at[size_t(count)] = {begin, end - begin};
        ++count;
    };

    // Most rows hold no quote: their fields stay where they are.
    const char *fieldStart = line.data;
    const char *at = line.data;
    for (const char *end = line.data + line.size; at != end && *at != '"'; ++at) {
        if (*at == ',') {
            add(fieldStart, at);
            fieldStart = at + 1;
        }
    }
    if (at == line.data + line.size) {
        add(fieldStart, at);
    } else {
        count = 0;
        const auto quotesIn = [](const Line &text) {
            return std::count(text.data, text.data + text.size, '"');
        };
        qsizetype quotes = quotesIn(line);
        if (quotes % 2) {
            // A quoted field may hold a line break: the row then goes on on the next line.
            joinedLines = QByteArray(line.data, int(line.size));
            while (quotes % 2) {
                Line more;
                if (!readLine(&more)) {
                    lineNumber = firstLine;
                    return fail(QStringLiteral("a quoted field is not closed"));
                }
                joinedLines += '\n';
                joinedLines.append(more.data, int(more.size));
                quotes += quotesIn(more);
            }
            line = {joinedLines.data(), joinedLines.size()};
        }
        if (std::none_of(line.data, line.data + line.size, [](char c) { return c & 0x80; })) {
            splitQuotedCsv(line.data, line.data + line.size, add);
        } else {
            // A quote may stand within a broken UTF-8 sequence, so the row is decoded
            // first and then split, as it always was.
            QString text = textOf(line.data, line.size);
            fields->decoded.reserve(RecordColumns::Count);
            fields->texts.reserve(RecordColumns::Count);
            splitQuotedCsv(text.data(), text.data() + text.size(), [&](QChar *begin, QChar *end) {
                if (count < RecordColumns::Count)
                    fields->keepDecoded(count, QString(begin, int(end - begin)));
                ++count;
            });
        }
    }
    if (count != RecordColumns::Count) {
        lineNumber = firstLine;
        return fail(QStringLiteral("%1 fields where the header has %2")
                        .arg(count)
                        .arg(RecordColumns::Count));
    }
    return true;
}

bool RecordReader::splitJson(Line line, Fields *fields)
{
    if (unescaped.size() < line.size)
        unescaped.resize(int(line.size));
    JsonRowScanner scanner(line.data, line.data + line.size, unescaped.data(), &jsonKeyOrder);
    return scanner.scan(&fields->at) || splitJsonDocument(line, fields);
}

bool RecordReader::splitJsonDocument(Line line, Fields *fields)
{
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(line.data, int(line.size)), &parseError);
    if (!document.isObject())
        return fail(parseError.error != QJsonParseError::NoError
                        ? QStringLiteral("not JSON: %1 at column %2")
                              .arg(parseError.errorString())
                              .arg(parseError.offset + 1)
                        : QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();
    fields->decoded.reserve(RecordColumns::Count);
    fields->texts.reserve(RecordColumns::Count);
    for (int column = 0; column < RecordColumns::Count; ++column) {
        const char *name = RecordColumns::Names[column];
        const QJsonValue value = object.value(QLatin1String(name));
        QString text;
        switch (value.type()) {
        case QJsonValue::Undefined:
            return fail(QStringLiteral("no key \"%1\"").arg(QLatin1String(name)));
        case QJsonValue::Null:
            break;
        case QJsonValue::String:
            text = value.toString();
            break;
        case QJsonValue::Double: {
            // Back to the text a CSV row would hold, so both formats go through one check.
            const double number = value.toDouble();
            const bool whole = qAbs(number) < 1e15 && number == double(qint64(number));
            text = whole ? QString::number(qint64(number)) : QString::number(number, 'g', 15);
            break;
        }
        default:
            return fail(QStringLiteral("\"%1\" is neither a number, a text nor null")
                            .arg(QLatin1String(name)));
        }
        fields->keepDecoded(column, text);
    }
    return true;
}
