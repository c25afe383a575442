// A walk of the whole link table: the header and its free records, every
// hash chain, every referrers and own-references list, the name counts and
// the counted lists.  Empty when all holds, else what is broken first.
#pragma once
#include <map>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/link/linker.h"
#include "engine/vi/dataspace.h"
#include "mgsource/objlist.h"
#include "tools/vibuilder.h"

namespace linkcheck {

// The number of public entries of the class index with the name.
inline int32 CountPublic(ConstPStr name, uInt32 classIndex) {
  const int32 cap = int32(reinterpret_cast<uInt32*>(*gLinkTable)[kLinkHdrCapacity]);
  int32 n = 0;
  for (int32 i = 1; i < cap; ++i) {
    const LinkEntry e = LE(i);
    if (e.classFlags == kLinkRecordFree || !(e.classFlags & kLinkFlagPublic) || (e.classFlags >> 24) != classIndex)
      continue;
    ConstPStr own = LinkNameOf(e.name);
    n += own && own[0] == name[0] && std::memcmp(own + 1, name + 1, name[0]) == 0;
  }
  return n;
}

inline std::string Walk() {
  auto hdr = [](int32 w) { return reinterpret_cast<uInt32*>(*gLinkTable)[w]; };
  const int32 cap = int32(hdr(kLinkHdrCapacity));
  if (AZGetHandleSize(gLinkTable) != cap * 36) return "capacity";
  if (hdr(0) != kLinkRecordHeader) return "header mark";
  int32 free = 0;
  for (int32 i = 1; i < cap; ++i) free += LE(i).classFlags == kLinkRecordFree;
  if (int32(hdr(kLinkHdrFreeCount)) != free) return "free count";
  const uInt32 next = hdr(kLinkHdrNextFree);
  if (free ? (next == 0 || int32(next) >= cap || LE(int32(next)).classFlags != kLinkRecordFree) : next != 0)
    return "next free record";
  std::set<int32> chained;
  for (int32 b = 0; b < kLinkBucketCount; ++b) {
    bool refs = false;
    int32 steps = 0;
    for (int32 i = gLinkBuckets[b]; i; i = LE(i).chain) {
      if (++steps >= cap) return "loop in chain " + std::to_string(b);
      if (i <= 0 || i >= cap || LE(i).classFlags == kLinkRecordFree) return "bad index in chain";
      if (LinkNameHash(LinkNameOf(LE(i).name)) != b) return "entry in the wrong chain";
      const bool ref = LE(i).classFlags & kLinkFlagReference;
      if (ref && !(LE(i).classFlags & kLinkFlagUnresolved)) return "bound reference in a chain";
      if (refs && !ref) return "public entry after a reference";
      refs = refs || ref;
      if (!chained.insert(i).second) return "entry chained twice";
    }
  }
  std::map<int32, int32> names;
  for (int32 i = 1; i < cap; ++i) {
    const LinkEntry e = LE(i);
    if (e.classFlags == kLinkRecordFree) continue;
    names[e.name] += 1;
    if (e.sites && 4 + 4 * ObjListCount(gLinkHeap, e.sites) > OHBlockSize(gLinkHeap, e.sites)) return "list size";
    if (e.classFlags & kLinkFlagPublic) {
      if (!chained.count(i)) return "public entry not chained";
      continue;
    }
    bool inOwn = false;
    for (int32 r = LE(int32(e.owner)).ownRefs; r && !inOwn; r = LE(r).ownRefs) inOwn = r == i;
    if (!inOwn) return "reference not in its owner's list";
    if (e.classFlags & kLinkFlagUnresolved) {
      if (!chained.count(i)) return "waiting reference not chained";
    } else {
      bool in = false;
      for (int32 r = LE(e.chain).referrers; r && !in; r = LE(r).referrers) in = r == i;
      if (chained.count(i) || !in) return "bound reference not among its target's referrers";
    }
  }
  for (auto& n : names)
    if (LinkNameRefCount(n.first) != n.second) return "name count";
  return {};
}

// Frees the tables InitLinker made (tests start the linker afresh each time).
inline void DisposeTables() {
  OHDisposeHeap(gLinkHeap);
  OHDisposeHeap(gLinkNameHeap);
  AZDisposeHandle(gLinkTable);
  gLinkHeap = gLinkNameHeap = nullptr;
  gLinkTable = nullptr;
}

// Starts the linker afresh (the start-up blocks are made once).
inline bool StartLinker() {
  if (!AZPBlocks()->linkerNames) AZPAllocInit();
  InitLinker();
  return gLinkTable != nullptr;
}

// Idle VIs with caller and subVI lists and, when asked, a data space of 16
// words after its header; all disposed with the set.
class TestVIs {
 public:
  UHandle New(const std::string& name, bool withDS = true) {
    UHandle vi = vib::NewVI(std::vector<tdb::TD>(16, tdb::I32()), withDS);
    if (!vi) return nullptr;
    vis_.push_back(vi);
    VIRec(vi)->name[0] = uChar(name.size());
    std::memcpy(VIRec(vi)->name + 1, name.data(), name.size());
    VIRec(vi)->callers = AZNewHClr(8);
    VIRec(vi)->subVIs = AZNewHClr(8);
    VIRec(vi)->eState = kVIStateIdle;
    if (withDS) {
      reinterpret_cast<DataSpaceHeader*>(*VIRec(vi)->dataSpace)->owner = vi;
      reinterpret_cast<DataSpaceHeader*>(*VIRec(vi)->dataSpace)->signature = kDataSpaceSig;
    }
    return vi;
  }
  void Clear() {
    for (UHandle vi : vis_) {
      for (UHandle* l : {&VIRec(vi)->callers, &VIRec(vi)->subVIs, &VIRec(vi)->connPane})
        if (*l) AZDisposeHandle(*l);
      vib::DisposeVI(vi);
    }
    vis_.clear();
  }
  ~TestVIs() { Clear(); }

 private:
  std::vector<UHandle> vis_;
};

}  // namespace linkcheck
