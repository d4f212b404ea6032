#include "ptypair.h"
#include "serial/serialenumerator.h"

#include <QSignalSpy>
#include <QtTest>
#include <algorithm>

namespace {

QList<PortInfo> portsNamed(const QStringList &names)
{
    QList<PortInfo> ports;
    for (const QString &name : names) {
        PortInfo info;
        info.portName = name;
        ports.append(info);
    }
    return ports;
}

QStringList namesOf(const QList<PortInfo> &ports)
{
    QStringList names;
    for (const PortInfo &info : ports)
        names.append(info.portName);
    return names;
}

} // namespace

class SerialEnumeratorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void portOrder_data();
    void portOrder();
    void portListDifference_data();
    void portListDifference();

    void virtualPortListedWhilePathExists();
    void addAndRemoveNotifyOnce();
    void vanishedPathNotifiesRemoval();
    void presentPortsDiscoveredDuringSetUp();
    void enumerationAheadListsTheSamePorts();
};

void SerialEnumeratorTest::initTestCase()
{
    // The machine's own ttyS ports would come and go with the machine, not the test.
    SerialEnumerator::setSystemPortsHidden(true);
}

void SerialEnumeratorTest::cleanup()
{
    const QStringList paths = SerialEnumerator::virtualPorts();
    for (const QString &path : paths)
        SerialEnumerator::removeVirtualPort(path);
}

void SerialEnumeratorTest::portOrder_data()
{
    QTest::addColumn<QStringList>("listed");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("COM10 COM2 COM3 by number")
        << QStringList{"COM10", "COM2", "COM3"} << QStringList{"COM2", "COM3", "COM10"};
    QTest::newRow("COM1A ranks with COM1, listed order kept")
        << QStringList{"COM1A", "COM1"} << QStringList{"COM1A", "COM1"};
    QTest::newRow("COM1 ranks with COM1A, listed order kept")
        << QStringList{"COM1", "COM1A", "COM0"} << QStringList{"COM0", "COM1", "COM1A"};
    QTest::newRow("ttyS10 before ttyS2, plain text order")
        << QStringList{"ttyS2", "ttyS10"} << QStringList{"ttyS10", "ttyS2"};
    QTest::newRow("lower-case com is plain text")
        << QStringList{"com2", "com10"} << QStringList{"com10", "com2"};
    QTest::newRow("mixed: paths, COM by number, tty names")
        << QStringList{"ttyUSB0", "COM10", "/dev/pts/3", "COM2", "ttyACM0"}
        << QStringList{"/dev/pts/3", "COM2", "COM10", "ttyACM0", "ttyUSB0"};
}

void SerialEnumeratorTest::portOrder()
{
    QFETCH(QStringList, listed);
    QFETCH(QStringList, expected);
    std::stable_sort(listed.begin(), listed.end(), SerialEnumerator::portNameLess);
    QCOMPARE(listed, expected);
}

void SerialEnumeratorTest::portListDifference_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("removed");
    QTest::newRow("nothing changed")
        << QStringList{"ttyS0", "ttyUSB0"} << QStringList{"ttyS0", "ttyUSB0"} << QStringList{}
        << QStringList{};
    QTest::newRow("adapter plugged in") << QStringList{"ttyS0"} << QStringList{"ttyS0", "ttyUSB0"}
                                        << QStringList{"ttyUSB0"} << QStringList{};
    QTest::newRow("adapter unplugged") << QStringList{"ttyS0", "ttyUSB0"} << QStringList{"ttyS0"}
                                       << QStringList{} << QStringList{"ttyUSB0"};
    QTest::newRow("adapter swapped between polls")
        << QStringList{"ttyUSB0"} << QStringList{"ttyUSB1"} << QStringList{"ttyUSB1"}
        << QStringList{"ttyUSB0"};
    QTest::newRow("first ports at start") << QStringList{} << QStringList{"COM2", "COM10"}
                                          << QStringList{"COM2", "COM10"} << QStringList{};
    QTest::newRow("all gone") << QStringList{"COM2", "COM10"} << QStringList{} << QStringList{}
                              << QStringList{"COM2", "COM10"};
}

