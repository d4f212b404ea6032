// What the main window offers beyond its form: the context menu and its shortcuts,
// stale and balance marks on the values, copying and saving what it shows, and
// reopening a port that comes back. A pseudo-terminal stands in for the board.
#include "protocol/telemetryframe.h"
#include "ptypair.h"
#include "record/recordreader.h"
#include "record/recordwriter.h"
#include "scratchsettings.h"
#include "serial/serialenumerator.h"
#include "ui_widget.h"
#include "window/alarms/valuefieldmarks.h"
#include "window/trends/trendswindow.h"
#include "window/widget.h"
#include "window/windowmenu.h"
#include "window/windowsettings.h"
#include "workedexamples.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <functional>
#include <memory>
#include <sys/resource.h>

namespace {
// The worked type 2 frame raises the OC and LOW_TEMP flags; the title counts them and
// names the first.
const QString type2Alarm = QStringLiteral(" — ALARM (2): OC");

QByteArray fileContents(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}
} // namespace

class WindowMenuTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<PtyPair> board;
    std::unique_ptr<Widget> window;
    QTemporaryDir dir;

    template <typename T = QWidget> T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }
    QString log() const { return child<QPlainTextEdit>("plainTextEdit")->toPlainText(); }
    QColor textColour(const char *field) const
    {
        return child(field)->palette().color(QPalette::Text);
    }
    QAction *entry(const QString &text) const
    {
        for (QAction *action : window->actions())
            if (action->text() == text)
                return action;
        return nullptr;
    }
    void startWindow(const QString &port)
    {
        SerialEnumerator::addVirtualPort(port);
        window = std::make_unique<Widget>();
        window->windowMenu()->setFileDialogOptions(QFileDialog::DontUseNativeDialog);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
    }
    void openLink()
    {
        QTest::mouseClick(child<QPushButton>("pushButton_OpenClose"), Qt::LeftButton);
        QVERIFY(child("pushButton_Off")->isEnabled());
    }
    void sendFrame(const QByteArray &frame, const QString &cell1)
    {
        QVERIFY(board->write(frame));
        QTRY_COMPARE_WITH_TIMEOUT(child<QTextBrowser>("textBrowser_cell1")->toPlainText(), cell1,
                                  5000);
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
    // Types path into Qt's own file dialog and accepts it. selectFile() leaves the
    // name field alone once it has the focus.
    static void chooseFile(QFileDialog *dialog, const QString &path)
    {
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
        static_cast<QDialog *>(dialog)->accept(); // QFileDialog's is protected
    }
    // The entries of the menu that a right click at widget shows.
    QStringList rightClick(QWidget *widget)
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                widget->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(widget, &event);
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return {};
        QStringList texts;
        for (const QAction *action : menu->actions())
            if (!action->isSeparator())
                texts << action->text().section(QLatin1Char('\t'), 0, 0);
        menu->close();
        return texts;
    }

