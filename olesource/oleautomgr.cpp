// The automation client: start and end, automation refnums, the calls into
// dispatch interfaces, exception and error texts.
#include "olesource/oleautomgr.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "engine/exec/exec.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "platform/qx_sysinfo.h"

namespace {

// The client's state.  gStartLock serialises start and end; the flags are
// read by every diagram operation without it.
std::mutex gStartLock;
std::atomic<bool> gStarted{false};
std::atomic<bool> gFailed{false};
PlatComInterfaceTable* gTable = nullptr;

// The texts of list 15003 when the run-time resource file lacks them.
const char* const kBuiltInTexts[] = {
    "Automation libraries could not be initialized.",
    "You need to install a newer component runtime.",
    "You need to install the component runtime.",
    "Automation Not Implemented",
};

std::string ListText(int32 entry) {
  Str255 s;
  if (RunTimeRsrcFile() && RGetIndString(RunTimeRsrcFile(), s, kAutoClientTextsList, entry) == kNoErr)
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
  return kBuiltInTexts[entry - 1];
}

bool InClump() {
  ExecContext* ctx = GetCurExecContext();
  return ctx && ctx->current.load();
}

int32 ReleaseRefnum(void* cookie) {
  AutoRefRelease(Cookie(reinterpret_cast<uintptr_t>(cookie)));
  return 0;
}

void* CookieWord(Cookie c) { return reinterpret_cast<void*>(uintptr_t(c)); }

// The text of a wide string, at most 255 characters.
std::string Text255(const uInt16* s) {
  uInt32 n = PlatBstrLength(s);
  if (n > 255) n = 255;
  std::string t(n, '\0');
  if (n) PlatBstrToText(s, n, t.data(), n);
  return t;
}

void FreeException(PlatExcepInfo* e) {
  PlatBstrFree(e->source);
  PlatBstrFree(e->description);
  PlatBstrFree(e->helpFile);
  std::memset(e, 0, sizeof *e);
}

// The exception's text into the cluster's source.
void ReportException(const PlatExcepInfo& e, ErrorIOCluster* error) {
  if (!error) return;
  Str255 text;
  AutoExceptionText(e, text);
  LStrHandle h = error->source;
  if (!h) {
    h = reinterpret_cast<LStrHandle>(DSNewHandle(4 + text[0]));
    if (!h) return;
    error->source = h;
  } else if (DSSetHandleSize(reinterpret_cast<UHandle>(h), 4 + text[0]) != kNoErr) {
    return;
  }
  std::memcpy(LStrBuf(*h), text + 1, text[0]);
  (*h)->cnt = text[0];
}

// One call of a member; the result, the exception's text in the cluster.
PlatHResult Call(EmbDispatch* d, int32 member, uInt16 flags, PlatDispParams* params, PlatVariant* result,
                 ErrorIOCluster* error) {
  PlatExcepInfo e{};
  uint32_t argError = 0;
  const PlatHResult r =
      d->slots->invoke(d, member, &kPlatGuidNull, kPlatLocaleSystemDefault, flags, params, result, &e, &argError);
  if (r == kPlatDispException) ReportException(e, error);
  FreeException(&e);
  return r;
}

// The class and interface records of a refnum type's bytes.
bool ReadRecords(const uChar* countByte, const uChar* end, bool fileOrder, AutoRefRecords* out) {
  *out = AutoRefRecords{};
  const int32 count = countByte[0];
  if (count <= 1) return true;
  const uChar* p = countByte + 1;
  const uChar* stop = p + count;
  if (stop > end) return false;
  auto u32 = [&](const uChar* at) { return fileOrder ? GetBE32(at) : GetNative32(at); };
  auto u16 = [&](const uChar* at) { return uInt16(fileOrder ? GetBE16(at) : GetNative16(at)); };
  auto guid = [&](const uChar* at) {
    PlatGuid g{u32(at), u16(at + 4), u16(at + 6), {}};
    std::memcpy(g.data4, at + 8, 8);
    return g;
  };
  while (p < stop) {
    if (stop - p < 4) return false;
    const int32 kind = int32(u32(p));
    if (!out->firstKind) out->firstKind = kind;
    if (kind == kAutoRecClass) {
      if (stop - p < kAutoRecClassSize) return false;
      out->hasClass = true;
      out->clsid = guid(p + 4);
      out->classRecord = p;
      p += kAutoRecClassSize;
    } else if (kind == kAutoRecInterface) {
      if (stop - p < kAutoRecInterfaceSize) return false;
      out->hasInterface = true;
      out->iid = guid(p + 4);
      out->value = u32(p + 20);
      out->major = u16(p + 24);
      out->minor = u16(p + 26);
      p += kAutoRecInterfaceSize;
    } else {
      return false;
    }
  }
  return true;
}

bool IsAutomationType(const TypeDescriptor* td) {
  if (!td) return false;
  const uChar* t = reinterpret_cast<const uChar*>(td);
  return td->code == kTDRefnum && int16(GetNative16(t + 4)) == kRefnumAutomation;
}

void Swap32(uChar* at) { PutNative32(at, __builtin_bswap32(GetNative32(at))); }
void Swap16(uChar* at) { PutNative16(at, __builtin_bswap16(GetNative16(at))); }

}  // namespace

