#include "ptypair.h"
#include "serial/serialport.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <asm/termbits.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

// The rate the kernel holds for the line, read past glibc, which knows only the
// B-constants and cannot show a rate such as 123457.
qint32 lineRate(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios2 tio{};
    const int result = ::ioctl(fd, TCGETS2, &tio);
    ::close(fd);
    return result == 0 ? qint32(tio.c_ospeed) : -1;
}

// Runs the board's side in a thread of its own, so that the test's event loop,
// where the port watches for silence, keeps turning meanwhile. A std::thread: its
// join orders what the writer did before what the test checks, where ThreadSanitizer
// sees it (QThread::wait() waits on a futex it cannot see).
class Writer
{
public:
    explicit Writer(std::function<void()> writer) : thread(std::move(writer)) {}
    ~Writer() { wait(); }
    void wait()
    {
        if (thread.joinable())
            thread.join();
    }

private:
    std::thread thread;
};

std::unique_ptr<Writer> startWriter(std::function<void()> writer)
{
    return std::make_unique<Writer>(std::move(writer));
}

} // namespace

class SerialPortTest : public QObject
{
    Q_OBJECT

private slots:
    void silenceFollowsTheLastPiece_data();
    void silenceFollowsTheLastPiece();
    void unbrokenStreamIsHandedOnAsItComes();
    void longSilenceIsToldOnceMore();
    void rateIsAppliedToTheLine_data();
    void rateIsAppliedToTheLine();
    void rateChangeOnOpenPortAppliesAtOnce();
    void openFails_data();
    void openFails();
    void closedMasterClosesPortOnce();

private:
    void openOn(SerialPort *port, const PtyPair &pty);
};

void SerialPortTest::openOn(SerialPort *port, const PtyPair &pty)
{
    QVERIFY(pty.isValid());
    port->setPortName(pty.slavePath());
    QVERIFY(port->open(QIODevice::ReadWrite));
}

// Collects what the receiver would see: one readAll per readyRead, and how much had
// been read each time a burst was declared over.
struct ChunkLog
{
    explicit ChunkLog(SerialPort *port)
    {
        QObject::connect(port, &QIODevice::readyRead, port,
                         [this, port] { chunks.append(port->readAll()); });
        QObject::connect(port, &SerialPort::lineSilent, port, [this](int silentMs) {
            if (silentMs < SerialPort::LongGapMs)
                silences.append(total());
        });
    }
    int total() const { return int(chunks.join().size()); }
    QList<QByteArray> chunks;
    QList<int> silences;
};

void SerialPortTest::silenceFollowsTheLastPiece_data()
{
    QTest::addColumn<QList<int>>("pieces");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<QList<int>>("silences");
    QTest::newRow("whole frame") << QList<int>{72} << 0 << QList<int>{72};
    QTest::newRow("two USB packets 64+8, 16 ms apart") << QList<int>{64, 8} << 16 << QList<int>{72};
    QTest::newRow("FTDI latency 16+16+40, 16 ms apart")
        << QList<int>{16, 16, 40} << 16 << QList<int>{72};
    QTest::newRow("two frames 60 ms apart") << QList<int>{60, 72} << 60 << QList<int>{60, 132};
}

void SerialPortTest::silenceFollowsTheLastPiece()
{
    QFETCH(QList<int>, pieces);
    QFETCH(int, pauseMs);
    QFETCH(QList<int>, silences);
    PtyPair pty;
    SerialPort port(QString(), PortSettings(), SerialPort::EventDriven);
    openOn(&port, pty);
    ChunkLog log(&port);

    QByteArray bytes;
    for (int i = 0; bytes.size() < 132; ++i)
        bytes += char(i);
    auto writer = startWriter([&] {
        int at = 0;
        for (int size : pieces) {
            if (at > 0)
                QThread::msleep(ulong(pauseMs));
            pty.write(bytes.mid(at, size));
            at += size;
        }
    });

    QTRY_COMPARE_WITH_TIMEOUT(log.silences.size(), silences.size(), 5000);
    writer->wait();
    QTest::qWait(4 * SerialPort::BurstGapMs);
    QCOMPARE(log.silences, silences);
    QCOMPARE(log.chunks.join(), bytes.left(silences.last()));
    QCOMPARE(port.bytesAvailable(), 0);
}

