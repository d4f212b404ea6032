// The main window's form as built by setupUi on a bare QWidget: every widget's class,
// parent, place and initial text against a table of the window's layout, the creation
// (and so stacking and tab) order, and the properties that set the display fields and
// controls apart.

#include "protocol/displaytext.h"
#include "ui_widget.h"
#include "window/shippedfont.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleOptionComboBox>
#include <QTextBrowser>
#include <QtTest>
#include <iterator>

namespace {

// How a widget differs from its class's defaults.
enum class Kind {
    Plain,
    ValueField, // a numeric field: mouse tracking, no vertical scroll bar
    FlagField,  // a 21 x 20 protection flag: explicit left-to-right direction
    Cell1Field, // the first cell field, set up unlike its 14 neighbours
    CurrentField,
    Disabled,
    PortBox,
    BaudBox,
    ReceiveLog,
};

struct FormWidget
{
    const char *name;
    const char *className;
    const char *parent;
    QRect geometry;
    const char *text;
    Kind kind;
};

const char W2[] = "widget_2";
const char Win[] = "Widget";
const char Celsius[] = "\u2103";

// Everything but the 45 widgets of the cell rows, in creation order.
const FormWidget OtherWidgets[] = {
    {"widget_2", "QWidget", Win, {10, 10, 491, 611}, "", Kind::Plain},
    {"label_SOC_unit", "QLabel", W2, {370, 220, 20, 20}, "%", Kind::Plain},
    {"label_MCU_NTC1_unit", "QLabel", W2, {370, 130, 20, 20}, Celsius, Kind::Plain},
    {"textBrowser_current", "QTextBrowser", W2, {300, 190, 61, 20}, "", Kind::CurrentField},
    {"label_bms_status", "QLabel", W2, {210, 400, 81, 20}, "bms_status", Kind::Plain},
    {"label_MCU_NTC2", "QLabel", W2, {210, 160, 62, 20}, "MOSFET", Kind::Plain},
    {"label_BQ_NTC1_unit", "QLabel", W2, {370, 40, 20, 20}, Celsius, Kind::Plain},
    {"label_BMS", "QLabel", W2, {20, 0, 101, 20}, "BMS-X", Kind::Plain},
    {"label_current_unit", "QLabel", W2, {370, 190, 20, 20}, "mA", Kind::Plain},
    {"label_BQ_NTC2", "QLabel", W2, {210, 70, 81, 20}, "BAT_NTC2", Kind::Plain},
    {"label_SOC", "QLabel", W2, {210, 220, 31, 20}, "SOC", Kind::Plain},
    {"label_MCU_NTC2_unit", "QLabel", W2, {370, 160, 20, 20}, Celsius, Kind::Plain},
    {"textBrowser_BQ_NTC1", "QTextBrowser", W2, {300, 40, 61, 20}, "", Kind::ValueField},
    {"textBrowser_pack_voltage", "QTextBrowser", W2, {80, 520, 64, 20}, "", Kind::ValueField},
    {"label_BQ_NTC2_unit", "QLabel", W2, {370, 70, 20, 20}, Celsius, Kind::Plain},
    {"label_current", "QLabel", W2, {210, 190, 61, 20}, "Current", Kind::Plain},
    {"label_MCU_NTC1", "QLabel", W2, {210, 130, 81, 20}, "SELF-DSG", Kind::Plain},
    {"textBrowser_MCU_NTC1", "QTextBrowser", W2, {300, 130, 61, 20}, "", Kind::ValueField},
    {"textBrowser_BQ_NTC2", "QTextBrowser", W2, {300, 70, 61, 20}, "", Kind::ValueField},
    {"label_BQ_NTC1", "QLabel", W2, {210, 40, 81, 20}, "BAT_NTC1", Kind::Plain},
    {"label_pack_voltage_unit", "QLabel", W2, {150, 520, 20, 20}, "mV", Kind::Plain},
    {"textBrowser_bq_status", "QTextBrowser", W2, {300, 280, 61, 20}, "", Kind::ValueField},
    {"pushButton_OpenClose", "QPushButton", W2, {380, 0, 91, 22}, "Open/Close", Kind::Plain},
    {"textBrowser_bms_status", "QTextBrowser", W2, {300, 400, 181, 20}, "", Kind::ValueField},
    {"label_pack_voltage", "QLabel", W2, {20, 520, 31, 20}, "Pack", Kind::Plain},
    {"label_sys_status", "QLabel", W2, {210, 370, 81, 20}, "sys_status", Kind::Plain},
    {"textBrowser_version", "QTextBrowser", W2, {300, 310, 61, 20}, "", Kind::ValueField},
    {"label_cycle", "QLabel", W2, {210, 250, 54, 20}, "Cycle", Kind::Plain},
    {"label_version", "QLabel", W2, {210, 310, 62, 20}, "Version", Kind::Plain},
    {"textBrowser_MCU_NTC2", "QTextBrowser", W2, {300, 160, 61, 20}, "", Kind::ValueField},
    {"textBrowser_sys_status", "QTextBrowser", W2, {300, 370, 181, 20}, "", Kind::ValueField},
    {"label_bat_unit", "QLabel", W2, {150, 490, 20, 20}, "mV", Kind::Plain},
    {"textBrowser_bat", "QTextBrowser", W2, {80, 490, 64, 20}, "", Kind::ValueField},
    {"textBrowser_cycle", "QTextBrowser", W2, {300, 250, 61, 20}, "", Kind::ValueField},
    {"label_bq_status", "QLabel", W2, {210, 280, 81, 20}, "bq_status", Kind::Plain},
    {"textBrowser_SOC", "QTextBrowser", W2, {300, 220, 61, 20}, "", Kind::ValueField},
    {"label_bat", "QLabel", W2, {20, 490, 54, 20}, "Bat", Kind::Plain},
    {"pushButton_Off", "QPushButton", W2, {130, 570, 41, 31}, "OFF", Kind::Disabled},
    {"label_battery_version", "QLabel", W2, {120, 0, 41, 20}, "XX", Kind::Plain},
    {"textBrowser_BQ_NTC3", "QTextBrowser", W2, {300, 100, 61, 20}, "", Kind::ValueField},
    {"label_BQ_NTC3_unit", "QLabel", W2, {370, 100, 20, 20}, Celsius, Kind::Plain},
    {"label_BQ_NTC3", "QLabel", W2, {210, 100, 81, 20}, "BAT_NTC3", Kind::Plain},
    {"label_OCD", "QLabel", W2, {210, 440, 21, 16}, "OC", Kind::Plain},
    {"textBrowser_OCD", "QTextBrowser", W2, {240, 440, 21, 20}, "", Kind::FlagField},
    {"label_SCD", "QLabel", W2, {320, 440, 21, 16}, "SC", Kind::Plain},
    {"textBrowser_SCD", "QTextBrowser", W2, {350, 440, 21, 20}, "", Kind::FlagField},
    {"textBrowser_OVB", "QTextBrowser", W2, {240, 480, 21, 20}, "", Kind::FlagField},
    {"label_OVB", "QLabel", W2, {210, 480, 29, 16}, "OVB", Kind::Plain},
    {"label_OVD", "QLabel", W2, {320, 480, 21, 16}, "OV", Kind::Plain},
    {"textBrowser_OVD", "QTextBrowser", W2, {350, 480, 21, 20}, "", Kind::FlagField},
    {"label_UV", "QLabel", W2, {430, 440, 21, 16}, "UV", Kind::Plain},
    {"textBrowser_UV", "QTextBrowser", W2, {460, 440, 21, 20}, "", Kind::FlagField},
    {"label_OCD_6", "QLabel", W2, {210, 520, 71, 20}, "LOW_TEMP", Kind::Plain},
    {"textBrowser_LOW_TEMP", "QTextBrowser", W2, {290, 520, 21, 20}, "", Kind::FlagField},
    {"label_OCD_7", "QLabel", W2, {380, 520, 71, 20}, "HIGH_TEMP", Kind::Plain},
    {"textBrowser_HIGH_TEMP", "QTextBrowser", W2, {460, 520, 21, 20}, "", Kind::FlagField},
    {"pushButton_Boot", "QPushButton", W2, {210, 570, 41, 31}, "BOOT", Kind::Disabled},
    {"checkBox_Trans", "QCheckBox", W2, {30, 580, 61, 16}, "Trans", Kind::Disabled},
    {"pushButton_SOC_Cal", "QPushButton", W2, {400, 220, 31, 20}, "CAL", Kind::Disabled},
    {"textBrowser_manufacture", "QTextBrowser", W2, {300, 340, 81, 20}, "", Kind::ValueField},
    {"label_manufacture", "QLabel", W2, {210, 340, 89, 20}, "Manufacture", Kind::Plain},
    {"pushButton_manu_date_set", "QPushButton", W2, {400, 340, 31, 20}, "SET", Kind::Disabled},
    {"comboBox_Port", "QComboBox", W2, {190, 0, 89, 20}, "", Kind::PortBox},
    {"comboBox_BaudRate", "QComboBox", W2, {280, 0, 81, 20}, "", Kind::BaudBox},
    {"plainTextEdit", "QPlainTextEdit", Win, {510, 10, 371, 591}, "", Kind::ReceiveLog},
    {"pushButton_Receive_Clear", "QPushButton", Win, {510, 600, 51, 20}, "Clear", Kind::Plain},
};
static_assert(std::size(OtherWidgets) + 3 * 15 == 111, "one row per widget outside the cell rows");

const char *const CreationOrder[] = {
    "widget_2",
    "label_SOC_unit",
    "label_MCU_NTC1_unit",
    "textBrowser_current",
    "label_cell5_unit",
    "label_cell9_unit",
    "label_bms_status",
    "label_cell9",
    "label_cell2_unit",
    "textBrowser_cell8",
    "label_cell8",
    "label_cell7",
    "label_cell4",
    "label_MCU_NTC2",
    "label_BQ_NTC1_unit",
    "label_BMS",
    "textBrowser_cell4",
    "label_current_unit",
    "label_BQ_NTC2",
    "label_SOC",
    "label_MCU_NTC2_unit",
    "label_cell4_unit",
    "label_cell3",
    "label_cell6_unit",
    "textBrowser_BQ_NTC1",
    "textBrowser_pack_voltage",
    "label_BQ_NTC2_unit",
    "textBrowser_cell9",
    "label_current",
    "label_MCU_NTC1",
    "label_cell1",
    "label_cell5",
    "label_cell6",
    "textBrowser_MCU_NTC1",
    "textBrowser_BQ_NTC2",
    "label_BQ_NTC1",
    "textBrowser_cell5",
    "textBrowser_cell1",
    "label_pack_voltage_unit",
    "textBrowser_bq_status",
    "pushButton_OpenClose",
    "textBrowser_bms_status",
    "label_pack_voltage",
    "label_sys_status",
    "textBrowser_version",
    "label_cell1_unit",
    "textBrowser_cell3",
    "label_cell7_unit",
    "textBrowser_cell2",
    "label_cycle",
    "label_version",
    "textBrowser_MCU_NTC2",
    "textBrowser_sys_status",
    "label_bat_unit",
    "textBrowser_cell7",
    "textBrowser_bat",
    "textBrowser_cycle",
    "label_bq_status",
    "textBrowser_SOC",
    "label_cell2",
    "label_bat",
    "textBrowser_cell6",
    "label_cell8_unit",
    "label_cell3_unit",
    "pushButton_Off",
    "label_battery_version",
    "label_cell10_unit",
    "textBrowser_cell10",
    "label_cell10",
    "label_cell11_unit",
    "textBrowser_cell11",
    "label_cell11",
    "label_cell12_unit",
    "textBrowser_cell12",
    "label_cell12",
    "label_cell13_unit",
    "textBrowser_cell13",
    "label_cell13",
    "label_cell14_unit",
    "textBrowser_cell14",
    "label_cell14",
    "textBrowser_cell15",
    "label_cell15_unit",
    "label_cell15",
    "textBrowser_BQ_NTC3",
    "label_BQ_NTC3_unit",
    "label_BQ_NTC3",
    "label_OCD",
    "textBrowser_OCD",
    "label_SCD",
    "textBrowser_SCD",
    "textBrowser_OVB",
    "label_OVB",
    "label_OVD",
    "textBrowser_OVD",
    "label_UV",
    "textBrowser_UV",
    "label_OCD_6",
    "textBrowser_LOW_TEMP",
    "label_OCD_7",
    "textBrowser_HIGH_TEMP",
    "pushButton_Boot",
    "checkBox_Trans",
    "pushButton_SOC_Cal",
    "textBrowser_manufacture",
    "label_manufacture",
    "pushButton_manu_date_set",
    "comboBox_Port",
    "comboBox_BaudRate",
    "plainTextEdit",
    "pushButton_Receive_Clear",
};
static_assert(std::size(CreationOrder) == 111, "every widget once");

QString initialText(const QWidget *w)
{
    if (auto label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto edit = qobject_cast<const QTextEdit *>(w))
        return edit->toPlainText();
    if (auto log = qobject_cast<const QPlainTextEdit *>(w))
        return log->toPlainText();
    if (auto box = qobject_cast<const QComboBox *>(w))
        return box->currentText();
    return QString();
}

// The form's own widgets, without the scroll bars, viewports and line edits that
// the widgets create inside themselves.
QList<QWidget *> formWidgets(QWidget *window)
{
    QList<QWidget *> widgets;
    for (QObject *child : window->children()) {
        auto w = qobject_cast<QWidget *>(child);
        if (!w)
            continue;
        widgets.append(w);
        if (w->objectName() == QLatin1String(W2)) {
            for (QObject *inner : w->children()) {
                if (auto innerWidget = qobject_cast<QWidget *>(inner))
                    widgets.append(innerWidget);
            }
        }
    }
    return widgets;
}

} // namespace

