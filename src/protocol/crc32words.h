#pragma once

#include <QtGlobal>

// Check word of every frame on the BMS link, in both directions.
//
//   width 32, polynomial 0x04C11DB7, initial value 0xFFFFFFFF,
//   no input or output reflection, no final XOR,
//   fed one little-endian 32-bit word at a time, most significant bit first.
//
// This is CRC-32/MPEG-2 over the same bytes with each group of four reversed, the
// order in which the board's STM32 CRC unit consumes them. The word 0x12345678
// gives 0xDF8A8A2B.
quint32 crc32Words(const uchar *data, int wordCount);