// ---- Start and end -----------------------------------------------------------------------

MgErr AutomationInit() {
  std::lock_guard<std::mutex> hold(gStartLock);
  if (gStarted.load()) return kNoErr;
  if (MgErr err = AutoRefJarOpen(nullptr)) return err;
  if (PrefGet(kPrefActiveXFreeThreaded)) {
    void* table = nullptr;
    const PlatHResult r = PlatComCreateInstance(&kPlatClsidInterfaceTable, nullptr, kPlatClassInproc,
                                                &kPlatIidInterfaceTable, &table);
    if (!PlatSucceeded(r) || !table) {
      gFailed.store(true);
      AutoRefReleaseAll();
      return PlatSucceeded(r) ? kPlatFail : r;
    }
    gTable = static_cast<PlatComInterfaceTable*>(table);
    if (MgErr err = AutoRefJarOpen(gTable)) {
      gTable->slots->release(gTable);
      gTable = nullptr;
      gFailed.store(true);
      AutoRefReleaseAll();
      return err;
    }
  }
  gFailed.store(false);
  gStarted.store(true);
  return kNoErr;
}

void AutomationExit() {
  std::lock_guard<std::mutex> hold(gStartLock);
  AutoRefReleaseAll();
  if (gTable) gTable->slots->release(gTable);
  gTable = nullptr;
  gStarted.store(false);
}

Bool32 AutomationStarted() { return gStarted.load() ? 1 : 0; }

MgErr AutoCheckClient(int32 refClass) {
  if (refClass != kAutoRefClass) return kAutoNotAvailableErr;
  if (!gStarted.load()) return gFailed.load() ? kAutoLibsFailedErr : kAutoNotAvailableErr;
  return kNoErr;
}

// ---- Refnums ---------------------------------------------------------------------------

MgErr AutoRefMake(EmbDispatch* dispatch, Cookie* refnum, bool cleanup) {
  if (!refnum) return kArgErr;
  if (AutoRefNewForDispatch(dispatch, refnum) != kNoErr) {
    *refnum = 0;
    return kMemFullErr;
  }
  // Outside a clump there is no hierarchy to end with.
  if (cleanup && InClump()) RTSetCleanupProc(&ReleaseRefnum, CookieWord(*refnum), kCleanupTopVI);
  return kNoErr;
}

RTCleanupProc AutoRefReleaseProc(int32 refClass) { return refClass == kAutoRefClass ? &ReleaseRefnum : nullptr; }

// ---- Diagram operations --------------------------------------------------------------

MgErr AutoOpenRefnum(const TypeDescriptor* refType, Cookie* refnum, int32 refClass) {
  if (!refnum) {
    DBAssert(__FILE__, __LINE__, "AutoOpenRefnum: no output refnum");
    return kArgErr;
  }
  *refnum = 0;
  if (MgErr err = AutoCheckClient(refClass)) return err;
  AutoRefRecords rec;
  const uChar* t = reinterpret_cast<const uChar*>(refType);
  if (!IsAutomationType(refType) || refType->size < 7 ||
      !ReadRecords(t + 6, t + refType->size, false, &rec) || !rec.hasClass)
    return kAutoNoClassErr;
  PlatComUnknown* running = nullptr;
  void* dispatch = nullptr;
  PlatHResult r = PlatComGetActiveObject(&rec.clsid, &running);
  if (PlatSucceeded(r) && running) {
    r = PlatComQuery(running, kPlatIidDispatch, &dispatch);
    PlatComRelease(running);
  } else {
    void* object = nullptr;
    r = PlatComCreateInstance(&rec.clsid, nullptr, kPlatClassInproc | kPlatClassInprocHandler | kPlatClassLocal,
                              &kPlatIidUnknownRecord, &object);
    if (PlatSucceeded(r)) {
      r = PlatComRun(static_cast<PlatComUnknown*>(object));
      if (PlatSucceeded(r)) r = PlatComQuery(object, kPlatIidDispatch, &dispatch);
      PlatComRelease(object);
    }
  }
  if (!PlatSucceeded(r) || !dispatch) return PlatSucceeded(r) ? kPlatNoInterface : r;
  const MgErr err = AutoRefMake(static_cast<EmbDispatch*>(dispatch), refnum, true);
  PlatComRelease(dispatch);
  return err;
}

