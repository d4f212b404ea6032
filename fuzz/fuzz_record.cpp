// Recordings reach RecordReader from whatever file a user opens, so every byte string
// must read without a crash and alike in whatever pieces the device hands it over. What
// it reads must write and read back as itself. And what a cut (a killed recorder, a full
// disk, a power cut with its tail of NUL bytes) leaves of a recording that RecordWriter
// wrote must read up to the cut: the rows before it, and the cut reported.
#include "record/recordformat.h"
#include "record/recordreader.h"

#include <QIODevice>
#include <QVector>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// Small pieces cost a read each; this many of them, wherever the input puts them, reach
// every way a read can end inside a line, a quoted field or a tail of NUL bytes.
constexpr int SmallPieces = 48;

// Hands the bytes over as a pipe or a slow disk may: what comes before smallFrom as fast
// as it is asked for, then SmallPieces pieces of at most piece bytes, then the rest as
// fast again. Lines then run across the reader's blocks. One device serves every reading:
// a QIODevice is a QObject, too dear to build four times an input.
class PieceDevice : public QIODevice
{
public:
    PieceDevice() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }

    bool isSequential() const override { return true; }
    void hand(const QByteArray &handed, qint64 pieceSize, qint64 smallPiecesFrom)
    {
        bytes = &handed;
        piece = pieceSize;
        smallFrom = smallPiecesFrom;
        at = 0;
        pieces = 0;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        qint64 n = std::min(maxSize, qint64(bytes->size()) - at);
        if (at < smallFrom) {
            n = std::min(n, smallFrom - at);
        } else if (pieces < SmallPieces) {
            n = std::min(n, piece);
            ++pieces;
        }
        std::memcpy(data, bytes->constData() + at, size_t(n));
        at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const QByteArray *bytes = nullptr;
    qint64 piece = 0;
    qint64 smallFrom = 0;
    qint64 at = 0;
    int pieces = 0;
};

struct Reading
{
    QVector<TelemetryRecord> records;
    std::optional<RecordFormat> format;
    QString error;
    bool cutShort = false;
};

Reading read(const QByteArray &bytes, qint64 piece = 0, qint64 smallFrom = -1)
{
    static PieceDevice device;
    device.hand(bytes, piece, smallFrom < 0 ? bytes.size() : smallFrom);
    RecordReader reader(&device);
    Reading reading;
    TelemetryRecord record;
    while (reader.next(&record))
        reading.records.append(record);
    reading.format = reader.format();
    reading.error = reader.errorString();
    reading.cutShort = reader.lastLineCutShort();
    if (reader.recordsRead() != reading.records.size() || (reader.hasError() && reading.cutShort))
        abort();
    return reading;
}

// The writer's text, with where each row ends and where the first one starts.
QByteArray written(const QVector<TelemetryRecord> &records, RecordFormat format,
                   std::vector<qsizetype> *rowEnds = nullptr, qsizetype *firstRow = nullptr)
{
    QByteArray text = format == RecordFormat::Csv ? csvHeaderRow() : QByteArray();
    if (firstRow)
        *firstRow = text.size();
    for (const TelemetryRecord &record : records) {
        appendRecordRow(text, record, format);
        if (rowEnds)
            rowEnds->push_back(text.size());
    }
    return text;
}

bool sameReading(const Reading &a, const Reading &b, RecordFormat format)
{
    return a.error == b.error && a.cutShort == b.cutShort &&
           written(a.records, format) == written(b.records, format);
}

// CSV has no escape for a line break: a port's name that breaks its line before a time
// and a comma reads as a stray quote that took in the next row. No port is named so.
void keepPortsApartFromRows(QVector<TelemetryRecord> *records)
{
    for (TelemetryRecord &record : *records) {
        if (!record.port.contains(QLatin1Char('\n')))
            continue;
        const QByteArray port = record.port.toUtf8();
        for (int at = port.indexOf('\n'); at >= 0; at = port.indexOf('\n', at + 1)) {
            if (port.size() - at > 25 && parseRecordTime(port.constData() + at + 1, 24)) {
                record.port.replace(QLatin1Char('\n'), QLatin1Char(' '));
                break;
            }
        }
    }
}

// The writer's text of records cut at cutAt, then nuls NUL bytes, in small pieces around
// the cut.
void checkCut(const QVector<TelemetryRecord> &records, const QByteArray &text, RecordFormat format,
              const std::vector<qsizetype> &rowEnds, qsizetype firstRow, qsizetype cutAt, int nuls,
              qint64 piece)
{
    QByteArray left;
    left.reserve(int(cutAt) + nuls);
    left.append(text.constData(), int(cutAt)).append(nuls, '\0');
    const Reading cut = read(left, piece, std::max<qint64>(0, cutAt - piece * SmallPieces / 2));

    // Rows whose line break the cut kept, and the row that lost no more than its line break.
    qsizetype rows = std::upper_bound(rowEnds.begin(), rowEnds.end(), cutAt) - rowEnds.begin();
    const bool atLineStart =
        cutAt == 0 || cutAt == firstRow || (rows > 0 && rowEnds[rows - 1] == cutAt);
    const bool onlyLineBreakLost =
        cutAt == firstRow - 1 || (size_t(rows) < rowEnds.size() && rowEnds[rows] - 1 == cutAt);
    if (onlyLineBreakLost && cutAt >= firstRow)
        ++rows;
    bool cutShort = nuls > 0 || !(atLineStart || onlyLineBreakLost);
    bool error = false;
    // Data that ends in a line break is not cut short, even within a quoted field.
    if (nuls == 0 && cutAt > firstRow && !atLineStart && text.at(int(cutAt) - 1) == '\n') {
        cutShort = false;
        error = true;
    }
    if (cut.cutShort != cutShort || cut.error.isEmpty() == error ||
        written(cut.records, format) != written(records.mid(0, int(rows)), format))
        abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const uint8_t last = size ? data[size - 1] : 0;
    static const qint64 Pieces[] = {1, 3, 64, 1000};
    const qint64 piece = Pieces[last % 4];
    // Where the small pieces begin, as a share of what is read.
    const uint smallShare = size >= 4 ? data[size - 4] : 0;

    const Reading reading = read(input);
    if (!reading.format)
        return 0;
    const RecordFormat format = *reading.format;
    if (!sameReading(reading, read(input, piece, qint64(size) * smallShare / 256), format))
        abort();

    // What was read writes as text that reads back as the same rows.
    QVector<TelemetryRecord> records = reading.records;
    keepPortsApartFromRows(&records);
    std::vector<qsizetype> rowEnds;
    qsizetype firstRow = 0;
    const QByteArray text = written(records, format, &rowEnds, &firstRow);
    const Reading again = read(text, piece, qint64(text.size()) * smallShare / 256);
    if (!again.error.isEmpty() || again.cutShort || written(again.records, format) != text)
        abort();

    // A cut anywhere in it, with a tail of NUL bytes now and then, past the length limit too.
    const uint cutSeed = size >= 3 ? uint(data[size - 2]) << 8 | data[size - 3] : 0;
    const qsizetype cutAt = qsizetype(cutSeed % uint(text.size() + 1));
    static const int Nuls[] = {0, 0, 1, 4096, 70000};
    checkCut(again.records, text, format, rowEnds, firstRow, cutAt, Nuls[(last >> 2) % 5], piece);
    return 0;
}
