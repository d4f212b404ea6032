#include "record/csvquotes.h"

CsvQuotes::Verdict CsvQuotes::follow(const char *begin, const char *end, qsizetype *column)
{
    for (const char *at = begin; at != end; ++at) {
        const char c = *at;
        switch (state) {
        case State::FieldStart:
            state = c == '"' ? State::Quoted : c == ',' ? State::FieldStart : State::Unquoted;
            break;
        case State::Unquoted:
            if (c == '"') {
                *column = at - begin + 1;
                return Verdict::StrayQuote;
            }
            if (c == ',')
                state = State::FieldStart;
            break;
        case State::Quoted:
            if (c == '"')
                state = State::QuoteInQuoted;
            break;
        case State::QuoteInQuoted:
            // Either the second of a doubled quote or the field's end.
            if (c == '"') {
                state = State::Quoted;
            } else if (c == ',') {
                state = State::FieldStart;
            } else {
                *column = at - begin;
                return Verdict::StrayQuote;
            }
            break;
        }
    }
    if (state == State::Quoted)
        return Verdict::RowGoesOn;
    state = State::FieldStart;
    return Verdict::RowEnds;
}
