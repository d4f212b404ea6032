#include "record/recordreader.h"

#include "record/csvquotes.h"
#include "record/jsonrowscanner.h"
#include "record/recordfield.h"
#include "record/recordrowreader.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

// The trends window opens an hour of frames (36,000 rows, 8 MB of CSV or 26 MB of JSON
// Lines) while the user waits, so a row is read where it lies: fields are byte ranges of
// the line, numbers come straight from their digits, and nothing is allocated per field.
// What is not in the writer's own form (a number with spaces or a plus sign, an
// exponent, a key the record does not have, broken UTF-8 in a quoted CSV field) goes the
// general way through QString and QJsonDocument, so that it is taken or refused as ever.

namespace {

// A check's output or a short test run is a few KiB: the first block is small, and each
// block that comes back full doubles the next, up to 64 KiB: small enough that a Cancel
// is seen within a fraction of a millisecond, in a line or a run of NUL bytes of any
// length; large enough that reading costs nothing.
constexpr qint64 FirstBlockSize = 4 * 1024;
constexpr qint64 MaxBlockSize = 64 * 1024;
// A row of 15 cells is some 250 bytes of CSV or 1 KiB of JSON. Anything far longer is
// not a recording (a disk image picked through "All files"), and reading on to a line
// break that may never come would hold the whole file in memory.
constexpr qsizetype MaxLineBytes = 64 * 1024;

bool isBlank(const char *text, qsizetype size)
{
    // What QByteArray::trimmed() takes away.
    for (qsizetype i = 0; i < size; ++i)
        if (text[i] != ' ' && (text[i] < '\t' || text[i] > '\r'))
            return false;
    return true;
}

// A line break that Windows tools write as CR LF. The CRs of a line within a quoted field
// are the field's own.
qsizetype withoutCarriageReturns(const char *text, qsizetype size)
{
    while (size > 0 && text[size - 1] == '\r')
        --size;
    return size;
}

bool allNul(const char *data, qsizetype size)
{
    return size == 0 || (data[0] == '\0' && std::memcmp(data, data + 1, size_t(size - 1)) == 0);
}

// Where the NUL bytes that end [begin, end) begin. A power cut can leave megabytes of
// them: whole stretches are compared at once.
const char *nulTailStart(const char *begin, const char *end)
{
    constexpr qsizetype Stretch = 512;
    while (end - begin >= Stretch && allNul(end - Stretch, Stretch))
        end -= Stretch;
    while (end != begin && end[-1] == '\0')
        --end;
    return end;
}

QString tooLong()
{
    return QStringLiteral("longer than 64 KiB: not a recording");
}

} // namespace

struct RecordReader::Fields
{
    RecordFields at;
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

RecordReader::RecordReader(QIODevice *device) : device(device), blockSize(FirstBlockSize)
{
    std::iota(jsonKeyOrder.begin(), jsonKeyOrder.end(), 0);
}

bool RecordReader::fail(const QString &message)
{
    error = QStringLiteral("line %1: %2").arg(lineNumber).arg(message);
    return false;
}

bool RecordReader::failForGood(qint64 line, const QString &message)
{
    lineNumber = line;
    errorIsFinal = true;
    return fail(message);
}

// A failing disk must not pass for a shorter recording.
bool RecordReader::failReading()
{
    return failForGood(lineNumber + 1, QStringLiteral("read error: %1").arg(device->errorString()));
}

bool RecordReader::endCutShort()
{
    error.clear();
    cutShort = true;
    return false;
}

bool RecordReader::stopRequested()
{
    isStopped = isStopped || (stopFlag && stopFlag->load(std::memory_order_relaxed));
    return isStopped;
}

bool RecordReader::readBlock()
{
    // A device that is not open ends the data without a warning, as its atEnd() did.
    if (!device->isReadable() || stopRequested())
        return false;
    // What is left of the last block, less than a line, moves to the front. The buffer
    // keeps its memory when nothing is left: a pipe hands over a row or less at a time.
    const qsizetype kept = buffer.size() - lineStart;
    if (lineStart > 0) {
        std::memmove(buffer.data(), buffer.constData() + lineStart, size_t(kept));
        lineStart = 0;
    }
    const qint64 read = readMore(kept);
    buffer.resize(int(kept + std::max<qint64>(read, 0)));
    if (read < 0)
        return failReading();
    return read > 0;
}

// Reads a block behind the first kept bytes of the buffer, which is left longer.
qint64 RecordReader::readMore(qsizetype kept)
{
    buffer.resize(int(kept + blockSize));
    const qint64 read = device->read(buffer.data() + kept, blockSize);
    if (read == blockSize)
        blockSize = std::min(2 * blockSize, MaxBlockSize);
    return read;
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
        if (searched > MaxLineBytes)
            return readNulTail(line);
        if (!readBlock()) {
            if (hasError() || isStopped)
                return false;
            break;
        }
    }
    qsizetype size = (lineEnd < 0 ? buffer.size() : lineEnd) - lineStart;
    if (lineEnd < 0 && size == 0)
        return false;
    if (size > MaxLineBytes)
        return failForGood(lineNumber + 1, tooLong());
    char *const begin = buffer.data() + lineStart;
    lineStart += size + (lineEnd < 0 ? 0 : 1);
    searched = 0;
    ++lineNumber;
    lineEnded = lineEnd >= 0;
    nulTail = false;
    if (!lineEnded) {
        const qsizetype kept = nulTailStart(begin, begin + size) - begin;
        nulTail = kept < size;
        size = kept;
    }
    *line = {begin, size};
    return true;
}

