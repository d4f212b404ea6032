// Taking frames and text out of what the line delivers, whatever its pieces.
#include "protocol/framestream.h"
#include "workedexamples.h"

#include <QtTest>

namespace {

const QByteArray &f1 = WorkedExamples::type1Frame;
const QByteArray &f2 = WorkedExamples::type2Frame;

QByteArray badCheck(QByteArray frame)
{
    frame[10] = char(frame.at(10) ^ 0x01);
    return frame;
}

// One word per item: "F1"/"F2" for a frame of that layout, "T:<text>" for text,
// "R<n>" for n rejected bytes.
QString describe(const QVector<StreamItem> &items)
{
    QStringList words;
    for (const StreamItem &item : items) {
        switch (item.kind) {
        case StreamItem::Kind::Frame:
            words << QStringLiteral("F%1").arg(int(item.telemetry.layout));
            break;
        case StreamItem::Kind::Text:
            words << QStringLiteral("T:") + QString::fromLatin1(item.bytes);
            break;
        case StreamItem::Kind::Rejected:
            words << QStringLiteral("R%1").arg(item.bytes.size());
            break;
        }
    }
    return words.join(QLatin1Char(' '));
}

} // namespace

class FrameStreamTest : public QObject
{
    Q_OBJECT

private slots:
    void pieces_data();
    void pieces();
    void frameIsWholeBeforeSilence();
    void endlessTextIsHandedOnInPieces();
};

// Each row: the pieces the line delivers, with "|" standing for a silence; what the
// stream makes of them.
void FrameStreamTest::pieces_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QString>("expected");
    const QByteArray silence("|");
    QTest::newRow("two frames back to back") << QList<QByteArray>{f1 + f2, silence} << "F1 F2";
    QTest::newRow("three frames back to back")
        << QList<QByteArray>{f2 + f2 + f2, silence} << "F2 F2 F2";
    QTest::newRow("frame then text") << QList<QByteArray>{f2 + "OK\r\n", silence} << "F2 T:OK\r\n";
    QTest::newRow("text then frame")
        << QList<QByteArray>{"boot\r\n" + f1, silence} << "T:boot\r\n F1";
    QTest::newRow("frame, first half of the next, second half")
        << QList<QByteArray>{f2 + f2.left(30), f2.mid(30), silence} << "F2 F2";
    QTest::newRow("frame cut over 64+8 pieces")
        << QList<QByteArray>{f2.left(64), f2.mid(64), silence} << "F2";
    QTest::newRow("bad check word, then a good frame")
        << QList<QByteArray>{badCheck(f2) + f1, silence} << "R72 F1";
    QTest::newRow("bad check word, next header in a later piece")
        << QList<QByteArray>{badCheck(f2) + "junk", "more" + f1, silence} << "R76 F1";
    QTest::newRow("unknown layout byte, then a good frame")
        << QList<QByteArray>{QByteArray("\xFE\xEF\x07garbage", 10) + f2, silence} << "R10 F2";
    QTest::newRow("start of a frame cut short by silence")
        << QList<QByteArray>{f1.left(40), silence, "OK"} << "R40";
    QTest::newRow("header split between pieces")
        << QList<QByteArray>{"hi" + f1.left(1), f1.mid(1), silence} << "T:hi F1";
    QTest::newRow("text split by silence")
        << QList<QByteArray>{"ab", silence, "cd", silence} << "T:ab T:cd";
    QTest::newRow("lone FE is text")
        << QList<QByteArray>{"\xFE", silence} << QString::fromLatin1("T:\xFE");
    QTest::newRow("FE EF alone is dropped") << QList<QByteArray>{"\xFE\xEF", silence} << "R2";
}

void FrameStreamTest::pieces()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, expected);
    FrameStream stream;
    QVector<StreamItem> items;
    for (const QByteArray &piece : pieces)
        items += piece == "|" ? stream.endOfBurst() : stream.feed(piece);
    QCOMPARE(describe(items), expected);
}

void FrameStreamTest::frameIsWholeBeforeSilence()
{
    FrameStream stream;
    QCOMPARE(describe(stream.feed(f2.left(71))), QString());
    QCOMPARE(describe(stream.feed(f2.right(1) + "x")), QStringLiteral("F2"));
    QCOMPARE(stream.pendingSize(), 1);
}

void FrameStreamTest::endlessTextIsHandedOnInPieces()
{
    FrameStream stream;
    QVector<StreamItem> items;
    for (int i = 0; i < 400; ++i)
        items += stream.feed(QByteArray("line of board text\n"));
    QVERIFY(!items.isEmpty());
    QVERIFY(stream.pendingSize() < FrameStream::MaxTextBytes);
    QVERIFY(items.first().bytes.endsWith('\n'));
}

QTEST_APPLESS_MAIN(FrameStreamTest)
#include "tst_framestream.moc"
