// The main window as the technician first sees it: fixed frame, title, the
// controls and lists in their start state, the value fields' alignment, and the
// proof that building the window picked no port and no baud rate by itself.

#include "ptypair.h"
#include "scratchsettings.h"
#include "serial/serialenumerator.h"
#include "ui_widget.h"
#include "window/widget.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QIntValidator>
#include <QLoggingCategory>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QtTest>
#include <algorithm>
#include <iterator>
#include <memory>

namespace {

// Debug lines since the handler went in; the port slots log what they hand to the port.
QStringList debugLines;
QtMessageHandler previousHandler = nullptr;

void captureDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines << message;
    previousHandler(type, context, message);
}

int linesStartingWith(const char *prefix)
{
    int count = 0;
    for (const QString &line : qAsConst(debugLines))
        count += line.startsWith(QLatin1String(prefix));
    return count;
}

QString shownText(const QWidget *w)
{
    if (auto button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto box = qobject_cast<const QComboBox *>(w))
        return box->currentText();
    if (auto log = qobject_cast<const QPlainTextEdit *>(w))
        return log->toPlainText();
    return QString();
}

// Where the laid-out text of the field's first line sits. QTextLine::cursorToX
// includes the offset that the alignment adds when the line is drawn.
bool textHugsRightEdge(QTextBrowser *field)
{
    QTextDocument *doc = field->document();
    const QTextBlock block = doc->firstBlock();
    doc->documentLayout()->blockBoundingRect(block); // lays the block out
    const QTextLine line = block.layout()->lineAt(0);
    if (!line.isValid())
        return false;
    const qreal textStart = line.cursorToX(0);
    const qreal textEnd = line.cursorToX(block.length() - 1);
    return textStart > line.x() && qAbs(line.x() + line.width() - textEnd) < 1;
}

} // namespace

class TstWidgetStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void constructionRanNoPortSlot();
    void windowIsFixedWithoutMaximize();
    void controls_data();
    void controls();
    void portListShowsPresentPorts();
    void baudList();
    void valueFieldAlignment_data();
    void valueFieldAlignment();
    void choosingPortRunsSlotOncePerChange();

private:
    template <typename T> T *child(const char *name) const
    {
        return window->findChild<T *>(QLatin1String(name));
    }

    PtyPair first;
    PtyPair second;
    QTemporaryDir links;
    QString longName;      // a link to the first, whose path is wider than the port box
    QStringList portNames; // in the order the enumerator lists them
    Widget *window = nullptr;
};

