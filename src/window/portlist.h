#pragma once

class QComboBox;

// Rebuilds the port list from the present ports, keeping the selection by exact
// name where it can, without letting the box signal anything meanwhile.
void refillPortList(QComboBox *box);
