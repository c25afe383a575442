// Loading and patching compiled code, the execution thread loop, clump
// scheduling and the small exported entries of the execution threads.
#include "engine/exec/codeentry.h"

#include <atomic>

#include "engine/exec/exec.h"
#include "engine/exec/exec_internal.h"
#include "engine/exec/rttable.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/window/wservices.h"
#include "mgsource/config.h"
#include "mgsource/datetime.h"
#include "mgsource/blockmove.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/occur.h"
#include "mgsource/printf.h"
#include "mgsource/walert.h"
#include "platform/qx_com.h"
#include "platform/qx_vmem.h"

namespace {

std::atomic<uInt16> gCompilerErrors{0};
// The block of run-time globals whose address compiled code is patched
// with: word 0 is the run-time information word; the shell fills the others
// at start-up.
uInt32 gRTGlobals[kQXRTGlobalWords] = {};
std::atomic<ExecPostUserEventProc> gPostUserEvent{nullptr};
std::atomic<ExecReserveProc> gReserveProc{nullptr};
std::atomic<int32> gVIRunning{0};

// The register a thread that runs no clump sees: always 0.
ExecCountdown gNoCountdown{0};
// The countdown register of the calling thread, read by compiled code
// through GS at a fixed thread-relative place.
__attribute__((tls_model("initial-exec"))) thread_local ExecCountdown* tCountdown = &gNoCountdown;

const uChar kFreeThreadedKey[] = "\x14" "activeX.freeThreaded";

// The request that follows "Compiler error.  " in a patch report.
constexpr const char kReportRequest[] = "Please report this problem to technical support.";

// Shows one patch report and sets the compiler-error bit.
void ReportPatch(const char* fmt, int32 value) {
  char msg[128];
  SPrintf(msg, fmt, value);
  char text[256];
  int32 n = SPrintf(nullptr, "Compiler error.  %s\n\n%s", kReportRequest, msg);
  uChar pstr[256];
  if (n > 0 && n < int32(sizeof text)) {
    SPrintf(text, "Compiler error.  %s\n\n%s", kReportRequest, msg);
  } else {
    n = 0;
    text[0] = 0;
  }
  if (n > 255) n = 255;
  pstr[0] = uChar(n);
  for (int32 i = 0; i < n; ++i) pstr[1 + i] = uChar(text[i]);
  WAlert(pstr, 0);
  gCompilerErrors.fetch_or(kCompilerErrPatch);
}

VIRecord* OwnerVI(DataSpaceHeader* h) {
  return h && h->owner && *h->owner ? reinterpret_cast<VIRecord*>(*h->owner) : nullptr;
}

// The run record that serves the data space's chosen slot, or none when the
// data space is routed by priority alone.
ExecRunRecord* ChosenRecord(const QueueElement* e) {
  DataSpaceHeader* h = e->dataSpace ? *e->dataSpace : nullptr;
  if (!h || h->execSystem == kESysSameAsCaller) return nullptr;
  return ExecSlotRunRecord(h->slot);
}

}  // namespace

// ---- Code blocks ------------------------------------------------------------------

MgErr NewVICodeGuarded(const void* bytes, int32 size, int32 guard, uChar fill, VICode* code) {
  if (!code) return kArgErr;
  *code = nullptr;
  if (!bytes || size < 4 * kCodeHeaderWords || guard < 0 || size > 0x10000000 - 2 * guard) return kArgErr;
  int32 mappingSize = size + 2 * guard;
  auto* mapping = static_cast<UPtr>(PlatCodeAlloc(uint32_t(mappingSize)));
  if (!mapping) return kMemFullErr;
  auto h = reinterpret_cast<VICode>(DSNewHClr(sizeof(VICodeRec)));
  if (!h) {
    PlatCodeFree(mapping, uint32_t(mappingSize));
    return kMemFullErr;
  }
  for (int32 i = 0; i < guard; ++i) mapping[i] = mapping[guard + size + i] = fill;
  MoveBlock(bytes, mapping + guard, size);
  PlatCodeRestore(mapping, uint32_t(mappingSize));
  VICodeRec* r = *h;
  r->signature = kVICodeSig;
  r->start = mapping + guard;
  r->size = size;
  r->mapping = mapping;
  r->mappingSize = mappingSize;
  *code = h;
  return kNoErr;
}