void SerialEnumeratorTest::portListDifference()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    QList<PortInfo> gotAdded{portsNamed({"stale"})};
    QList<PortInfo> gotRemoved{portsNamed({"stale"})};
    SerialEnumerator::portListDifference(portsNamed(before), portsNamed(after), &gotAdded,
                                         &gotRemoved);
    QCOMPARE(namesOf(gotAdded), added);
    QCOMPARE(namesOf(gotRemoved), removed);
}

void SerialEnumeratorTest::virtualPortListedWhilePathExists()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    SerialEnumerator::addVirtualPort(pty.slavePath());
    SerialEnumerator::addVirtualPort(pty.slavePath());
    SerialEnumerator::addVirtualPort(QStringLiteral("/dev/keldro-no-such-tty"));

    QCOMPARE(namesOf(SerialEnumerator::getPorts()), QStringList{pty.slavePath()});
    pty.closeMaster();
    QCOMPARE(namesOf(SerialEnumerator::getPorts()), QStringList{});
}

void SerialEnumeratorTest::addAndRemoveNotifyOnce()
{
    PtyPair pty;
    SerialEnumerator enumerator;
    QVERIFY(enumerator.setUpNotifications());
    QSignalSpy discovered(&enumerator, &SerialEnumerator::deviceDiscovered);
    QSignalSpy removed(&enumerator, &SerialEnumerator::deviceRemoved);

    SerialEnumerator::addVirtualPort(QStringLiteral("/dev/keldro-no-such-tty"));
    QCOMPARE(discovered.count(), 0);

    SerialEnumerator::addVirtualPort(pty.slavePath());
    QCOMPARE(discovered.count(), 1);
    QCOMPARE(discovered.first().first().value<PortInfo>().portName, pty.slavePath());
    QCOMPARE(namesOf(enumerator.ports()), QStringList{pty.slavePath()});

    SerialEnumerator::removeVirtualPort(pty.slavePath());
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.first().first().value<PortInfo>().portName, pty.slavePath());
    QCOMPARE(namesOf(enumerator.ports()), QStringList{});

    // The poll goes on: nothing further is reported for the same state.
    QTest::qWait(1500);
    QCOMPARE(discovered.count(), 1);
    QCOMPARE(removed.count(), 1);
}

void SerialEnumeratorTest::vanishedPathNotifiesRemoval()
{
    PtyPair pty;
    SerialEnumerator enumerator;
    QVERIFY(enumerator.setUpNotifications());
    SerialEnumerator::addVirtualPort(pty.slavePath());
    QSignalSpy removed(&enumerator, &SerialEnumerator::deviceRemoved);

    pty.closeMaster();
    QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, 10000);
    QCOMPARE(removed.first().first().value<PortInfo>().portName, pty.slavePath());
    QVERIFY(SerialEnumerator::getPorts().isEmpty());
}

void SerialEnumeratorTest::presentPortsDiscoveredDuringSetUp()
{
    PtyPair pty;
    SerialEnumerator::addVirtualPort(pty.slavePath());
    SerialEnumerator enumerator;
    QSignalSpy discovered(&enumerator, &SerialEnumerator::deviceDiscovered);
    QCOMPARE(namesOf(enumerator.ports()), QStringList{pty.slavePath()});

    QVERIFY(enumerator.setUpNotifications());
    QCOMPARE(discovered.count(), 1);
    QCOMPARE(discovered.first().first().value<PortInfo>().portName, pty.slavePath());
    QCOMPARE(namesOf(enumerator.ports()), QStringList{pty.slavePath()});
}

void SerialEnumeratorTest::enumerationAheadListsTheSamePorts()
{
    PtyPair pty;
    SerialEnumerator::addVirtualPort(pty.slavePath());
    SerialEnumerator::setSystemPortsHidden(false);
    SerialEnumerator::enumerateAhead();
    const QStringList ahead = namesOf(SerialEnumerator::getPorts());
    const QStringList afresh = namesOf(SerialEnumerator::getPorts());
    SerialEnumerator::setSystemPortsHidden(true);
    QCOMPARE(ahead, afresh);
    QVERIFY(ahead.contains(pty.slavePath()));
}

QTEST_GUILESS_MAIN(SerialEnumeratorTest)
#include "tst_serialenumerator.moc"