// A line that runs on past the limit is still the cut last line when the rest of the data
// is NUL bytes, however many: ext4 leaves them after a power cut in the blocks that the
// file had been given but whose data never reached the disk.
bool RecordReader::readNulTail(Line *line)
{
    const char *begin = buffer.constData() + lineStart;
    const qsizetype kept =
        nulTailStart(begin, buffer.constData() + buffer.size()) - buffer.constData();
    bool tailOfNul = kept - lineStart <= MaxLineBytes;
    while (tailOfNul) {
        if (stopRequested()) {
            buffer.resize(int(kept));
            return false;
        }
        const qint64 read = readMore(kept);
        if (read < 0) {
            buffer.resize(int(kept));
            return failReading();
        }
        if (read == 0)
            break;
        tailOfNul = allNul(buffer.constData() + kept, read);
    }
    buffer.resize(int(kept));
    if (!tailOfNul)
        return failForGood(lineNumber + 1, tooLong());
    qsizetype size = kept - lineStart;
    char *const data = buffer.data() + lineStart;
    lineStart = kept;
    searched = 0;
    ++lineNumber;
    lineEnded = false;
    nulTail = true;
    *line = {data, size};
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
    const qsizetype size = withoutCarriageReturns(line->data, line->size);
    const bool isHeader =
        size == header.size() && std::memcmp(line->data, header.constData(), header.size()) == 0;
    if (isHeader)
        recordFormat = RecordFormat::Csv;
    // Cut short before the first row: there is nothing to read, and nothing is wrong.
    if (!lineEnded && (nulTail || !isHeader) && size <= header.size() &&
        std::memcmp(line->data, header.constData(), size_t(size)) == 0)
        return endCutShort();
    if (!isHeader)
        return fail(QStringLiteral("neither the CSV header (time,port,layout,...) nor a JSON "
                                   "object"));
    return readLine(line);
}

const QString &RecordReader::portText(const char *data, qsizetype size)
{
    if (lastPortBytes.isNull() || lastPortBytes.size() != size ||
        (size && std::memcmp(lastPortBytes.constData(), data, size_t(size)) != 0)) {
        lastPortBytes = QByteArray(data, int(size));
        lastPort = size ? recordFieldText(data, size) : QString();
    }
    return lastPort;
}

