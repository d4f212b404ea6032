#pragma once

#include <QByteArray>
#include <QString>

// The board's text as every output shows it: the receive log, keldro-cli's --text
// and the MQTT text topic. The board prints ASCII and sometimes UTF-8, but a wrong
// baud rate, line noise or a half-lost frame brings any byte at all. Each byte that
// is not part of a valid UTF-8 character becomes U+FFFD, so that what is written is
// always valid UTF-8. NUL bytes, with which the board pads its fixed-size messages,
// are left out; every other control character but tab, CR and LF becomes U+FFFD, so
// that a stray escape byte cannot move or recolour a terminal's cursor.
QString boardText(const QByteArray &bytes);
