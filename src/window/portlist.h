#pragma once

#include "serial/portinfo.h"

#include <QList>

class QComboBox;

// Fills the port box with ports, each entry with a tooltip naming its device node,
// description and USB vendor:product, and makes the drop-down list as wide as
// its longest entry (a virtual port is listed by its whole path, a port on another
// machine by host:port, with its URL in the tooltip).
void fillPortList(QComboBox *box, const QList<PortInfo> &ports);

// The entry's port as the enumerator reported it; an empty PortInfo for none.
PortInfo portAt(const QComboBox *box, int index);

// Where a port remembered by its serial number and path (physName) is in ports:
// an adapter with that serial number wherever it is plugged in now, else the port
// at that path; -1 when neither is present.
int rememberedPortIndex(const QList<PortInfo> &ports, const PortInfo &remembered);

// Rebuilds the port list from the present ports, keeping the selection by exact
// name where it can, without letting the box signal anything meanwhile.
void refillPortList(QComboBox *box);

// The port name of the current entry, the one SerialPort opens: its text, or the URL
// behind a host:port. Empty when the box has no current entry.
QString currentPortName(const QComboBox *box);
// The entry of a port name, -1 if the box does not list it.
int findPort(const QComboBox *box, const QString &portName);

// The closed box tells the same as its current entry's tooltip.
void showCurrentPortToolTip(QComboBox *box);
