#include "protocol/commandframe.h"
#include "protocol/crc32words.h"

#include <QtTest>

namespace {

QByteArray bytesOf(const CommandFrame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

std::optional<DecodedCommand> decode(const QByteArray &bytes)
{
    return decodeCommandFrame(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size());
}

// Eight leading bytes with a matching check word, so that only the field under test
// can make the frame fail.
QByteArray withCheckWord(const QByteArray &head)
{
    QByteArray frame = head + QByteArray(4, '\0');
    const auto *data = reinterpret_cast<const uchar *>(frame.constData());
    qToLittleEndian(crc32Words(data, 2), frame.data() + 8);
    return frame;
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void constantFrames_data()
    {
        QTest::addColumn<QByteArray>("constant");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("poll") << bytesOf(pollFrame) << 0x00
                              << QByteArray::fromHex("FEEF010C0000000027C8E365");
        QTest::newRow("power off")
            << bytesOf(powerOffFrame) << 0xA5 << QByteArray::fromHex("FEEF010CA500000042F50983");
        QTest::newRow("boot") << bytesOf(bootFrame) << 0x8B
                              << QByteArray::fromHex("FEEF010C8B000000A8E3A427");
        QTest::newRow("SOC calibration") << bytesOf(socCalibrationFrame) << 0xE3
                                         << QByteArray::fromHex("FEEF010CE300000087C809AD");
    }
    void constantFrames()
    {
        QFETCH(QByteArray, constant);
        QFETCH(int, code);
        QFETCH(QByteArray, wire);
        QCOMPARE(constant.toHex(' '), wire.toHex(' '));
        QCOMPARE(bytesOf(buildCommandFrame(CommandCode(code))).toHex(' '), wire.toHex(' '));
        const auto decoded = decode(wire);
        QVERIFY(decoded);
        QCOMPARE(int(decoded->code), code);
        QCOMPARE(decoded->parameter, quint16(0));
    }

    void setDateFrame_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("packed");
        QTest::addColumn<QByteArray>("wire"); // empty where only the parameter is known
        QTest::newRow("9 March 2021")
            << 2021 << 3 << 9 << 0x5269 << QByteArray::fromHex("FEEF010CC1526900C6556E8F");
        QTest::newRow("6 December 2026")
            << 2026 << 12 << 6 << 0x5D86 << QByteArray::fromHex("FEEF010CC15D8600E3B94F98");
        QTest::newRow("1 January 1980, first year")
            << 1980 << 1 << 1 << 0x0021 << QByteArray::fromHex("FEEF010CC10021006E796506");
        QTest::newRow("31 December 2107, last year") << 2107 << 12 << 31 << 0xFF9F << QByteArray();
        QTest::newRow("1 January 2108 wraps to 1980")
            << 2108 << 1 << 1 << 0x0021 << QByteArray::fromHex("FEEF010CC10021006E796506");
        QTest::newRow("1 January 1979 wraps to 2107") << 1979 << 1 << 1 << 0xFE21 << QByteArray();
    }
    void setDateFrame()
    {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(int, packed);
        QFETCH(QByteArray, wire);
        QCOMPARE(packDate(year, month, day), quint16(packed));
        const QByteArray frame = bytesOf(setManufactureDateFrame(year, month, day));
        if (!wire.isEmpty())
            QCOMPARE(frame.toHex(' '), wire.toHex(' '));
        QCOMPARE(quint8(frame.at(5)), quint8(packed >> 8)); // high byte first on this wire
        QCOMPARE(quint8(frame.at(6)), quint8(packed));
        const auto decoded = decode(frame);
        QVERIFY(decoded);
        QCOMPARE(decoded->code, uchar(CommandCode::SetManufactureDate));
        QCOMPARE(decoded->parameter, quint16(packed));
    }

    void anySingleBitFlipRejected()
    {
        const QByteArray frame = bytesOf(setManufactureDateFrame(2021, 3, 9));
        for (int bit = 0; bit < 8 * frame.size(); ++bit) {
            QByteArray flipped = frame;
            flipped[bit / 8] = char(flipped.at(bit / 8) ^ (1 << (bit % 8)));
            QVERIFY2(!decode(flipped), qPrintable(QString::number(bit)));
        }
    }

    void decodeRejects_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray poll = bytesOf(pollFrame);
        QTest::newRow("11 bytes") << poll.left(11);
        QTest::newRow("13 bytes") << poll + '\0';
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("header swapped") << withCheckWord(QByteArray::fromHex("EFFE010C00000000"));
        QTest::newRow("frame type 02") << withCheckWord(QByteArray::fromHex("FEEF020C00000000"));
        QTest::newRow("length byte 0D") << withCheckWord(QByteArray::fromHex("FEEF010D00000000"));
    }
    void decodeRejects()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!decode(bytes));
    }
};

QTEST_APPLESS_MAIN(TestCommands)
#include "tst_commands.moc"
