#include "protocol/telemetryframe.h"
#include "record/recordreader.h"
#include "record/recordwriter.h"
#include "workedexamples.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QtTest>

Q_DECLARE_METATYPE(RecordFormat)
Q_DECLARE_METATYPE(TelemetryLayout)

namespace {

TelemetryRecord exampleRecord(const QByteArray &frame)
{
    return {1796662683123, QStringLiteral("ttyUSB0"), judgeChunk(frame).telemetry};
}

// Every field at random, including codes without a name and dates no calendar has.
TelemetryRecord randomRecord(QRandomGenerator &random, TelemetryLayout layout)
{
    auto byte = [&] { return quint8(random.bounded(256)); };
    auto word = [&] { return quint16(random.bounded(65536)); };
    TelemetryRecord record;
    record.timeMs = qint64(random.generate64() % Q_UINT64_C(4102444800000));
    record.port = QStringList{"ttyUSB0", "/dev/pts/7", "odd, \"port\"\nname", "cr\r\nlf"}.at(
        random.bounded(4));
    Telemetry &t = record.telemetry;
    t.layout = layout;
    t.cellCount = layout == TelemetryLayout::Type1 ? 9 : 15;
    for (int cell = 0; cell < t.cellCount; ++cell)
        t.cellMillivolts[cell] = word();
    t.batteryMillivolts = word();
    t.packMillivolts = word();
    t.stateOfCharge = byte();
    t.currentMilliamps = qint32(random.generate());
    for (qint16 *ntc : {&t.ntc1, &t.ntc2, &t.ntc3, &t.selfDischargeNtc, &t.mosfetNtc})
        *ntc = qint16(word());
    t.cycleCount = word();
    t.manufactureDate = word();
    t.versionMajor = byte();
    t.versionMinor = byte();
    t.model = byte();
    t.systemState = byte();
    t.bqStatus = byte();
    t.bmsState = byte();
    t.cellType = byte();
    if (layout == TelemetryLayout::Type2)
        t.protectionFlags = byte() & 0x7F;
    else
        t.ntc3 = 0;
    return record;
}

QByteArray written(const QVector<TelemetryRecord> &records, RecordFormat format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    RecordWriter writer(&buffer, format);
    writer.writeHeader();
    for (const TelemetryRecord &record : records)
        writer.write(record);
    writer.flush();
    return buffer.data();
}

} // namespace

class TestRecordFormat : public QObject
{
    Q_OBJECT

private slots:
    void csv_headerAndRow_golden()
    {
        TelemetryRecord record = exampleRecord(WorkedExamples::type2Frame);
        QCOMPARE(
            written({record}, RecordFormat::Csv),
            "time,port,layout,cell1_mV,cell2_mV,cell3_mV,cell4_mV,cell5_mV,cell6_mV,"
            "cell7_mV,cell8_mV,cell9_mV,cell10_mV,cell11_mV,cell12_mV,cell13_mV,cell14_mV,"
            "cell15_mV,battery_mV,pack_mV,current_mA,soc_pct,ntc1_C,ntc2_C,ntc3_C,"
            "self_discharge_C,mosfet_C,cycles,bq_status,system_state,bms_state,"
            "system_state_text,bms_state_text,oc,sc,ovb,ov,uv,low_temp,high_temp,version,"
            "model,cell_type,manufacture_date\n"
            "2026-12-07T16:58:03.123Z,ttyUSB0,2,3600,3601,3602,3603,3604,3605,3606,3607,"
            "3608,3609,3610,3611,3612,3613,3614,54100,54000,2500,55,24.5,25.0,26.0,35.0,-5.5,"
            "300,0x80,1,2,0x1|RESET,0x2|CHARGE,1,0,0,0,0,1,0,2.10,BMS-BRISQ,VTC6,2021-03-09\n");
        // Month 13 is written as packed; the port is quoted as RFC 4180 asks.
        record.telemetry.manufactureDate = quint16((2024 - 1980) << 9 | 13 << 5 | 0);
        record.port = QStringLiteral("a \"b\",c");
        QVERIFY(written({record}, RecordFormat::Csv).contains("Z,\"a \"\"b\"\",c\",2,3600,"));
        QVERIFY(written({record}, RecordFormat::Csv).endsWith(",2024-13-00\n"));
    }

