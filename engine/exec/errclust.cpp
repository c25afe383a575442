// The error I/O cluster of diagrams: status, code and a source text to which
// the names of the VIs of the current call chain are appended, and the call
// chain itself as an array of VI names.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "engine/datasupp.h"
#include "engine/datatype.h"
#include "engine/exec/callchain.h"
#include "engine/exec/codeentry.h"
#include "engine/exec/exec.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/virecord.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/printf.h"

namespace {

std::atomic<int32> gCallChainOn{1};

// More levels than a real chain has: links that loop are cut here.
constexpr int32 kMaxLevels = 100000;

DataSpace CallerOf(DataSpace ds) {
  DataSpaceHeader* h = *ds;
  QueueElement* owner = h->entrance.owner;
  if (!owner || owner == h->runElement || !owner->dataSpace || !*owner->dataSpace) return nullptr;
  return owner->dataSpace;
}

// The text of a source of the given kind; false for none.
bool SourceText(int32 kind, const void* source, std::string* text) {
  if (!source) return false;
  switch (kind) {
    case kErrSourceLStr: {
      LStrHandle h = static_cast<LStrHandle>(const_cast<void*>(source));
      if (!*h) return false;
      text->assign(reinterpret_cast<const char*>(LStrBuf(*h)), size_t(LStrLen(*h)));
      return true;
    }
    case kErrSourceCStr: text->assign(static_cast<const char*>(source)); return true;
    case kErrSourcePStr: {
      const uChar* p = static_cast<const uChar*>(source);
      text->assign(reinterpret_cast<const char*>(p + 1), p[0]);
      return true;
    }
    default: return false;
  }
}

// The names of the chain joined by "->", innermost first; false when the
// chain cannot be read.
bool ChainText(DataSpace ds, std::string* text) {
  UHandle array = DSNewHClr(4);
  if (!array) return false;
  int32 levels = 0, total = 0;
  const MgErr err = GetCallChain(ds, array, &levels, &total);
  const int32 count = *reinterpret_cast<int32*>(*array);
  LStrHandle* names = reinterpret_cast<LStrHandle*>(*array + 4);
  text->clear();
  for (int32 i = 0; i < count; ++i) {
    if (!err && names[i] && *names[i]) {
      if (i) *text += "->";
      text->append(reinterpret_cast<const char*>(LStrBuf(*names[i])), size_t(LStrLen(*names[i])));
    }
  }
  ArrayResizeElts(StdTDTable[kStdTDString], 1, &array, 0);
  DSDisposeHandle(array);
  return err == kNoErr && levels > 0;
}

// Entry 1 of a string list of the run-time resource file.
bool ListText(int32 listId, std::string* text) {
  Str255 s;
  if (RGetIndString(RunTimeRsrcFile(), s, listId, 1) != kNoErr) return false;
  text->assign(reinterpret_cast<const char*>(s + 1), s[0]);
  return true;
}

}  // namespace

MgErr SetErrorIOClust(ErrorIOCluster* cluster, Bool32 status, MgErr code, int32 kind, const void* source,
                      DataSpace ds) {
  if (!cluster) return kArgErr;
  cluster->status = status ? 1 : 0;
  cluster->code = code;
  std::string src, chain;
  // The source may be the cluster's own handle: it is copied before that
  // handle is resized.
  const bool hasSource = SourceText(kind, source, &src);
  const bool hasChain = ds && *ds && ChainText(ds, &chain);
  std::string text = src;
  if (hasChain) text += " in " + chain;
  const int32 len = int32(text.size());
  MgErr err = kNoErr;
  LStrHandle h = cluster->source;
  if (!h) {
    h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + len));
    if (!h) return kMemFullErr;
    cluster->source = h;
  } else {
    err = DSSetHandleSize(reinterpret_cast<UHandle>(h), 4 + len);
  }
  if (!err) {
    std::memcpy(LStrBuf(*h), text.data(), size_t(len));
    (*h)->cnt = len;
  } else if (err == kMemFullErr && hasSource) {
    const int32 room = DSGetHandleSize(reinterpret_cast<UHandle>(h)) - 4;
    const int32 n = room < int32(src.size()) ? room : int32(src.size());
    if (n > 0) std::memcpy(LStrBuf(*h), src.data(), size_t(n));
  }
  return err;
}

