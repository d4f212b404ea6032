#pragma once

#include <QChar>
#include <QtEndian>
#include <QtGlobal>
#include <cstring>

// CSV quoting as RFC 4180 has it and RecordWriter writes it: a field that starts with a
// quote runs to a quote that a comma or the row's end follows, doubles each quote within
// it, and may hold line breaks, so that its row goes on on the next line; a field that
// does not start with a quote holds none. A hand-edited file breaks this with a single
// stray quote, which must not quietly join the rows after it into one.
class CsvQuotes
{
public:
    enum class Verdict {
        RowEnds,
        RowGoesOn, // within a quoted field at the line's end
        StrayQuote,
    };

    // Follows one line of a row, the lines after the first where the one before left off.
    // At a stray quote, *column is its place in the line, from 1.
    Verdict follow(const char *begin, const char *end, qsizetype *column);

private:
    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted };
    State state = State::FieldStart;
};

namespace CsvQuoting {

inline int codeOf(char c)
{
    return uchar(c);
}

inline int codeOf(QChar c)
{
    return c.unicode();
}

// 0x80 in each byte of word that holds c, and nothing else: the high bit of each byte is
// kept out of the sum, so that no carry runs into the next byte.
inline quint64 bytesHolding(quint64 word, char c)
{
    constexpr quint64 Low7 = 0x7F7F7F7F7F7F7F7F;
    const quint64 x = word ^ (0x0101010101010101 * uchar(c));
    return ~(((x & Low7) + Low7) | x | Low7);
}

// Splits a row at its commas, eight bytes at a time, as long as it holds no quote; false
// at the first quote. Most rows hold none, and their fields stay where they are.
template <typename Add> bool splitUnquoted(const char *begin, const char *end, Add add)
{
    const char *fieldStart = begin;
    const char *at = begin;
    for (; end - at >= 8; at += 8) {
        quint64 word;
        std::memcpy(&word, at, 8);
        word = qFromLittleEndian(word);
        if (bytesHolding(word, '"'))
            return false;
        for (quint64 commas = bytesHolding(word, ','); commas; commas &= commas - 1) {
            const char *comma = at + qCountTrailingZeroBits(commas) / 8;
            add(fieldStart, comma);
            fieldStart = comma + 1;
        }
    }
    for (; at != end; ++at) {
        if (*at == '"')
            return false;
        if (*at == ',') {
            add(fieldStart, at);
            fieldStart = at + 1;
        }
    }
    add(fieldStart, end);
    return true;
}

// Splits a row whose quotes CsvQuotes found in order, undoing them in place (a field only
// ever gets shorter), on bytes or on the row decoded; add(begin, end) takes each field.
template <typename Char, typename Add> void split(Char *begin, Char *end, Add add)
{
    Char *out = begin;
    Char *fieldStart = out;
    bool quoted = false;
    for (const Char *c = begin; c != end; ++c) {
        if (quoted) {
            if (codeOf(*c) != '"')
                *out++ = *c;
            else if (c + 1 != end && codeOf(c[1]) == '"')
                *out++ = *++c;
            else
                quoted = false;
        } else if (codeOf(*c) == '"') {
            quoted = true;
        } else if (codeOf(*c) == ',') {
            add(fieldStart, out);
            fieldStart = out;
        } else {
            *out++ = *c;
        }
    }
    add(fieldStart, out);
}

} // namespace CsvQuoting