Q_DECLARE_METATYPE(Kind)

class TstForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void window();
    void widget_data();
    void widget();
    void creationOrder();
    void laterWidgetLiesOnTop_data();
    void laterWidgetLiesOnTop();
    void countsByClass_data();
    void countsByClass();
    void noTextIsClipped();

private:
    Ui::Widget *ui = nullptr;
    QWidget *form = nullptr;
};

void TstForm::initTestCase()
{
    useShippedFont();
}

void TstForm::init()
{
    ui = new Ui::Widget;
    form = new QWidget;
    ui->setupUi(form);
}

void TstForm::cleanup()
{
    delete form;
    delete ui;
}

void TstForm::window()
{
    QCOMPARE(form->objectName(), QStringLiteral("Widget"));
    QCOMPARE(form->size(), QSize(892, 625));
    QCOMPARE(form->minimumSize(), QSize(620, 570));
    QCOMPARE(form->windowTitle(), QStringLiteral("Widget"));
    QVERIFY(form->isEnabled());
    // Absolute positions only: a layout would move every field.
    QVERIFY(!form->layout());
    QVERIFY(!ui->widget_2->layout());
}

void TstForm::widget_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Kind>("kind");

    for (const FormWidget &w : OtherWidgets) {
        QTest::newRow(w.name) << QString::fromLatin1(w.className) << QString::fromLatin1(w.parent)
                              << w.geometry << QString::fromUtf8(w.text) << w.kind;
    }
    for (int n = 1; n <= 15; ++n) {
        const int y = 10 + 30 * n;
        const QString cell = QString::number(n);
        QTest::addRow("label_cell%d", n) << "QLabel" << W2 << QRect(20, y, n == 1 ? 41 : 54, 20)
                                         << QStringLiteral("Cell") + cell << Kind::Plain;
        QTest::addRow("textBrowser_cell%d", n)
            << "QTextBrowser" << W2 << QRect(80, y, 56, 20) << QString()
            << (n == 1 ? Kind::Cell1Field : Kind::ValueField);
        QTest::addRow("label_cell%d_unit", n)
            << "QLabel" << W2 << QRect(140, y, 20, 20) << "mV" << Kind::Plain;
    }
}

