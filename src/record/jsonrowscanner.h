#pragma once

#include "record/recordfield.h"

// The columns in the order of the last line's keys: a file that a tool rewrote has them
// in its own order, the same on every line.
using JsonKeyOrder = std::array<qint8, RecordColumns::Count>;

// Reads one flat JSON object whose keys are the record's columns, each once, with a
// text, a number or null for each: the writer's rows, also with the keys in another
// order, with spaces, or with escaped texts, as jq and friends write them again. It
// gives up on anything else (another key, true, a nested value, an exponent, a number
// whose text QJsonDocument would write otherwise, a surrogate, broken UTF-8, a malformed
// line), which then goes to QJsonDocument.
//
// Undone escapes go to unescaped, which has room for the line.
bool scanJsonRow(const char *begin, const char *end, char *unescaped, JsonKeyOrder *keyOrder,
                 RecordFields *fields);
