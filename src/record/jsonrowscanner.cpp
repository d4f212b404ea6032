#include "record/jsonrowscanner.h"

#include <algorithm>
#include <string_view>
#include <utility>

// The scanner is one function's worth: kept within this file, its steps are compiled into
// one loop whose place in the line stays in a register.
namespace {

class JsonRowScanner
{
public:
    JsonRowScanner(const char *begin, const char *end, char *unescaped, JsonKeyOrder *keyOrder)
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
    JsonKeyOrder &keyOrder;
};

bool JsonRowScanner::scan(RecordFields *fields)
{
    static_assert(RecordColumns::Count <= 64, "one bit per column");
    constexpr quint64 AllColumns = (quint64(1) << RecordColumns::Count) - 1;
    quint64 seen = 0;
    int keys = 0;
    if (!take('{'))
        return false;
    do {
        skipSpace();
        int column = 0;
        if (!key(keys++, &column) || seen & quint64(1) << column || !take(':'))
            return false;
        seen |= quint64(1) << column;
        skipSpace();
        RecordField &field = (*fields)[size_t(column)];
        if (at == end)
            return false;
        if (*at == '"') {
            if (!string(&field))
                return false;
        } else if (*at == 'n') {
            if (end - at < 4 || std::memcmp(at, "null", 4) != 0)
                return false;
            at += 4;
            field = RecordField();
        } else if (!number(&field)) {
            return false;
        }
    } while (take(','));
    if (!take('}'))
        return false;
    skipSpace();
    return at == end && seen == AllColumns;
}

bool JsonRowScanner::key(int index, int *column)
{
    using Name = std::pair<std::string_view, int>;
    static const auto names = [] {
        std::array<std::string_view, RecordColumns::Count> names;
        for (int i = 0; i < RecordColumns::Count; ++i)
            names[size_t(i)] = RecordColumns::Names[i];
        return names;
    }();
    static const auto sorted = [] {
        std::array<Name, RecordColumns::Count> sorted;
        for (int i = 0; i < RecordColumns::Count; ++i)
            sorted[size_t(i)] = {names[size_t(i)], i};
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }();
    if (at == end || *at != '"' || index >= RecordColumns::Count)
        return false;
    const char *begin = ++at;
    while (at != end && *at != '"') {
        if (*at == '\\' || uchar(*at) < 0x20 || uchar(*at) >= 0x80)
            return false;
        ++at;
    }
    if (at == end)
        return false;
    const std::string_view name(begin, size_t(at - begin));
    ++at;
    qint8 &expected = keyOrder[size_t(index)];
    if (name != names[size_t(expected)]) {
        const auto found = std::lower_bound(sorted.begin(), sorted.end(), Name(name, -1));
        if (found == sorted.end() || found->first != name)
            return false;
        expected = qint8(found->second);
    }
    *column = expected;
    return true;
}

bool JsonRowScanner::string(RecordField *field)
{
    const char *begin = ++at;
    char *copy = nullptr; // where the text goes once an escape is undone
    for (;;) {
        if (at == end)
            return false;
        const uchar c = uchar(*at);
        if (c == '"')
            break;
        if (c == '\\') {
            if (!copy) {
                copy = out;
                std::memcpy(out, begin, size_t(at - begin));
                out += at - begin;
            }
            if (!escape())
                return false;
            continue;
        }
        const char *character = at;
        if (c < 0x20)
            return false;
        if (c < 0x80)
            ++at;
        else if (!utf8Character())
            return false;
        if (copy) {
            std::memcpy(out, character, size_t(at - character));
            out += at - character;
        }
    }
    *field = copy ? RecordField{copy, out - copy} : RecordField{begin, at - begin};
    ++at;
    return true;
}

// Characters that UTF-8 conversions treat in their own ways: noncharacters (U+FFFE,
// U+FDD0...) and the byte order mark, which QJsonDocument drops at the start of a text
// but keeps elsewhere. QJsonDocument decides about these.
bool isAmbiguousCharacter(uint codePoint)
{
    return (codePoint & 0xFFFE) == 0xFFFE || (codePoint >= 0xFDD0 && codePoint <= 0xFDEF) ||
           codePoint == 0xFEFF;
}

// One character beyond ASCII in strict UTF-8: no overlong form, no surrogate, nothing
// past U+10FFFF.
bool JsonRowScanner::utf8Character()
{
    const uchar lead = uchar(*at);
    int length = 0;
    uint codePoint = 0;
    uchar low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return false;
    }
    if (end - at < length)
        return false;
    for (int i = 1; i < length; ++i) {
        const uchar c = uchar(at[i]);
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF))
            return false;
        codePoint = codePoint << 6 | (c & 0x3F);
    }
    if (isAmbiguousCharacter(codePoint))
        return false;
    at += length;
    return true;
}

// Each escape writes at most as many bytes as it takes.
bool JsonRowScanner::escape()
{
    if (end - at < 2)
        return false;
    const char c = at[1];
    at += 2;
    static const char Escaped[] = "\"\\/bfnrt";
    static const char Meant[] = "\"\\/\b\f\n\r\t";
    if (const char *known = c ? std::strchr(Escaped, c) : nullptr) {
        *out++ = Meant[known - Escaped];
        return true;
    }
    if (c != 'u' || end - at < 4)
        return false;
    uint unit = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hexDigitValue(at[i]);
        if (digit < 0)
            return false;
        unit = unit << 4 | uint(digit);
    }
    at += 4;
    if ((unit >= 0xD800 && unit <= 0xDFFF) || isAmbiguousCharacter(unit))
        return false;
    if (unit < 0x80) {
        *out++ = char(unit);
    } else if (unit < 0x800) {
        *out++ = char(0xC0 | unit >> 6);
        *out++ = char(0x80 | (unit & 0x3F));
    } else {
        *out++ = char(0xE0 | unit >> 12);
        *out++ = char(0x80 | (unit >> 6 & 0x3F));
        *out++ = char(0x80 | (unit & 0x3F));
    }
    return true;
}

// Whole numbers of up to 15 digits and numbers with one decimal, as the writer writes
// them; the field holds the text that QJsonDocument's double gives back, as a part of
// the number's own text: "25.0" is "25", "-0" is "0".
bool JsonRowScanner::number(RecordField *field)
{
    const char *begin = at;
    const bool negative = *at == '-';
    at += negative;
    const char *digits = at;
    while (at != end && isDecimalDigit(*at))
        ++at;
    const qsizetype wholeDigits = at - digits;
    if (wholeDigits == 0 || (*digits == '0' && wholeDigits > 1) || wholeDigits > 15)
        return false;
    const char *wholeEnd = at;
    char decimal = '0';
    if (at != end && *at == '.') {
        if (end - at < 2 || !isDecimalDigit(at[1]) || wholeDigits > 14)
            return false;
        decimal = at[1];
        at += 2;
    }
    if (at != end && (isDecimalDigit(*at) || *at == '.' || *at == 'e' || *at == 'E'))
        return false;
    if (decimal != '0')
        *field = {begin, at - begin};
    else if (negative && wholeDigits == 1 && *digits == '0')
        *field = {digits, 1};
    else
        *field = {begin, wholeEnd - begin};
    return true;
}

} // namespace

bool scanJsonRow(const char *begin, const char *end, char *unescaped, JsonKeyOrder *keyOrder,
                 RecordFields *fields)
{
    return JsonRowScanner(begin, end, unescaped, keyOrder).scan(fields);
}