void TstForm::widget()
{
    QFETCH(QString, className);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(Kind, kind);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    const QList<QWidget *> named = form->findChildren<QWidget *>(name);
    QCOMPARE(named.size(), 1);
    QWidget *w = named.first();

    QCOMPARE(QString::fromLatin1(w->metaObject()->className()), className);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    QCOMPARE(w->geometry(), geometry);
    QCOMPARE(initialText(w), text);
    QVERIFY(w->styleSheet().isEmpty());
    QVERIFY(!w->testAttribute(Qt::WA_SetFont));
    QCOMPARE(w->isEnabled(), kind != Kind::Disabled);

    if (auto field = qobject_cast<QTextBrowser *>(w)) {
        QVERIFY(field->isReadOnly());
        QCOMPARE(field->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(field->layoutDirection(), Qt::LeftToRight);
        // The three kinds of field differ in what they set: the flag fields and the first
        // cell field name a layout direction, the flag fields keep QTextEdit's
        // multi-line input hint.
        const bool valueSet = kind == Kind::ValueField || kind == Kind::CurrentField;
        QCOMPARE(field->testAttribute(Qt::WA_SetLayoutDirection), !valueSet);
        QCOMPARE(field->inputMethodHints(),
                 kind == Kind::FlagField ? Qt::ImhMultiLine : Qt::ImhNone);
        if (valueSet) {
            QVERIFY(field->hasMouseTracking());
            QVERIFY(field->acceptDrops());
            QCOMPARE(field->frameShape(), QFrame::StyledPanel);
            QCOMPARE(field->frameShadow(), QFrame::Sunken);
            QCOMPARE(field->lineWidth(), 1);
        }
    }

    switch (kind) {
    case Kind::CurrentField: {
        auto field = static_cast<QTextBrowser *>(w);
        QCOMPARE(int(field->textInteractionFlags()), 13);
        QCOMPARE(field->textInteractionFlags(), Qt::TextSelectableByMouse |
                                                    Qt::LinksAccessibleByMouse |
                                                    Qt::LinksAccessibleByKeyboard);
        QVERIFY(field->placeholderText().isEmpty());
        break;
    }
    case Kind::PortBox: {
        auto box = static_cast<QComboBox *>(w);
        QVERIFY(!box->isEditable());
        QCOMPARE(box->count(), 0);
        break;
    }
    case Kind::BaudBox: {
        auto box = static_cast<QComboBox *>(w);
        QVERIFY(box->isEditable());
        QCOMPARE(box->count(), 0);
        QVERIFY(box->testAttribute(Qt::WA_SetCursor));
        QCOMPARE(box->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(box->contextMenuPolicy(), Qt::DefaultContextMenu);
        QVERIFY(!box->acceptDrops());
        QCOMPARE(box->inputMethodHints(), Qt::ImhDigitsOnly);
        break;
    }
    case Kind::ReceiveLog:
        QVERIFY(static_cast<QPlainTextEdit *>(w)->isReadOnly());
        break;
    default:
        break;
    }
}

void TstForm::creationOrder()
{
    QStringList expected;
    for (const char *name : CreationOrder)
        expected << QString::fromLatin1(name);

    // widget_2 comes first, so its children follow it directly; the receive log
    // and Clear are the window's own children after it.
    QStringList actual;
    for (const QWidget *w : formWidgets(form))
        actual << w->objectName();
    QCOMPARE(actual, expected);
}

void TstForm::laterWidgetLiesOnTop_data()
{
    QTest::addColumn<QPoint>("windowPoint");
    QTest::addColumn<QString>("onTop");

    // label_BMS ends at x = 120 of widget_2, where label_battery_version begins.
    QTest::newRow("label_battery_version over label_BMS")
        << QPoint(10 + 120, 10 + 5) << "label_battery_version";
    QTest::newRow("label_BMS left of the shared column") << QPoint(10 + 119, 10 + 5) << "label_BMS";
    // The receive log's last row is y = 600, the Clear button's first.
    QTest::newRow("Clear over the receive log") << QPoint(515, 600) << "pushButton_Receive_Clear";
}

void TstForm::laterWidgetLiesOnTop()
{
    QFETCH(QPoint, windowPoint);
    QFETCH(QString, onTop);

    QWidget *hit = form->childAt(windowPoint);
    while (hit && hit->parentWidget() != form && hit->parentWidget() != ui->widget_2)
        hit = hit->parentWidget();
    QVERIFY(hit);
    QCOMPARE(hit->objectName(), onTop);
}

void TstForm::countsByClass_data()
{
    QTest::addColumn<int>("count");

    QTest::newRow("QLabel") << 63;
    QTest::newRow("QTextBrowser") << 37;
    QTest::newRow("QPushButton") << 6;
    QTest::newRow("QComboBox") << 2;
    QTest::newRow("QCheckBox") << 1;
    QTest::newRow("QPlainTextEdit") << 1;
    QTest::newRow("QWidget") << 1;
}

void TstForm::countsByClass()
{
    QFETCH(int, count);

    const QList<QWidget *> widgets = formWidgets(form);
    QCOMPARE(widgets.size(), 111);
    int found = 0;
    for (const QWidget *w : widgets)
        found +=
            QLatin1String(w->metaObject()->className()) == QLatin1String(QTest::currentDataTag());
    QCOMPARE(found, count);
}

// With the font the window ships with, every label's text and the longest Linux
// port name fit the room their widget gives them.
void TstForm::noTextIsClipped()
{
    QCOMPARE(QFontInfo(QApplication::font()).family(), QStringLiteral("Inconsolata"));

    QStringList clipped;
    const auto check = [&clipped](const QString &name, const QString &text, int room) {
        const int advance = QFontMetrics(QApplication::font()).horizontalAdvance(text);
        if (advance > room)
            clipped
                << QStringLiteral("%1 \"%2\": %3 px in %4").arg(name, text).arg(advance).arg(room);
    };
    for (const QLabel *label : form->findChildren<QLabel *>()) {
        QStringList texts{label->text()};
        // The board's model and cell type replace these two placeholders.
        for (int code = 0; code < 256; ++code) {
            if (label == ui->label_BMS)
                texts << DisplayText::model(quint8(code));
            else if (label == ui->label_battery_version)
                texts << DisplayText::cellType(quint8(code));
        }
        for (const QString &text : qAsConst(texts))
            check(label->objectName(), text, label->contentsRect().width());
    }

    QComboBox *box = ui->comboBox_Port;
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    // A closed box draws its text one pixel inside its edit field on either side.
    const QRect field = box->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                     QStyle::SC_ComboBoxEditField, box);
    check(box->objectName(), QStringLiteral("ttyACM10"), field.width() - 2);

    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));
}

QTEST_MAIN(TstForm)
#include "tst_form.moc"
