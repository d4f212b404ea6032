#include "protocol/boardtext.h"

namespace {

constexpr char32_t Replacement = 0xFFFD;

bool isKeptControl(char32_t c)
{
    return c == '\t' || c == '\n' || c == '\r';
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// The code point of the UTF-8 character at data[0, size), with its length in
// length, or 0 with length 0 when the bytes there are no valid character: a stray
// continuation byte, an overlong form, a surrogate, a value past U+10FFFF or a
// sequence cut short.
char32_t decodeCharacter(const uchar *data, qsizetype size, int &length)
{
    length = 0;
    const uchar lead = data[0];
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    // C0 and C1 would only start overlong forms, F5 and above values past U+10FFFF.
    int count = 4;
    char32_t c = lead & 0x07;
    char32_t smallest = 0x10000;
    if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2;
        c = lead & 0x1F;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3;
        c = lead & 0x0F;
        smallest = 0x800;
    } else if (lead < 0xF0 || lead > 0xF4) {
        return 0;
    }
    if (size < count)
        return 0;
    for (int i = 1; i < count; ++i) {
        if ((data[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (data[i] & 0x3F);
    }
    if (c < smallest || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    length = count;
    return c;
}

} // namespace

QString boardText(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    // Most of what a board prints is plain ASCII.
    bool plain = true;
    for (qsizetype i = 0; i < size && plain; ++i)
        plain = (data[i] >= 0x20 && data[i] < 0x7F) || isKeptControl(data[i]);
    if (plain)
        return QString::fromLatin1(bytes.constData(), int(size));

    // No character takes more UTF-16 units than bytes; written in place, without a
    // check for room per character.
    QString text(int(size), Qt::Uninitialized);
    QChar *const begin = text.data();
    QChar *out = begin;
    for (qsizetype at = 0; at < size;) {
        int length;
        char32_t c = decodeCharacter(data + at, size - at, length);
        if (length == 0) {
            c = Replacement;
            length = 1;
        } else if (c == 0) {
            at += length;
            continue;
        } else if (isControl(c) && !isKeptControl(c)) {
            c = Replacement;
        }
        at += length;
        if (c > 0xFFFF) {
            *out++ = QChar(QChar::highSurrogate(uint(c)));
            *out++ = QChar(QChar::lowSurrogate(uint(c)));
        } else {
            *out++ = QChar(ushort(c));
        }
    }
    text.resize(int(out - begin));
    return text;
}
