// Data dragged in from other programs: any file-list block and any text
// block, read through the drop readers of data objects.  The count matches
// the block's names, which fit inside it; the item flags follow the formats
// offered; a name longer than 260 gives 7; the text is read only within its
// block and has no CR left; every block obtained is released and nothing is
// reported.
//
// Input: a byte whose bits 0 and 1 offer the file list and the text, then
// the bytes both blocks hold.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "mgsource/path.h"
#include "mgsource/window/wdrag.h"
#include "platform/qx_drop.h"
#include "platform/qx_droptarget.h"

namespace {

class FuzzObject final : public PlatDataObject {
 public:
  FuzzObject(bool list, bool text, std::string bytes) : list_(list), text_(text), bytes_(std::move(bytes)) {}
  PlatOleResult QueryInterface(uint32_t, void** out) override {
    *out = nullptr;
    return kPlatOleNoInterface;
  }
  uint32_t AddRef() override { return ++refs_; }
  uint32_t Release() override { return --refs_; }
  PlatOleResult QueryGetData(const PlatFormat& f) override {
    return (f.format == kPlatCfFileList && list_) || (f.format == kPlatCfText && text_) ? kPlatOleOk
                                                                                       : kPlatOleBadFormat;
  }
  PlatOleResult GetData(const PlatFormat& f, PlatMedium* m) override {
    *m = PlatMedium{};
    if (QueryGetData(f) != kPlatOleOk) return kPlatOleBadFormat;
    const PlatGlobal g = PlatGlobalAlloc(kPlatGlobalMovable, uint32_t(bytes_.size()));
    if (!g) return kPlatOleOutOfMemory;
    std::memcpy(PlatGlobalLock(g), bytes_.data(), bytes_.size());
    PlatGlobalUnlock(g);
    *m = PlatMedium{kPlatMediumGlobal, g};
    return kPlatOleOk;
  }
  uint32_t refs_ = 1;

 private:
  const bool list_, text_;
  const std::string bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = FuzzStartManagers(FuzzAbortWhenArmed);
  if (!started || size < 1) return 0;
  const bool list = data[0] & 1, text = data[0] & 2;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  FuzzObject object(list, text, bytes);
  const int32_t blocks = PlatGlobalLiveCount();
  DragData d = nullptr;
  if (DragNewData(&d, uInt32(reinterpret_cast<uintptr_t>(static_cast<PlatDataObject*>(&object)))) != kNoErr)
    return 0;
  FuzzArmed() = true;
  const int32 count = DragGetItemCount(d, kDragKindDataObject);
  FUZZ_CHECK(count >= 0 && uint64_t(count) <= bytes.size() + 1);
  FUZZ_CHECK(DragBuildItemFlags(d, kDragKindDataObject) == kNoErr);
  PlatMedium m{};
  object.GetData(PlatFormat{kPlatCfFileList, 0, kPlatAspectContent, -1, kPlatMediumGlobal}, &m);
  uint64_t names = 0;
  for (int32 i = 0; i < count; ++i) {
    FUZZ_CHECK(bool(DragItemIsFile(d, i)) == list && bool(DragItemIsText(d, i)) == text);
    if (!list || i >= 64) continue;
    const uint32_t length = PlatFileListQuery(m.global, uint32_t(i), nullptr, 0);
    names += length;
    Path p = nullptr;
    const MgErr err = DragGetItemPath(d, i, &p, kDragKindDataObject);
    if (length == 0 || length > 260) FUZZ_CHECK(err == kFileNotFoundErr);
    if (err == kNoErr) FDisposePath(p);
  }
  FUZZ_CHECK(names <= bytes.size());
  PlatReleaseMedium(&m);
  LStrHandle t = reinterpret_cast<LStrHandle>(DSNewHClr(4));
  const MgErr err = DragGetItemText(d, 0, t, kDragKindDataObject);
  FUZZ_CHECK(text || err == kMemFullErr);
  if (text && err == kNoErr) {
    const int32 n = (*t)->cnt;
    FUZZ_CHECK(n >= 0 && size_t(n) <= strnlen(bytes.data(), bytes.size()));
    FUZZ_CHECK(!std::memchr((*t)->str, '\r', size_t(n)));
  }
  FuzzArmed() = false;
  DSDisposeHandle(reinterpret_cast<UHandle>(t));
  DragDisposeData(d);
  FUZZ_CHECK(object.refs_ == 1);
  FUZZ_CHECK(PlatGlobalLiveCount() == blocks);
  return 0;
}