MgErr SetErrorIOClustFromRsrc(ErrorIOCluster* cluster, Bool32 status, MgErr code, int32 listId, DataSpace ds) {
  std::string text;
  if (!ListText(listId, &text)) return SetErrorIOClust(cluster, status, code, 0, nullptr, ds);
  return SetErrorIOClust(cluster, status, code, kErrSourceCStr, text.c_str(), ds);
}

MgErr SetErrorIOClustWithArg(ErrorIOCluster* cluster, Bool32 status, MgErr code, int32 listId, int32 argument,
                             DataSpace ds) {
  std::string text;
  if (!ListText(listId, &text)) return SetErrorIOClust(cluster, status, code, 0, nullptr, ds);
  if (argument >= 1) {
    char arg[32];
    const int32 n = SPrintf(arg, " (arg %d)", argument);
    text.append(arg, size_t(n));
  }
  return SetErrorIOClust(cluster, status, code, kErrSourceCStr, text.c_str(), ds);
}

MgErr GetCallChain(DataSpace ds, UHandle array, int32* levels, int32* totalLength) {
  if (levels) *levels = 0;
  if (totalLength) *totalLength = 0;
  ExecContext* ctx = GetCurExecContext();
  QueueElement* current = ctx ? ctx->current.load() : nullptr;
  if (!ds || !*ds || !array || !CallChainEnabled() || !current || current->dataSpace != ds) return kArgErr;
  std::vector<DataSpace> chain{ds};
  for (DataSpace up = CallerOf(ds); up && int32(chain.size()) < kMaxLevels; up = CallerOf(up)) chain.push_back(up);
  const int32 count = int32(chain.size());
  if (levels) *levels = count;
  UHandle a = array;
  if (MgErr err = ArrayResizeElts(StdTDTable[kStdTDString], 1, &a, count)) return err;
  *reinterpret_cast<int32*>(*array) = count;
  int32 total = 0;
  MgErr err = kNoErr;
  for (int32 i = 0; i < count && !err; ++i) {
    UHandle vi = (*chain[size_t(i)])->owner;
    if (!vi || !*vi) break;
    const uChar* name = VIRec(vi)->name;
    const int32 len = name[0];
    UHandle& slot = reinterpret_cast<UHandle*>(*array + 4)[i];
    if (slot) {
      err = DSSetHandleSize(slot, 4 + len);
    } else {
      UHandle h = DSNewHClr(4 + len);
      if (!h) err = kMemFullErr;
      else reinterpret_cast<UHandle*>(*array + 4)[i] = h;
    }
    if (err) break;
    LStrHandle s = reinterpret_cast<LStrHandle*>(*array + 4)[i];
    std::memcpy(LStrBuf(*s), VIRec(vi)->name + 1, size_t(len));
    (*s)->cnt = len;
    total += len;
  }
  if (totalLength) *totalLength = total;
  return err;
}

MgErr CallChain(UHandle array) {
  if (!CallChainEnabled()) return kArgErr;
  ExecContext* ctx = GetCurExecContext();
  if (!ctx) {
    DBAssert(__FILE__, __LINE__, "CallChain: the calling thread has no execution context");
    return kArgErr;
  }
  QueueElement* current = ctx->current.load();
  return GetCallChain(current ? current->dataSpace : nullptr, array, nullptr, nullptr);
}

Bool32 CallChainEnabled() {
  ExecContext* ctx = GetCurExecContext();
  if (ctx && !ctx->callChainOff) return 1;
  return gCallChainOn.load() != 0;
}

void SetGlobalCallChainEnabled(Bool32 on) { gCallChainOn.store(on ? 1 : 0); }

void SetContextCallChainEnabled(ExecContext* context, Bool32 on) {
  if (context) context->callChainOff = on ? 0 : 1;
}

// The user event whose handler runs the reachability walk and the purge.
constexpr int32 kUserEventReachability = 5;
void PostPurgeUnreachable() { ExecPostUserEvent(kUserEventReachability, 0); }
