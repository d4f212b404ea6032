#include "record/recordrowreader.h"

#include "protocol/displaytext.h"

#include <QStringList>
#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

using namespace RecordColumns;

// Kept within this file, the reader's steps are compiled into the one function that
// reads a row, which the trends window calls 36,000 times for an hour of frames.
namespace {

// Up to maxDigits decimal digits and nothing else.
bool plainDigits(const char *text, qsizetype size, qsizetype maxDigits, qint64 *value)
{
    if (size < 1 || size > maxDigits)
        return false;
    qint64 number = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (!isDecimalDigit(text[i]))
            return false;
        number = number * 10 + (text[i] - '0');
    }
    *value = number;
    return true;
}

// "-1500": a whole number as the writer writes it.
bool plainWholeNumber(RecordField field, qint64 *value)
{
    const bool negative = field.size > 0 && *field.data == '-';
    if (!plainDigits(field.data + negative, field.size - negative, 18, value))
        return false;
    if (negative)
        *value = -*value;
    return true;
}

// "-1.2" or "25": degrees as the writer writes them, in tenths.
bool plainTenths(RecordField field, qint64 *tenths)
{
    const bool negative = field.size > 0 && *field.data == '-';
    const char *digits = field.data + negative;
    const qsizetype size = field.size - negative;
    const bool decimal = size >= 3 && digits[size - 2] == '.';
    qint64 whole = 0;
    if (!plainDigits(digits, decimal ? size - 2 : size, 9, &whole) ||
        (decimal && !isDecimalDigit(digits[size - 1])))
        return false;
    *tenths = whole * 10 + (decimal ? digits[size - 1] - '0' : 0);
    if (negative)
        *tenths = -*tenths;
    return true;
}

// "0x1f": a byte in hex as the writer writes it.
bool plainHexByte(RecordField field, uint *value)
{
    if (field.size < 3 || field.size > 4 || field.data[0] != '0' || field.data[1] != 'x')
        return false;
    uint byte = 0;
    for (qsizetype i = 2; i < field.size; ++i) {
        const int digit = hexDigitValue(field.data[i]);
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

    bool find(RecordField field, quint8 *code) const
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

class RowReader
{
public:
    explicit RowReader(const RecordFields &fields) : fields(fields) {}

    bool read(TelemetryRecord *record);
    QString error;
    int failedColumn = -1;

private:
    RecordField field(int column) const { return fields[size_t(column)]; }
    bool fail(int column, const QString &expected)
    {
        if (error.isEmpty()) {
            error = QStringLiteral("%1: \"%2\" is not %3")
                        .arg(QLatin1String(Names[column]), field(column).text(), expected);
            failedColumn = column;
        }
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
        if (field(column).size != 0 && error.isEmpty()) {
            error = QStringLiteral("%1: \"%2\" where the layout carries nothing")
                        .arg(QLatin1String(Names[column]), field(column).text());
            failedColumn = column;
        }
    }
    quint8 byName(int column, const NameCodes &codes);
    uint bqStatus();
    void version(Telemetry *t);
    void manufactureDate(Telemetry *t);

    const RecordFields &fields;
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
    const RecordField text = field(Version);
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
    const RecordField text = field(ManufactureDate);
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

} // namespace

bool readRecordRow(const RecordFields &fields, TelemetryRecord *record, RecordRowError *error)
{
    RowReader row(fields);
    if (row.read(record))
        return true;
    *error = {row.error, row.failedColumn};
    return false;
}