void TstWidgetStartup::initTestCase()
{
    useScratchSettings();
    QVERIFY(first.isValid() && second.isValid());
    SerialEnumerator::setSystemPortsHidden(true);
    SerialEnumerator::addVirtualPort(second.slavePath());
    SerialEnumerator::addVirtualPort(first.slavePath());
    longName = links.filePath(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"));
    QVERIFY(QFile::link(first.slavePath(), longName));
    SerialEnumerator::addVirtualPort(longName);
    portNames << first.slavePath() << second.slavePath() << longName;
    std::sort(portNames.begin(), portNames.end(), &SerialEnumerator::portNameLess);

    previousHandler = qInstallMessageHandler(captureDebug);
    // The serial debug lines are off unless asked for.
    QLoggingCategory::setFilterRules(QStringLiteral("keldro.serial.debug=true"));
    window = new Widget;
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void TstWidgetStartup::cleanupTestCase()
{
    delete window;
    qInstallMessageHandler(previousHandler);
    SerialEnumerator::removeVirtualPort(first.slavePath());
    SerialEnumerator::removeVirtualPort(second.slavePath());
    SerialEnumerator::removeVirtualPort(longName);
}

void TstWidgetStartup::constructionRanNoPortSlot()
{
    // Filling the lists and choosing 115200 happen before the boxes are connected.
    QCOMPARE(linesStartingWith("setPortNam:"), 0);
    QCOMPARE(linesStartingWith("setBaudRate:"), 0);
}

void TstWidgetStartup::windowIsFixedWithoutMaximize()
{
    QCOMPARE(window->size(), QSize(892, 625));
    QCOMPARE(window->minimumSize(), QSize(892, 625));
    QCOMPARE(window->maximumSize(), QSize(892, 625));
    QVERIFY(window->isWindow());
    const Qt::WindowFlags hints = window->windowFlags() & ~Qt::WindowType_Mask;
    QVERIFY(hints.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(hints.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!hints.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(window->windowTitle(), QStringLiteral("KELDRO V1.6.1  zivO"));
}

void TstWidgetStartup::controls_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("visible");

    QTest::newRow("comboBox_Port") << portNames.first() << true << true;
    QTest::newRow("comboBox_BaudRate") << "115200" << true << true;
    QTest::newRow("pushButton_OpenClose") << "Open/Close" << true << true;
    QTest::newRow("pushButton_Off") << "OFF" << false << true;
    QTest::newRow("pushButton_Boot") << "BOOT" << false << true;
    QTest::newRow("checkBox_Trans") << "Trans" << false << false;
    QTest::newRow("pushButton_SOC_Cal") << "CAL" << false << false;
    QTest::newRow("pushButton_manu_date_set") << "SET" << false << false;
    QTest::newRow("pushButton_Receive_Clear") << "Clear" << true << true;
    QTest::newRow("plainTextEdit") << "" << true << true;
}

void TstWidgetStartup::controls()
{
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, visible);

    QWidget *control = child<QWidget>(QTest::currentDataTag());
    QVERIFY(control);
    QCOMPARE(shownText(control), text);
    QCOMPARE(control->isEnabled(), enabled);
    QCOMPARE(control->isVisibleTo(window), visible);
    QCOMPARE(control->isHidden(), !visible);

    if (auto checkBox = qobject_cast<QCheckBox *>(control))
        QCOMPARE(checkBox->checkState(), Qt::Unchecked);
    if (auto log = qobject_cast<QPlainTextEdit *>(control))
        QVERIFY(log->isReadOnly());
    if (control->objectName() == QLatin1String("pushButton_OpenClose")) {
        QCOMPARE(control->styleSheet(),
                 QStringLiteral("QPushButton{color:rgb(0,0,0); background:rgb(225,225,225)}"));
    }
}

void TstWidgetStartup::portListShowsPresentPorts()
{
    auto ports = child<QComboBox>("comboBox_Port");
    QVERIFY(!ports->isEditable());
    QStringList listed;
    for (int i = 0; i < ports->count(); ++i)
        listed << ports->itemText(i);
    QCOMPARE(listed, portNames);
    QCOMPARE(ports->currentIndex(), 0);

    // A virtual port has no description or USB ids: its tooltip is its path. The
    // drop-down list shows every entry whole.
    int widest = 0;
    for (int i = 0; i < ports->count(); ++i) {
        QCOMPARE(ports->itemData(i, Qt::ToolTipRole).toString(), portNames.at(i));
        widest = qMax(widest, ports->view()->fontMetrics().horizontalAdvance(portNames.at(i)));
    }
    QCOMPARE(ports->toolTip(), portNames.first());
    // Fusion widens its drop-down by itself; a style whose drop-down is a plain list
    // under the box (Windows) does not.
    const std::unique_ptr<QStyle> listStyle(QStyleFactory::create(QStringLiteral("Windows")));
    ports->setStyle(listStyle.get());
    ports->showPopup();
    QVERIFY(ports->view()->viewport()->width() > widest);
    ports->hidePopup();
    ports->setStyle(nullptr);
}

void TstWidgetStartup::baudList()
{
    auto baud = child<QComboBox>("comboBox_BaudRate");
    const int rates[] = {9600, 19200, 38400, 57600, 115200, 256000, 921600};
    QCOMPARE(baud->count(), int(std::size(rates)));
    for (int i = 0; i < baud->count(); ++i) {
        QCOMPARE(baud->itemText(i), QString::number(rates[i]));
        QCOMPARE(baud->itemData(i), QVariant(rates[i]));
    }
    QCOMPARE(baud->currentIndex(), 4);

    QVERIFY(baud->isEditable());
    QCOMPARE(baud->inputMethodHints(), Qt::ImhDigitsOnly);
    auto validator = qobject_cast<const QIntValidator *>(baud->validator());
    QVERIFY(validator);
    QCOMPARE(validator->bottom(), 1);
    QCOMPARE(validator->top(), 10000000);
}

void TstWidgetStartup::valueFieldAlignment_data()
{
    QTest::addColumn<bool>("right");

    for (int n = 1; n <= 15; ++n)
        QTest::addRow("textBrowser_cell%d", n) << true;
    const char *const rightAligned[] = {
        "textBrowser_BQ_NTC1",      "textBrowser_BQ_NTC2",  "textBrowser_BQ_NTC3",
        "textBrowser_MCU_NTC1",     "textBrowser_MCU_NTC2", "textBrowser_bat",
        "textBrowser_pack_voltage", "textBrowser_current",  "textBrowser_SOC",
        "textBrowser_bq_status",    "textBrowser_version",  "textBrowser_manufacture",
        "textBrowser_bms_status",
    };
    for (const char *name : rightAligned)
        QTest::newRow(name) << true;
    const char *const leftAligned[] = {
        "textBrowser_sys_status", "textBrowser_cycle",    "textBrowser_OCD",
        "textBrowser_SCD",        "textBrowser_OVB",      "textBrowser_OVD",
        "textBrowser_UV",         "textBrowser_LOW_TEMP", "textBrowser_HIGH_TEMP",
    };
    for (const char *name : leftAligned)
        QTest::newRow(name) << false;
}

void TstWidgetStartup::valueFieldAlignment()
{
    QFETCH(bool, right);

    auto field = child<QTextBrowser>(QTest::currentDataTag());
    QVERIFY(field);
    QVERIFY(field->toPlainText().isEmpty());
    QCOMPARE(bool(field->alignment() & Qt::AlignRight), right);

    // The receiver writes every value with setText, which replaces the document's
    // blocks: the alignment has to survive that, not only the first value.
    for (const char *value : {"1", "0"}) {
        field->setText(QString::fromLatin1(value));
        QCOMPARE(textHugsRightEdge(field), right);
    }
    field->clear();
}

void TstWidgetStartup::choosingPortRunsSlotOncePerChange()
{
    auto ports = child<QComboBox>("comboBox_Port");
    debugLines.clear();

    ports->setCurrentIndex(1);
    QCOMPARE(linesStartingWith("setPortNam:"), 1);
    QVERIFY(debugLines.filter(QStringLiteral("setPortNam:")).first().contains(portNames.at(1)));

    ports->setCurrentIndex(1);
    QCOMPARE(linesStartingWith("setPortNam:"), 1);

    ports->setCurrentIndex(0);
    QCOMPARE(linesStartingWith("setPortNam:"), 2);
    QCOMPARE(linesStartingWith("setBaudRate:"), 0);
}

QTEST_MAIN(TstWidgetStartup)
#include "tst_widgetstartup.moc"
