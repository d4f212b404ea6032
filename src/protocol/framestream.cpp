#include "protocol/framestream.h"

QVector<StreamItem> FrameStream::feed(const QByteArray &bytes)
{
    pending.append(bytes);
    QVector<StreamItem> items;
    judge(items);
    return items;
}

QVector<StreamItem> FrameStream::endOfBurst()
{
    QVector<StreamItem> items;
    judge(items);
    return items;
}

void FrameStream::reset()
{
    pending.clear();
    discarding = false;
}

void FrameStream::judge(QVector<StreamItem> &) {}