MgErr NewVICode(const void* bytes, int32 size, VICode* code) { return NewVICodeGuarded(bytes, size, 0, 0, code); }

VICodeRec* VICodeRecord(UHandle code) {
  if (!code || DSCheckHandle(code) != kNoErr) return nullptr;
  if (DSGetHandleSize(code) != int32(sizeof(VICodeRec))) return nullptr;
  auto* r = reinterpret_cast<VICodeRec*>(*code);
  return r->signature == kVICodeSig ? r : nullptr;
}

void DisposeVICode(VICode code) {
  VICodeRec* r = VICodeRecord(reinterpret_cast<UHandle>(code));
  if (!r) {
    if (code) DBAssert(__FILE__, __LINE__, "not a VI code handle");
    return;
  }
  PlatCodeFree(r->mapping, uint32_t(r->mappingSize));
  r->signature = 0;
  DSDisposeHandle(reinterpret_cast<UHandle>(code));
}

// ---- Patching ---------------------------------------------------------------------

uInt32 ExecCountdownPatchValue() {
  return uInt32(reinterpret_cast<uintptr_t>(&tCountdown) - reinterpret_cast<uintptr_t>(QXThreadPointer()));
}

ExecCountdown* ExecThreadCountdown() { return tCountdown; }

int32* QXRTInfoWord() { return reinterpret_cast<int32*>(&gRTGlobals[0]); }
uInt32* QXRTGlobals() { return gRTGlobals; }

uInt16 CompilerErrorFlags() { return gCompilerErrors.load(); }
void SetCompilerErrorFlags(uInt16 flags) { gCompilerErrors.store(flags); }

void FlushCaches(UPtr, int32) {}
// The same empty procedure under its second name.
QX_EXTERN_C void ProfileStopStartAccum(UPtr, int32) __attribute__((alias("FlushCaches")));

bool CodePatchValue(const uChar* block, uintptr_t base, uInt32 offset, int32 index, uInt32* value) {
  if (index >= 0 && index < kQXRTEntries) {
    const uInt32 target = uInt32(reinterpret_cast<uintptr_t>(QXRTTable[index]));
    const uChar op = offset > 0 ? block[offset - 1] : 0;
    *value = op >= 0xB8 && op <= 0xBF ? target : target - uInt32(base + offset + 4);
  } else if (index == kPatchCountdown) {
    *value = ExecCountdownPatchValue();
  } else if (index == kPatchRTTable) {
    *value = uInt32(reinterpret_cast<uintptr_t>(&QXRTTable[0]));
  } else if (index == kPatchRTInfo) {
    *value = uInt32(reinterpret_cast<uintptr_t>(&gRTGlobals[0]));
  } else {
    return false;
  }
  return true;
}

int32 PatchCodeRefs(const CodePatchList* list, UPtr code, int32 size) {
  if (!code || size <= 0) return 1;
  bool bad = false;
  // The list must lie inside the block, pair by pair, and end there.
  const uintptr_t begin = reinterpret_cast<uintptr_t>(code);
  uintptr_t at = reinterpret_cast<uintptr_t>(list);
  if (at < begin || at > begin + uintptr_t(size)) {
    ReportPatch("qxrt patch out of range: ofst=0x%lx", int32(at - begin));
    return 1;
  }
  PlatCodeMakeWritable(code, uint32_t(size));
  for (;;) {
    uInt32 pos = uInt32(at - begin);
    if (uInt64(pos) + 8 > uInt64(size)) {
      // The list runs off the block before its end mark.
      ReportPatch("qxrt patch out of range: ofst=0x%lx", int32(pos));
      bad = true;
      break;
    }
    uInt32 offset = GetNative32(code + pos);
    int32 index = int32(GetNative32(code + pos + 4));
    at += 8;
    if (offset == 0) break;
    if (uInt64(offset) + 4 > uInt64(size)) {
      ReportPatch("qxrt patch out of range: ofst=0x%lx", int32(offset));
      bad = true;
      continue;
    }
    uInt32 value;
    if (!CodePatchValue(code, begin, offset, index, &value)) {
      ReportPatch("qxrt index out of range: idx=%ld", index);
      bad = true;
      continue;
    }
    PutNative32(code + offset, value);
  }
  PlatCodeRestore(code, uint32_t(size));
  FlushCaches(code, size);
  return bad ? 1 : 0;
}

