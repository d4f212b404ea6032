#pragma once

#include <QProxyStyle>

class QComboBox;
class QStyleOptionComboBox;

// The port box's style: its current entry elided from the left. Port names differ at
// their end ("/dev/pts/12", "/dev/ttyUSB1", "127.0.0.1:7000"), and the box is
// narrow, so "…pts/12" tells two ports apart where "/dev/pts." does not. The drop-down
// list is as wide as its longest entry and the tooltip names the whole port.
class PortBoxStyle : public QProxyStyle
{
    Q_OBJECT

public:
    // Gives box this style, owned by the box.
    static void install(QComboBox *box);

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;

    // What a box of this style shows of its current entry.
    static QString shownText(const QComboBox *box);

private:
    static QString elided(const QStyleOptionComboBox &option, const QStyle *style,
                          const QWidget *widget);
};
