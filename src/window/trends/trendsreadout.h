#pragma once

#include <QLabel>

class TrendStore;

// The line above the trends: the lowest and the highest cell and their spread, what a
// technician watching a balancing run looks for first. For the newest frame, or for
// the time under the mouse: the frame there where frames are still kept, or else the
// interval drawn there, whose lowest and highest cell it gives over all its frames.
class TrendsReadout : public QLabel
{
    Q_OBJECT

public:
    explicit TrendsReadout(QWidget *parent = nullptr);

    void showNewest(const TrendStore &store);
    // key: seconds since the epoch; level: the finest store level drawn. Returns the
    // time the reading is for (the frame's, or the middle of the interval's frames),
    // where the cursor goes.
    double showAt(const TrendStore &store, double key, int level);
};