Bool32 UsesMissingRTEntries(const CodePatchList* list, int32 listBytes) {
  if (!list) return 0;
  auto* p = reinterpret_cast<const uChar*>(list);
  for (int32 pos = 0;; pos += 8) {
    if (listBytes - pos < 8) return 1;
    if (GetNative32(p + pos) == 0) return 0;
    int32 index = int32(GetNative32(p + pos + 4));
    if (index >= kMissingRTFirst && index <= kMissingRTLast) return 1;
  }
}

void SetCodeEntryAndPatch(UHandle code, DataSpace ds) {
  VICodeRec* r = VICodeRecord(code);
  DataSpaceHeader* h = ds ? *ds : nullptr;
  if (!r || !h) {
    DBAssert(__FILE__, __LINE__, "SetCodeEntryAndPatch: no code or no data space");
    return;
  }
  VIRecord* vi = OwnerVI(h);
  uInt32 entry = GetNative32(r->start + 4 * kCodeWordEntry);
  uInt32 listOffset = GetNative32(r->start + 4 * kCodeWordPatchList);
  bool bad = false;
  if (entry >= uInt32(r->size)) {
    // An entry outside the block is never stored.
    ReportPatch("qxrt patch out of range: ofst=0x%lx", int32(entry));
    DSProc(h, 22) = nullptr;
    bad = true;
  } else {
    DSProc(h, 22) = r->start + entry;
  }
  if (!bad && listOffset == 0) {
    r->patched = 1;  // nothing to patch
  } else if (!bad && !(vi && (vi->flags & kVIFlagBad))) {
    if (listOffset >= uInt32(r->size)) {
      ReportPatch("qxrt patch out of range: ofst=0x%lx", int32(listOffset));
      bad = true;
    } else {
      bad = PatchCodeRefs(reinterpret_cast<const CodePatchList*>(r->start + listOffset), r->start, r->size) != 0;
    }
    if (!bad) r->patched = 1;
  }
  if (bad) {
    r->refused = 1;
    if (vi) vi->flags |= kVIFlagsBadCode;
  }
}

// ---- The user-interface thread's hooks ---------------------------------------------

void ExecSetPostUserEventProc(ExecPostUserEventProc proc) { gPostUserEvent.store(proc); }
Bool32 ExecPostUserEventProcInstalled() { return gPostUserEvent.load() ? 1 : 0; }

MgErr ExecPostUserEvent(int32 code, int32 a1, int32 a2, int32 a3, int32 a4, int32 a5) {
  ExecPostUserEventProc p = gPostUserEvent.load();
  return p ? p(kRootWindow, code, a1, a2, a3, a4, a5, 0, 0) : kNoErr;
}

void ExecSetReserveProc(ExecReserveProc proc) { gReserveProc.store(proc); }

namespace qxexec {
void UpdateReserveState(DataSpaceHeader* h) {
  ExecContext* ctx = GetCurExecContext();
  if (ctx && ctx->slot == 0) {
    if (ExecReserveProc p = gReserveProc.load()) p(h->owner);
  } else {
    ExecPostUserEvent(kUserEventReserve, int32(reinterpret_cast<intptr_t>(h->owner)));
  }
}
}  // namespace qxexec

void ExecSetVIRunning(Bool32 on) { gVIRunning.store(on ? 1 : 0); }
Bool32 ExecVIRunning() { return gVIRunning.load(); }

