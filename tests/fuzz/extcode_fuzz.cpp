// Loads arbitrary "MQ" code resources (the code is never run) and checks the
// answer against a model of the format: the error, and for a load that
// succeeds the header words, the copied code and the relocations; every block
// is given back.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/extload.h"
#include "platform/qx_vmem.h"

namespace {
void Check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Model {
  MgErr err = kNoErr;
  bool exact = true;  // false: the answer depends on where the block lands
  int64_t code = 0, headerBytes = 0, entryOffset = 0;
};

// What a load of these bytes must answer, but for memory running out.
Model Expect(const uint8_t* r, int64_t size) {
  Model m;
  m.err = kExtCodeFormatErr;
  if (size < 26) return m;
  int64_t last = GetNative16(r + 2), pages = GetNative16(r + 4), relocs = GetNative16(r + 6);
  m.headerBytes = int64_t(GetNative16(r + 8)) * 16;
  m.entryOffset = GetNative32(r + 20);
  int64_t relocAt = GetNative16(r + 24);
  int64_t image = last ? (pages - 1) * 512 + last : pages * 512;
  if (image <= 0 || image > size || m.headerBytes < 26 || m.headerBytes > image) return m;
  if (relocAt + 4 * relocs > size) return m;
  m.code = image - m.headerBytes;
  if (m.code < 44 || m.entryOffset >= m.code) return m;
  // Extra room past 16 times the image, and past 1 MB, marks a damaged header.
  const int64_t extra = int64_t(GetNative16(r + 10)) * 4096;
  if (extra > (int64_t(1) << 20) && extra > 16 * image) return m;
  bool headerRelocated = false;
  for (int64_t i = 0; i < relocs; ++i) {
    uint32_t e = GetNative32(r + relocAt + 4 * i);
    int64_t at = e & 0x7FFFFFFF;
    if (at + ((e >> 31) ? 4 : 2) > m.code) return m;
    headerRelocated = headerRelocated || at < 20;
  }
  m.err = kNoErr;
  // A relocated version, jump or entry word depends on the block's address.
  const uint8_t* code = r + m.headerBytes;
  uint32_t version = GetBE32(code + 12);
  if (headerRelocated) m.exact = false;
  else if (version < 2) m.err = kCINOldCompilerErr;
  else if (version >= 5) m.err = kCINNewerVersionErr;
  else if (version == 4) m.exact = false;
  else if (m.entryOffset == 0) {
    int64_t target = 5 + int64_t(int32_t(GetNative32(code + 1)));
    if (code[0] != 0xE9 || target < 0 || target >= m.code) m.err = kExtCodeFormatErr;
  }
  return m;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers();
  if (!started || size > 1 << 20) return 0;
  std::vector<uint8_t> res(data, data + size);
  if (res.size() < 2) res.resize(2);
  res[0] = 'M';
  res[1] = 'Q';
  Model m = Expect(res.data(), int64_t(res.size()));
  UHandle h = AZNewHandle(int32(res.size()));
  if (!h) return 0;
  std::memcpy(*h, res.data(), res.size());
  int32_t blocks = PlatCodeBlocksInUse();
  UPtr block = reinterpret_cast<UPtr>(1);
  MgErr err = LoadExtCode(h, &block, 0, 0x1234, -5);
  AZDisposeHandle(h);
  Check((err == kNoErr) == (block != nullptr));
  if (err) Check(PlatCodeBlocksInUse() == blocks);
  if (err == kMemFullErr) return 0;
  if (m.exact || m.err == kExtCodeFormatErr) Check(err == m.err);
  else Check(err == kNoErr || err == kExtCodeFormatErr || err == kCINOldCompilerErr || err == kCINNewerVersionErr);
  if (err) return 0;
  Check(err == kNoErr && PlatCodeBlocksInUse() == blocks + 1);
  const uint32_t base = uint32_t(reinterpret_cast<uintptr_t>(block));
  const uint32_t version = GetNative32(block + 12);
  Check(version >= 2 && version <= 4);
  uint32_t entry = GetNative32(block + 16);
  Check(entry >= base && int64_t(entry - base) < m.code);
  Check(GetNative32(block + 24) == 0 && GetNative32(block + 28) == 0);
  Check(GetNative32(block + 32) == 0x1234 && GetNative32(block + 36) == uint32_t(-5));
  Check(GetNative32(block + 40) == base + uint32_t(m.entryOffset));
  // The code past the header words is the image's, where no relocation
  // reaches; a relocated 32-bit word holds the image's word plus the block.
  std::vector<uint8_t> touched(size_t(m.code), 0);
  const uint8_t* r = res.data();
  int64_t relocAt = GetNative16(r + 24), relocs = GetNative16(r + 6);
  for (int64_t i = 0; i < relocs; ++i) {
    uint32_t e = GetNative32(r + relocAt + 4 * i);
    int64_t at = e & 0x7FFFFFFF;
    for (int64_t k = 0; k < ((e >> 31) ? 4 : 2); ++k) touched[size_t(at + k)] = 1;
  }
  for (int64_t i = 44; i < m.code; ++i) {
    if (!touched[size_t(i)]) Check(block[i] == r[m.headerBytes + i]);
  }
  UnloadExtCode(block);
  Check(PlatCodeBlocksInUse() == blocks);
  return 0;
}
