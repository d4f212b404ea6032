// The window's events file beside its recording on a disk that fills up: a tmpfs of
// 64 KiB the test mounts (as root), so that a write is taken only in part.
#include "judge/judgeevent.h"
#include "window/windowrecorder.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

class FullDiskTest : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    bool mounted = false;

private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("mounting a tmpfs needs root");
        mounted = ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0,
                          "size=64k") == 0;
        if (!mounted)
            QSKIP(qPrintable(QStringLiteral("no tmpfs: %1").arg(strerror(errno))));
    }
    void cleanupTestCase()
    {
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }

    void windowEvents_wholeLinesAndTheSystemsReason()
    {
        WindowRecorder recorder;
        QSignalSpy failed(&recorder, &WindowRecorder::failed);
        recorder.setKeepEvents(true);
        QString error;
        QVERIFY2(recorder.start(dir.filePath(QStringLiteral("night.csv")), &error),
                 qPrintable(error));
        JudgeEvent event;
        event.timeMs = 1796662683123;
        event.port = QStringLiteral("ttyUSB0");
        event.kind = EventKind::Limit;
        event.name = QStringLiteral("cell_max");
        event.state = EventState::Raised;
        event.cell = 7;
        event.value = 4262;
        event.limit = 4250;
        event.isAlarm = true;
        event.text = QStringLiteral("cell 7 at 4262 mV, above 4250 mV");
        // A batch of events is some 2.3 KiB: 64 KiB take less than thirty.
        for (int batch = 0; batch < 100 && failed.isEmpty(); ++batch)
            recorder.addEvents(QVector<JudgeEvent>(12, event));
        QCOMPARE(failed.count(), 1);
        const QString reason = failed.at(0).at(0).toString();
        QVERIFY2(reason.contains(QString::fromLocal8Bit(strerror(ENOSPC))), qPrintable(reason));

        QFile file(WindowRecorder::eventsPathFor(dir.filePath(QStringLiteral("night.csv"))));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.size() > 16 * 1024);
        QVector<JudgeEvent> events;
        QVERIFY2(readEventLines(&file, &events, &error), qPrintable(error));
        QCOMPARE(events.size() % 12, 0);
        QCOMPARE(events.last().text, event.text);
    }
};

QTEST_GUILESS_MAIN(FullDiskTest)
#include "tst_fulldisk.moc"