// ---- The thread loop --------------------------------------------------------------

int32 ExecThreadProc(ExecContext* context) {
  const bool ui = !context || context->slot == 0;
  ExecContext* ctx = context ? context : ExecContextAt(0);
  if (!ctx || ctx->signature != kExecContextSig) {
    DBAssert(__FILE__, __LINE__, "ExecThreadProc: no execution context");
    return 0;
  }
  const bool threadsOn = ExecThreadsOn() != 0;
  bool hardWait = false;
  bool comEx = false;
  if (!ui && threadsOn) {
    if (ctx->thread) ThThreadSetPriority(ctx->thread, ctx->priority);
    hardWait = OccurHardWaitTimeCritical() && ctx->priority == kPriTimeCritical;
    Bool32 freeThreaded = 0;
    CfgGetDefault(kCfgBool, kFreeThreadedKey, &freeThreaded);
    int32 r = PlatComInit(freeThreaded != 0);
    if (freeThreaded) {
      comEx = true;
    } else if (r == kPlatComDone || r == kPlatComAlready) {
      ComCounterAdd();
    }
  }
  ctx->alive.store(1);
  ExecCountdown* savedCountdown = tCountdown;
  ExecCountdown* cd = ctx->countdown ? ctx->countdown : &ctx->ownCountdown;
  tCountdown = cd;

  // The words below are the thread's own; other threads only read them (the
  // current element to learn when a data space is idle, the countdown to run
  // it down), so plain release stores serve and no store in the loop costs a
  // locked instruction.
  QueueElement* e = ctx->current.load();
  for (bool ran = false;; ran = true) {
    if (!e) {
      e = qxexec::TakeElement(ctx->runRecord, ui ? 0 : 1, ctx, true, ran);
      if (!e) {
        if (!ui && ctx->running.load()) DBAssert(__FILE__, __LINE__, "execution thread woke without an element");
        break;
      }
      if (!ui && QERunState(e) == 6) WSleep(1);
    }
    // The slice in force (WBackground changes it); none for a hard-waiting
    // time-critical thread or a thread told to stop.
    const bool stopping = !ui && !ctx->running.load();
    const int32 slice = hardWait || stopping ? 0 : ExecTimeSlice();
    cd->store(slice, std::memory_order_relaxed);
    ExecTestRunProc testProc = qxexec::TestRunProc();
    if (!e->code && !testProc) DBAssert(__FILE__, __LINE__, "queue element without a code address");
    e->runningContext = ctx;
    ctx->current.store(e, std::memory_order_release);
    int32 r = 0;
    if (testProc) {
      testProc(ctx, e);
    } else if (e->code) {
      r = CallCompiledCode(e->code, e->dataSpace, e);
    }
    // In-line entries and exits change the element the context runs.
    e = ctx->current.load();
    bool inputWaits = false;
    if (ui && cd->load() <= 0) {
      inputWaits = WEventAvail() != 0;
      if (!inputWaits) cd->store(slice, std::memory_order_relaxed);
    }
    const bool ended = r == 0 || !e;
    // Taking the next element looks for occurrences first: look here only
    // when this element goes on or the loop ends.
    if (!ended || (ui && inputWaits)) ChkOccurrences();
    if (ended) {
      ctx->current.store(nullptr, std::memory_order_release);
      e = nullptr;
    } else {
      e->code = reinterpret_cast<void*>(r);
      ExecRunRecord* chosen = ui ? nullptr : ChosenRecord(e);
      // An element handed to a queue stays this context's current element
      // until it is queued, so that it is never out of sight of a disposal.
      auto handTo = [&](ExecRunRecord* record) {
        EnQElm(record, e);
        ctx->current.store(nullptr, std::memory_order_release);
        e = nullptr;
      };
      if (ctx->subroutineCaller.load()) {
        if (!ui && QERunState(e) == 6) WSleep(1);
      } else if (ui && inputWaits) {
        handTo(ctx->runRecord);
      } else if (!ui && !ctx->running.load()) {
        // Told to stop: the element waits on its queue and this thread ends.
        handTo(chosen ? chosen : ctx->runRecord);
      } else if (chosen && chosen != ctx->runRecord) {
        handTo(chosen);
      } else {
        if (!ui && QERunState(e) == 6) WSleep(1);
        e = qxexec::SwitchElement(ctx->runRecord, e, ctx);
      }
    }
    if (ui && inputWaits) break;
  }
  ctx->current.store(nullptr);
  cd->store(0);
  tCountdown = savedCountdown;
  ctx->alive.store(0);
  if (comEx) PlatComUninit();
  return 0;
}

