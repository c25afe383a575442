// External code adds and removes references at run time with any sites,
// names and class codes.  The input is a script of such calls and of items
// entering and leaving the table; after each step the table must check out
// whole, and no byte of the data space's header may change except through
// a data-space reference (which alone may use offset 176).
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/link/linker.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/virecord.h"
#include "fuzz_support.h"
#include "tests/engine/link_check.h"

namespace {

const uInt32 kCodes[] = {FourCC("GENH"), FourCC("QXSB"), FourCC("XFun"), FourCC("VIDS"), FourCC("ABCD")};
const char* const kNames[] = {"\3Res", "\3RES", "\4Sub1", "\4sub1", "\2Fn", "\5Owner"};

int32 Read32(const uint8_t* p) { return int32(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = FuzzStartManagers();
  if (!init || size > 4096) return 0;
  if (!AZPBlocks()->linkerNames) AZPAllocInit();
  InitLinker();
  if (!gLinkTable || !gLinkHeap || !gLinkNameHeap) return 0;
  constexpr int32 kDSSize = kDataSpaceHeaderSize + 64;
  UHandle vi = AZNewHClr(kVIHeaderSize);
  UHandle ds = DSNewHClr(kDSSize);
  UHandle rec = AZNewHClr(12);
  static uint8_t subr[64];
  VIRec(vi)->name[0] = 5;
  std::memcpy(VIRec(vi)->name + 1, "Owner", 5);
  reinterpret_cast<DataSpaceHeader*>(*ds)->owner = vi;
  AddLinkEntry(ds, reinterpret_cast<ConstPStr>(kNames[5]), nullptr, FourCC("VIDS"), nullptr);
  std::vector<uint8_t> header(*ds, *ds + kDataSpaceHeaderSize);
  bool dsRefs = false;
  size_t at = 0;
  while (at + 6 <= size) {
    const uint8_t op = data[at], which = data[at + 1];
    const int32 site = Read32(data + at + 2);
    at += 6;
    const uInt32 code = kCodes[which % 5];
    ConstPStr name = reinterpret_cast<ConstPStr>(kNames[(which / 5) % 5]);
    const void* item = code == FourCC("QXSB") ? static_cast<const void*>(subr)
                       : code == FourCC("XFun") ? static_cast<const void*>(rec)
                                                : static_cast<const void*>(ds);
    switch (op % 4) {
      case 0:
        if (code != FourCC("VIDS")) AddLinkEntry(item, name, nullptr, code, nullptr);
        break;
      case 1: {
        int32 e = 0;
        if (code != FourCC("VIDS") && LookupLinkItem(name, code, &e)) UnlinkItemByName(name, code);
        break;
      }
      case 2:
        dsRefs = dsRefs || code == FourCC("VIDS");
        AddExtern(ds, site, reinterpret_cast<ConstPStr>(kNames[5]), FourCC("VIDS"), name, nullptr, code, nullptr,
                  nullptr);
        break;
      default:
        RemExtern(ds, site, reinterpret_cast<ConstPStr>(kNames[5]), FourCC("VIDS"), name, code);
        break;
    }
    const std::string broken = linkcheck::Walk();
    if (!broken.empty()) std::fprintf(stderr, "%s\n", broken.c_str());
    FUZZ_CHECK(broken.empty());
    for (int32 i = 0; i < kDataSpaceHeaderSize; ++i)
      FUZZ_CHECK((*ds)[i] == header[size_t(i)] || (dsRefs && i >= 176 && i < 180));
  }
  UnlinkItemByName(reinterpret_cast<ConstPStr>(kNames[5]), FourCC("VIDS"));
  for (uInt32 code : kCodes)
    for (const char* n : kNames) {
      int32 e = 0;
      if (LinkClassIndex(code) >= 0 && LookupLinkItem(reinterpret_cast<ConstPStr>(n), code, &e))
        UnlinkItemByName(reinterpret_cast<ConstPStr>(n), code);
    }
  FUZZ_CHECK(reinterpret_cast<uInt32*>(*gLinkTable)[kLinkHdrFreeCount] == uInt32(kLinkTableInitial - 1));
  linkcheck::DisposeTables();
  AZDisposeHandle(vi);
  DSDisposeHandle(ds);
  AZDisposeHandle(rec);
  return 0;
}
