#pragma once

#include <QChar>
#include <QtGlobal>

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