namespace {
// Set while a slice of the user-interface system runs on its thread.
std::atomic<int32> gInUISlice{0};
}  // namespace

Bool32 ExecUserInterfaceSlice(Bool32 shortSlice) {
  ExecContext* ui = ExecContextAt(0);
  if (!ui || GetCurExecContext() != ui) return 0;
  int32 expected = 0;
  if (!gInUISlice.compare_exchange_strong(expected, 1)) return 0;
  if (ExecTimeSlice() != 0) ExecSetTimeSlice(shortSlice ? 1 : 2);
  // Without execution threads the tick procedure does not run this
  // thread's countdown: it gets its slice here.
  const bool threadsOff = !ExecThreadsOn();
  if (threadsOff && ui->countdown) ui->countdown->store(ExecTimeSlice());
  ExecThreadProc(nullptr);
  if (threadsOff && ui->countdown) ui->countdown->store(0);
  gInUISlice.store(0);
  return 1;
}

Bool32 ExecUserInterfaceSliceRunning() { return gInUISlice.load(); }

void CondSchedClmp(QueueElement* element, int32 system) {
  if (!qxexec::CheckElement(element, "CondSchedClmp: bad queue element (QELM)")) return;
  DataSpaceHeader* h = element->dataSpace ? *element->dataSpace : nullptr;
  if (!h) {
    DBAssert(__FILE__, __LINE__, "CondSchedClmp: element without a data space");
    return;
  }
  ThMutex rights = h->entrance.dsRights;
  bool fire = false;
  ThMutexAcquire(rights);
  if (element->fireCount == 0) {
    DBPrintf("CondSchedClmp called with zero shortCount");
  } else {
    fire = --element->fireCount == 0;
  }
  ThMutexRelease(rights);
  if (!fire) return;
  // Outside "dsRights": the run record's mutex is taken by the queueing.
  int32 slot = system == kESysSameAsCaller ? h->slot : ExecSysSlot(h->effPriority, system);
  if (slot < 0) slot = qxexec::RunSlotOf(h, system);
  EnqPrRunQ(slot, element);
}

int32 GetSetQXInfo(int32 mode, int32 value) {
  if (mode == 4) return int32(reinterpret_cast<intptr_t>(&gRTGlobals[0]));
  ExecContext* ctx = GetCurExecContext();
  if (!ctx) return 0;
  auto* word = static_cast<int32*>(ctx->info);
  switch (mode) {
    case 0: return word ? *word : 0;
    case 1: {
      if (!word) return 0;
      int32 old = *word;
      *word = value;
      return old;
    }
    case 2: ctx->info = reinterpret_cast<void*>(intptr_t(value)); return 0;
    case 3: return word ? int32(reinterpret_cast<intptr_t>(word + 1)) : 0;
    default: return 0;
  }
}

uInt32 RealWait(ExecContext* context, uInt32 deadline, uInt32 now) {
  if (context && (!OccurHardWaitTimeCritical() || context->priority != kPriTimeCritical)) return 0;
  if (MillisecCmp(deadline, now) <= 0) return now;
  return ThSleepUntil(deadline, now);
}

void DoDDOAttrCallDone() {
  ExecContext* ctx = GetCurExecContext();
  tCountdown->store(0);
  if (!ctx) return;
  if (ctx->countdown) ctx->countdown->store(0);
  ctx->ownCountdown.store(0);
}

int32 SingleNodeExec() { return 0; }
