#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QVector>

// Faults the simulator puts on the line on demand. Rates are probabilities per
// frame, 0 to 1.
struct WireFaultSettings
{
    bool split = false;
    double noiseRate = 0;
    double corruptRate = 0;
    double mergeRate = 0;
    quint32 seed = 1;
};

// A piece of a burst and the silence the line keeps before it.
struct LinePiece
{
    QByteArray bytes;
    int pauseBeforeMs = 0;
};

// Decides, from its own seeded generator, which frames suffer which fault, so that
// a run with the same seed and the same faults is repeated byte for byte.
class WireFaults
{
public:
    // Pauses inside a split frame stay well below the 30 ms of silence after which
    // the tool takes a burst as complete, as the pieces from a USB adapter do.
    static constexpr int MinSplitPauseMs = 2;
    static constexpr int MaxSplitPauseMs = 8;

    explicit WireFaults(const WireFaultSettings &settings);

    bool mergeNext();
    bool noiseNext();
    // Flips one bit behind the header of a frame that the corrupt rate picks.
    void corrupt(QByteArray &frame);
    // The frame in 2 or 3 pieces when splitting is on, else whole.
    QVector<LinePiece> cut(const QByteArray &frame);
    // A line of the text a board's firmware prints between frames.
    QByteArray noiseLine();

private:
    bool happens(double rate);

    WireFaultSettings settings;
    QRandomGenerator random;
};
