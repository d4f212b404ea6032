#include "wirefaults.h"

#include <algorithm>
#include <iterator>

namespace {
const char *const NoiseLines[] = {
    "DBG: bq alert cleared\r\n",         "ADC: offset calibration done\r\n",
    "CAN: no response from charger\r\n", "WDT: kicked late by 3 ms\r\n",
    "BAL: cell balancing on\r\n",        "BAL: cell balancing off\r\n",
    "EE: parameters saved\r\n",
};
} // namespace

WireFaults::WireFaults(const WireFaultSettings &settings)
    : settings(settings), random(settings.seed ^ 0x9E3779B9u)
{}

bool WireFaults::happens(double rate)
{
    return rate > 0 && random.generateDouble() < rate;
}

bool WireFaults::mergeNext()
{
    return happens(settings.mergeRate);
}

bool WireFaults::noiseNext()
{
    return happens(settings.noiseRate);
}

void WireFaults::corrupt(QByteArray &frame)
{
    if (frame.size() <= 2 || !happens(settings.corruptRate))
        return;
    const int at = 2 + int(random.bounded(quint32(frame.size() - 2)));
    frame[at] = char(uchar(frame.at(at)) ^ (1u << random.bounded(8u)));
}

QVector<LinePiece> WireFaults::cut(const QByteArray &frame)
{
    if (!settings.split || frame.size() < 3)
        return {LinePiece{frame, 0}};
    const int pieces = 2 + int(random.bounded(2u));
    // Distinct cut points, in order, none at either end.
    QVector<int> cuts;
    while (cuts.size() < pieces - 1) {
        const int at = 1 + int(random.bounded(quint32(frame.size() - 1)));
        if (!cuts.contains(at))
            cuts.append(at);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.append(frame.size());

    QVector<LinePiece> result;
    int from = 0;
    for (const int to : cuts) {
        const int pause =
            from == 0
                ? 0
                : MinSplitPauseMs + int(random.bounded(MaxSplitPauseMs - MinSplitPauseMs + 1));
        result.append(LinePiece{frame.mid(from, to - from), pause});
        from = to;
    }
    return result;
}

QByteArray WireFaults::noiseLine()
{
    const auto count = quint32(std::size(NoiseLines));
    return QByteArray(NoiseLines[random.bounded(count)]);
}
