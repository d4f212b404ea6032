#include "protocol/crc32words.h"
#include "protocol/displaytext.h"
#include "protocol/telemetryframe.h"
#include "workedexamples.h"

#include <QRandomGenerator>
#include <QtTest>

Q_DECLARE_METATYPE(ChunkVerdict)

namespace {

using WorkedExamples::bitwiseCrc32Words;
const QByteArray &type1Example = WorkedExamples::type1Frame;
const QByteArray &type2Example = WorkedExamples::type2Frame;

// Every text of a frame under a short name, so that a whole frame compares as one map.
QMap<QString, QString> namedTexts(const TelemetryTexts &t)
{
    const QStringList keys = QStringLiteral("bat pack current soc ntc1 ntc2 ntc3 selfDsg mosfet "
                                            "cycle bq version date sys bms model cellType")
                                 .split(QLatin1Char(' '));
    const QStringList values{
        t.battery,  t.pack,    t.current,          t.stateOfCharge, t.ntc1,
        t.ntc2,     t.ntc3,    t.selfDischargeNtc, t.mosfetNtc,     t.cycleCount,
        t.bqStatus, t.version, t.manufactureDate,  t.systemState,   t.bmsState,
        t.model,    t.cellType};
    QMap<QString, QString> named;
    for (int i = 0; i < keys.size(); ++i)
        named.insert(keys[i], values[i]);
    for (int i = 0; i < Telemetry::MaxCells; ++i)
        named.insert(QStringLiteral("cell%1").arg(i + 1), t.cells[i]);
    const char *flags[] = {"OC", "SC", "OVB", "OV", "UV", "LOW_TEMP", "HIGH_TEMP"};
    for (int bit = 0; bit < ProtectionFlagCount; ++bit)
        named.insert(QLatin1String(flags[bit]), t.protectionFlags[bit]);
    return named;
}

// "key=text;key=text": keys not listed are expected empty.
QMap<QString, QString> parseTexts(const QString &pairs)
{
    QMap<QString, QString> named = namedTexts({});
    for (const QString &pair : pairs.split(QLatin1Char(';')))
        named.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return named;
}

QByteArray flipped(QByteArray bytes, int bit)
{
    bytes[bit / 8] = char(bytes.at(bit / 8) ^ (1 << (bit % 8)));
    return bytes;
}

enum Rule { SystemState, BmsState, Model, CellType, Temperature, BqStatus, Date, Version, Flags };

} // namespace

