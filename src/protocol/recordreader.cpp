#include "protocol/recordreader.h"

#include "protocol/displaytext.h"

#include <QHash>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <limits>
#include <type_traits>

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

// The names the window shows, back to their codes: the lowest code wins where several
// share the fallback text ("BMS-XX", "XX"), which the window shows the same way.
QHash<QString, quint8> codesByText(QString (*text)(quint8))
{
    QHash<QString, quint8> codes;
    for (int code = 255; code >= 0; --code)
        codes.insert(text(quint8(code)), quint8(code));
    return codes;
}

// Turns the texts of one row into a record, naming the first column that does not fit.
class RowReader
{
public:
    explicit RowReader(const QStringList &fields) : fields(fields) {}

    bool read(TelemetryRecord *record);
    QString error;

private:
    const QString &field(int column) const { return fields.at(column); }
    bool fail(int column, const QString &expected)
    {
        if (error.isEmpty())
            error = QStringLiteral("%1: \"%2\" is not %3")
                        .arg(QLatin1String(RecordColumns::Names[column]), field(column), expected);
        return false;
    }
    bool fail(int column, const char *expected) { return fail(column, QLatin1String(expected)); }
    template <typename T> T integer(int column)
    {
        bool ok = false;
        const qint64 value = field(column).toLongLong(&ok);
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
        if (!field(column).isEmpty() && error.isEmpty())
            error = QStringLiteral("%1: \"%2\" where the layout carries nothing")
                        .arg(QLatin1String(RecordColumns::Names[column]), field(column));
    }
    quint8 byName(int column, QString (*text)(quint8));

    const QStringList &fields;
};

qint16 RowReader::tenths(int column)
{
    const QString &text = field(column);
    const int point = text.indexOf(QLatin1Char('.'));
    bool ok = point < 0 || point == text.size() - 2;
    const QString digits = point < 0 ? text + QLatin1Char('0') : QString(text).remove(point, 1);
    const int value = ok ? digits.toInt(&ok) : 0;
    if (ok && text.at(text.size() - 1).isDigit() && value >= -32768 && value <= 32767)
        return qint16(value);
    fail(column, "degrees with at most one decimal");
    return 0;
}

quint8 RowReader::byName(int column, QString (*text)(quint8))
{
    static const QHash<QString, quint8> models = codesByText(&DisplayText::model);
    static const QHash<QString, quint8> cellTypes = codesByText(&DisplayText::cellType);
    const auto &codes = text == &DisplayText::model ? models : cellTypes;
    const auto found = codes.constFind(field(column));
    if (found != codes.constEnd())
        return found.value();
    fail(column, "a name the window shows");
    return 0;
}

bool RowReader::read(TelemetryRecord *record)
{
    const std::optional<qint64> time = parseRecordTime(field(Time));
    if (!time)
        return fail(Time, "a UTC time such as 2026-12-07T16:58:03.123Z");
    record->timeMs = *time;
    record->port = field(Port);

    Telemetry &t = record->telemetry;
    t = Telemetry();
    if (field(Layout) == QLatin1String("1"))
        t.layout = TelemetryLayout::Type1;
    else if (field(Layout) != QLatin1String("2"))
        return fail(Layout, "1 or 2");
    const bool extended = t.hasExtendedFields();
    t.cellCount = extended ? Telemetry::MaxCells : 9;
    for (int cell = 0; cell < Telemetry::MaxCells; ++cell) {
        if (cell < t.cellCount)
            t.cellMillivolts[cell] = integer<quint16>(Cell1 + cell);
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

    bool ok = field(BqStatus).startsWith(QLatin1String("0x"));
    const uint bq = ok ? field(BqStatus).mid(2).toUInt(&ok, 16) : 0;
    if (!ok || bq > 255)
        fail(BqStatus, "a byte in hex such as 0x1f");
    t.bqStatus = quint8(bq);
    t.systemState = integer<quint8>(SystemState);
    t.bmsState = integer<quint8>(BmsState);
    for (int bit = 0; bit < ProtectionFlagCount; ++bit) {
        if (!extended) {
            absent(FirstFlag + bit);
        } else if (field(FirstFlag + bit) == QLatin1String("1")) {
            t.protectionFlags |= quint8(1 << bit);
        } else if (field(FirstFlag + bit) != QLatin1String("0")) {
            fail(FirstFlag + bit, "0 or 1");
        }
    }

    const QStringList version = field(Version).split(QLatin1Char('.'));
    bool majorOk = false, minorOk = false;
    if (version.size() == 2) {
        const uint major = version.at(0).toUInt(&majorOk);
        const uint minor = version.at(1).toUInt(&minorOk);
        majorOk = majorOk && major < 256;
        minorOk = minorOk && minor < 256;
        t.versionMajor = quint8(major);
        t.versionMinor = quint8(minor);
    }
    if (!majorOk || !minorOk)
        fail(Version, "MAJOR.MINOR such as 1.6");
    t.model = byName(Model, &DisplayText::model);
    t.cellType = byName(CellType, &DisplayText::cellType);

    // The packed bits as they were: the year's seven bits, a month and a day of up to
    // four and five bits, whether or not a calendar has that day.
    const QStringList date = field(ManufactureDate).split(QLatin1Char('-'));
    bool dateOk = date.size() == 3 && date.at(0).size() == 4 && date.at(1).size() == 2 &&
                  date.at(2).size() == 2;
    int parts[3] = {};
    for (int i = 0; dateOk && i < 3; ++i)
        parts[i] = date.at(i).toInt(&dateOk);
    dateOk = dateOk && parts[0] >= 1980 && parts[0] <= 2107 && parts[1] >= 0 && parts[1] <= 15 &&
             parts[2] >= 0 && parts[2] <= 31;
    if (!dateOk)
        fail(ManufactureDate, "YYYY-MM-DD from 1980 to 2107");
    t.manufactureDate = quint16((parts[0] - 1980) << 9 | parts[1] << 5 | parts[2]);
    return error.isEmpty();
}

} // namespace

