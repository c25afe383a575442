// Case conversion of single characters in the system's code page (1252).
//
// The tables are our own: the ASCII letters, the Latin-1 letters 0xC0-0xDE
// and 0xE0-0xFE (except the multiplication and division signs 0xD7 and
// 0xF7), and the four letter pairs that code page 1252 places in 0x80-0x9F.
// Bytes without a case partner map to themselves.
#pragma once
#include <cstddef>
#include <cstdint>

uint8_t PlatCharLower(uint8_t c);
uint8_t PlatCharUpper(uint8_t c);

// Whether two byte texts are equal when case is ignored: the same length and
// every pair of bytes equal once both are lowered.  The one comparison of
// names and words without regard to case (configuration values, INI section
// and key names, file-name endings).
bool PlatSameNoCase(const void* a, size_t aLen, const void* b, size_t bLen);
