// What the window remembers from one start to the next, in a settings folder of
// the test's own: the port by its adapter's serial number, typed rates, the recent
// recordings, window places, and files that do not read or cannot be written.
#include "plot/customplot.h"
#include "protocol/telemetryframe.h"
#include "ptypair.h"
#include "record/recordwriter.h"
#include "scratchsettings.h"
#include "serial/openfailure.h"
#include "serial/serialenumerator.h"
#include "ui_widget.h"
#include "window/alarms/windowjudge.h"
#include "window/portlist.h"
#include "window/trends/trendswindow.h"
#include "window/widget.h"
#include "window/windowmenu.h"
#include "window/windowplace.h"
#include "window/windowsettings.h"
#include "workedexamples.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace {

// "ttyUSB0=A50285BI" is a port and its adapter's serial number; "/tmp/x=" a
// port without one.
QList<PortInfo> portList(const QStringList &entries)
{
    QList<PortInfo> ports;
    for (const QString &entry : entries) {
        PortInfo port;
        port.portName = entry.section(QLatin1Char('='), 0, 0);
        port.physName = devicePath(port.portName);
        port.serialNumber = entry.section(QLatin1Char('='), 1);
        ports << port;
    }
    return ports;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT

    QString userFile; // where the window's own settings go
    QTemporaryDir dir;

    QString path(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        userFile = useScratchSettings() + QStringLiteral("/keldro/keldro.conf");
        QVERIFY(dir.isValid());
        SerialEnumerator::setSystemPortsHidden(true);
    }
    void cleanup() { QVERIFY(WindowSettings::clearStored()); }

    void portByAdapter_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("selected");
        QTest::newRow("serial number across a path change")
            << "ttyUSB0=A50285BI" << QStringList{"ttyUSB0=FT4HX2", "ttyUSB1=A50285BI"} << "ttyUSB1";
        QTest::newRow("no serial number: the same path")
            << "ttyACM1=" << QStringList{"ttyACM0=", "ttyACM1="} << "ttyACM1";
        QTest::newRow("adapter gone: whatever is at its path")
            << "ttyUSB0=A50285BI" << QStringList{"ttyUSB0=FT4HX2"} << "ttyUSB0";
        QTest::newRow("one batch, one serial number: the path decides")
            << "ttyUSB1=0001" << QStringList{"ttyUSB0=0001", "ttyUSB1=0001"} << "ttyUSB1";
        QTest::newRow("a simulator's path")
            << "/tmp/sim/board=" << QStringList{"/tmp/sim/board="} << "/tmp/sim/board";
        QTest::newRow("neither present")
            << "ttyUSB0=A50285BI" << QStringList{"ttyUSB2=FT4HX2"} << "";
    }
    void portByAdapter()
    {
        QFETCH(QString, chosen);
        QFETCH(QStringList, present);
        QFETCH(QString, selected);
        WindowSettings(path("port.conf")).setPort(portList({chosen}).first());
        const QList<PortInfo> ports = portList(present);
        const int index = rememberedPortIndex(ports, WindowSettings(path("port.conf")).port());
        QCOMPARE(index < 0 ? QString() : ports[index].portName, selected);
    }

    void roundTrip()
    {
        {
            WindowSettings settings;
            QCOMPARE(settings.fileName(), userFile);
            QVERIFY(!settings.trendsRange());
            settings.setBaudRate(250000);
            settings.setReopenWhenPortReturns(true);
            settings.setTrendsRange(0);
            settings.setTrendsHidden({"Cell 3", "BAT_NTC3"});
            settings.setEventsGeometry("events");
            settings.setLimitsFile(path("pack, 15s.toml"));
        }
        WindowSettings settings;
        QCOMPARE(settings.readProblem(), QString());
        QCOMPARE(settings.baudRate(), 250000);
        QCOMPARE(settings.reopenWhenPortReturns(), true);
        QCOMPARE(settings.trendsRange(), std::optional<int>(0));
        QCOMPARE(settings.trendsHidden(), (QStringList{"Cell 3", "BAT_NTC3"}));
        QCOMPARE(settings.eventsGeometry(), QByteArray("events"));
        QCOMPARE(settings.limitsFile(), path("pack, 15s.toml"));
    }

    void recentRecordings()
    {
        QStringList files;
        for (int i = 0; i < 10; ++i) {
            files << path(QStringLiteral("rec%1.csv").arg(i));
            QVERIFY(writeFile(files.last(), "time\n"));
        }
        WindowSettings settings(path("recent.conf"));
        for (const QString &file : files)
            settings.addRecentRecording(file);
        settings.addRecentRecording(files[4]);
        QVERIFY(QFile::remove(files[8]));
        QCOMPARE(
            WindowSettings(path("recent.conf")).recentRecordings(),
            (QStringList{files[4], files[9], files[7], files[6], files[5], files[3], files[2]}));
        QCOMPARE(settings.recordingsFolder(), dir.path());
    }

    void windowPlace_data()
    {
        QTest::addColumn<QPoint>("place");
        QTest::addColumn<bool>("restored");
        QTest::newRow("on the screen") << QPoint(120, 80) << true;
        QTest::newRow("on a screen unplugged since") << QPoint(4000, 300) << false;
    }
    void windowPlace()
    {
        QFETCH(QPoint, place);
        QFETCH(bool, restored);
        QWidget before;
        before.resize(300, 200);
        before.move(place);
        before.show();
        QVERIFY(QTest::qWaitForWindowExposed(&before));
        QWidget after;
        QCOMPARE(restoreWindowPlace(&after, before.saveGeometry()), restored);
        if (!restored)
            return;
        after.show();
        QVERIFY(QTest::qWaitForWindowExposed(&after));
        QCOMPARE(after.frameGeometry(), before.frameGeometry());
    }

    void fileThatDoesNotRead_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not INI") << "garbage";
        QTest::newRow("a folder in its place") << "folder";
        QTest::newRow("no permission") << "unreadable";
    }
    void fileThatDoesNotRead()
    {
        QFETCH(QString, kind);
        const QString file = path(kind + QStringLiteral(".conf"));
        // Qt reads a key or two out of such a file: [port] and its baud line.
        const char raw[] = "\x89PNG\r\n\x1a\n\0[port]\nbaud=9600\n[[\xff\xfe";
        const QByteArray garbage(raw, sizeof raw - 1);
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(file));
        } else {
            QVERIFY(writeFile(file, garbage));
            if (kind == QLatin1String("unreadable")) {
                if (geteuid() == 0)
                    QSKIP("root reads a file whatever its mode");
                QVERIFY(QFile::setPermissions(file, QFileDevice::WriteOwner));
            }
        }
        {
            WindowSettings settings(file);
            QVERIFY(settings.readProblem().contains(file));
            QCOMPARE(settings.baudRate(), 115200);
            settings.setBaudRate(19200);
            settings.addRecentRecording(file);
        }
        if (kind == QLatin1String("folder")) {
            QVERIFY(QFileInfo(file).isDir());
            return;
        }
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(contents(file), garbage);
    }

    void homeThatCannotBeWritten()
    {
        // A file where the settings folder should be: nothing can be written below it.
        QVERIFY(writeFile(path("config"), "not a folder"));
        WindowSettings settings(path("config/keldro/keldro.conf"));
        QCOMPARE(settings.readProblem(), QString());
        QSignalSpy failed(&settings, &WindowSettings::saveFailed);
        settings.setBaudRate(19200);
        settings.setReopenWhenPortReturns(true);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(settings.baudRate(), 19200); // for the rest of the session
    }

    void windowStartsWhereItWasLeft()
    {
        PtyPair first, second;
        SerialEnumerator::addVirtualPort(first.slavePath());
        SerialEnumerator::addVirtualPort(second.slavePath());
        const QString recording = path("charge.csv");
        {
            auto window = std::make_unique<Widget>();
            auto *ports = window->findChild<QComboBox *>("comboBox_Port");
            ports->setCurrentIndex(ports->findText(second.slavePath()));
            auto *rates = window->findChild<QComboBox *>("comboBox_BaudRate");
            rates->setEditText(QStringLiteral("250000"));
            QTest::keyClick(rates->lineEdit(), Qt::Key_Return);
            window->windowMenu()->reopenAction()->setChecked(true);
            QVERIFY(window->windowMenu()->startRecording(recording));
            window->move(150, 90);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
            window->close();
        }

        Widget window;
        QCOMPARE(window.findChild<QComboBox *>("comboBox_Port")->currentText(), second.slavePath());
        QCOMPARE(window.findChild<QComboBox *>("comboBox_BaudRate")->currentText(), "250000");
        QVERIFY(window.windowMenu()->reopenAction()->isChecked());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.frameGeometry().topLeft(), QPoint(150, 90));
        // A recording written is offered again.
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                                window.mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(&window, &click);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        QStringList recent;
        for (QAction *action : menu->actions())
            if (action->text() == QLatin1String("Open recent"))
                for (QAction *entry : action->menu()->actions())
                    recent << entry->toolTip();
        menu->close();
        QCOMPARE(recent, QStringList{recording});
        SerialEnumerator::removeVirtualPort(first.slavePath());
        SerialEnumerator::removeVirtualPort(second.slavePath());
    }

    // The limits last loaded judge again at the next start; a file that no longer reads
    // is named in the log, and the window judges without limits.
    void limitsFileComesBack()
    {
        const QString limits = path("station.toml");
        QVERIFY(writeFile(limits, "[cells]\nmax_mV = 4250\n"));
        {
            Widget window;
            QVERIFY(window.windowMenu()->loadLimits(limits));
        }
        {
            Widget window;
            window.windowMenu()->loadRememberedLimits();
            QVERIFY(window.windowJudge()->hasLimits());
            QCOMPARE(window.windowJudge()->limitsPath(), limits);
        }
        QVERIFY(writeFile(limits, "[cells]\nmax_mv = 4250\n"));
        Widget window;
        window.windowMenu()->loadRememberedLimits();
        QVERIFY(!window.windowJudge()->hasLimits());
        const QString log = window.findChild<QPlainTextEdit *>("plainTextEdit")->toPlainText();
        QVERIFY2(
            log.contains(QStringLiteral("Limits not loaded: ") + limits + QStringLiteral(":2")),
            qPrintable(log));
    }

    // The span pressed and the lines hidden in one trends window are where the next
    // one starts.
    void trendsViewComesBack()
    {
        const QString recording = path("two-hours.csv");
        {
            QFile file(recording);
            QVERIFY(file.open(QIODevice::WriteOnly));
            RecordWriter writer(&file, RecordFormat::Csv);
            writer.writeHeader();
            TelemetryRecord record{1800000000000, QStringLiteral("ttyUSB0"),
                                   judgeChunk(WorkedExamples::type2Frame).telemetry};
            for (int i = 0; i < 720; ++i, record.timeMs += 10000)
                writer.write(record);
            QVERIFY(writer.flush());
        }
        auto open = [&](Widget &window) {
            QVERIFY(window.windowMenu()->openRecording(recording));
            TrendsWindow *trends = window.findChild<TrendsWindow *>();
            QVERIFY(trends);
            QSignalSpy done(trends, &TrendsWindow::recordingOpened);
            QVERIFY(done.wait(10000));
        };
        {
            Widget window;
            open(window);
            auto *trends = window.findChild<TrendsWindow *>();
            QCOMPARE(trends->span(), 0); // nothing chosen yet: the whole recording
            trends->findChild<QAbstractButton *>(QStringLiteral("span60"))->click();
            trends->setSeriesHidden(TrendStore::CurrentSeries, true);
        }
        Widget window;
        open(window);
        auto *trends = window.findChild<TrendsWindow *>();
        QCOMPARE(trends->span(), 3600);
        QVERIFY(trends->isSeriesHidden(TrendStore::CurrentSeries));
        QVERIFY(!trends->isSeriesHidden(0));
    }

    void windowSaysOnceThatTheFileDidNotRead()
    {
        QVERIFY(QDir().mkpath(QFileInfo(userFile).path()));
        QVERIFY(writeFile(userFile, "\x89PNG\r\n[[[\n"));
        {
            Widget window;
            const QString log = window.findChild<QPlainTextEdit *>("plainTextEdit")->toPlainText();
            QCOMPARE(log.count(QStringLiteral("Settings not read from ") + userFile), 1);
        }
        // keldro --reset-settings
        QVERIFY(WindowSettings::clearStored());
        Widget window;
        QCOMPARE(window.findChild<QPlainTextEdit *>("plainTextEdit")->toPlainText(), QString());
    }
};

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