private slots:
    void initTestCase()
    {
        useScratchSettings();
        SerialEnumerator::setSystemPortsHidden(true);
        QVERIFY(dir.isValid());
    }
    void init()
    {
        board = std::make_unique<PtyPair>();
        startWindow(board->slavePath());
    }
    void cleanup()
    {
        window.reset();
        WindowSettings::clearStored();
        for (const QString &path : SerialEnumerator::virtualPorts())
            SerialEnumerator::removeVirtualPort(path);
        board.reset();
    }

    void entries_data()
    {
        QTest::addColumn<QString>("shortcut");
        QTest::newRow("Record to file…") << "Ctrl+R";
        QTest::newRow("Trends…") << "Ctrl+T";
        QTest::newRow("Open recording…") << "Ctrl+O";
        QTest::newRow("Limits…") << "Ctrl+L";
        QTest::newRow("Events…") << "Ctrl+E";
        QTest::newRow("Cells…") << "Ctrl+H";
        QTest::newRow("Save receive log…") << "Ctrl+S";
        QTest::newRow("Copy values") << "Ctrl+Shift+C";
        QTest::newRow("Reopen when the port returns") << "";
        QTest::newRow("About keldro") << "";
    }
    void entries()
    {
        QFETCH(QString, shortcut);
        const QString text = QString::fromUtf8(QTest::currentDataTag());
        QAction *action = entry(text);
        QVERIFY(action);
        QCOMPARE(action->shortcut().toString(QKeySequence::PortableText), shortcut);
        QCOMPARE(action->isChecked(), false);

        const QStringList onLabel = rightClick(child("label_cell3"));
        QVERIFY(onLabel.contains(text));
        // The log's own entries come first.
        const QStringList onLog = rightClick(child<QPlainTextEdit>("plainTextEdit")->viewport());
        QCOMPARE(onLog.mid(onLog.size() - onLabel.size()), onLabel);
        QVERIFY(onLog.size() > onLabel.size());
    }

    void staleAndBalanceMarks()
    {
        const QColor normal = QApplication::palette().color(QPalette::Text);
        const QColor stale = ValueFieldMarks::staleColour();
        QCOMPARE(textColour("textBrowser_cell8"), stale); // the link is closed
        openLink();
        sendFrame(WorkedExamples::type2Frame, "3600"); // cells 3600 ... 3614 mV
        QCOMPARE(textColour("textBrowser_cell1"), ValueFieldMarks::lowestColour());
        QCOMPARE(textColour("textBrowser_cell15"), ValueFieldMarks::highestColour());
        QCOMPARE(textColour("textBrowser_cell8"), normal);
        QCOMPARE(textColour("textBrowser_SOC"), normal);
        QWidget *digits = child<QTextBrowser>("textBrowser_cell8")->viewport();
        QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), digits->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(digits, &hover);
        QCOMPARE(QToolTip::text(), "Lowest: Cell1 3600 mV\nHighest: Cell15 3614 mV\nSpread: 14 mV");

        QTest::qWait(ValueFieldMarks::StaleAfterMs - 500);
        QCOMPARE(textColour("textBrowser_SOC"), normal);
        QTRY_COMPARE_WITH_TIMEOUT(textColour("textBrowser_SOC"), stale, 1500);
        QCOMPARE(textColour("textBrowser_cell1"), stale);

        // 3700 ... 3709 mV: a spread of 9 mV marks no cell.
        sendFrame(WorkedExamples::type1Frame, "3700");
        QCOMPARE(textColour("textBrowser_SOC"), normal);
        QCOMPARE(textColour("textBrowser_cell1"), normal);
        QCOMPARE(textColour("textBrowser_cell9"), normal);

        QTest::mouseClick(child<QPushButton>("pushButton_OpenClose"), Qt::LeftButton);
        QCOMPARE(textColour("textBrowser_SOC"), stale);
    }

    void copyAndSaveWhatIsShown()
    {
        openLink();
        sendFrame(WorkedExamples::type2Frame, "3600");
        QVERIFY(board->write("Zelle 3 über 4,2 V\n"));
        QTRY_VERIFY_WITH_TIMEOUT(log().endsWith("über 4,2 V\n"), 5000);

        QTest::keyClick(window.get(), Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        const QStringList lines = QGuiApplication::clipboard()->text().split('\n');
        for (const char *line :
             {"BMS-BRISQ VTC6", "Cell1 3600 mV", "BAT_NTC1 24.5 \u2103", "Current 2500 mA",
              "sys_status 0x1|RESET", "LOW_TEMP 1", "Lowest: Cell1 3600 mV", "Spread: 14 mV"})
            QVERIFY2(lines.contains(QString::fromUtf8(line)), line);

        const QString path = dir.filePath("log.txt");
        answerNext<QFileDialog>([path](QFileDialog *dialog) { chooseFile(dialog, path); });
        QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), log().toUtf8());
    }

    void about()
    {
        QString text;
        answerNext<QMessageBox>([&text](QMessageBox *box) {
            text = box->text();
            box->accept();
        });
        entry("About keldro")->trigger();
        QTRY_VERIFY(!text.isEmpty());
        for (const QString &part : {QStringLiteral("keldro 1.6.1"), QString::fromLatin1(qVersion()),
                                    QStringLiteral("GPL-3.0-or-later")})
            QVERIFY2(text.contains(part), qPrintable(part));
    }

    void recording_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("CSV") << "frames.csv";
        QTest::newRow("JSON Lines") << "frames.jsonl";
    }
    void recording()
    {
        QFETCH(QString, name);
        const QString path = dir.filePath(name);
        const QString title = window->windowTitle();
        openLink();
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        answerNext<QFileDialog>([path](QFileDialog *dialog) { chooseFile(dialog, path); });
        QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(window->windowTitle(), title + " — recording " + name);
        const QByteArray frames[] = {WorkedExamples::type2Frame, WorkedExamples::type1Frame};
        sendFrame(frames[0], "3600");
        sendFrame(frames[1], "3700");
        // The offscreen platform gives the focus back to no window after a dialog.
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
        QCOMPARE(window->windowTitle(), title + type2Alarm);

        // The rows are the library's rows for what the window received.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray written = file.readAll();
        QBuffer in;
        in.setData(written);
        in.open(QIODevice::ReadOnly);
        RecordReader reader(&in);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        RecordWriter writer(&out, *recordFormatForPath(path));
        writer.writeHeader();
        TelemetryRecord record;
        for (const QByteArray &frame : frames) {
            QVERIFY2(reader.next(&record), qPrintable(reader.errorString()));
            QCOMPARE(record.port, board->slavePath());
            QVERIFY(record.timeMs >= before &&
                    record.timeMs <= QDateTime::currentMSecsSinceEpoch());
            record.telemetry = judgeChunk(frame).telemetry;
            writer.write(record);
        }
        QVERIFY(!reader.next(&record) && !reader.hasError());
        QVERIFY(writer.flush());
        QCOMPARE(written, out.data());

        // And it opens in a trends window of its own, beside the live one.
        QVERIFY(window->windowMenu()->openRecording(path));
        const QList<TrendsWindow *> trends = window->findChildren<TrendsWindow *>();
        QCOMPARE(trends.size(), 2);
        QVERIFY(trends.last()->isVisible());
    }

    void recordingThatCannotBeWrittenStops_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        // JSON Lines has no header: the first row is the first write to fail.
        QTest::newRow("full disk") << "full.jsonl"
                                   << "No space left on device";
        // The limit falls inside the second row, which the file takes only in part.
        QTest::newRow("file size limit") << "limited.csv"
                                         << "File too large";
    }
    void recordingThatCannotBeWrittenStops()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString path = dir.filePath(name);
        const bool sizeLimit = name.endsWith(".csv");
        if (!sizeLimit)
            QVERIFY(QFile::link(QStringLiteral("/dev/full"), path));
        const QString title = window->windowTitle();
        openLink();
        QVERIFY(window->windowMenu()->startRecording(path));
        rlimit limit = {};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &limit) == 0);
        const auto restoreLimit = qScopeGuard([limit] { ::setrlimit(RLIMIT_FSIZE, &limit); });
        if (sizeLimit) {
            sendFrame(WorkedExamples::type2Frame, "3600");
            QTRY_COMPARE_WITH_TIMEOUT(fileContents(path).count('\n'), 2, 5000);
            // What prlimit --fsize sets, here on the test's own process.
            rlimit lower = limit;
            lower.rlim_cur = rlim_t(QFileInfo(path).size() + 100);
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &lower) == 0);
        }
        QString said;
        answerNext<QMessageBox>([&said](QMessageBox *box) {
            said = box->text();
            box->accept();
        });
        sendFrame(WorkedExamples::type1Frame, "3700");
        QTRY_VERIFY_WITH_TIMEOUT(!said.isEmpty(), 3000);
        QVERIFY2(said.contains(path) && said.contains(reason), qPrintable(said));
        QCOMPARE(window->windowTitle(), sizeLimit ? title + type2Alarm : title);
        QVERIFY(entry("Record to file…"));
        if (!sizeLimit)
            return;
        const QByteArray bytes = fileContents(path);
        QVERIFY(bytes.endsWith('\n'));
        QBuffer in;
        in.setData(bytes);
        in.open(QIODevice::ReadOnly);
        RecordReader reader(&in);
        TelemetryRecord record;
        QVERIFY(reader.next(&record) && !reader.next(&record));
        QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    }

    void reopenWhenThePortReturns_data()
    {
        QTest::addColumn<bool>("reopen");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void reopenWhenThePortReturns()
    {
        QFETCH(bool, reopen);
        // The port's name is a link to the pseudo-terminal, as a udev rule's
        // /dev/serial/by-id name is to the adapter's tty.
        const QString port = dir.filePath("bms-adapter");
        QFile::remove(port);
        QVERIFY(QFile::link(board->slavePath(), port));
        window.reset();
        // Only the link: the pseudo-terminal's own number may go to another
        // program at once.
        SerialEnumerator::removeVirtualPort(board->slavePath());
        startWindow(port);
        child<QComboBox>("comboBox_Port")->setCurrentText(port);
        entry("Reopen when the port returns")->setChecked(reopen);
        openLink();

        board->closeMaster();
        QFile::remove(port);
        QTRY_VERIFY_WITH_TIMEOUT(!child("pushButton_Off")->isEnabled(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(child<QComboBox>("comboBox_Port")->findText(port), -1, 5000);
        const QString opened = QStringLiteral("OPEN %1 OK...").arg(port);
        QCOMPARE(log().count(opened), 1);

        board = std::make_unique<PtyPair>();
        QVERIFY(QFile::link(board->slavePath(), port));
        if (!reopen) {
            QTest::qWait(2500);
            QCOMPARE(log().count(opened), 1);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(log().count(opened), 2, 5000);
        QVERIFY(child("pushButton_Off")->isEnabled());
        sendFrame(WorkedExamples::type2Frame, "3600");
    }
};

QTEST_MAIN(WindowMenuTest)
#include "tst_windowmenu.moc"