RecordReader::RecordReader(QIODevice *device) : device(device) {}

bool RecordReader::fail(const QString &message)
{
    error = QStringLiteral("line %1: %2").arg(lineNumber).arg(message);
    return false;
}

bool RecordReader::readLine(QByteArray *line)
{
    if (device->atEnd())
        return false;
    *line = device->readLine();
    ++lineNumber;
    while (line->endsWith('\n') || line->endsWith('\r'))
        line->chop(1);
    return true;
}

bool RecordReader::readFirstLine(QByteArray *line)
{
    if (!readLine(line))
        return false;
    if (line->startsWith("\xEF\xBB\xBF")) // spreadsheets save CSV with a byte order mark
        line->remove(0, 3);
    if (line->startsWith('{')) {
        recordFormat = RecordFormat::JsonLines;
        return true;
    }
    if (*line + '\n' != csvHeaderRow())
        return fail(QStringLiteral("neither the CSV header (time,port,layout,...) nor a JSON "
                                   "object"));
    recordFormat = RecordFormat::Csv;
    return readLine(line);
}

bool RecordReader::next(TelemetryRecord *record)
{
    if (hasError())
        return false;
    QByteArray line;
    if (!recordFormat) {
        if (!readFirstLine(&line))
            return false;
    } else if (!readLine(&line)) {
        return false;
    }
    while (line.trimmed().isEmpty())
        if (!readLine(&line))
            return false;

    QStringList fields;
    const bool split =
        recordFormat == RecordFormat::Csv ? splitCsv(line, &fields) : splitJson(line, &fields);
    if (!split)
        return false;
    RowReader row(fields);
    if (!row.read(record))
        return fail(row.error);
    return true;
}

bool RecordReader::splitCsv(QByteArray line, QStringList *fields)
{
    const qint64 firstLine = lineNumber;
    // A quoted field may hold a line break: the row then goes on on the next line.
    while (line.count('"') % 2) {
        QByteArray more;
        if (!readLine(&more)) {
            lineNumber = firstLine;
            return fail(QStringLiteral("a quoted field is not closed"));
        }
        line += '\n' + more;
    }
    const QString text = QString::fromUtf8(line);
    QString current;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c != QLatin1Char('"'))
                current += c;
            else if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                current += text.at(++i);
            else
                quoted = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields->append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    fields->append(current);
    if (fields->size() != RecordColumns::Count) {
        lineNumber = firstLine;
        return fail(QStringLiteral("%1 fields where the header has %2")
                        .arg(fields->size())
                        .arg(RecordColumns::Count));
    }
    return true;
}

bool RecordReader::splitJson(const QByteArray &line, QStringList *fields)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (!document.isObject())
        return fail(parseError.error != QJsonParseError::NoError
                        ? QStringLiteral("not JSON: %1 at column %2")
                              .arg(parseError.errorString())
                              .arg(parseError.offset + 1)
                        : QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();
    for (const char *name : RecordColumns::Names) {
        const QJsonValue value = object.value(QLatin1String(name));
        switch (value.type()) {
        case QJsonValue::Undefined:
            return fail(QStringLiteral("no key \"%1\"").arg(QLatin1String(name)));
        case QJsonValue::Null:
            fields->append(QString());
            break;
        case QJsonValue::String:
            fields->append(value.toString());
            break;
        case QJsonValue::Double: {
            // Back to the text a CSV row would hold, so both formats go through one check.
            const double number = value.toDouble();
            const bool whole = number == double(qint64(number)) && qAbs(number) < 1e15;
            fields->append(whole ? QString::number(qint64(number))
                                 : QString::number(number, 'g', 15));
            break;
        }
        default:
            return fail(QStringLiteral("\"%1\" is neither a number, a text nor null")
                            .arg(QLatin1String(name)));
        }
    }
    return true;
}