class TestTelemetry : public QObject
{
    Q_OBJECT

private slots:
    void crcMatchesBitwiseRegister_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QRandomGenerator random(0x4b454c44);
        for (int words = 0; words <= 32; ++words) {
            QByteArray bytes(4 * words, '\0');
            for (char &byte : bytes)
                byte = char(random.generate());
            QTest::addRow("%d random words", words) << bytes;
        }
    }
    void crcMatchesBitwiseRegister()
    {
        QFETCH(QByteArray, bytes);
        const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
        QCOMPARE(crc32Words(data, bytes.size() / 4), bitwiseCrc32Words(data, bytes.size() / 4));
    }
    void crcOfWord12345678()
    {
        const uchar word[] = {0x78, 0x56, 0x34, 0x12};
        QCOMPARE(crc32Words(word, 1), 0xDF8A8A2Bu);
    }

    void exampleFrameTexts_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("expected");
        const QString type1Texts =
            "cell1=3700;cell2=3701;cell3=3702;cell4=3703;cell5=3704;cell6=3705;cell7=3706;"
            "cell8=3707;cell9=3709;bat=37045;pack=37000;soc=80;current=-1500;ntc1=25.3;ntc2=25.1;"
            "selfDsg=30;mosfet=-1.2;cycle=12;date=2021/3/9;version=1.6;bq=0x1f;sys=0x2|SYS ON;"
            "bms=0x1|DISCHARGE;cellType=25R;model=BMS-HARLO";
        const QString type2Texts =
            "cell1=3600;cell2=3601;cell3=3602;cell4=3603;cell5=3604;cell6=3605;cell7=3606;"
            "cell8=3607;cell9=3608;cell10=3609;cell11=3610;cell12=3611;cell13=3612;cell14=3613;"
            "cell15=3614;bat=54100;pack=54000;soc=55;current=2500;ntc1=24.5;ntc2=25;ntc3=26;"
            "selfDsg=35;mosfet=-5.5;cycle=300;date=2021/3/9;version=2.10;bq=0x80;sys=0x1|RESET;"
            "bms=0x2|CHARGE;cellType=VTC6;model=BMS-BRISQ;OC=1;SC=0;OVB=0;OV=0;UV=0;LOW_TEMP=1;"
            "HIGH_TEMP=0";
        QTest::newRow("type 1 example") << type1Example << type1Texts;
        QTest::newRow("type 2 example") << type2Example << type2Texts;
        // Encoding writes zero into bytes 20-21, which the type 1 example fills.
        QTest::newRow("type 1 example re-encoded")
            << encodeTelemetry(judgeChunk(type1Example).telemetry) << type1Texts;
        QTest::newRow("type 2 example re-encoded")
            << encodeTelemetry(judgeChunk(type2Example).telemetry) << type2Texts;
    }
    void exampleFrameTexts()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, expected);
        const ChunkResult result = judgeChunk(frame);
        QCOMPARE(result.verdict, ChunkVerdict::Frame);
        QCOMPARE(quint8(frame.at(3)), quint8(frame.size()));
        const auto shown = namedTexts(renderTelemetry(result.telemetry));
        const auto wanted = parseTexts(expected);
        for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
            QVERIFY2(shown.value(it.key()) == it.value(),
                     qPrintable(it.key() + QLatin1String(": ") + shown.value(it.key())));
    }
    void encodeRestoresType2ExampleExactly()
    {
        // Its unexamined bytes are zero, so every byte the board sent comes back.
        QCOMPARE(encodeTelemetry(judgeChunk(type2Example).telemetry).toHex(), type2Example.toHex());
    }

    void anySingleBitFlipRejected_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("type 1 example") << type1Example;
        QTest::newRow("type 2 example") << type2Example;
    }
    void anySingleBitFlipRejected()
    {
        QFETCH(QByteArray, frame);
        for (int bit = 0; bit < 8 * frame.size(); ++bit) {
            // A flip in the header makes the chunk text for the log; anywhere else,
            // unexamined bytes and the check word included, the chunk is dropped.
            const auto expected = bit < 16 ? ChunkVerdict::NotAFrame : ChunkVerdict::Rejected;
            QVERIFY2(judgeChunk(flipped(frame, bit)).verdict == expected,
                     qPrintable(QString::number(bit)));
        }
    }

    void chunkVerdict_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<ChunkVerdict>("verdict");
        QByteArray byte3Changed = QByteArray(type1Example).replace(3, 1, "\x55");
        const auto *data = reinterpret_cast<const uchar *>(byte3Changed.constData());
        const quint32 check = qToLittleEndian(crc32Words(data, 14));
        const QByteArray byte3Resealed =
            byte3Changed.left(56) + QByteArray(reinterpret_cast<const char *>(&check), 4);
        QTest::newRow("empty") << QByteArray() << ChunkVerdict::NotAFrame;
        QTest::newRow("FE alone") << QByteArray("\xFE") << ChunkVerdict::NotAFrame;
        QTest::newRow("FE EF alone") << QByteArray("\xFE\xEF") << ChunkVerdict::Rejected;
        QTest::newRow("OK line") << QByteArray("OK\r\n") << ChunkVerdict::NotAFrame;
        QTest::newRow("type 1, 59 bytes") << type1Example.left(59) << ChunkVerdict::Rejected;
        QTest::newRow("type 1, 61 bytes") << type1Example + 'x' << ChunkVerdict::Rejected;
        QTest::newRow("type 2, 71 bytes") << type2Example.left(71) << ChunkVerdict::Rejected;
        QTest::newRow("type 2, 73 bytes") << type2Example + 'x' << ChunkVerdict::Rejected;
        QTest::newRow("two frames in one chunk")
            << type1Example + type1Example << ChunkVerdict::Rejected;
        QTest::newRow("4 KiB after a header")
            << QByteArray("\xFE\xEF\x02") + QByteArray(4093, 'x') << ChunkVerdict::Rejected;
        QTest::newRow("60 bytes with selector 2")
            << QByteArray(type1Example).replace(2, 1, "\x02") << ChunkVerdict::Rejected;
        QTest::newRow("72 bytes with selector 1")
            << QByteArray(type2Example).replace(2, 1, "\x01") << ChunkVerdict::Rejected;
        QTest::newRow("byte 3 changed") << byte3Changed << ChunkVerdict::Rejected;
        QTest::newRow("byte 3 changed, check word matching")
            << byte3Resealed << ChunkVerdict::Frame;
    }
    void chunkVerdict()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(ChunkVerdict, verdict);
        QCOMPARE(judgeChunk(chunk).verdict, verdict);
    }

    void fieldText_data()
    {
        QTest::addColumn<int>("rule");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("system state 3, last row") << int(SystemState) << 3 << "0x3|SYS OFF";
        QTest::newRow("system state 4, no row") << int(SystemState) << 4 << "XX";
        QTest::newRow("BMS state 3, a hole") << int(BmsState) << 3 << "XX";
        QTest::newRow("BMS state 6, a hole") << int(BmsState) << 6 << "XX";
        QTest::newRow("BMS state 7, last row") << int(BmsState) << 7 << "0x7|SELF-DISCHARGE";
        QTest::newRow("BMS state 255") << int(BmsState) << 255 << "XX";
        QTest::newRow("model 0, no row") << int(Model) << 0 << "BMS-XX";
        QTest::newRow("model 4") << int(Model) << 4 << "BMS-HARLO";
        QTest::newRow("model 5") << int(Model) << 5 << "BMS-MIRSK";
        QTest::newRow("model 7, past the table") << int(Model) << 7 << "BMS-XX";
        QTest::newRow("cell type 6") << int(CellType) << 6 << "HE4";
        QTest::newRow("cell type 8, past the table") << int(CellType) << 8 << "XX";
        QTest::newRow("253 tenths") << int(Temperature) << 253 << "25.3";
        QTest::newRow("250 tenths, no trailing zero") << int(Temperature) << 250 << "25";
        QTest::newRow("-12 tenths, ASCII minus") << int(Temperature) << -12 << "-1.2";
        QTest::newRow("0 tenths") << int(Temperature) << 0 << "0";
        QTest::newRow("lowest s16") << int(Temperature) << -32768 << "-3276.8";
        QTest::newRow("highest s16") << int(Temperature) << 32767 << "3276.7";
        QTest::newRow("bq status 0") << int(BqStatus) << 0 << "0x0";
        QTest::newRow("bq status lower-case") << int(BqStatus) << 0xAF << "0xaf";
        QTest::newRow("date word 0x0000") << int(Date) << 0x0000 << "1980/0/0";
        QTest::newRow("date word 0xFFFF") << int(Date) << 0xFFFF << "2107/15/31";
        QTest::newRow("version 0.0") << int(Version) << 0x0000 << "0.0";
        QTest::newRow("version 255.255") << int(Version) << 0xFFFF << "255.255";
        QTest::newRow("flags 0x21: OC and LOW_TEMP") << int(Flags) << 0x21 << "1000010";
        QTest::newRow("flags 0x80: bit 7 not shown") << int(Flags) << 0x80 << "0000000";
        QTest::newRow("flags 0x7F: all seven") << int(Flags) << 0x7F << "1111111";
    }
    void fieldText()
    {
        QFETCH(int, rule);
        QFETCH(int, value);
        QFETCH(QString, text);
        using namespace DisplayText;
        QString shown;
        switch (Rule(rule)) {
        case SystemState:
            shown = systemState(quint8(value));
            break;
        case BmsState:
            shown = bmsState(quint8(value));
            break;
        case Model:
            shown = model(quint8(value));
            break;
        case CellType:
            shown = cellType(quint8(value));
            break;
        case Temperature:
            shown = temperature(qint16(value));
            break;
        case BqStatus:
            shown = bqStatus(quint8(value));
            break;
        case Date:
            shown = manufactureDate(quint16(value));
            break;
        case Version:
            shown = version(quint8(value >> 8), quint8(value));
            break;
        case Flags:
            for (int bit = 0; bit < ProtectionFlagCount; ++bit)
                shown += protectionFlag(quint8(value), bit);
            break;
        }
        QCOMPARE(shown, text);
    }
};

QTEST_APPLESS_MAIN(TestTelemetry)
#include "tst_telemetry.moc"
