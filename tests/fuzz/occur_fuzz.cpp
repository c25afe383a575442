// Drives the occurrence manager with arbitrary operations and arbitrary
// 32-bit occurrence, handler, slot and time values, checks every answer
// against a model of the live occurrences and handlers, and at the end of
// each input frees everything and checks that nothing is left queued.
// Handler procedures free, re-arm and fire their own handler and occurrence.
#include <cstdint>
#include <deque>
#include <set>

#include "mgsource/datetime.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/thread.h"

namespace {
void Check(bool ok) {
  if (!ok) __builtin_trap();
}

uint32_t Word(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::set<Occurrence> gOccs;
std::set<OccurHdlr> gHdlrs;
int gBudget = 0;  // nested actions procedures may still take in this input

struct Ctx {
  OccurHdlr hdlr = 0;
  Occurrence occ = 0;  // the occurrence the model thinks it is bound to
  int kind = 0;
  int runs = 0;
};
std::deque<Ctx> gCtxs;

bool LiveOcc(uint32_t v) { return gOccs.count(v) != 0; }
bool LiveHdlr(uint32_t v) { return gHdlrs.count(v) != 0; }

void FreeHdlr(OccurHdlr h) {
  bool live = LiveHdlr(h);
  Check(DeallocOccurHdlr(h) == (live ? kNoErr : kArgErr));
  gHdlrs.erase(h);
}

void FreeOcc(Occurrence o) {
  bool live = LiveOcc(o);
  Check(DeallocOccur(o) == (live ? kNoErr : kArgErr));
  gOccs.erase(o);
}

int32 Proc(void* data) {
  Ctx* c = static_cast<Ctx*>(data);
  ++c->runs;
  Check(LiveHdlr(c->hdlr));
  if (gBudget <= 0) return 0;
  --gBudget;
  switch (c->kind) {
    case 1: FreeHdlr(c->hdlr); break;
    case 2: FreeOcc(c->occ); break;
    case 3: {
      MgErr e = OnOccurrence(c->hdlr, 0);
      Check(e == kNoErr || e == kHandlerUnboundErr);
      if (LiveOcc(c->occ)) Check(Occur(c->occ) == kNoErr);
      break;
    }
    case 4: Check(ChkOccurrences() == kNoErr); break;
    case 5:
      if (LiveOcc(c->occ)) Check(OccurAtTime(c->occ, MilliSecs()) == kNoErr);
      break;
    default: break;
  }
  return 0;
}

// A known value (live or freed) or an arbitrary one.
template <typename Set>
uint32_t Pick(const Set& live, const std::deque<uint32_t>& seen, uint32_t v, uint8_t sel) {
  if (sel % 4 == 0 || seen.empty()) return v;
  if (sel % 4 == 1 && !live.empty()) {
    auto it = live.begin();
    std::advance(it, long(v % live.size()));
    return *it;
  }
  return seen[v % seen.size()];
}

ThEvent gEvent = nullptr;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = [] {
    if (MemInit() != kNoErr || ThInit() != kNoErr || OccurInit() != kNoErr) return false;
    return ThEventCreate(&gEvent, "fuzz", 0) == kNoErr;
  }();
  if (!started) return 0;
  gBudget = 64;
  std::deque<uint32_t> seenOccs, seenHdlrs;

  for (size_t pos = 0; pos + 6 <= size; pos += 6) {
    uint8_t op = data[pos], sel = data[pos + 1];
    uint32_t v = Word(data + pos + 2);
    uint32_t o = Pick(gOccs, seenOccs, v, sel);
    uint32_t h = Pick(gHdlrs, seenHdlrs, v, sel);
    switch (op % 20) {
      case 0: {
        Occurrence n = AllocOccur();
        Check(n != 0 && !LiveOcc(n));
        gOccs.insert(n);
        seenOccs.push_back(n);
        break;
      }
      case 1: FreeOcc(o); break;
      case 2: {
        MgErr e = Occur(o);
        Check(LiveOcc(o) ? (e == kNoErr || e == kMemFullErr) : e == kArgErr);
        break;
      }
      case 3: {
        // Bound to a known occurrence, or unbound.
        Occurrence target = (sel & 0x80) ? 0 : o;
        bool expectLive = target == 0 || LiveOcc(target);
        gCtxs.emplace_back();
        Ctx* c = &gCtxs.back();
        c->kind = int(v % 7);
        c->occ = target;
        OccurProc proc = c->kind == 6 ? nullptr : Proc;
        OccurHdlr n = AllocOccurHdlr(target, proc, c);
        Check((n != 0) == expectLive);
        if (n) {
          Check(!LiveHdlr(n));
          c->hdlr = n;
          gHdlrs.insert(n);
          seenHdlrs.push_back(n);
        }
        break;
      }
      case 4: {
        Occurrence target = (sel & 0x80) ? 0 : o;
        bool live = LiveHdlr(h);
        Ctx* c = nullptr;
        for (Ctx& x : gCtxs)
          if (x.hdlr == h) c = &x;
        Check(!live || c);
        MgErr e = BindOccurHdlr(h, target, Proc, c);
        if (!live)
          Check(e == kArgErr);
        else if (target && !LiveOcc(target))
          Check(e == kBadOccurrenceErr);
        else
          Check(e == kNoErr);
        if (c && live) c->occ = e == kNoErr ? target : 0;
        break;
      }
      case 5: FreeHdlr(h); break;
      case 6:
      case 7: {
        bool live = LiveHdlr(h);
        Occurrence bound = 0;
        for (const Ctx& x : gCtxs)
          if (x.hdlr == h) bound = x.occ;
        bool unbound = !LiveOcc(bound);
        MgErr e = op % 20 == 6 ? OnOccurrence(h, sel & 1)
                               : OnOccurrenceWithTimeout(h, sel & 1, int32(v >> (sel % 32)));
        if (!live)
          Check(e == kArgErr);
        else if (unbound)
          Check(e == kHandlerUnboundErr);
        else
          Check(e == kNoErr || e == kMemFullErr);
        break;
      }
      case 8: Check(CancelOnOccur(h) == (LiveHdlr(h) ? kNoErr : kArgErr)); break;
      case 9: {
        MgErr e = FireOccurHdlr(h);
        Check(LiveHdlr(h) ? (e == kNoErr || e == kMemFullErr) : e == kArgErr);
        break;
      }
      case 10: {
        bool live = LiveHdlr(h);
        Bool32 t = HandlerTimedOut(h);
        Check(t == 0 || (t == 1 && live));
        break;
      }
      case 11: {
        uint32_t when = (sel & 0x40) ? MilliSecs() + (v & 0xFF) : v;
        MgErr e = OccurAtTime(o, when);
        Check(LiveOcc(o) ? (e == kNoErr || e == kMemFullErr) : e == kArgErr);
        break;
      }
      case 12: Check(CancelOccurAtTime(o) == (LiveOcc(o) ? kNoErr : kArgErr)); break;
      case 13: Check(ChkOccurrences() == kNoErr); break;
      case 14: {
        MgErr e = InterruptSafeOccur(o);
        if (o == 0)
          Check(e == kArgErr);
        else
          Check(e == kNoErr || (e == kOccurQueueFullErr && OccurTestQueueBusy() == kOccFunnyQEntries));
        break;
      }
      case 15: {
        int32 slot = int32(v), leader = int32(Word(data + pos + 2) ^ (uint32_t(sel) * 0x01010101u));
        if (sel & 0x80) {
          slot = int32(v % 130);
          leader = int32((v >> 8) % 130);
        }
        bool ok = uint32_t(slot) < 128 && uint32_t(leader) < 128;
        Check(OccurSetThreadGroup(slot, leader) == (ok ? kNoErr : kArgErr));
        break;
      }
      case 16: {
        int32 slot = (sel & 0x80) ? int32(v % 130) : int32(v);
        Check(OccurSetThreadEvent(slot, (sel & 1) ? gEvent : nullptr) ==
              (uint32_t(slot) < 128 ? kNoErr : kArgErr));
        break;
      }
      case 17: {
        Bool32 p = OccurPendingForGroup(int32(v));
        Check(p == 0 || p == 1);
        break;
      }
      case 18:
        Check(OccurIsValid(o) == (LiveOcc(o) ? 1 : 0));
        if (!LiveOcc(o)) Check(OccurIfValid(o) == kNoErr);
        break;
      case 19: ReleaseTimedHandler(h, nullptr); break;
    }
  }

  // Free everything; then nothing may stay queued or timed.
  while (!gOccs.empty()) FreeOcc(*gOccs.begin());
  while (!gHdlrs.empty()) FreeHdlr(*gHdlrs.begin());
  Check(ChkOccurrences() == kNoErr);
  Check(OccurTestTimedList(nullptr, nullptr, 0) == 0);
  Check(OccurTestTimeoutList(nullptr, nullptr, 0) == 0);
  Check(OccurTestQueueBusy() == 0);
  Check(!OccurPendingForGroup(0));
  gCtxs.clear();
  return 0;
}