    void json_type1_nullWhereLayoutCarriesNothing_golden()
    {
        QCOMPARE(telemetryRecordJson(exampleRecord(WorkedExamples::type1Frame)),
                 R"({"time":"2026-12-07T16:58:03.123Z","port":"ttyUSB0","layout":1,)"
                 R"("cell1_mV":3700,"cell2_mV":3701,"cell3_mV":3702,"cell4_mV":3703,)"
                 R"("cell5_mV":3704,"cell6_mV":3705,"cell7_mV":3706,"cell8_mV":3707,)"
                 R"("cell9_mV":3709,"cell10_mV":null,"cell11_mV":null,"cell12_mV":null,)"
                 R"("cell13_mV":null,"cell14_mV":null,"cell15_mV":null,"battery_mV":37045,)"
                 R"("pack_mV":37000,"current_mA":-1500,"soc_pct":80,"ntc1_C":25.3,)"
                 R"("ntc2_C":25.1,"ntc3_C":null,"self_discharge_C":30.0,"mosfet_C":-1.2,)"
                 R"("cycles":12,"bq_status":"0x1f","system_state":2,"bms_state":1,)"
                 R"("system_state_text":"0x2|SYS ON","bms_state_text":"0x1|DISCHARGE",)"
                 R"("oc":null,"sc":null,"ovb":null,"ov":null,"uv":null,"low_temp":null,)"
                 R"("high_temp":null,"version":"1.6","model":"BMS-HARLO","cell_type":"25R",)"
                 R"("manufacture_date":"2021-03-09"})");
    }

    void writeThenRead_sameRows_data()
    {
        QTest::addColumn<RecordFormat>("format");
        QTest::addColumn<TelemetryLayout>("layout");
        QTest::addColumn<bool>("rewritten");
        QTest::newRow("csv, type 1") << RecordFormat::Csv << TelemetryLayout::Type1 << false;
        QTest::newRow("csv, type 2") << RecordFormat::Csv << TelemetryLayout::Type2 << false;
        QTest::newRow("jsonl, type 1")
            << RecordFormat::JsonLines << TelemetryLayout::Type1 << false;
        QTest::newRow("jsonl, type 2")
            << RecordFormat::JsonLines << TelemetryLayout::Type2 << false;
        // Keys sorted, spaces, "25" for 25.0, "\n" for a line break.
        QTest::newRow("jsonl, type 2, rewritten by another tool")
            << RecordFormat::JsonLines << TelemetryLayout::Type2 << true;
    }
    void writeThenRead_sameRows()
    {
        QFETCH(RecordFormat, format);
        QFETCH(TelemetryLayout, layout);
        QFETCH(bool, rewritten);
        QRandomGenerator random(int(format) * 2 + int(layout));
        QVector<TelemetryRecord> records;
        for (int i = 0; i < 500; ++i)
            records.append(randomRecord(random, layout));
        const QByteArray text = written(records, format);
        QByteArray input = rewritten ? QByteArray() : text;
        for (const QByteArray &line : text.split('\n'))
            if (rewritten && !line.isEmpty())
                input += QJsonDocument::fromJson(line).toJson().replace('\n', ' ') + '\n';

        QBuffer buffer;
        buffer.setData(input);
        buffer.open(QIODevice::ReadOnly);
        RecordReader reader(&buffer);
        QVector<TelemetryRecord> read;
        TelemetryRecord record;
        while (reader.next(&record))
            read.append(record);
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
        QCOMPARE(reader.format(), format);
        QCOMPARE(read.size(), records.size());
        // Codes without a name come back as the lowest code with the same name, so the
        // rows compare as written text; the numbers compare as values.
        QCOMPARE(written(read, format), text);
        QCOMPARE(read.last().timeMs, records.last().timeMs);
        QCOMPARE(read.last().telemetry.cellMillivolts, records.last().telemetry.cellMillivolts);
        QCOMPARE(read.last().telemetry.manufactureDate, records.last().telemetry.manufactureDate);
    }

