// Figures of the live window: how long a frame takes from the board's last byte to
// the screen, what showing a frame costs, what the idle window costs, and whether
// a chatty board's text keeps the receive log flat in memory and time.
//
//   build/bench_link [part] [frames]
// part is display, latency, remote, idle or log (all of them by default); frames is
// the length of a latency run, 1000 by default. remote is the latency through a
// ser2net on 127.0.0.1 (rfc2217://, ser2net's default settings) in front of the
// pseudo-terminal.
#include "benchsupport.h"
#include "protocol/displaytext.h"
#include "protocol/telemetryframe.h"
#include "protocol/telemetryrecord.h"
#include "ptypair.h"
#include "scratchsettings.h"
#include "ser2netserver.h"
#include "serial/serialenumerator.h"
#include "serial/serialport.h"
#include "ui_widget.h"
#include "window/alarms/valuefieldmarks.h"
#include "window/telemetryview.h"
#include "window/trends/trendswindow.h"
#include "window/widget.h"
#include "workedexamples.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

Telemetry sampleTelemetry()
{
    return judgeChunk(WorkedExamples::type2Frame).telemetry;
}

// Every field differs from sampleTelemetry().
Telemetry everythingChanged()
{
    Telemetry t = sampleTelemetry();
    for (auto &mv : t.cellMillivolts)
        mv = quint16(mv + 1);
    t.batteryMillivolts += 1;
    t.packMillivolts += 1;
    t.stateOfCharge += 1;
    t.currentMilliamps += 1;
    t.ntc1 += 1;
    t.ntc2 += 1;
    t.ntc3 += 1;
    t.selfDischargeNtc += 1;
    t.mosfetNtc += 1;
    t.cycleCount += 1;
    t.manufactureDate += 1;
    t.versionMinor += 1;
    t.model = 5;
    t.systemState = 2;
    t.bmsState = 1;
    t.protectionFlags = 0x5e;
    t.bqStatus = 0x81;
    t.cellType = 6;
    return t;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[size_t(p * double(v.size() - 1))];
}

void latency(int frames, bool remote)
{
    PtyPair board;
    std::unique_ptr<Ser2netServer> server;
    QString port = board.slavePath();
    if (remote) {
        server = std::make_unique<Ser2netServer>(port);
        if (!server->start()) {
            std::printf("remote latency: ser2net did not start\n");
            return;
        }
        port = server->rfc2217Url();
    }
    SerialEnumerator::addVirtualPort(port);
    Widget window;
    window.show();
    auto *open = window.findChild<QPushButton *>(QStringLiteral("pushButton_OpenClose"));
    auto *cell1 = window.findChild<QTextBrowser *>(QStringLiteral("textBrowser_cell1"));
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comboBox_Port"));
    ports->setCurrentIndex(ports->findData(port));
    QTest::mouseClick(open, Qt::LeftButton);
    // A server answers while the event loop runs.
    QElapsedTimer opening;
    opening.start();
    while (!open->styleSheet().contains(QLatin1String("100,240,20")) && opening.elapsed() < 6000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);

    std::vector<double> ms;
    Telemetry t = sampleTelemetry();
    QElapsedTimer clock;
    for (int i = 0; i < frames; ++i) {
        t.cellMillivolts[0] = quint16(3000 + i % 1000);
        const QString expected = QString::number(t.cellMillivolts[0]);
        board.write(encodeTelemetry(t));
        clock.start();
        while (cell1->toPlainText() != expected && clock.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        QTest::qWait(20); // a board sends at most every 50 ms
    }
    std::printf("latency%s, last byte written to value shown, %d frames: median %.2f ms, "
                "p99 %.2f ms\n",
                remote ? " through ser2net (rfc2217)" : "", frames, percentile(ms, 0.5),
                percentile(ms, 0.99));
    SerialEnumerator::removeVirtualPort(port);
}

void displayCost()
{
    QWidget host;
    Ui::Widget ui;
    ui.setupUi(&host);
    prepareValueFields(ui);
    host.show();
    ValueFieldMarks marks(ui);
    // The window feeds its live trends window from the first frame, shown or not.
    TrendsWindow trends;
    TelemetryRecord record{0, QStringLiteral("ttyUSB0"), Telemetry{}};
    const Telemetry sample = sampleTelemetry();
    const Telemetry changed = everythingChanged();
    const TelemetryTexts a = renderTelemetry(sample);
    const TelemetryTexts all = renderTelemetry(changed);
    Telemetry few = sampleTelemetry();
    few.cellMillivolts[0] += 1;
    few.currentMilliamps += 1;
    few.stateOfCharge += 1;
    const TelemetryTexts three = renderTelemetry(few);

    // marked: also what the window does after showing a frame: the stale timer and
    // the balance colours (the sample's cells are 14 mV apart, so two of them are
    // coloured); fed: and the hidden live trends window gets the frame.
    const auto run = [&](const TelemetryTexts &other, const Telemetry &otherTelemetry, bool paint,
                         bool marked, bool fed = false) {
        constexpr int rounds = 2000;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < rounds; ++i) {
            showTelemetry(ui, i % 2 ? other : a);
            if (marked)
                marks.frameShown(i % 2 ? otherTelemetry : sample);
            if (fed) {
                record.timeMs += 100;
                record.telemetry = i % 2 ? otherTelemetry : sample;
                trends.addRecord(record);
            }
            if (paint)
                QCoreApplication::processEvents();
        }
        return double(clock.nsecsElapsed()) / 1e3 / rounds;
    };
    run(all, changed, true, true); // warm up
    std::printf("display, 39 fields changing: %.1f us per frame (%.1f us with repaint)\n",
                run(all, changed, false, false), run(all, changed, true, false));
    std::printf("display, 3 fields changing: %.1f us per frame (%.1f us with repaint)\n",
                run(three, few, false, false), run(three, few, true, false));
    std::printf("display and marks, 39 fields changing: %.1f us per frame (%.1f us with "
                "repaint)\n",
                run(all, changed, false, true), run(all, changed, true, true));
    std::printf("display and marks, 3 fields changing: %.1f us per frame (%.1f us with "
                "repaint)\n",
                run(three, few, false, true), run(three, few, true, true));
    std::printf("display, marks and hidden trends, 3 fields changing: %.1f us per frame (%.1f "
                "us with repaint)\n",
                run(three, few, false, true, true), run(three, few, true, true, true));
}

