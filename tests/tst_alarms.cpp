// What the window makes of limits: alarms in the strip, the title, the receive log, on
// the value fields and in the events window, a limits file refused without losing the
// limits before it, the events kept beside a recording and the limits drawn on it. A
// pseudo-terminal stands in for the board.
#include "judge/judgeevent.h"
#include "plot/customplot.h"
#include "plot/trendsplot.h"
#include "protocol/telemetryframe.h"
#include "protocol/telemetryrecord.h"
#include "ptypair.h"
#include "serial/serialenumerator.h"
#include "window/alarms/alarmstrip.h"
#include "window/alarms/alarmstyle.h"
#include "window/alarms/eventswindow.h"
#include "window/alarms/windowjudge.h"
#include "window/portboxstyle.h"
#include "window/trends/trendswindow.h"
#include "window/widget.h"
#include "window/windowmenu.h"
#include "workedexamples.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
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
        // After a dialog closes, the application's active window can still be that
        // dialog for a while (Qt 6's offscreen platform); a shortcut typed then is lost.
        window->activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), window.get());
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
        QTest::addColumn<QString>("shown"); // in the strip and the title
        QTest::newRow("cell 7 high")
            << QByteArray("[cells]\nmax_mV = 4250\n[hysteresis]\nmV = 10\n")
            << Change([](Telemetry &t) { t.cellMillivolts[6] = 4262; })
            << Change([](Telemetry &t) { t.cellMillivolts[6] = 4240; }) << "textBrowser_cell7"
            << "cell 7 at 4262 mV, above 4250 mV"
            << "cell 7 4262 mV > 4250";
        QTest::newRow("mosfet cold")
            << QByteArray("[temperature]\nmin_C = -10.0\n")
            << Change([](Telemetry &t) { t.mosfetNtc = -105; })
            << Change([](Telemetry &t) { t.mosfetNtc = -100; }) << "textBrowser_MCU_NTC2"
            << "MOSFET at -10.5 °C, below -10 °C"
            << "MOSFET -10.5 °C < -10";
        // No limits file: the flags are judged all the same.
        QTest::newRow("OV flag") << QByteArray()
                                 << Change([](Telemetry &t) { t.protectionFlags = 0x08; })
                                 << Change() << "textBrowser_OVD"
                                 << "OV raised"
                                 << "OV";
    }
    void alarmIsShownUntilItClears()
    {
        QFETCH(QByteArray, limits);
        QFETCH(Change, raise);
        QFETCH(Change, clear);
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, shown);
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
        QCOMPARE(window->windowTitle(), baseTitle + " — ALARM (1): " + shown);
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
                 baseTitle + " — ALARM (1): spread 105 mV (cell 1–cell 9) > 80");
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
        QCOMPARE(window->windowTitle(),
                 baseTitle + " — ALARM (1): charge current 2500 mA > 2000 — recording " + name);
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
        // Both events are a frame apart: one mark's reach holds the two, once the
        // recording has been read and the marks drawn over it.
        QTRY_VERIFY_WITH_TIMEOUT(!trends->isOpening(), 10000);
        QStringList marks;
        QTRY_COMPARE_WITH_TIMEOUT(
            (marks = plotToolTip(trends, 1, kept[0].timeMs / 1000.0).split('\n')).size(), 2, 10000);
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

    // Two alarms raised, two more a frame later, then one cleared while a value moves.
    void stripTitleAndLogFollowTheAlarms()
    {
        QVERIFY(window->windowMenu()->loadLimits(
            writeFile("limits.toml", "[cells]\nmin_mV = 2800\nmax_spread_mV = 80\n")));
        auto *strip = child<AlarmStrip>("alarmStrip");
        const int formHeight = window->height();
        openLink();
        sendFrame();
        QVERIFY(!strip->isVisible());
        sendFrame([](Telemetry &t) { t.cellMillivolts[1] = 2700; });
        sendFrame([](Telemetry &t) {
            t.cellMillivolts[1] = 2700;
            t.protectionFlags = 0x18; // OV, UV
        });
        QCOMPARE(strip->items().join(" · "),
                 "cell 2 2700 mV < 2800 · spread 914 mV (cell 2–cell 15) > 80 · OV · UV");
        QVERIFY(strip->isVisible());
        QCOMPARE(window->height(), formHeight + strip->height());
        QCOMPARE(child("widget_2")->geometry(), QRect(10, 10, 491, 611));

        sendFrame([](Telemetry &t) {
            t.cellMillivolts[1] = 2650;
            t.protectionFlags = 0x10;
        });
        QCOMPARE(strip->items(), QStringList({"cell 2 2650 mV < 2800",
                                              "spread 964 mV (cell 2–cell 15) > 80", "UV"}));
        QCOMPARE(window->windowTitle(), baseTitle + " — ALARM (3): cell 2 2650 mV < 2800");
        const QStringList log =
            child<QPlainTextEdit>("plainTextEdit")->toPlainText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(log.filter("ALARM").first(), "ALARM cell 2 at 2700 mV, below 2800 mV");
        QCOMPARE(log.filter("ALARM").size(), 4);
        QCOMPARE(log.last(), "cleared: OV");

        QCOMPARE(strip->palette().color(QPalette::Window), AlarmStyle::stripBackground());
        QTest::mouseClick(child<QPushButton>("pushButton_OpenClose"), Qt::LeftButton);
        QCOMPARE(strip->palette().color(QPalette::Window), AlarmStyle::staleStripBackground());
        QTest::mouseClick(strip, Qt::LeftButton);
        QTRY_VERIFY(window->findChild<QTableView *>("events")->isVisible());
    }

    void eventColumnsFitAWindowOpenedFirst()
    {
        pressKey(Qt::Key_E);
        auto *table = window->findChild<QTableView *>("events");
        QVERIFY(QTest::qWaitForWindowExposed(table->window()));
        openLink();
        for (int i = 0; i < 19; ++i) // the OV flag raised and cleared: 20 events with the link's
            sendFrame([i](Telemetry &t) { t.protectionFlags = i % 2 ? 0 : 0x08; });
        QAbstractItemModel *events = table->model();
        QCOMPARE(events->rowCount(), 20);
        const QModelIndex time = events->index(19, 0);
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")
                     .match(time.data().toString())
                     .hasMatch(),
                 qPrintable(time.data().toString()));
        QCOMPARE(time.data(Qt::ToolTipRole).toString(),
                 QDate::currentDate().toString("yyyy-MM-dd ") + time.data().toString());
        // A window opened after them too.
        EventsWindow late(window->windowJudge());
        late.show();
        QVERIFY(QTest::qWaitForWindowExposed(&late));
        for (QTableView *view : {table, late.findChild<QTableView *>("events")})
            for (int column : {0, 1}) {
                const QString text = events->index(19, column).data().toString();
                QVERIFY2(view->columnWidth(column) > view->fontMetrics().horizontalAdvance(text),
                         qPrintable(text));
            }
    }

    void openedRecordingDrawsTheLoadedLimits()
    {
        QVERIFY(window->windowMenu()->loadLimits(
            writeFile("limits.toml", "[cells]\nmax_mV = 4250\n[current]\nmax_discharge_mA = 60000\n"
                                     "[soc]\nmin_pct = 5\n")));
        openLink();
        const QString path = dir.filePath("limits-run.csv");
        QVERIFY(window->windowMenu()->startRecording(path));
        sendFrame();
        pressKey(Qt::Key_R);
        QVERIFY(window->windowMenu()->openRecording(path));
        QPointer<TrendsWindow> trends = window->findChildren<TrendsWindow *>().last();
        QTRY_VERIFY(!trends->isOpening());
        QVERIFY(trends && trends->store().cellCount() == 15);
        auto labels = [trends] {
            QMap<QString, QCPItemText *> byText;
            for (int i = 0; i < trends->plot()->itemCount(); ++i)
                if (auto *label = qobject_cast<QCPItemText *>(trends->plot()->item(i)))
                    byText[label->text()] = label;
            return byText;
        };
        QCOMPARE(labels().keys(),
                 QStringList({"SOC min 5 %", "cell max 4250 mV", "discharge max 60000 mA"}));
        // The SOC limit in the SOC line's colour, on its axis.
        QCPItemText *soc = labels()["SOC min 5 %"];
        QCOMPARE(soc->color(), trends->graph(TrendStore::StateOfChargeSeries)->pen().color());
        QCOMPARE(soc->position->valueAxis(), trends->plot()->currentRect()->axis(QCPAxis::atRight));

        QVERIFY(window->windowMenu()->loadLimits(
            writeFile("other.toml", "[temperature]\nmax_C = 60.5\n")));
        QCOMPARE(labels().keys(), QStringList({"temp max 60.5 °C"}));
    }

    void portBoxShowsTheEndOfALongName()
    {
        const QString longName = dir.filePath("bench-rack-3-usb-adapter-port-12");
        QVERIFY(QFile::link(board->slavePath(), longName));
        SerialEnumerator::addVirtualPort(longName);
        auto *box = child<QComboBox>("comboBox_Port");
        QTRY_VERIFY(box->findText(longName) >= 0);
        box->setCurrentIndex(box->findText(longName));
        const QString shown = PortBoxStyle::shownText(box);
        const QString toolTip = box->toolTip();
        SerialEnumerator::removeVirtualPort(longName);
        QVERIFY2(shown.startsWith("…") && shown.size() > 4 && longName.endsWith(shown.mid(1)),
                 qPrintable(shown));
        QCOMPARE(toolTip.section('\n', 0, 0), longName);
        QCOMPARE(box->geometry(), QRect(190, 0, 89, 20));
    }
};

QTEST_MAIN(AlarmsTest)
#include "tst_alarms.moc"
