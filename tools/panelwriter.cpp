#include "tools/panelwriter.h"

namespace panelwriter {

std::vector<uChar> ObjectInFileOrder(std::vector<uChar> bytes, int32 cls) {
  if (SwapObjectData(bytes.data(), int32(bytes.size()), cls, kSwapAllToFile) != kNoErr) return {};
  return bytes;
}

std::vector<uChar> RsrcInFileOrder(uInt32 type, std::vector<uChar> bytes) {
  if (SwapRsrcData(type, bytes.data(), int32(bytes.size()), kSwapAllToFile) != kNoErr) return {};
  return bytes;
}

std::vector<uChar> ScrapInFileOrder(std::vector<uChar> bytes) {
  if (SwapScrapData(bytes.data(), int32(bytes.size()), kSwapAllToFile) != kNoErr) return {};
  return bytes;
}

MgErr SwapObjectAllToFile(ObjHeap heap, int32 offset, int32 direction) {
  if (direction != kToFileOrder) return OSwapByClass(heap, offset, direction);
  int32 cls = OHBlockClass(heap, offset);
  if (!ObjSwapForClass(cls)) return kNoErr;
  return SwapObjectData(*heap + offset, OHBlockSize(heap, offset), cls, kSwapAllToFile);
}

}  // namespace panelwriter
