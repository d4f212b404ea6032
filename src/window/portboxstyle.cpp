#include "window/portboxstyle.h"

#include <QComboBox>
#include <QStyleOptionComboBox>

void PortBoxStyle::install(QComboBox *box)
{
    auto *style = new PortBoxStyle;
    style->setParent(box);
    box->setStyle(style);
}

QString PortBoxStyle::elided(const QStyleOptionComboBox &option, const QStyle *style,
                             const QWidget *widget)
{
    // The label is drawn one pixel inside the edit field on either side.
    const QRect field =
        style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, widget);
    return option.fontMetrics.elidedText(option.currentText, Qt::ElideLeft, field.width() - 2);
}

void PortBoxStyle::drawControl(ControlElement element, const QStyleOption *option,
                               QPainter *painter, const QWidget *widget) const
{
    const auto *box = qstyleoption_cast<const QStyleOptionComboBox *>(option);
    if (element != CE_ComboBoxLabel || !box || box->editable) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    QStyleOptionComboBox shown(*box);
    shown.currentText = elided(*box, proxy(), widget);
    QProxyStyle::drawControl(element, &shown, painter, widget);
}

QString PortBoxStyle::shownText(const QComboBox *box)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    option.frame = box->hasFrame();
    option.subControls = QStyle::SC_All;
    option.currentText = box->currentText();
    option.iconSize = box->iconSize();
    return elided(option, box->style(), box);
}
