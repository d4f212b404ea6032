#pragma once

#include "protocol/recordfield.h"

// Reads one flat JSON object whose keys are the record's columns, each once, with a
// text, a number or null for each: the writer's rows, also with the keys in another
// order, with spaces, or with escaped texts, as jq and friends write them again. It
// gives up on anything else (another key, true, a nested value, an exponent, a number
// whose text QJsonDocument would write otherwise, a surrogate, broken UTF-8, a malformed
// line), which then goes to QJsonDocument.
class JsonRowScanner
{
public:
    // Undone escapes go to unescaped, which has room for the line. keyOrder holds the
    // columns in the order of the last line's keys: a file that a tool rewrote has them
    // in its own order, the same on every line.
    JsonRowScanner(const char *begin, const char *end, char *unescaped,
                   std::array<qint8, RecordColumns::Count> *keyOrder)
        : at(begin), end(end), out(unescaped), keyOrder(*keyOrder)
    {}

    bool scan(RecordFields *fields);

private:
    void skipSpace()
    {
        while (at != end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r'))
            ++at;
    }
    bool take(char c)
    {
        skipSpace();
        if (at == end || *at != c)
            return false;
        ++at;
        return true;
    }
    bool key(int index, int *column);
    bool string(RecordField *field);
    bool escape();
    bool utf8Character();
    bool number(RecordField *field);

    const char *at;
    const char *end;
    char *out;
    std::array<qint8, RecordColumns::Count> &keyOrder;
};
