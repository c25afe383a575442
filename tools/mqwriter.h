// A writer of "MQ" code resources for tests: the header, the code bytes a
// test gives, and the relocation table after the image.
//
//   mqw::Image img;
//   img.code = ...;                    // the code part, its header words first
//   img.relocations = {mqw::Reloc32(49)};
//   std::vector<uChar> resource = mqw::Write(img);
//
// Layout tells where the parts lie so that tests can corrupt one field.
#pragma once
#include <vector>

#include "mgsource/extload.h"

namespace mqw {

typedef std::vector<uChar> Bytes;

struct Image {
  Bytes code;                      // padded with zeros to the 44 header bytes
  std::vector<uInt32> relocations; // entries as stored: Reloc32(offset) or Reloc16(offset)
  uInt32 version = 3;              // written big-endian at code offset 12
  uInt32 entryOffset = 0;          // the header's entry-data offset
  int32 jumpTo = -1;               // >= 0: the code starts with a jump (0xE9) to this code offset
  uInt16 extraPages = 0;           // 4,096-byte units reserved after the code
  uInt16 headerParas = 2;          // header size in 16-byte units (at least 2)
  bool wholePages = false;         // pad the image to whole 512-byte pages: last-page field 0
};

inline uInt32 Reloc32(uInt32 offset) { return offset | kMQReloc32; }
inline uInt32 Reloc16(uInt32 offset) { return offset; }

struct Layout {
  uInt32 headerBytes;  // where the code starts
  uInt32 imageBytes;   // header and code (and page padding)
  uInt32 relocOffset;  // where the relocation table starts
};

Bytes Write(const Image& img, Layout* layout = nullptr);

// Little-endian header fields, for tests that corrupt them.
void Put16(Bytes& b, size_t at, uInt16 v);
void Put32(Bytes& b, size_t at, uInt32 v);

}  // namespace mqw
