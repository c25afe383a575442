#include "tools/picturefilewriter.h"

#include <cstring>

namespace pfw {
namespace {

void Put16(std::vector<uint8_t>* v, uint32_t x) {
  v->push_back(uint8_t(x));
  v->push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>* v, uint32_t x) {
  Put16(v, x & 0xFFFF);
  Put16(v, x >> 16);
}

}  // namespace

std::vector<uint8_t> WriteBmp(const Bitmap& b) {
  const uint32_t headerSize = b.core ? 12 : 40;
  const uint32_t entry = b.core ? 3 : 4;
  const uint32_t packed = (uint32_t(b.width) * b.depth + 7) / 8;
  const uint32_t stride = (uint32_t(b.width) * b.depth + 31) / 32 * 4;
  const uint32_t bitsOffset = 14 + headerSize + uint32_t(b.colours.size()) * entry;
  std::vector<uint8_t> f;
  f.push_back('B');
  f.push_back('M');
  Put32(&f, bitsOffset + stride * b.height);
  Put32(&f, 0);
  Put32(&f, bitsOffset);
  Put32(&f, headerSize);
  if (b.core) {
    Put16(&f, b.width);
    Put16(&f, b.height);
    Put16(&f, 1);
    Put16(&f, b.depth);
  } else {
    Put32(&f, b.width);
    Put32(&f, b.height);
    Put16(&f, 1);
    Put16(&f, b.depth);
    Put32(&f, 0);
    Put32(&f, stride * b.height);
    Put32(&f, 2835);
    Put32(&f, 2835);
    Put32(&f, uint32_t(b.colours.size()));
    Put32(&f, 0);
  }
  for (uint32_t c : b.colours) {
    f.push_back(uint8_t(c));
    f.push_back(uint8_t(c >> 8));
    f.push_back(uint8_t(c >> 16));
    if (!b.core) f.push_back(0);
  }
  for (int32_t r = b.height - 1; r >= 0; --r) {
    const size_t at = f.size();
    f.resize(at + stride, 0);
    if (size_t(r + 1) * packed <= b.rows.size()) std::memcpy(f.data() + at, b.rows.data() + size_t(r) * packed, packed);
  }
  return f;
}

std::vector<uint8_t> WriteClipboardFile(uint16_t id, const std::vector<uint8_t>& metafile) {
  const bool old = id == 50000;
  const uint32_t entryBytes = old ? 89 : 172;
  const std::vector<uint8_t> text = {'h', 'i', 0};
  std::vector<uint8_t> data = metafile;
  if (old) data.insert(data.begin(), {8, 0, 0x0B, 0, 0x0B, 0, 0, 0});  // mapping mode 8, extents, no handle
  std::vector<uint8_t> f;
  Put16(&f, id);
  Put16(&f, 2);
  const uint32_t textAt = 4 + 2 * entryBytes, dataAt = textAt + uint32_t(text.size());
  auto entry = [&](uint32_t format, uint32_t length, uint32_t offset, const char* name) {
    const size_t at = f.size();
    if (old) Put16(&f, format);
    else Put32(&f, format);
    Put32(&f, length);
    Put32(&f, offset);
    f.resize(at + entryBytes, 0);
    std::memcpy(f.data() + f.size() - (entryBytes - (old ? 10 : 12)), name, std::strlen(name));
  };
  entry(1, uint32_t(text.size()), textAt, "Text");
  entry(old ? 3 : 14, uint32_t(data.size()), dataAt, old ? "Picture" : "Enhanced Metafile");
  f.insert(f.end(), text.begin(), text.end());
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

}  // namespace pfw
