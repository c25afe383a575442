// Written resource-file bytes opened read-only from memory, for fuzz
// targets whose input lands inside a resource file.
#pragma once
#include <cstring>

#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "tools/rsrcwriter.h"

// The open file, or 0 when the copy or the open failed (the copy is then
// released; an open file owns it).
inline RsrcFileRef FuzzOpenRsrcImage(const rsrcw::Bytes& file) {
  UHandle image = AZNewHandle(int32(file.size()));
  if (!image) return 0;
  std::memcpy(*image, file.data(), file.size());
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, image) != kNoErr) {
    AZDisposeHandle(image);
    return 0;
  }
  return ref;
}
