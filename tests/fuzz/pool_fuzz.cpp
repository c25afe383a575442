// External code and compiled code hand the pool and the zones any address
// and any handle: freed blocks and handles, addresses inside, around and
// between blocks and pages, unaligned ones, handles of the other zone.  A
// call that refuses one must change nothing: the pools' block counts and
// sizes, the zones' counts and their heap checks stay as they were, and no
// memory that is not mapped is read.  Valid calls in between keep working
// and keep their blocks' contents.
//
// Input: commands of an opcode byte and argument bytes, until the input ends.
#include <cstdint>
#include <cstring>
#include <set>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/memory.h"
#include "mgsource/pool.h"

namespace {

enum Kind { kOwn, kAZPtr, kDSPtr, kAZHandle, kDSHandle };

struct Live {
  Kind kind;
  void* p;  // the block, or the handle
  uInt32 n;
  uInt8 tag;
};

struct Input {
  const uint8_t* d;
  size_t n;
  size_t at = 0;
  bool More() const { return at < n; }
  uint32_t Byte() { return at < n ? d[at++] : 0; }
  uint32_t U16() { return Byte() | Byte() << 8; }
  uint32_t U32() { return U16() | U16() << 16; }
};

struct State {
  int32 ownBlocks, defBlocks, azBlocks, azFree, dsBlocks, dsFree;
  uInt32 ownSize, defSize;
  MgErr azCheck, dsCheck;
  bool operator==(const State&) const = default;
};

MemPool* gPool = nullptr;
constexpr uInt32 kOwnThreshold = 16384 / 4;  // larger blocks of the own pool have a page each
// The 64 KB units of the own pool's fixed and medium pages.  Its floor keeps
// them for good, so which blocks live there is known exactly: only the
// blocks this target holds.
std::set<uintptr_t> gOwnPages;

inline uintptr_t Unit(const void* p) { return uintptr_t(p) >> 16; }

State Snapshot() {
  State s;
  s.ownBlocks = PoolBlockCount(gPool);
  s.defBlocks = PoolBlockCount(PoolInitDefault());
  s.ownSize = PoolSize(gPool);
  s.defSize = PoolSize(PoolInitDefault());
  MemZoneCounts(0, &s.azBlocks, &s.azFree);
  MemZoneCounts(1, &s.dsBlocks, &s.dsFree);
  s.azCheck = AZHeapCheck(0);
  s.dsCheck = DSHeapCheck(0);
  return s;
}

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

uInt8* Data(const Live& l) {
  return l.kind >= kAZHandle ? *static_cast<UHandle>(l.p) : static_cast<uInt8*>(l.p);
}

void Fill(const Live& l) { std::memset(Data(l), l.tag, l.n); }

void Verify(const Live& l) {
  uInt8* d = Data(l);
  for (uInt32 i = 0; i < l.n; i += 1 + i / 8) Check(d[i] == l.tag);
  if (l.n) Check(d[l.n - 1] == l.tag);
}

uInt32 SizeOf(uint32_t sel, uint32_t v) {
  switch (sel % 4) {
    case 0: return 1 + v % 16;
    case 1: return 17 + v % 500;
    case 2: return 517 + v % 4000;
    default: return 4097 + v % 30000;
  }
}

// Makes a block or handle of a kind; false when the host refuses.
bool Make(Kind kind, uInt32 n, uInt8 tag, Live* out) {
  void* p = nullptr;
  switch (kind) {
    case kOwn: p = PoolAlloc(gPool, n, 0); break;
    case kAZPtr: p = AZNewPtr(int32(n)); break;
    case kDSPtr: p = DSNewPtr(int32(n)); break;
    case kAZHandle: p = AZNewHandle(int32(n)); break;
    case kDSHandle: p = DSNewHandle(int32(n)); break;
  }
  if (!p) return false;
  if (kind == kOwn && n <= kOwnThreshold) gOwnPages.insert(Unit(p));
  *out = {kind, p, n, tag};
  Fill(*out);
  return true;
}

void Free(const Live& l) {
  Verify(l);
  switch (l.kind) {
    case kOwn: Check(PoolFree(l.p) == 1); break;
    case kAZPtr: Check(AZDisposePtr(static_cast<UPtr>(l.p)) == kNoErr); break;
    case kDSPtr: Check(DSDisposePtr(static_cast<UPtr>(l.p)) == kNoErr); break;
    case kAZHandle: Check(AZDisposeHandle(static_cast<UHandle>(l.p)) == kNoErr); break;
    case kDSHandle: Check(DSDisposeHandle(static_cast<UHandle>(l.p)) == kNoErr); break;
  }
}

void Resize(Live& l, uInt32 n) {
  Verify(l);
  uInt32 keep = n < l.n ? n : l.n;
  switch (l.kind) {
    case kOwn: {
      void* q = PoolRealloc(l.p, n, 0);
      if (!q) return;
      l.p = q;
      if (n <= kOwnThreshold) gOwnPages.insert(Unit(q));
      break;
    }
    case kAZHandle:
    case kDSHandle: {
      UHandle h = static_cast<UHandle>(l.p);
      if ((l.kind == kAZHandle ? AZSetHandleSize(h, int32(n)) : DSSetHandleSize(h, int32(n))) != kNoErr) return;
      break;
    }
    default: return;  // pointers are not resized
  }
  uInt8* d = Data(l);
  for (uInt32 i = 0; i < keep; ++i) Check(d[i] == l.tag);
  l.n = n;
  Fill(l);
}

bool IsTracked(const std::vector<Live>& live, const void* p) {
  for (const Live& l : live)
    if (l.p == p) return true;
  return false;
}

// A hostile address: near a live or freed block, anywhere in a page that
// holds one, or any word of the input.
uInt8* HostileAddress(Input& in, const std::vector<Live>& live, const std::vector<uInt8*>& freed) {
  uint32_t how = in.Byte();
  int32 off = int16_t(in.U16());
  switch (how % 5) {
    case 0:
      if (!live.empty()) return Data(live[in.Byte() % live.size()]) + off;
      break;
    case 1:
      if (!freed.empty()) return freed[in.Byte() % freed.size()] + (how & 8 ? off : 0);
      break;
    case 2:
      if (!live.empty()) {
        uintptr_t page = uintptr_t(Data(live[in.Byte() % live.size()])) & ~uintptr_t(0xFFFF);
        return reinterpret_cast<uInt8*>(page + uint16_t(off));
      }
      break;
    case 3:
      if (!live.empty()) {
        const Live& l = live[in.Byte() % live.size()];
        if (l.kind >= kAZHandle) return static_cast<uInt8*>(l.p) + off;  // around a master pointer
      }
      break;
    default: break;
  }
  return reinterpret_cast<uInt8*>(uintptr_t(in.U32()));
}

// The address is refused by every entry point that takes a block.
void RefuseAddress(Input& in, const std::vector<Live>& live, uInt8* a) {
  if (!a || IsTracked(live, a)) return;
  // Outside the own pool's kept pages, a live block of any pool (the zones'
  // own records among them) is not hostile.
  if (!gOwnPages.count(Unit(a)) && PoolBlockKind(a) != 0) return;
  uint32_t which = in.Byte();
  State before = Snapshot();
  PoolClearLastError();
  switch (which % 5) {
    case 0: Check(PoolFree(a) == 0); break;
    case 1: Check(PoolRealloc(a, 1 + in.U16(), int32(which >> 4)) == nullptr); break;
    case 2: Check(AZDisposePtr(a) == kArgErr); break;
    case 3: Check(DSDisposePtr(a) == kArgErr); break;
    default: {
      PoolInfoRecord info;
      Check(PoolInfo((which & 16) ? gPool : nullptr, a, &info) == 0);
      break;
    }
  }
  Check(PoolLastError() == MEM_BAD_POINTER);
  Check(Snapshot() == before);
}

// The value is refused by every handle operation of the zone.
void RefuseHandle(Input& in, const std::vector<Live>& live, uInt8* v) {
  uint32_t which = in.Byte();
  bool ds = which & 1;
  if ((ds ? DSCheckHandle(v) : AZCheckHandle(v)) == kNoErr) {
    // A live handle of this zone: ours or not, it is no hostile value.
    return;
  }
  (void)live;
  UHandle h = reinterpret_cast<UHandle>(v);
  State before = Snapshot();
  switch ((which >> 1) % 5) {
    case 0: Check((ds ? DSDisposeHandle(h) : AZDisposeHandle(h)) == kZoneErr); break;
    case 1: Check((ds ? DSGetHandleSize(h) : AZGetHandleSize(h)) == -1); break;
    case 2: Check((ds ? DSSetHandleSize(h, int32(in.U16())) : AZSetHandleSize(h, int32(in.U16()))) == kZoneErr); break;
    case 3: Check((ds ? DSPtrAndHand("ab", h, 2) : AZPtrAndHand("ab", h, 2)) == kZoneErr); break;
    default: {
      UHandle copy = h;
      Check((ds ? DSHandToHand(&copy) : AZHandToHand(&copy)) == kZoneErr);
      break;
    }
  }
  Check(Snapshot() == before);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    if (!FuzzStartManagers()) return false;
    gPool = PoolCreate(16, 0, kPoolSerialized);  // 16 KB pages: each has an uncommitted tail
    if (gPool) PoolSetFloor(gPool, 1u << 30);
    return gPool != nullptr;
  }();
  if (!started || size > 1 << 12) return 0;
  Input in{data, size};
  std::vector<Live> live;
  std::vector<uInt8*> freed;
  std::vector<UHandle> freedHandles;
  const State start = Snapshot();
  while (in.More()) {
    uint32_t op = in.Byte();
    switch (op % 7) {
      case 0:
      case 1: {
        if (live.size() >= 48) break;
        Kind kind = op % 7 == 0 ? kOwn : Kind(1 + in.Byte() % 4);
        uint32_t sel = in.Byte();
        Live l;
        if (Make(kind, SizeOf(sel, in.U16()), uInt8(sel | 1), &l)) live.push_back(l);
        break;
      }
      case 2: {
        if (live.empty()) break;
        size_t i = in.Byte() % live.size();
        Live l = live[i];
        live[i] = live.back();
        live.pop_back();
        Free(l);
        if (l.kind >= kAZHandle) freedHandles.push_back(static_cast<UHandle>(l.p));
        else freed.push_back(static_cast<uInt8*>(l.p));
        if (l.kind == kOwn && (op & 0x80)) RefuseAddress(in, live, static_cast<uInt8*>(l.p));  // freed twice
        if (freed.size() > 64) freed.erase(freed.begin());
        if (freedHandles.size() > 64) freedHandles.erase(freedHandles.begin());
        break;
      }
      case 3: {
        if (live.empty()) break;
        Live& l = live[in.Byte() % live.size()];
        uint32_t sel = in.Byte();
        Resize(l, SizeOf(sel, in.U16()));
        break;
      }
      case 4:
      case 5: {
        RefuseAddress(in, live, HostileAddress(in, live, freed));
        break;
      }
      default: {
        uInt8* v;
        uint32_t how = in.Byte();
        if (how % 3 == 0 && !freedHandles.empty()) v = reinterpret_cast<uInt8*>(freedHandles[in.Byte() % freedHandles.size()]);
        else v = HostileAddress(in, live, freed);
        RefuseHandle(in, live, v);
        break;
      }
    }
  }
  for (const Live& l : live) Free(l);
  // Everything made is given back; the pages may stay.
  State end = Snapshot();
  Check(end.ownBlocks == start.ownBlocks && end.defBlocks == start.defBlocks);
  Check(end.azBlocks * 10000 - end.azFree == start.azBlocks * 10000 - start.azFree);
  Check(end.dsBlocks * 10000 - end.dsFree == start.dsBlocks * 10000 - start.dsFree);
  MemFullReset();
  return 0;
}
