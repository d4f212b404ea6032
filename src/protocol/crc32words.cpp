#include "protocol/crc32words.h"

#include <QtEndian>
#include <array>

namespace {

constexpr quint32 Polynomial = 0x04C11DB7;

// Slicing by eight. The register after a word is the XOR of what each byte of
// (register ^ word) contributes on its own, so a word costs four independent lookups
// instead of four dependent ones; taking words in pairs lets the later word's lookups
// run beside the earlier one's, as they do not depend on the register at all.
// Tables[k][b] is the register that byte b leaves when it stands k bytes before the end
// of the data fed, everything else zero: k 0-3 serve the later word of a pair, k 4-7
// the earlier one. Tables[0] is the classic byte-at-a-time table.
using Table = std::array<quint32, 256>;

constexpr std::array<Table, 8> makeTables()
{
    std::array<Table, 8> tables{};
    for (quint32 byte = 0; byte < 256; ++byte) {
        quint32 reg = byte << 24;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 0x80000000u) ? (reg << 1) ^ Polynomial : reg << 1;
        tables[0][byte] = reg;
    }
    // One more byte of zeros behind each entry moves it up one position.
    for (int k = 1; k < 8; ++k) {
        for (int byte = 0; byte < 256; ++byte) {
            const quint32 below = tables[k - 1][byte];
            tables[k][byte] = (below << 8) ^ tables[0][below >> 24];
        }
    }
    return tables;
}

constexpr std::array<Table, 8> Tables = makeTables();

quint32 fourLookups(const Table *t, quint32 value)
{
    return t[3][value >> 24] ^ t[2][(value >> 16) & 0xFF] ^ t[1][(value >> 8) & 0xFF] ^
           t[0][value & 0xFF];
}

} // namespace

quint32 crc32Words(const uchar *data, int wordCount)
{
    quint32 crc = 0xFFFFFFFF;
    int i = 0;
    for (; i + 2 <= wordCount; i += 2) {
        const quint32 first = crc ^ qFromLittleEndian<quint32>(data + 4 * i);
        const quint32 second = qFromLittleEndian<quint32>(data + 4 * i + 4);
        crc = fourLookups(&Tables[4], first) ^ fourLookups(&Tables[0], second);
    }
    if (i < wordCount)
        crc = fourLookups(&Tables[0], crc ^ qFromLittleEndian<quint32>(data + 4 * i));
    return crc;
}
