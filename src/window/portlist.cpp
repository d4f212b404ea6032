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

QString portPath(const PortInfo &port)
{
    return port.physName.isEmpty() ? devicePath(port.portName) : port.physName;
}

QString shownName(const PortInfo &port)
{
    const std::optional<PortUrl> url = PortUrl::parse(port.portName);
    return url ? url->hostAndPort() : port.portName;
}

QString portToolTip(const PortInfo &port)
{
    QStringList lines{PortUrl::isUrl(port.portName) ? port.portName : portPath(port)};
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
        box->addItem(shownName(port));
        box->setItemData(box->count() - 1, portToolTip(port), Qt::ToolTipRole);
        box->setItemData(box->count() - 1, QVariant::fromValue(port), Qt::UserRole);
    }
    fitPopupWidth(box);
}

PortInfo portAt(const QComboBox *box, int index)
{
    return box->itemData(index, Qt::UserRole).value<PortInfo>();
}

int rememberedPortIndex(const QList<PortInfo> &ports, const PortInfo &remembered)
{
    // Several adapters of one batch may share a serial number: the one at the
    // remembered path comes first.
    int byPath = -1;
    int bySerial = -1;
    for (int i = 0; i < ports.size(); ++i) {
        const bool samePath =
            !remembered.physName.isEmpty() && portPath(ports[i]) == remembered.physName;
        const bool sameSerial =
            !remembered.serialNumber.isEmpty() && ports[i].serialNumber == remembered.serialNumber;
        if (samePath && (sameSerial || remembered.serialNumber.isEmpty()))
            return i;
        if (sameSerial && bySerial < 0)
            bySerial = i;
        if (samePath && byPath < 0)
            byPath = i;
    }
    return bySerial >= 0 ? bySerial : byPath;
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
    // A list filled by fillPortList() keeps each port's PortInfo; the text shown is
    // only host:port for a URL.
    const int index = box->currentIndex();
    if (index >= 0 && box->itemData(index, Qt::UserRole).isValid())
        return portAt(box, index).portName;
    return box->currentText();
}

int findPort(const QComboBox *box, const QString &portName)
{
    if (portName.isEmpty())
        return -1;
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemData(i, Qt::UserRole).isValid() && portAt(box, i).portName == portName)
            return i;
    }
    return box->findText(portName, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void showCurrentPortToolTip(QComboBox *box)
{
    box->setToolTip(box->currentData(Qt::ToolTipRole).toString());
}
