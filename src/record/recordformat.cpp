#include "record/recordformat.h"

#include "protocol/displaytext.h"

#include <QFileInfo>
#include <array>
#include <cstring>

// A recorder keeps up with every board on the line and a converter goes through
// millions of rows, so rows are built byte by byte into one buffer: no QString, no
// arg() and no allocation per field. The texts come from DisplayText all the same,
// looked up once per code.

// clang-format off
const char *const RecordColumns::Names[RecordColumns::Count] = {
    "time", "port", "layout", "cell1_mV", "cell2_mV", "cell3_mV", "cell4_mV", "cell5_mV",
    "cell6_mV", "cell7_mV", "cell8_mV", "cell9_mV", "cell10_mV", "cell11_mV", "cell12_mV",
    "cell13_mV", "cell14_mV", "cell15_mV", "battery_mV", "pack_mV", "current_mA", "soc_pct",
    "ntc1_C", "ntc2_C", "ntc3_C", "self_discharge_C", "mosfet_C", "cycles", "bq_status",
    "system_state", "bms_state", "system_state_text", "bms_state_text", "oc", "sc", "ovb", "ov",
    "uv", "low_temp", "high_temp", "version", "model", "cell_type", "manufacture_date"};
// clang-format on

namespace {

enum CodeTable { SystemStateText, BmsStateText, BqStatusText, ModelText, CellTypeText, Tables };

const QByteArray &codeText(CodeTable table, quint8 code)
{
    using Texts = std::array<std::array<QByteArray, 256>, Tables>;
    static const Texts texts = [] {
        Texts all;
        for (int code = 0; code < 256; ++code) {
            all[SystemStateText][code] = DisplayText::systemState(quint8(code)).toUtf8();
            all[BmsStateText][code] = DisplayText::bmsState(quint8(code)).toUtf8();
            all[BqStatusText][code] = DisplayText::bqStatus(quint8(code)).toUtf8();
            all[ModelText][code] = DisplayText::model(quint8(code)).toUtf8();
            all[CellTypeText][code] = DisplayText::cellType(quint8(code)).toUtf8();
        }
        return all;
    }();
    return texts[table][code];
}

const QByteArray &versionText(quint8 major, quint8 minor)
{
    // A recording holds one board's version row after row.
    thread_local int lastKey = -1;
    thread_local QByteArray text;
    const int key = major << 8 | minor;
    if (key != lastKey) {
        text = DisplayText::version(major, minor).toUtf8();
        lastKey = key;
    }
    return text;
}

const QByteArray &portText(const QString &port)
{
    thread_local QString lastPort;
    thread_local QByteArray text;
    if (port != lastPort || text.isNull()) {
        lastPort = port;
        text = port.toUtf8();
    }
    return text;
}

char *writeDigits(char *end, quint64 value)
{
    do {
        *--end = char('0' + value % 10);
        value /= 10;
    } while (value);
    return end;
}

void appendNumber(QByteArray &out, qint64 value)
{
    char digits[24];
    char *end = digits + sizeof digits;
    char *begin = writeDigits(end, value < 0 ? 0 - quint64(value) : quint64(value));
    if (value < 0)
        *--begin = '-';
    out.append(begin, int(end - begin));
}

void appendTwoDigits(char *at, int value)
{
    at[0] = char('0' + value / 10 % 10);
    at[1] = char('0' + value % 10);
}

void appendTenths(QByteArray &out, qint16 tenths)
{
    char digits[16];
    char *end = digits + sizeof digits;
    const int magnitude = tenths < 0 ? -int(tenths) : int(tenths);
    *--end = char('0' + magnitude % 10);
    *--end = '.';
    char *begin = writeDigits(end, quint64(magnitude / 10));
    if (tenths < 0)
        *--begin = '-';
    out.append(begin, int(digits + sizeof digits - begin));
}

// Year, month and day as the board packed them, month 13 and day 0 included.
void appendPackedDate(QByteArray &out, quint16 packed)
{
    char text[10];
    const int year = 1980 + (packed >> 9);
    appendTwoDigits(text, year / 100);
    appendTwoDigits(text + 2, year % 100);
    text[4] = '-';
    appendTwoDigits(text + 5, (packed >> 5) & 0x0F);
    text[7] = '-';
    appendTwoDigits(text + 8, packed & 0x1F);
    out.append(text, sizeof text);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (Howard Hinnant's
// algorithms): exact for any year, unlike a detour through QDateTime, and quicker.
qint64 daysFromCivil(qint64 y, int m, int d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(qint64 z, qint64 *year, int *month, int *day)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    *day = int(doy - (153 * mp + 2) / 5 + 1);
    *month = int(mp < 10 ? mp + 3 : mp - 9);
    *year = yoe + era * 400 + (*month <= 2);
}

bool needsCsvQuotes(const QByteArray &text)
{
    for (const char c : text)
        if (c == ',' || c == '"' || c == '\n' || c == '\r')
            return true;
    return false;
}

void appendCsvText(QByteArray &out, const QByteArray &text)
{
    if (!needsCsvQuotes(text)) {
        out.append(text);
        return;
    }
    out.append('"');
    for (const char c : text) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

// One row of either format; each value first closes the one before it.
template <bool Json> class RowBuilder
{
public:
    explicit RowBuilder(QByteArray &out) : out(out)
    {
        if (Json)
            out.append('{');
    }
    void number(qint64 value)
    {
        next();
        appendNumber(out, value);
    }
    void tenths(qint16 value)
    {
        next();
        appendTenths(out, value);
    }
    void text(const QByteArray &value)
    {
        next();
        Json ? appendJsonString(out, value) : appendCsvText(out, value);
    }
    void time(qint64 utcMs)
    {
        next();
        quote();
        appendRecordTime(out, utcMs);
        quote();
    }
    void date(quint16 packed)
    {
        next();
        quote();
        appendPackedDate(out, packed);
        quote();
    }
    void absent()
    {
        next();
        if (Json)
            out.append("null", 4);
    }
    void end() { out.append(Json ? '}' : '\n'); }

private:
    void quote()
    {
        if (Json)
            out.append('"');
    }
    void next()
    {
        if (Json) {
            const char *name = RecordColumns::Names[column];
            out.append(column ? ",\"" : "\"");
            out.append(name, int(std::strlen(name)));
            out.append("\":", 2);
        } else if (column) {
            out.append(',');
        }
        ++column;
    }

    QByteArray &out;
    int column = 0;
};

// The one place that pairs columns with fields, in column order.
template <typename Row> void emitRecord(Row &row, const TelemetryRecord &record)
{
    const Telemetry &t = record.telemetry;
    const bool extended = t.hasExtendedFields();
    const int cells = qBound(0, t.cellCount, Telemetry::MaxCells);
    row.time(record.timeMs);
    row.text(portText(record.port));
    row.number(int(t.layout));
    for (int cell = 0; cell < Telemetry::MaxCells; ++cell)
        cell < cells ? row.number(t.cellMillivolts[cell]) : row.absent();
    row.number(t.batteryMillivolts);
    row.number(t.packMillivolts);
    row.number(t.currentMilliamps);
    row.number(t.stateOfCharge);
    row.tenths(t.ntc1);
    row.tenths(t.ntc2);
    extended ? row.tenths(t.ntc3) : row.absent();
    row.tenths(t.selfDischargeNtc);
    row.tenths(t.mosfetNtc);
    row.number(t.cycleCount);
    row.text(codeText(BqStatusText, t.bqStatus));
    row.number(t.systemState);
    row.number(t.bmsState);
    row.text(codeText(SystemStateText, t.systemState));
    row.text(codeText(BmsStateText, t.bmsState));
    for (int bit = 0; bit < ProtectionFlagCount; ++bit)
        extended ? row.number((t.protectionFlags >> bit) & 1) : row.absent();
    row.text(versionText(t.versionMajor, t.versionMinor));
    row.text(codeText(ModelText, t.model));
    row.text(codeText(CellTypeText, t.cellType));
    row.date(t.manufactureDate);
    row.end();
}

} // namespace

void appendJsonString(QByteArray &out, const QByteArray &text)
{
    out.append('"');
    for (const char c : text) {
        const auto byte = uchar(c);
        if (byte == '"' || byte == '\\') {
            out.append('\\');
            out.append(c);
        } else if (byte < 0x20) {
            static const char hex[] = "0123456789abcdef";
            const char escaped[] = {'\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 15]};
            out.append(escaped, sizeof escaped);
        } else {
            out.append(c);
        }
    }
    out.append('"');
}

std::optional<RecordFormat> recordFormatForPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("csv"))
        return RecordFormat::Csv;
    if (suffix == QLatin1String("jsonl") || suffix == QLatin1String("ndjson") ||
        suffix == QLatin1String("json"))
        return RecordFormat::JsonLines;
    return std::nullopt;
}

void appendRecordRow(QByteArray &out, const TelemetryRecord &record, RecordFormat format)
{
    if (format == RecordFormat::Csv) {
        RowBuilder<false> row(out);
        emitRecord(row, record);
    } else {
        RowBuilder<true> row(out);
        emitRecord(row, record);
        out.append('\n');
    }
}

QByteArray csvHeaderRow()
{
    QByteArray header;
    for (int column = 0; column < RecordColumns::Count; ++column) {
        if (column)
            header.append(',');
        header.append(RecordColumns::Names[column]);
    }
    header.append('\n');
    return header;
}

QByteArray telemetryRecordJson(const TelemetryRecord &record)
{
    QByteArray json;
    json.reserve(1024);
    RowBuilder<true> object(json);
    emitRecord(object, record);
    return json;
}

void appendRecordTime(QByteArray &out, qint64 utcMs)
{
    constexpr qint64 MsPerDay = 86400000;
    qint64 days = utcMs / MsPerDay;
    qint64 msOfDay = utcMs % MsPerDay;
    if (msOfDay < 0) {
        msOfDay += MsPerDay;
        --days;
    }
    qint64 year;
    int month, day;
    civilFromDays(days, &year, &month, &day);
    if (year < 0 || year > 9999) {
        appendNumber(out, year);
    } else {
        char digits[4];
        appendTwoDigits(digits, int(year / 100));
        appendTwoDigits(digits + 2, int(year % 100));
        out.append(digits, 4);
    }
    char text[20] = {'-', 0, 0, '-', 0, 0, 'T', 0, 0, ':', 0, 0, ':', 0, 0, '.', 0, 0, 0, 'Z'};
    appendTwoDigits(text + 1, month);
    appendTwoDigits(text + 4, day);
    const int ms = int(msOfDay % 1000);
    const int seconds = int(msOfDay / 1000);
    appendTwoDigits(text + 7, seconds / 3600);
    appendTwoDigits(text + 10, seconds / 60 % 60);
    appendTwoDigits(text + 13, seconds % 60);
    text[16] = char('0' + ms / 100);
    appendTwoDigits(text + 17, ms % 100);
    out.append(text, sizeof text);
}

std::optional<qint64> parseRecordTime(const QString &text)
{
    constexpr int Size = 24;
    if (text.size() != Size)
        return std::nullopt;
    // Beyond ASCII nothing can match the pattern: '?' fails it as well.
    char bytes[Size];
    for (int i = 0; i < Size; ++i) {
        const ushort c = text.at(i).unicode();
        bytes[i] = c < 0x80 ? char(c) : '?';
    }
    return parseRecordTime(bytes, Size);
}

std::optional<qint64> parseRecordTime(const char *text, qsizetype size)
{
    // 2026-12-07T16:58:03.123Z
    static const char Pattern[] = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (size != qsizetype(sizeof Pattern - 1))
        return std::nullopt;
    int digits[17];
    int count = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        if (Pattern[i] == 'd') {
            if (c < '0' || c > '9')
                return std::nullopt;
            digits[count++] = c - '0';
        } else if (c != Pattern[i]) {
            return std::nullopt;
        }
    }
    auto number = [&](int first, int n) {
        int value = 0;
        for (int i = first; i < first + n; ++i)
            value = value * 10 + digits[i];
        return value;
    };
    const int year = number(0, 4), month = number(4, 2), day = number(6, 2);
    const int hour = number(8, 2), minute = number(10, 2), second = number(12, 2);
    const int ms = number(14, 3);
    static const int DaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > DaysIn[month - 1] || hour > 23 || minute > 59 ||
        second > 59)
        return std::nullopt;
    const qint64 days = daysFromCivil(year, month, day);
    qint64 y;
    int m, d;
    civilFromDays(days, &y, &m, &d);
    if (m != month || d != day) // 29 February of a common year
        return std::nullopt;
    return ((days * 24 + hour) * 60 + minute) * 60000LL + second * 1000LL + ms;
}