void SerialPortTest::unbrokenStreamIsHandedOnAsItComes()
{
    PtyPair pty;
    SerialPort port(QString(), PortSettings(), SerialPort::EventDriven);
    openOn(&port, pty);
    ChunkLog log(&port);

    // About what a 1 Mbaud line carries: 256 bytes every 2 ms, never quiet long
    // enough to end a burst.
    QByteArray stream;
    for (int i = 0; i < 200; ++i)
        stream.append(QByteArray(256, char('A' + i % 26)));
    auto writer = startWriter([&] { pty.writeInPieces(stream, 256, 2); });

    QTRY_VERIFY_WITH_TIMEOUT(log.total() >= stream.size() / 2, 10000);
    QVERIFY2(log.total() < stream.size(), "bytes are held back until the line falls silent");
    QTRY_COMPARE_WITH_TIMEOUT(log.total(), stream.size(), 10000);
    writer->wait();
    QTRY_COMPARE_WITH_TIMEOUT(log.silences.size(), 1, 5000);
    QCOMPARE(log.chunks.join(), stream);
}

void SerialPortTest::longSilenceIsToldOnceMore()
{
    PtyPair pty;
    SerialPort port(QString(), PortSettings(), SerialPort::EventDriven);
    openOn(&port, pty);
    QSignalSpy silences(&port, &SerialPort::lineSilent);
    QVERIFY(pty.write("abc"));
    QTRY_COMPARE_WITH_TIMEOUT(silences.size(), 2, 5000);
    QVERIFY(silences.at(0).at(0).toInt() >= SerialPort::BurstGapMs);
    QVERIFY(silences.at(0).at(0).toInt() < SerialPort::LongGapMs);
    QVERIFY(silences.at(1).at(0).toInt() >= SerialPort::LongGapMs);
    QVERIFY(pty.write("d"));
    QTRY_COMPARE_WITH_TIMEOUT(silences.size(), 3, 5000);
    QVERIFY(silences.at(2).at(0).toInt() < SerialPort::LongGapMs);
}

void SerialPortTest::rateIsAppliedToTheLine_data()
{
    QTest::addColumn<qint32>("rate");
    QTest::newRow("standard 115200") << 115200;
    QTest::newRow("non-POSIX 256000") << 256000;
    QTest::newRow("fast 921600") << 921600;
    QTest::newRow("typed 123457") << 123457;
}

void SerialPortTest::rateIsAppliedToTheLine()
{
    QFETCH(qint32, rate);
    PtyPair pty;
    PortSettings settings;
    settings.baudRate = rate;
    SerialPort port(pty.slavePath(), settings, SerialPort::EventDriven);

    QVERIFY(port.open(QIODevice::ReadWrite));
    QVERIFY(port.isOpen());
    QCOMPARE(port.portName(), pty.slavePath());
    QCOMPARE(lineRate(pty.slavePath()), rate);
}

void SerialPortTest::rateChangeOnOpenPortAppliesAtOnce()
{
    PtyPair pty;
    SerialPort port(QString(), PortSettings(), SerialPort::EventDriven);
    openOn(&port, pty);

    port.setBaudRate(921600);
    QCOMPARE(lineRate(pty.slavePath()), 921600);
}

void SerialPortTest::openFails_data()
{
    QTest::addColumn<bool>("useSlave");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint32>("rate");
    QTest::newRow("rate 0 (empty baud box)") << true << QString() << 0;
    QTest::newRow("empty name (no port listed)") << false << QString() << 115200;
    QTest::newRow("missing device") << false << QStringLiteral("/dev/keldro-no-such-tty") << 115200;
}

void SerialPortTest::openFails()
{
    QFETCH(bool, useSlave);
    QFETCH(QString, name);
    QFETCH(qint32, rate);
    PtyPair pty;
    PortSettings settings;
    settings.baudRate = rate;
    SerialPort port(useSlave ? pty.slavePath() : name, settings, SerialPort::EventDriven);

    QVERIFY(!port.open(QIODevice::ReadWrite));
    QVERIFY(!port.isOpen());
}

void SerialPortTest::closedMasterClosesPortOnce()
{
    PtyPair pty;
    SerialPort port(QString(), PortSettings(), SerialPort::EventDriven);
    openOn(&port, pty);
    QSignalSpy lost(&port, &SerialPort::deviceLost);
    QSignalSpy ready(&port, &QIODevice::readyRead);
    auto *inner = port.findChild<QSerialPort *>();
    QVERIFY(inner);
    int errors = 0;
    connect(inner, &QSerialPort::errorOccurred, this, [&errors](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError)
            ++errors;
    });

    // Left unread, as when the adapter goes with a frame still in the buffer.
    pty.write(QByteArray(10, 'x'));
    QVERIFY(ready.wait(5000));
    pty.closeMaster();

    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.bytesAvailable(), 0);
    QTest::qWait(300);
    QCOMPARE(lost.count(), 1);
    QVERIFY2(errors < 100, qPrintable(QStringLiteral("%1 errors after the loss").arg(errors)));
}

QTEST_GUILESS_MAIN(SerialPortTest)
#include "tst_serialport.moc"
