#include "window/portlist.h"

#include "serial/openfailure.h"
#include "serial/porturl.h"
#include "serial/serialenumerator.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStringList>

namespace {

QString hex4(int id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

QString shownName(const PortInfo &port)
{
    const std::optional<PortUrl> url = PortUrl::parse(port.portName);
    return url ? url->hostAndPort() : port.portName;
}

QString portToolTip(const PortInfo &port)
{
    QStringList lines{port.physName.isEmpty()         ? devicePath(port.portName)
                      : PortUrl::isUrl(port.portName) ? port.portName
                                                      : port.physName};
    if (!port.friendName.isEmpty())
        lines << port.friendName;
    if (port.vendorID != 0 || port.productID != 0)
        lines << QStringLiteral("USB ") + hex4(port.vendorID) + QLatin1Char(':') +
                     hex4(port.productID);
    return lines.join(QLatin1Char('\n'));
}

void fitPopupWidth(QComboBox *box)
{
    // The item view's own size hint is no help here: in styles that draw the list
    // as a menu (Fusion) it ignores the text. The texts' advance plus the item
    // margins a style draws is the room an entry needs.
    constexpr int ItemMargins = 16;
    QAbstractItemView *view = box->view();
    const QFontMetrics metrics(view->font());
    int widest = 0;
    for (int i = 0; i < box->count(); ++i)
        widest = qMax(widest, metrics.horizontalAdvance(box->itemText(i)));
    int width = widest + ItemMargins + 2 * view->frameWidth();
    if (box->count() > box->maxVisibleItems())
        width += view->verticalScrollBar()->sizeHint().width();
    // The popup is never narrower than the box itself.
    view->setMinimumWidth(width);
}

} // namespace

void fillPortList(QComboBox *box, const QList<PortInfo> &ports)
{
    box->clear();
    for (const PortInfo &port : ports) {
        box->addItem(shownName(port), port.portName);
        box->setItemData(box->count() - 1, portToolTip(port), Qt::ToolTipRole);
    }
    fitPopupWidth(box);
}

void refillPortList(QComboBox *box)
{
    const QString selected = currentPortName(box);
    // A refill must not look like the technician picking a port: the port object
    // keeps its name until someone really chooses another.
    const QSignalBlocker blocker(box);
    fillPortList(box, SerialEnumerator::getPorts());
    box->setCurrentIndex(findPort(box, selected));
    showCurrentPortToolTip(box);
}

QString currentPortName(const QComboBox *box)
{
    const QVariant name = box->currentData();
    return name.isValid() ? name.toString() : box->currentText();
}

int findPort(const QComboBox *box, const QString &portName)
{
    if (portName.isEmpty())
        return -1;
    const int index =
        box->findData(portName, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
    return index >= 0 ? index : box->findText(portName, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void showCurrentPortToolTip(QComboBox *box)
{
    box->setToolTip(box->currentData(Qt::ToolTipRole).toString());
}
