#include "tools/mqwriter.h"

#include "mgsource/byteorder.h"

namespace mqw {

void Put16(Bytes& b, size_t at, uInt16 v) {
  if (b.size() < at + 2) b.resize(at + 2);
  PutNative16(b.data() + at, v);
}

void Put32(Bytes& b, size_t at, uInt32 v) {
  if (b.size() < at + 4) b.resize(at + 4);
  PutNative32(b.data() + at, v);
}

Bytes Write(const Image& img, Layout* layout) {
  Bytes code = img.code;
  if (code.size() < sizeof(CodeBlockHeader)) code.resize(sizeof(CodeBlockHeader));
  PutBE32(code.data() + offsetof(CodeBlockHeader, version), img.version);
  if (img.jumpTo >= 0) {
    code[0] = 0xE9;
    PutNative32(code.data() + 1, uInt32(img.jumpTo - 5));
  }
  uInt32 headerBytes = uInt32(img.headerParas) * 16;
  Bytes out(headerBytes, 0);
  out.insert(out.end(), code.begin(), code.end());
  if (img.wholePages && out.size() % kMQPageSize) out.resize(out.size() + kMQPageSize - out.size() % kMQPageSize);
  uInt32 image = uInt32(out.size());
  out[0] = 'M';
  out[1] = 'Q';
  Put16(out, kMQLastPageBytes, uInt16(image % kMQPageSize));
  Put16(out, kMQPages, uInt16((image + kMQPageSize - 1) / kMQPageSize));
  Put16(out, kMQRelocCount, uInt16(img.relocations.size()));
  Put16(out, kMQHeaderParas, img.headerParas);
  Put16(out, kMQExtraPages, img.extraPages);
  Put32(out, kMQEntryOffset, img.entryOffset);
  Put16(out, kMQRelocOffset, uInt16(image));
  for (uInt32 r : img.relocations) Put32(out, out.size(), r);
  if (layout) *layout = Layout{headerBytes, image, image};
  return out;
}

}  // namespace mqw
