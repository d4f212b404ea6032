// The port list following adapters as they come and go, with pseudo-terminals
// plugged and unplugged as virtual ports while the window runs.
#include "ptypair.h"
#include "scratchsettings.h"
#include "serial/serialenumerator.h"
#include "ui_widget.h"
#include "window/widget.h"
#include "window/windowsettings.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

QStringList debugLines;

void collectDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines << message;
}

QStringList entries(const QComboBox *box)
{
    QStringList names;
    for (int i = 0; i < box->count(); ++i)
        names << box->itemText(i);
    return names;
}

} // namespace

class HotplugTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Widget> window;

    template <typename T = QWidget> T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QComboBox *portBox() const { return child<QComboBox>("comboBox_Port"); }
    QString log() const { return child<QPlainTextEdit>("plainTextEdit")->toPlainText(); }
    void clickOpenClose()
    {
        QTest::mouseClick(child<QPushButton>("pushButton_OpenClose"), Qt::LeftButton);
    }
    bool linkOpen() const { return child("pushButton_Off")->isEnabled(); }
    bool closedState() const
    {
        return portBox()->isEnabled() && child("comboBox_BaudRate")->isEnabled() &&
               !child("pushButton_Off")->isEnabled() && !child("pushButton_Boot")->isEnabled() &&
               child("pushButton_OpenClose")->styleSheet().contains("225,225,225");
    }
    void startWindow()
    {
        window = std::make_unique<Widget>();
        window->show();
        debugLines.clear();
    }

private slots:
    void initTestCase()
    {
        useScratchSettings();
        SerialEnumerator::setSystemPortsHidden(true);
        qInstallMessageHandler(collectDebug);
        // The serial debug lines are off unless asked for.
        QLoggingCategory::setFilterRules(QStringLiteral("keldro.serial.debug=true"));
    }

    void cleanup()
    {
        window.reset();
        WindowSettings::clearStored();
        for (const QString &path : SerialEnumerator::virtualPorts())
            SerialEnumerator::removeVirtualPort(path);
    }

    void secondAdapterLeavesTheOpenLinkAlone()
    {
        PtyPair first, second;
        SerialEnumerator::addVirtualPort(first.slavePath());
        startWindow();
        clickOpenClose();
        QVERIFY(linkOpen());

        SerialEnumerator::addVirtualPort(second.slavePath());
        QTRY_COMPARE(portBox()->count(), 2);
        QStringList expected{first.slavePath(), second.slavePath()};
        std::sort(expected.begin(), expected.end(), SerialEnumerator::portNameLess);
        QCOMPARE(entries(portBox()), expected);
        QCOMPARE(portBox()->currentText(), first.slavePath());
        QVERIFY(linkOpen());
        QVERIFY(!portBox()->isEnabled());
        QVERIFY(debugLines.filter("setPortNam:").isEmpty());
        QVERIFY(first.write("OK\n"));
        QTRY_VERIFY(log().endsWith("OK\n"));
    }

    void unpluggedAdapterClosesItsLink()
    {
        PtyPair board;
        SerialEnumerator::addVirtualPort(board.slavePath());
        startWindow();
        clickOpenClose();
        QVERIFY(linkOpen());
        const QString logBefore = log();

        SerialEnumerator::removeVirtualPort(board.slavePath());
        QTRY_COMPARE(portBox()->count(), 0);
        QCOMPARE(portBox()->currentIndex(), -1);
        QVERIFY(closedState());
        QCOMPARE(log(), logBefore);
        QVERIFY(debugLines.filter("setPortNam:").isEmpty());

        // Back again: listed, but the technician picks it before it opens.
        SerialEnumerator::addVirtualPort(board.slavePath());
        QTRY_COMPARE(portBox()->count(), 1);
        QCOMPARE(portBox()->currentIndex(), -1);
        QVERIFY(closedState());
        portBox()->setCurrentIndex(0);
        QCOMPARE(debugLines.filter("setPortNam:").size(), 1);
        clickOpenClose();
        QVERIFY(linkOpen());
        QVERIFY(log().endsWith(QStringLiteral("OPEN %1 OK...").arg(board.slavePath())));
    }

    void unpluggedSelectionFailsToOpen()
    {
        PtyPair board;
        SerialEnumerator::addVirtualPort(board.slavePath());
        startWindow();
        board.closeMaster(); // the path vanishes as an unplugged adapter's does
        QTRY_COMPARE_WITH_TIMEOUT(portBox()->count(), 0, 15000);
        QVERIFY(closedState());
        clickOpenClose();
        QCOMPARE(log().section('\n', 0, 0), "OPEN COM ERROR...");
        QVERIFY(log().section('\n', 1).startsWith("No port is chosen"));
    }

    void portPluggedAfterStartIsListedButNotChosen()
    {
        startWindow();
        QCOMPARE(portBox()->count(), 0);
        PtyPair board;
        SerialEnumerator::addVirtualPort(board.slavePath());
        QTRY_COMPARE(portBox()->count(), 1);
        QCOMPARE(portBox()->currentIndex(), -1);
        QCOMPARE(portBox()->currentText(), QString());
    }

    void refillKeepsTheNumericComOrder()
    {
        // Virtual ports are listed by their path while it exists, so plain files
        // named like Windows ports show the order rule through a real refill.
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        for (const char *name : {"COM10", "COM2", "COM3"}) {
            QFile file{QLatin1String(name)};
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        SerialEnumerator::addVirtualPort("COM10");
        startWindow();
        QCOMPARE(entries(portBox()), QStringList{"COM10"});
        SerialEnumerator::addVirtualPort("COM3");
        SerialEnumerator::addVirtualPort("COM2");
        QTRY_COMPARE(entries(portBox()), (QStringList{"COM2", "COM3", "COM10"}));
        QCOMPARE(portBox()->currentText(), "COM10");
    }
};

QTEST_MAIN(HotplugTest)
#include "tst_hotplug.moc"
