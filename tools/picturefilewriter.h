// Writers of picture files for tests, benchmarks and fuzz seeds: bitmap
// files ("BM") of the core or info form, and clipboard files holding one
// metafile.
#pragma once
#include <cstdint>
#include <vector>

namespace pfw {

struct Bitmap {
  int32_t width = 0, height = 0, depth = 0;  // 1, 4, 8, 16, 24 or 32
  // Rows top first, each packed (width x depth bits rounded up to bytes);
  // 24-bit pixels blue, green, red as stored.
  std::vector<uint8_t> rows;
  std::vector<uint32_t> colours;  // 0x00RRGGBB; the table the depth asks for
  bool core = false;              // 12-byte header, 3-byte colour entries
};
// The file: header, colour table, rows bottom first padded to 32 bits.
std::vector<uint8_t> WriteBmp(const Bitmap& b);

// A clipboard file of id 50000 (the plain metafile under format 3, after an
// 8-byte picture header) or 50001/50002 (the enhanced metafile under format
// 14), with a text entry before it.
std::vector<uint8_t> WriteClipboardFile(uint16_t id, const std::vector<uint8_t>& metafile);

}  // namespace pfw