    void malformedLine_namedByNumber_data()
    {
        const QByteArray header = written({}, RecordFormat::Csv);
        const QByteArray row =
            written({exampleRecord(WorkedExamples::type1Frame)}, RecordFormat::Csv)
                .mid(header.size());
        const QByteArray json = telemetryRecordJson(exampleRecord(WorkedExamples::type2Frame));
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("no header") << row << "line 1: neither the CSV header";
        QTest::newRow("short row")
            << header + row + row.mid(30) << "line 3: 43 fields where the header has 44";
        QTest::newRow("bad cell") << header + row + QByteArray(row).replace(",3703,", ",37x3,")
                                  << "line 3: cell4_mV: \"37x3\" is not a whole number from 0 to "
                                     "65535";
        QTest::newRow("ntc3 in type 1")
            << header + QByteArray(row).replace(",25.1,,", ",25.1,7.0,")
            << "line 2: ntc3_C: \"7.0\" where the layout carries nothing";
        QTest::newRow("unclosed quote") << header + row + "2026,\"ttyUSB0\n"
                                        << "line 3: a quoted";
        QTest::newRow("json, not an object") << json + "\n\n[1]\n"
                                             << "line 3: not a JSON object";
        QTest::newRow("json, missing key")
            << json + "\n" + QByteArray(json).replace("\"cycles\":300,", "")
            << "line 2: no key \"cycles\"";
        QTest::newRow("json, day 32") << QByteArray(json).replace("2021-03-09", "2021-03-32")
                                      << "line 1: manufacture_date: \"2021-03-32\"";
        QTest::newRow("json, bad time") << QByteArray(json).replace("16:58", "24:58")
                                        << "line 1: time: \"2026-12-07T24:58:03.123Z\"";
        QTest::newRow("json, escaped name")
            << QByteArray(json).replace("BMS-BRISQ", "BMS-\\u00b0\\\"")
            << QString::fromUtf8("line 1: model: \"BMS-\u00b0\"\" is not a name");
        QTest::newRow("ntc1 empty") << header + QByteArray(row).replace(",25.3,", ",,")
                                    << "line 2: ntc1_C: \"\" is not degrees";
    }
    void malformedLine_namedByNumber()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, error);
        QBuffer buffer(&text);
        buffer.open(QIODevice::ReadOnly);
        RecordReader reader(&buffer);
        TelemetryRecord record;
        while (reader.next(&record)) {
        }
        QVERIFY2(reader.errorString().startsWith(error), qPrintable(reader.errorString()));
    }

    // What a killed recorder, a full disk or a power cut leaves at the end is read up to
    // it; anything wrong before the end is still an error that names its line.
    void edges_data()
    {
        const QByteArray header = written({}, RecordFormat::Csv);
        const QByteArray row =
            written({exampleRecord(WorkedExamples::type2Frame)}, RecordFormat::Csv)
                .mid(header.size());
        const QByteArray rows = header + row + row + row;
        const QByteArray json = telemetryRecordJson(exampleRecord(WorkedExamples::type2Frame));
        const QByteArray jsonRows = json + '\n' + json + '\n' + json + '\n';
        const QByteArray nuls(8192, '\0');
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("records");
        QTest::addColumn<bool>("cutShort");
        QTest::addColumn<QString>("error");
        QTest::newRow("csv, cut last line") << rows + row.left(90) << 3 << true << "";
        QTest::newRow("csv, cut in the last field") << rows + row.chopped(4) << 3 << true << "";
        QTest::newRow("csv, whole last row without line break")
            << rows + row.chopped(1) << 4 << false << "";
        QTest::newRow("csv, CR LF line ends")
            << QByteArray(rows).replace("\n", "\r\n") << 3 << false << "";
        QTest::newRow("csv, NUL tail") << rows + nuls << 3 << true << "";
        QTest::newRow("csv, cut line and 1 MiB of NULs")
            << rows + row.left(90) + QByteArray(1 << 20, '\0') << 3 << true << "";
        QTest::newRow("csv, cut header") << header.left(30) << 0 << true << "";
        QTest::newRow("jsonl, cut last line") << jsonRows + json.left(300) << 3 << true << "";
        QTest::newRow("jsonl, cut line and NULs")
            << jsonRows + json.left(300) + nuls << 3 << true << "";
        QTest::newRow("jsonl, cut line before the end")
            << jsonRows + json.left(300) + '\n' + json << 3 << false << "line 4: not JSON";
        QTest::newRow("csv, 100 KiB line") << rows + QByteArray(100 * 1024, 'x') + '\n' + row << 3
                                           << false << "line 5: longer than 64 KiB";
        QTest::newRow("csv, 100 KiB without line break")
            << rows + QByteArray(100 * 1024, 'x') << 3 << false << "line 5: longer than 64 KiB";
        QTest::newRow("csv, stray quote in a field")
            << header + row + QByteArray(row).replace(",ttyUSB0,", ",tty\"USB0,") + row << 1
            << false << "line 3: a stray \" at column 29";
        QTest::newRow("csv, stray quote opens a field")
            << header + row + QByteArray(row).replace(",ttyUSB0,", ",\"ttyUSB0,") + row + row << 1
            << false << "line 3: a quoted field is not closed";
    }
    void edges()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, records);
        QFETCH(bool, cutShort);
        QFETCH(QString, error);
        QBuffer buffer(&text);
        buffer.open(QIODevice::ReadOnly);
        RecordReader reader(&buffer);
        TelemetryRecord record;
        int read = 0;
        while (reader.next(&record))
            ++read;
        QCOMPARE(reader.errorString().left(error.size()), error);
        QCOMPARE(reader.hasError(), !error.isEmpty());
        QCOMPARE(read, records);
        QCOMPARE(reader.recordsRead(), qint64(records));
        QCOMPARE(reader.lastLineCutShort(), cutShort);
    }

    void readError_isAnErrorNotTheEnd()
    {
        // Address 0 of a process is never mapped: the kernel answers EIO, as a failing
        // disk does.
        QFile file(QStringLiteral("/proc/self/mem"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        RecordReader reader(&file);
        TelemetryRecord record;
        QVERIFY(!reader.next(&record));
        QVERIFY2(reader.errorString().startsWith("line 1: read error: "),
                 qPrintable(reader.errorString()));
        QVERIFY(!reader.lastLineCutShort());
    }
};

QTEST_MAIN(TestRecordFormat)
#include "tst_recordformat.moc"
