// Taking frames and text out of what the line delivers, whatever its pieces.
#include "protocol/boardtext.h"
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

QByteArray withLayout(QByteArray frame, char layout)
{
    frame[2] = layout;
    return frame;
}

// One word per item: "F1"/"F2" for a frame of that layout, "T:<text>" for text as
// it is shown, "R<n>" for n rejected bytes.
QString describe(const QVector<StreamItem> &items)
{
    QStringList words;
    for (const StreamItem &item : items) {
        switch (item.kind) {
        case StreamItem::Kind::Frame:
            words << QStringLiteral("F%1").arg(int(item.telemetry.layout));
            break;
        case StreamItem::Kind::Text:
            words << QStringLiteral("T:") + boardText(item.bytes);
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

// Each row: the pieces the line delivers, with "|" standing for the 30 ms silence
// that ends a burst, "|N" for a silence of N ms and "|end" for the end of input;
// what the stream makes of them.
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
    QTest::newRow("bad check word, text behind it in one piece")
        << QList<QByteArray>{badCheck(f2) + "ALARM: cell 3 over voltage\r\n", silence}
        << "R72 T:ALARM: cell 3 over voltage\r\n";
    QTest::newRow("bad check word, text, next header in a later piece")
        << QList<QByteArray>{badCheck(f2) + "junk", "more" + f1, silence} << "R72 T:junkmore F1";
    QTest::newRow("frame that lost a byte, next frame inside its length")
        << QList<QByteArray>{f2.left(40) + f2.mid(41) + f1, silence} << "R71 F1";
    QTest::newRow("layout byte damaged, its length byte still names 72")
        << QList<QByteArray>{withLayout(f2, 1) + "OK\r\n", silence} << "R72 T:OK\r\n";
    QTest::newRow("unknown layout byte, then a good frame")
        << QList<QByteArray>{QByteArray("\xFE\xEF\x07garbage", 10) + f2, silence} << "R10 F2";
    QTest::newRow("unknown layout byte, text past the longest frame kept")
        << QList<QByteArray>{QByteArray("\xFE\xEF\x07", 3) + QByteArray(40, 'x'), silence,
                             QByteArray(29, 'x') + "OK\r\n", silence}
        << "R43 T:OK\r\n";
    QTest::newRow("frame with a 60 ms pause inside")
        << QList<QByteArray>{f2.left(30), "|60", f2.mid(30), silence} << "F2";
    QTest::newRow("text, then a frame with a 400 ms pause inside")
        << QList<QByteArray>{"boot\r\n" + f1.left(3), silence, "|400", f1.mid(3), silence}
        << "T:boot\r\n F1";
    QTest::newRow("frame abandoned for 1.5 s, then text")
        << QList<QByteArray>{f1.left(40), silence, "|1500", "OK", silence} << "R40 T:OK";
    QTest::newRow("frame cut short at the end of input")
        << QList<QByteArray>{f1.left(40), "|end"} << "R40";
    QTest::newRow("header split between pieces")
        << QList<QByteArray>{"hi" + f1.left(1), silence, f1.mid(1), silence} << "T:hi F1";
    QTest::newRow("header split between pieces of text, no silence")
        << QList<QByteArray>{"boot\r\n" + f1.left(1), f1.mid(1) + "OK", silence}
        << "T:boot\r\n F1 T:OK";
    QTest::newRow("text split by silence")
        << QList<QByteArray>{"ab", silence, "cd", silence} << "T:ab T:cd";
    QTest::newRow("lone FE at the end is never text")
        << QList<QByteArray>{"\xFE", silence, "|1000"} << "R1";
    QTest::newRow("FE that no EF follows is text")
        << QList<QByteArray>{"\xFE", silence, "ab", silence} << QStringLiteral("T:\uFFFDab");
    QTest::newRow("FE EF alone is dropped")
        << QList<QByteArray>{"\xFE\xEF", silence, "|1000"} << "R2";
    QTest::newRow("text that is not UTF-8")
        << QList<QByteArray>{"caf\xE9 25 \xC2\xB0"
                             "C \xFF\xC0\xAF\r\n",
                             silence}
        << QStringLiteral("T:caf\uFFFD 25 \u00B0C \uFFFD\uFFFD\uFFFD\r\n");
    QTest::newRow("character beyond 16 bits, then a cut one")
        << QList<QByteArray>{"\xF0\x9F\x94\x8B ok \xF0\x9F", silence}
        << QStringLiteral("T:\U0001F50B ok \uFFFD\uFFFD");
    QTest::newRow("NUL padding left out, escape replaced")
        << QList<QByteArray>{QByteArray("OK\0\0\x1B[2J\r\n", 10), silence}
        << QStringLiteral("T:OK\uFFFD[2J\r\n");
}

void FrameStreamTest::pieces()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, expected);
    FrameStream stream;
    QVector<StreamItem> items;
    for (const QByteArray &piece : pieces) {
        if (piece == "|end")
            items += stream.flush();
        else if (piece.startsWith('|'))
            items += stream.lineSilent(piece == "|" ? 30 : piece.mid(1).toInt());
        else
            items += stream.feed(piece);
    }
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
