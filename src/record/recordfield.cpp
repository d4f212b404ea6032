#include "record/recordfield.h"

QString recordFieldText(const char *text, qsizetype size)
{
    QString marks;
    for (; startsWithByteOrderMark(text, size); text += 3, size -= 3)
        marks += QChar(0xFEFF);
    return marks + QString::fromUtf8(text, int(size));
}