bool RecordReader::next(TelemetryRecord *record)
{
    if (hasError() || cutShort || isStopped)
        return false;
    Line line;
    if (!recordFormat) {
        if (!readFirstLine(&line))
            return false;
    } else if (!readLine(&line)) {
        return false;
    }
    while (isBlank(line.data, line.size)) {
        if (nulTail)
            return endCutShort();
        if (!readLine(&line))
            return false;
    }

    Fields fields;
    rowStopsEarly = false;
    const bool split =
        recordFormat == RecordFormat::Csv ? splitCsv(line, &fields) : splitJson(line, &fields);
    RecordRowError rowError;
    if (!split || !readRecordRow(fields.at, record, &rowError)) {
        // A cut leaves the start of a row as it was written: too few fields, the last one
        // short, a JSON object without its end. Only the last line can be cut short.
        rowStopsEarly = rowStopsEarly || (recordFormat == RecordFormat::Csv &&
                                          rowError.column == RecordColumns::ManufactureDate);
        if (!lineEnded && rowStopsEarly && !errorIsFinal)
            return endCutShort();
        return split ? fail(rowError.message) : false;
    }
    const RecordField port = fields.at[RecordColumns::Port];
    record->port = port.decoded ? *port.decoded : portText(port.data, port.size);
    ++records;
    // The row before a tail of NUL bytes is whole; what followed it is lost.
    cutShort = nulTail;
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

    if (!CsvQuoting::splitUnquoted(line.data,
                                   line.data + withoutCarriageReturns(line.data, line.size), add)) {
        count = 0;
        if (!followQuotes(&line, firstLine))
            return false;
        if (std::none_of(line.data, line.data + line.size, [](char c) { return c & 0x80; })) {
            CsvQuoting::split(line.data, line.data + line.size, add);
        } else {
            // A quote may stand within a broken UTF-8 sequence, so the row is decoded
            // first and then split, as it always was.
            QString text = recordFieldText(line.data, line.size);
            fields->decoded.reserve(RecordColumns::Count);
            fields->texts.reserve(RecordColumns::Count);
            CsvQuoting::split(text.data(), text.data() + text.size(),
                              [&](QChar *begin, QChar *end) {
                                  if (count < RecordColumns::Count)
                                      fields->keepDecoded(count, QString(begin, int(end - begin)));
                                  ++count;
                              });
        }
    }
    if (count != RecordColumns::Count) {
        rowStopsEarly = count < RecordColumns::Count;
        lineNumber = firstLine;
        return fail(QStringLiteral("%1 fields where the header has %2")
                        .arg(count)
                        .arg(RecordColumns::Count));
    }
    return true;
}

// Checks the quotes of a row and joins the lines of a quoted field that holds line
// breaks (a port's name may) into one row.
bool RecordReader::followQuotes(Line *line, qint64 firstLine)
{
    CsvQuotes quotes;
    qsizetype column = 0;
    const qsizetype size = withoutCarriageReturns(line->data, line->size);
    CsvQuotes::Verdict verdict = quotes.follow(line->data, line->data + size, &column);
    if (verdict == CsvQuotes::Verdict::RowGoesOn)
        joinedLines = QByteArray(line->data, int(line->size));
    else
        line->size = size;
    while (verdict == CsvQuotes::Verdict::RowGoesOn) {
        Line more;
        if (!readLine(&more)) {
            if (hasError() || isStopped)
                return false;
            rowStopsEarly = true;
            lineNumber = firstLine;
            return fail(QStringLiteral("a quoted field is not closed"));
        }
        // A field that takes in a whole row of its own was opened by a stray quote.
        constexpr int TimeSize = 24;
        if ((more.size > TimeSize && more.data[TimeSize] == ',' &&
             parseRecordTime(more.data, TimeSize)) ||
            joinedLines.size() + 1 + more.size > MaxLineBytes)
            return failForGood(firstLine, QStringLiteral("a quoted field is not closed"));
        const qsizetype moreSize = withoutCarriageReturns(more.data, more.size);
        verdict = quotes.follow(more.data, more.data + moreSize, &column);
        joinedLines += '\n';
        joinedLines.append(more.data,
                           int(verdict == CsvQuotes::Verdict::RowGoesOn ? more.size : moreSize));
    }
    if (verdict == CsvQuotes::Verdict::StrayQuote)
        return failForGood(lineNumber, QStringLiteral("a stray \" at column %1 (CSV quotes a "
                                                      "whole field and doubles a \" within it)")
                                           .arg(column));
    if (lineNumber != firstLine)
        *line = {joinedLines.data(), joinedLines.size()};
    return true;
}

bool RecordReader::splitJson(Line line, Fields *fields)
{
    if (unescaped.size() < line.size)
        unescaped.resize(int(line.size));
    return scanJsonRow(line.data, line.data + line.size, unescaped.data(), &jsonKeyOrder,
                       &fields->at) ||
           splitJsonDocument(line, fields);
}
bool RecordReader::splitJsonDocument(Line line, Fields *fields)
{
    QJsonParseError parseError;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(line.data, int(line.size)), &parseError);
    rowStopsEarly = parseError.error != QJsonParseError::NoError;
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