MgErr AutoCloseRefnum(Cookie* refnum, int32 refClass) {
  if (MgErr err = AutoCheckClient(refClass)) return err;
  if (!refnum || !*refnum) return kNoErr;
  const MgErr err = AutoRefRelease(*refnum);
  *refnum = 0;
  return err;
}

MgErr AutoCloseRefnumCleanup(Cookie* refnum, int32 refClass) {
  if (MgErr err = AutoCheckClient(refClass)) return err;
  if (refnum && *refnum) RTSetCleanupProc(&ReleaseRefnum, CookieWord(*refnum), kCleanupRemove);
  return AutoCloseRefnum(refnum, refClass);
}

int32 AutoInvokeMethod(Cookie refnum, int32 member, int32 argCount, uInt16* const* argTypes, PlatVariant* args,
                       int32 flags, ErrorIOCluster* error, int32 refClass) {
  if (MgErr err = AutoCheckClient(refClass)) return err;
  if (!refnum || argCount < 0 || (argCount > 0 && !args)) return kArgErr;
  EmbDispatch* d = nullptr;
  if (AutoRefGetDispatch(refnum, &d) != kNoErr) return kArgErr;
  auto missing = [&](int32 i) {
    const uInt16 vt = argTypes && argTypes[i] ? *argTypes[i] : args[i].vt;
    return vt == kPlatVtError;
  };
  // The present arguments, each named by its position from the end, so that
  // the missing ones can be left out.
  std::vector<PlatVariant> params;
  std::vector<int32_t> named;
  for (int32 i = 1; i < argCount; ++i) {
    if (missing(i)) continue;
    params.push_back(args[i]);
    named.push_back(argCount - 1 - i);
  }
  uInt16 wFlags = 0;
  if (flags & kAutoCallMethod) wFlags |= kPlatDispatchMethod;
  if (flags & kAutoCallPut) wFlags |= kPlatDispatchPropertyPut;
  if (flags & kAutoCallGet) wFlags |= kPlatDispatchPropertyGet;
  PlatDispParams p{params.data(), named.data(), uint32_t(params.size()), uint32_t(params.size())};
  int32_t putId = kPlatDispIdPropertyPut;
  if (flags & kAutoCallPut) {
    if (params.size() != 1) DBPrintf("WARNING: Property With num of params greater than 1");
    p.namedIds = &putId;
    p.namedCount = params.empty() ? 0 : 1;
  }
  PlatVariant* result = argCount > 0 ? &args[0] : nullptr;
  if (result && PlatVariantClear(result) != kPlatOk) PlatVariantInit(result);
  PlatHResult r = Call(d, member, wFlags, &p, result, error);
  if (r == kPlatDispNoNamedArgs) {
    // By position: every argument in its own place, a missing one as the
    // not-found value.
    std::vector<PlatVariant> all;
    for (int32 i = 1; i < argCount; ++i) {
      PlatVariant v = args[i];
      if (missing(i)) {
        PlatVariantInit(&v);
        v.vt = kPlatVtError;
        v.scode = kPlatDispParamNotFound;
      }
      all.push_back(v);
    }
    PlatDispParams positional{all.data(), nullptr, uint32_t(all.size()), 0};
    r = Call(d, member, wFlags, &positional, result, error);
  }
  PlatComRelease(d);
  return r;
}

int32 AutoPropertyWrite(Cookie refnum, int32 member, PlatVariant* value, int32 flags, ErrorIOCluster* error,
                        int32 refClass) {
  if (MgErr err = AutoCheckClient(refClass)) return err;
  if (!refnum || !value) return kArgErr;
  EmbDispatch* d = nullptr;
  if (AutoRefGetDispatch(refnum, &d) != kNoErr) return kArgErr;
  int32_t putId = kPlatDispIdPropertyPut;
  PlatVariant arg = *value;
  PlatDispParams p{&arg, &putId, 1, 1};
  const uInt16 wFlags = (flags & kAutoCallPutRef) ? kPlatDispatchPropertyPutRef : kPlatDispatchPropertyPut;
  const PlatHResult r = Call(d, member, wFlags, &p, nullptr, error);
  PlatComRelease(d);
  return r;
}

