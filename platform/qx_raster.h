// Raster operations: how a pattern (or pen) colour p, a source colour s and
// the destination d combine, bit by bit.
//
// ROP3 codes carry their function in bits 16-23: each result bit is bit
// (4p + 2s + d) of the function.  ROP2 codes 1-16: bit (2p + d) of
// (code - 1): copy 13, merge 15, xor 7.
#pragma once
#include <cstdint>

uint32_t PlatRop3(uint32_t code, uint32_t p, uint32_t s, uint32_t d);
uint32_t PlatRop2(int32_t code, uint32_t p, uint32_t d);
