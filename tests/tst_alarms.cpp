// What the window makes of limits: alarms in the title, on the value fields and in the
// events window, a limits file refused without losing the limits before it, and the
// events kept beside a recording. A pseudo-terminal stands in for the board.
#include "judge/judgeevent.h"
#include "plot/customplot.h"
#include "plot/trendsplot.h"
#include "protocol/telemetryframe.h"
#include "protocol/telemetryrecord.h"
#include "ptypair.h"
#include "serial/serialenumerator.h"
#include "window/alarms/alarmstyle.h"
#include "window/alarms/windowjudge.h"
#include "window/trends/trendswindow.h"
#include "window/widget.h"
#include "window/windowmenu.h"
#include "workedexamples.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QToolTip>
#include <functional>
#include <memory>

using Change = std::function<void(Telemetry &)>;
Q_DECLARE_METATYPE(Change)

class AlarmsTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PtyPair> board;
    std::unique_ptr<Widget> window;
    QTemporaryDir dir;
    QString baseTitle;

    template <typename T = QWidget> T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    bool alarmShown(const QString &field) const
    {
        return window->findChild<QTextBrowser *>(field)->palette().color(QPalette::Base) ==
               AlarmStyle::background();
    }
    QString writeFile(const QString &name, const QByteArray &text)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(text);
        return file.fileName();
    }
    // The worked type 2 frame with its flags down, changed as the row asks.
    void sendFrame(const Change &change = {})
    {
        Telemetry telemetry = judgeChunk(WorkedExamples::type2Frame).telemetry;
        telemetry.protectionFlags = 0;
        if (change)
            change(telemetry);
        QSignalSpy shown(window.get(), &Widget::frameAccepted);
        QVERIFY(board->write(encodeTelemetry(telemetry)));
        QVERIFY(shown.wait(5000));
    }
    void openLink()
    {
        QTest::mouseClick(child<QPushButton>("pushButton_OpenClose"), Qt::LeftButton);
        QVERIFY(child("pushButton_Off")->isEnabled());
    }
    void pressKey(Qt::Key key)
    {
        // The offscreen platform gives the focus back to no window after a dialog.
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), key, Qt::ControlModifier);
    }
    // Runs answer on the next modal dialog of type T, once it is up.
    template <typename T> void answerNext(std::function<void(T *)> answer)
    {
        auto *timer = new QTimer(window.get());
        connect(timer, &QTimer::timeout, timer, [timer, answer] {
            if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
                timer->deleteLater();
                answer(dialog);
            }
        });
        timer->start(10);
    }
    void chooseFileNext(const QString &path)
    {
        answerNext<QFileDialog>([path](QFileDialog *dialog) {
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
            static_cast<QDialog *>(dialog)->accept();
        });
    }
    void clickNext(const QString &button)
    {
        answerNext<QMessageBox>([button](QMessageBox *box) {
            for (QAbstractButton *b : box->buttons())
                if (b->text() == button)
                    b->click();
        });
    }
    // The tooltip of the plot at a time and, with value unset, at the time axis.
    static QString plotToolTip(TrendsWindow *trends, int rect, double key, double *value = nullptr)
    {
        QCustomPlot *plot = trends->plot();
        // The time in the middle, away from the plot's edges.
        for (QCPAxisRect *each : plot->axisRects())
            each->axis(QCPAxis::atBottom)->setRange(key - 10, key + 10);
        plot->replot();
        QCPAxisRect *axisRect = plot->axisRects().at(rect);
        const QPoint pos(int(axisRect->axis(QCPAxis::atBottom)->coordToPixel(key)),
                         value ? int(axisRect->axis(QCPAxis::atLeft)->coordToPixel(*value))
                               : axisRect->bottom() - 3);
        QHelpEvent hover(QEvent::ToolTip, pos, plot->mapToGlobal(pos));
        QApplication::sendEvent(plot, &hover);
        return QToolTip::text();
    }