int32 AutoPropertyRead(Cookie refnum, int32 member, PlatVariant* value, int32 /*flags*/, ErrorIOCluster* error,
                       int32 refClass) {
  if (MgErr err = AutoCheckClient(refClass)) return err;
  if (!refnum || !value) return kArgErr;
  EmbDispatch* d = nullptr;
  if (AutoRefGetDispatch(refnum, &d) != kNoErr) return kArgErr;
  if (PlatVariantClear(value) != kPlatOk) PlatVariantInit(value);
  PlatDispParams p{nullptr, nullptr, 0, 0};
  const PlatHResult r = Call(d, member, kPlatDispatchPropertyGet, &p, value, error);
  PlatComRelease(d);
  return r;
}

// ---- Texts ----------------------------------------------------------------------------

void AutoExceptionText(const PlatExcepInfo& info, PStr text) {
  std::string t;
  char line[600];
  if (info.source) {
    std::snprintf(line, sizeof line, "Exception occured in %s, ", Text255(info.source).c_str());
    t += line;
  }
  if (info.description) {
    std::snprintf(line, sizeof line, " %s. ", Text255(info.description).c_str());
    t += line;
  }
  if (info.helpFile) {
    std::snprintf(line, sizeof line, "Help Path is %s and context %ld", Text255(info.helpFile).c_str(),
                  long(int32(info.helpContext)));
    t += line;
  }
  // The joined text is a counted string: 255 characters at most.
  const size_t n = t.size() > 255 ? 255 : t.size();
  text[0] = uChar(n);
  std::memcpy(text + 1, t.data(), n);
}

bool AutoClientErrorText(MgErr code, std::string* text) {
  if (code < kAutoErrFirst || code > kAutoErrLast) return false;
  text->clear();
  if (code == kAutoNotAvailableErr) {
    *text = ListText(kAutoTextNotImplemented);
  } else if (code == kAutoLibsFailedErr) {
    *text = ListText(kAutoTextInitFailed) + " " +
            ListText(PlatGetVersion().isNT ? kAutoTextNewerRuntime : kAutoTextRuntime);
  }
  return true;
}

// ---- Refnum types ---------------------------------------------------------------------

bool AutoRefReadRecords(const uChar* countByte, AutoRefRecords* out) {
  return ReadRecords(countByte, countByte + 1 + countByte[0], false, out);
}

int32 AutoRefOMIdCompare(const uChar* a, const uChar* b) {
  // The ids start at the kind word; the count byte follows it.
  AutoRefRecords ra, rb;
  const bool okA = AutoRefReadRecords(a + 2, &ra);
  const bool okB = AutoRefReadRecords(b + 2, &rb);
  if (okA && okB && ra.firstKind != rb.firstKind) return ra.firstKind - rb.firstKind;
  if (okA && okB && ra.firstKind == kAutoRecInterface) {
    if (!PlatGuidEqual(ra.iid, rb.iid) || ra.value != rb.value || ra.major != rb.major || ra.minor != rb.minor)
      return 1;
    if (ra.hasClass != rb.hasClass) return 1;
    return ra.hasClass && std::memcmp(ra.classRecord, rb.classRecord, kAutoRecClassSize) != 0 ? 1 : 0;
  }
  return a[2] == b[2] && std::memcmp(a + 3, b + 3, a[2]) == 0 ? 0 : 1;
}

int32 AutoRefCompare(const TypeDescriptor* a, const TypeDescriptor* b) {
  const int32 ka = IsAutomationType(a) ? 1 : 0;
  const int32 kb = IsAutomationType(b) ? 1 : 0;
  if (ka != kb) return ka - kb;
  if (!ka) return 1;
  return AutoRefOMIdCompare(reinterpret_cast<const uChar*>(a) + 4, reinterpret_cast<const uChar*>(b) + 4);
}

MgErr OleAutoRefStandardize(void* refnumTD, int32 direction, int32 size) {
  if (!refnumTD || size < 6 || (direction != 0 && direction != 1)) return kArgErr;
  auto* t = static_cast<uChar*>(refnumTD);
  if (size < 7 || t[6] <= 1) return kNoErr;
  if (7 + int32(t[6]) > size) return kArgErr;
  // The records are checked whole (in the order they are in) before any
  // field is swapped, so a refused type stays as it was.
  AutoRefRecords rec;
  if (!ReadRecords(t + 6, t + size, direction == 0, &rec)) return kAutoNotAvailableErr;
  uChar* p = t + 7;
  const uChar* stop = p + t[6];
  while (p < stop) {
    const int32 kind = int32(direction == 0 ? GetBE32(p) : GetNative32(p));
    Swap32(p);
    Swap32(p + 4);
    Swap16(p + 8);
    Swap16(p + 10);
    if (kind == kAutoRecInterface) {
      Swap32(p + 20);
      Swap16(p + 24);
      Swap16(p + 26);
      p += kAutoRecInterfaceSize;
    } else {
      p += kAutoRecClassSize;
    }
  }
  return kNoErr;
}