void idleCpu()
{
    Widget window;
    window.show();
    QTest::qWait(500);
    // A plain event loop: QTest::qWait itself wakes every few milliseconds.
    QEventLoop idle;
    QTimer::singleShot(30000, &idle, &QEventLoop::quit);
    const double before = BenchSupport::cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    idle.exec();
    const double used = BenchSupport::cpuSeconds() - before;
    std::printf("idle window with hot-plug notifications on: %.3f %% of a core over %.0f s\n",
                100.0 * used / (double(clock.elapsed()) / 1000.0),
                double(clock.elapsed()) / 1000.0);
}

void logGrowth(bool lineBreaks)
{
    QPlainTextEdit log;
    log.resize(371, 591);
    log.show();
    QByteArray chunk(4096, 'x');
    if (lineBreaks)
        for (int i = 79; i < chunk.size(); i += 80)
            chunk[i] = '\n';
    constexpr int chunks = 50 * 1024 * 1024 / 4096;
    constexpr int stretch = chunks / 10;
    std::printf("receive log, 50 MiB in 4 KiB chunks, %s line breaks:\n",
                lineBreaks ? "with" : "without");
    QElapsedTimer clock;
    for (int i = 0; i < chunks; ++i) {
        if (i % stretch == 0)
            clock.start();
        appendToReceiveLog(&log, chunk);
        QCoreApplication::processEvents(); // the repaint a live window does
        if ((i + 1) % stretch == 0)
            std::printf("  %2d-%2d MiB: %4.0f us per chunk, resident %ld KiB, log %d characters\n",
                        (i + 1 - stretch) * 4 / 1024, (i + 1) * 4 / 1024,
                        double(clock.nsecsElapsed()) / 1e3 / stretch, BenchSupport::residentKiB(),
                        log.document()->characterCount());
    }
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    useScratchSettings();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    SerialEnumerator::setSystemPortsHidden(true);
    const QByteArray part = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const int frames = argc > 2 ? QByteArray(argv[2]).toInt() : 1000;
    if (part.isEmpty() || part == "display")
        displayCost();
    if (part.isEmpty() || part == "latency")
        latency(frames, false);
    if (part.isEmpty() || part == "remote")
        latency(frames, true);
    if (part.isEmpty() || part == "idle")
        idleCpu();
    if (part.isEmpty() || part == "log") {
        logGrowth(true);
        logGrowth(false);
    }
    return 0;
}