private slots:
    void initTestCase()
    {
        SerialEnumerator::setSystemPortsHidden(true);
        qRegisterMetaType<TelemetryRecord>();
        QVERIFY(dir.isValid());
    }
    void init()
    {
        board = std::make_unique<PtyPair>();
        SerialEnumerator::addVirtualPort(board->slavePath());
        window = std::make_unique<Widget>();
        window->windowMenu()->setFileDialogOptions(QFileDialog::DontUseNativeDialog);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        baseTitle = window->windowTitle();
    }
    void cleanup()
    {
        window.reset();
        SerialEnumerator::removeVirtualPort(board->slavePath());
        board.reset();
    }

    void alarmIsShownUntilItClears_data()
    {
        QTest::addColumn<QByteArray>("limits");
        QTest::addColumn<Change>("raise");
        QTest::addColumn<Change>("clear");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::newRow("cell 7 high")
            << QByteArray("[cells]\nmax_mV = 4250\n[hysteresis]\nmV = 10\n")
            << Change([](Telemetry &t) { t.cellMillivolts[6] = 4262; })
            << Change([](Telemetry &t) { t.cellMillivolts[6] = 4240; }) << "textBrowser_cell7"
            << "cell 7 at 4262 mV, above 4250 mV";
        QTest::newRow("mosfet cold")
            << QByteArray("[temperature]\nmin_C = -10.0\n")
            << Change([](Telemetry &t) { t.mosfetNtc = -105; })
            << Change([](Telemetry &t) { t.mosfetNtc = -100; }) << "textBrowser_MCU_NTC2"
            << "MOSFET at -10.5 °C, below -10 °C";
        // No limits file: the flags are judged all the same.
        QTest::newRow("OV flag") << QByteArray()
                                 << Change([](Telemetry &t) { t.protectionFlags = 0x08; })
                                 << Change() << "textBrowser_OVD"
                                 << "OV raised";
    }
    void alarmIsShownUntilItClears()
    {
        QFETCH(QByteArray, limits);
        QFETCH(Change, raise);
        QFETCH(Change, clear);
        QFETCH(QString, field);
        QFETCH(QString, text);
        if (!limits.isEmpty()) {
            // Through the menu: no limits yet, so Ctrl+L asks for a file at once.
            chooseFileNext(writeFile("limits.toml", limits));
            pressKey(Qt::Key_L);
            QVERIFY(window->windowJudge()->hasLimits());
        }
        openLink();
        sendFrame();
        QVERIFY(!alarmShown(field));
        sendFrame(raise);
        QCOMPARE(window->windowTitle(), baseTitle + " — ALARM: " + text);
        QVERIFY(alarmShown(field));
        QVERIFY(!alarmShown("textBrowser_cell1"));

        pressKey(Qt::Key_E);
        auto *table = window->findChild<QTableView *>("events");
        QVERIFY(table && table->isVisible());
        QAbstractItemModel *events = table->model();
        auto rowOf = [events](const QString &text) {
            for (int row = 0; row < events->rowCount(); ++row)
                if (events->index(row, 2).data() == text)
                    return row;
            return -1;
        };
        QCOMPARE(events->index(0, 2).data().toString(), "link opened");
        QCOMPARE(events->index(0, 1).data().toString(), board->slavePath());
        const int row = rowOf(text);
        QCOMPARE(row, events->rowCount() - 1);
        auto marked = [events, row] {
            return events->index(row, 2).data(Qt::BackgroundRole).value<QBrush>().color() ==
                   AlarmStyle::background();
        };
        QVERIFY(marked());

        sendFrame(clear);
        QCOMPARE(window->windowTitle(), baseTitle);
        QVERIFY(!alarmShown(field));
        QVERIFY(!marked());
        QCOMPARE(events->rowCount(), row + 2);

        const QString saved = dir.filePath(QString(QTest::currentDataTag()) + ".jsonl");
        chooseFileNext(saved);
        QTest::mouseClick(window->findChild<QPushButton *>("saveJsonLines"), Qt::LeftButton);
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVector<JudgeEvent> lines;
        QString error;
        QVERIFY2(readEventLines(&file, &lines, &error), qPrintable(error));
        QCOMPARE(lines.size(), events->rowCount());
        QCOMPARE(lines[row].text, text);
    }

    // A spread that stays too wide marks the cells lowest and highest now.
    void spreadMarksFollowTheCells()
    {
        QVERIFY(window->windowMenu()->loadLimits(
            writeFile("limits.toml", "[cells]\nmax_spread_mV = 80\n")));
        openLink();
        sendFrame([](Telemetry &t) { t.cellMillivolts[6] = 3700; });
        QVERIFY(alarmShown("textBrowser_cell1") && alarmShown("textBrowser_cell7"));
        sendFrame([](Telemetry &t) {
            t.cellMillivolts[6] = 3690;
            t.cellMillivolts[8] = 3705;
        });
        QVERIFY(alarmShown("textBrowser_cell1") && alarmShown("textBrowser_cell9"));
        QVERIFY(!alarmShown("textBrowser_cell7"));
        QCOMPARE(window->windowTitle(),
                 baseTitle + " — ALARM: spread 100 mV between cell 1 (3600 mV) and cell 7 "
                             "(3700 mV), above 80 mV");
    }

    void badLimitsFileKeepsTheLimitsBefore()
    {
        const QString good = writeFile("good.toml", "[cells]\nmax_mV = 4250\n");
        const QString bad = writeFile("bad.toml", "[cells]\nmax_mv = 4250\n");
        QVERIFY(window->windowMenu()->loadLimits(good));

        clickNext("Load another file…");
        chooseFileNext(bad);
        pressKey(Qt::Key_L);
        QMessageBox *warning = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT(
            (warning = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) &&
                warning->icon() == QMessageBox::Warning,
            5000);
        const QString said = warning->text();
        warning->accept();
        QVERIFY2(said.contains(bad + ":2: cells.max_mv") && said.contains(good), qPrintable(said));
        QCOMPARE(window->windowJudge()->limitsPath(), good);
        openLink();
        sendFrame([](Telemetry &t) { t.cellMillivolts[0] = 4300; });
        QVERIFY(alarmShown("textBrowser_cell1"));

        // Back to none: the limit's alarm goes with its limit.
        clickNext("No limits");
        pressKey(Qt::Key_L);
        QTRY_VERIFY_WITH_TIMEOUT(!window->windowJudge()->hasLimits(), 5000);
        QVERIFY(!alarmShown("textBrowser_cell1"));
        QCOMPARE(window->windowTitle(), baseTitle);
    }

    void recordingKeepsItsEvents_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("events");
        QTest::newRow("CSV") << "run.csv"
                             << "run.events.jsonl";
        QTest::newRow("JSON Lines") << "run.jsonl"
                                    << "run.events.jsonl";
    }
    void recordingKeepsItsEvents()
    {
        QFETCH(QString, name);
        QFETCH(QString, events);
        const QString path = dir.filePath(name);
        QVERIFY(window->windowMenu()->loadLimits(
            writeFile("limits.toml", "[current]\nmax_charge_mA = 2000\n")));
        openLink();
        QVERIFY(window->windowMenu()->startRecording(path));
        QCOMPARE(window->windowTitle(), baseTitle + " — recording " + name);
        sendFrame(); // 2500 mA
        const QString text = "charge current at 2500 mA, above 2000 mA";
        QCOMPARE(window->windowTitle(), baseTitle + " — ALARM: " + text + " — recording " + name);
        sendFrame([](Telemetry &t) { t.currentMilliamps = 1000; });
        pressKey(Qt::Key_R);

        QFile file(dir.filePath(events));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVector<JudgeEvent> kept;
        QString error;
        QVERIFY2(readEventLines(&file, &kept, &error), qPrintable(error));
        QCOMPARE(kept.size(), 2);
        QCOMPARE(kept[0].text, text);
        QCOMPARE(kept[1].state, EventState::Cleared);

        QVERIFY(window->windowMenu()->openRecording(path));
        auto *trends = window->findChildren<TrendsWindow *>().last();
        QVERIFY(QTest::qWaitForWindowExposed(trends));
        // Both events are a frame apart: one mark's reach holds the two.
        const QStringList marks = plotToolTip(trends, 1, kept[0].timeMs / 1000.0).split('\n');
        QCOMPARE(marks.size(), 2);
        QCOMPARE(marks[0].section("  ", 1), text);
    }

    void liveTrendsDrawTheLimits()
    {
        QVERIFY(
            window->windowMenu()->loadLimits(writeFile("limits.toml", "[cells]\nmax_mV = 3610\n")));
        openLink();
        sendFrame();
        pressKey(Qt::Key_T);
        auto *trends = window->findChild<TrendsWindow *>();
        QVERIFY(QTest::qWaitForWindowExposed(trends));
        const double key = trends->graph(0)->data()->constBegin()->key;
        double limit = 3610;
        QCOMPARE(plotToolTip(trends, 0, key, &limit), "cells.max_mV = 3610 mV");
        const QString marks = plotToolTip(trends, 2, key);
        QVERIFY2(marks.contains("cell 15 at 3614 mV, above 3610 mV"), qPrintable(marks));
    }
};

QTEST_MAIN(AlarmsTest)
#include "tst_alarms.moc"
