// The diagram's VISA nodes over the library's entries.
//
// Locks: map, unmap, peek and poke take the VISA mutex, so that a session's
// mapped address, its mapped size and its direct-access bit are read and
// changed together; the bit is written under the jar's mutex too (VISA
// mutex first).
#include "io/visaops.h"

#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>

#include "engine/omid.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"
#include "mgsource/numconv.h"
#include "mgsource/thread.h"
#include "platform/instr/qxvisa.h"
#include "rtlib/arraysize.h"

namespace {

constexpr uInt32 kAttrTimeout = 0x3FFF001A, kAttrRetCount = 0x3FFF4026, kAttrEventStatus = 0x3FFF4025,
                 kAttrJobId = 0x3FFF4006, kAttrWinAccess = 0x3FFF00C3;
constexpr uInt16 kWinDeref = 3;
constexpr int32 kStatusBuffer = 257;          // a library text and its NUL, with room to spare
constexpr int32 kStillQueued = int32(0xBFFF003B);
const uInt32 kEachEvent[3] = {0xBFFF200A, 0x3FFF200B, 0x3FFF2020};

typedef int32(QX_VISA_CALL* GetAttrProc)(uInt32, uInt32, void*);
typedef int32(QX_VISA_CALL* SetAttrProc)(uInt32, uInt32, uInt32);
typedef int32(QX_VISA_CALL* StatusDescProc)(uInt32, int32, char*);
typedef int32(QX_VISA_CALL* EnableProc)(uInt32, uInt32, uInt16, uInt32);
typedef int32(QX_VISA_CALL* EventOpProc)(uInt32, uInt32, uInt16);
typedef int32(QX_VISA_CALL* WaitProc)(uInt32, uInt32, uInt32, uInt32*, uInt32*);
typedef int32(QX_VISA_CALL* CloseProc)(uInt32);
typedef int32(QX_VISA_CALL* TransferProc)(uInt32, char*, uInt32, uInt32*);
typedef int32(QX_VISA_CALL* TerminateProc)(uInt32, uInt16, uInt32);
typedef int32(QX_VISA_CALL* U16Proc)(uInt32, uInt16);
typedef int32(QX_VISA_CALL* U16OutProc)(uInt32, uInt16*);
typedef int32(QX_VISA_CALL* SessionProc)(uInt32);
typedef int32(QX_VISA_CALL* MapProc)(uInt32, uInt16, uInt32, uInt32, uInt16, void*, void**);
typedef int32(QX_VISA_CALL* LockProc)(uInt32, uInt32, uInt32, const char*, char*);
typedef int32(QX_VISA_CALL* U32Proc)(uInt32, uInt32);
typedef int32(QX_VISA_CALL* U32OutProc)(uInt32, uInt32, uInt32*);
typedef int32(QX_VISA_CALL* SetBufProc)(uInt32, uInt16, uInt32);
typedef int32(QX_VISA_CALL* MoveProc)(uInt32, uInt16, uInt32, uInt16, uInt16, uInt32, uInt16, uInt32);

template <class Proc>
Proc Entry(int32 index) {
  return reinterpret_cast<Proc>(VisaEntry(index));
}

// The common prologue: the library loaded, the refnum held.  ok() false
// with the status in status().
class Node {
 public:
  explicit Node(Cookie c) : load_(VisaLoadLibrary()), held_(load_ ? 0 : c) {}
  bool ok() const { return !load_ && held_.record(); }
  int32 status() const { return load_ ? load_ : kVisaStatNotASession; }
  uInt32 vi() const { return held_.session(); }
  uInt32 flags() const { return held_.flags(); }
  VSesn* record() const { return held_.record(); }

 private:
  int32 load_;
  SesnHold held_;
};

// A library call through entry index, 15 without it.
template <class Proc, class... Args>
int32 Call(int32 index, Args... args) {
  Proc p = Entry<Proc>(index);
  return p ? p(args...) : kVisaStatNoEntry;
}

// The size of each mapping (for the bound of direct access), under the VISA
// mutex.  A record's entry goes with its unmap or its next map.
std::unordered_map<const VSesn*, uInt32> gMapSize;

struct VisaLockHold {
  VisaLockHold() {
    if (ThMutex m = VisaMutex()) ThMutexAcquire(m);
  }
  ~VisaLockHold() {
    if (ThMutex m = VisaMutex()) ThMutexRelease(m);
  }
};

// A string's bytes believed only as far as its handle holds them.
int32 StringBytes(LStrHandle h) {
  if (!h || !*h) return 0;
  int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(h));
  int32 n = (*h)->cnt;
  return size < 4 || n <= 0 ? 0 : n > size - 4 ? size - 4 : n;
}

// A read's string shrunk to the bytes read (none beyond the request).
void Shrink(LStrHandle str, uInt32 got, uInt32 count) {
  if (got > count) return;
  DSSetHandleSize(reinterpret_cast<UHandle>(str), int32(4 + got));
  (*str)->cnt = int32(got);
}

// Takes the I/O-completion event of the job (any job for 0), if it is
// there, into the return count and status; completions of other jobs are
// dropped on the way.  False when none was there.
bool TakeCompletion(uInt32 vi, uInt32 job, uInt32* retCount, int32* status, int32* waitStatus) {
  for (;;) {
    uInt32 type = 0, ctx = 0;
    *waitStatus = Call<WaitProc>(kVisaEntry_viWaitOnEvent, vi, kVisaIOCompletion, 0u, &type, &ctx);
    if (*waitStatus < 0 || !ctx) return false;
    uInt32 n = 0, id = 0;
    int32 st = 0;
    Call<GetAttrProc>(kVisaEntry_viGetAttribute, ctx, kAttrJobId, static_cast<void*>(&id));
    Call<GetAttrProc>(kVisaEntry_viGetAttribute, ctx, kAttrRetCount, static_cast<void*>(&n));
    Call<GetAttrProc>(kVisaEntry_viGetAttribute, ctx, kAttrEventStatus, static_cast<void*>(&st));
    Call<CloseProc>(kVisaEntry_viClose, ctx);
    if (job && id && id != job) continue;
    *retCount = n;
    *status = st;
    return true;
  }
}

int32 Transfer(Cookie c, LStrHandle str, bool read, uInt32 count, uInt32* retCount, VisaAsyncRec* rec) {
  if (retCount) *retCount = 0;
  Node node(c);
  if (!node.ok()) return node.status();
  if (!rec || !retCount || (read && (!str || !*str))) return kArgErr;
  rec->status = 0;
  VSesn* s = node.record();
  uInt32 vi = node.vi();
  bool sync = VisaSynchronous();
  switch (rec->phase) {
    case 0:
    case kVisaPhaseStart: {
      rec->pending = 0;
      rec->deadline = 0;
      s->job = 0;
      if (!sync) {
        uInt32 limit = 0;
        int32 st = Call<GetAttrProc>(kVisaEntry_viGetAttribute, vi, kAttrTimeout, static_cast<void*>(&limit));
        // Without a time-out nothing starts: a transfer that is never polled
        // to its end would feed its completion to the next one.
        if (st) return st;
        rec->deadline = limit == 0xFFFFFFFFu ? -1 : int32(limit + MilliSecs());
        rec->status = Call<EnableProc>(kVisaEntry_viEnableEvent, vi, kVisaIOCompletion, uInt16(1), 0u);
        if (rec->status < 0) return 0;
      }
      int32 bytes = 0;
      if (read) {
        if (count > 0x7FFFFFF0u || DSSetHandleSize(reinterpret_cast<UHandle>(str), int32(4 + count)) != kNoErr) {
          return kMemFullErr;
        }
        (*str)->cnt = int32(count);
        bytes = int32(count);
      } else {
        bytes = StringBytes(str);
      }
      char* buf = str && *str ? reinterpret_cast<char*>((*str)->str) : nullptr;
      if (!sync) {
        rec->status = Call<TransferProc>(read ? kVisaEntry_viReadAsync : kVisaEntry_viWriteAsync, vi, buf,
                                         uInt32(bytes), &s->job);
      } else {
        rec->status =
            Call<TransferProc>(read ? kVisaEntry_viRead : kVisaEntry_viWrite, vi, buf, uInt32(bytes), retCount);
      }
      if (!sync && (rec->status >= 0 || rec->status == kStillQueued)) {
        rec->pending = 1;
      } else if (read) {
        Shrink(str, *retCount, count);
      }
      break;
    }
    case kVisaPhasePoll: {
      int32 waited = 0;
      if (TakeCompletion(vi, s->job, retCount, &rec->status, &waited)) {
        rec->pending = 0;
        if (read) Shrink(str, *retCount, count);
      } else if (waited == kVisaStatTimeout || waited >= 0) {
        rec->status = 0;
      } else {
        // The wait itself failed: the transfer ends here with its status
        // rather than pending for ever.
        rec->pending = 0;
        rec->status = waited;
        if (s->job) Call<TerminateProc>(kVisaEntry_viTerminate, vi, uInt16(0), s->job);
        if (read) Shrink(str, 0, count);
      }
      if (rec->pending && rec->deadline != -1 && uInt32(rec->deadline) < MilliSecs()) {
        rec->pending = 0;
        if (s->job) Call<TerminateProc>(kVisaEntry_viTerminate, vi, uInt16(0), s->job);
        rec->status = kVisaStatTimeout;
        DBPrintf("VISA: Async timeout forced");
        // The ended job's completion leaves the queue with the bytes it had.
        uInt32 got = 0;
        int32 ignored = 0;
        TakeCompletion(vi, s->job, &got, &ignored, &ignored);
        *retCount = got;
        if (read) Shrink(str, got, count);
      }
      break;
    }
    case kVisaPhaseAbort: {
      rec->pending = 0;
      if (s->job) {
        rec->status = Call<TerminateProc>(kVisaEntry_viTerminate, vi, uInt16(0), s->job);
        uInt32 got = 0;
        int32 ignored = 0;
        TakeCompletion(vi, s->job, &got, &ignored, &ignored);
        *retCount = got;
        if (read) Shrink(str, got, count);
      }
      DBPrintf("VISA: got abort in Read/Write");
      break;
    }
    default:
      break;
  }
  return 0;
}

// The disable or discard of one type, or of the three other types in turn
// for all enabled events: the first failure other than a type the session
// does not have.
int32 EventOp(Cookie c, uInt32 type, int32 index) {
  Node node(c);
  if (!node.ok()) return node.status();
  if (type != kVisaAllEvents) return Call<EventOpProc>(index, node.vi(), type, uInt16(1));
  for (uInt32 t : kEachEvent) {
    int32 st = Call<EventOpProc>(index, node.vi(), t, uInt16(1));
    if (st < 0 && st != kVisaStatBadEvent) return st;
  }
  return 0;
}

template <class T>
int32 In(Cookie c, int32 index, uInt16 space, uInt32 offset, T* value) {
  typedef int32(QX_VISA_CALL * Proc)(uInt32, uInt16, uInt32, T*);
  Node node(c);
  if (!node.ok()) return node.status();
  return Call<Proc>(index, node.vi(), space, offset, value);
}

template <class T>
int32 Out(Cookie c, int32 index, uInt16 space, uInt32 offset, uInt32 value) {
  typedef int32(QX_VISA_CALL * Proc)(uInt32, uInt16, uInt32, T);
  Node node(c);
  if (!node.ok()) return node.status();
  return Call<Proc>(index, node.vi(), space, offset, T(value));
}

template <class T>
int32 MoveIn(Cookie c, int32 index, int32 type, uInt16 space, uInt32 offset, int32 count, ArrayHandle* array) {
  typedef int32(QX_VISA_CALL * Proc)(uInt32, uInt16, uInt32, uInt32, T*);
  Node node(c);
  if (!node.ok()) return node.status();
  if (!array || count < 0) return kArgErr;
  if (NumericArrayResize(type, 1, array, count) != kNoErr) return kMemFullErr;
  std::memcpy(**array, &count, 4);
  int32 st = Call<Proc>(index, node.vi(), space, offset, uInt32(count), reinterpret_cast<T*>(**array + 4));
  if (st < 0) {
    int32 none = 0;
    NumericArrayResize(type, 1, array, 0);
    if (*array) std::memcpy(**array, &none, 4);
  }
  return st;
}

template <class T>
int32 MoveOut(Cookie c, int32 index, uInt16 space, uInt32 offset, ArrayHandle array) {
  typedef int32(QX_VISA_CALL * Proc)(uInt32, uInt16, uInt32, uInt32, const T*);
  Node node(c);
  if (!node.ok()) return node.status();
  int32 n = 0;
  const T* data = nullptr;
  if (array && *array) {
    int32 size = DSGetHandleSize(reinterpret_cast<UHandle>(array));
    std::memcpy(&n, *array, 4);
    // The count believed only as far as the handle holds elements.
    int32 room = size < 4 ? 0 : (size - 4) / int32(sizeof(T));
    n = n < 0 ? 0 : n > room ? room : n;
    data = reinterpret_cast<const T*>(*array + 4);
  }
  return Call<Proc>(index, node.vi(), space, offset, uInt32(n), data);
}

// Peek and poke: inside the mapping with direct access, the window's bytes
// directly; anything else through the library, whose bounds answer.
template <class T>
int32 Peek(Cookie c, int32 index, uInt32 offset, T* value) {
  typedef int32(QX_VISA_CALL * Proc)(uInt32, void*, T*);
  Node node(c);
  if (!node.ok()) return node.status();
  VisaLockHold hold;
  VSesn* s = node.record();
  auto it = gMapSize.find(s);
  if ((s->flags & kVSesnDirectAccess) && it != gMapSize.end() && uint64_t(offset) + sizeof(T) <= it->second) {
    if (value) std::memcpy(value, reinterpret_cast<const void*>(uintptr_t(s->mapped + offset)), sizeof(T));
    return 0;
  }
  return Call<Proc>(index, node.vi(), reinterpret_cast<void*>(uintptr_t(s->mapped + offset)), value);
}

template <class T>
int32 Poke(Cookie c, int32 index, uInt32 offset, uInt32 value) {
  typedef int32(QX_VISA_CALL * Proc)(uInt32, void*, T);
  Node node(c);
  if (!node.ok()) return node.status();
  VisaLockHold hold;
  VSesn* s = node.record();
  T v = T(value);
  auto it = gMapSize.find(s);
  if ((s->flags & kVSesnDirectAccess) && it != gMapSize.end() && uint64_t(offset) + sizeof(T) <= it->second) {
    std::memcpy(reinterpret_cast<void*>(uintptr_t(s->mapped + offset)), &v, sizeof(T));
    return 0;
  }
  return Call<Proc>(index, node.vi(), reinterpret_cast<void*>(uintptr_t(s->mapped + offset)), v);
}

}  // namespace

int32 VisaRead(Cookie session, LStrHandle str, uInt32 count, uInt32* retCount, VisaAsyncRec* rec) {
  return Transfer(session, str, true, count, retCount, rec);
}

int32 VisaWrite(Cookie session, LStrHandle str, uInt32* retCount, VisaAsyncRec* rec) {
  return Transfer(session, str, false, 0, retCount, rec);
}

int32 VisaSetAttribute(Cookie session, uInt32 attribute, uInt32 value) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<SetAttrProc>(kVisaEntry_viSetAttribute, node.vi(), attribute, value);
}

int32 VisaGetAttribute(Cookie session, uInt32 attribute, void* value, int32 type) {
  Node node(session);
  if (!node.ok()) return node.status();
  if (!value) return kArgErr;
  if (type == kTDString) {
    char text[kStatusBuffer] = {};
    int32 st = Call<GetAttrProc>(kVisaEntry_viGetAttribute, node.vi(), attribute, static_cast<void*>(text));
    text[kStatusBuffer - 1] = '\0';
    int32 n = int32(std::strlen(text));
    if (st == 0 && n && VisaSetString(static_cast<LStrHandle*>(value), text, n) != kNoErr) return kMemFullErr;
    return st;
  }
  if (type == kTDBoolean) {
    uInt16 word = 0;
    int32 st = Call<GetAttrProc>(kVisaEntry_viGetAttribute, node.vi(), attribute, static_cast<void*>(&word));
    *static_cast<uInt8*>(value) = word == 1 ? 1 : 0;
    return st;
  }
  // The library writes its own width: into a local buffer, then stored as
  // the caller's type (a double as it is).
  int32 code = type >= kTDEnumU8 && type <= kTDEnumU32 ? type & 0x0F : type;
  if (code < kTDI8 || code > kTDDBL) return kArgErr;
  uInt8 local[8] = {};
  int32 st;
  if (attribute == kVisaAttrGPIBBoard) {
    int32 board = (node.flags() & kVSesnOnGPIB) ? int32(node.flags() >> kVSesnBoardShift) : -1;
    std::memcpy(local, &board, 4);
    st = 0;
  } else {
    st = Call<GetAttrProc>(kVisaEntry_viGetAttribute, node.vi(), attribute, static_cast<void*>(local));
  }
  if (st < 0) return st;
  if (code == kTDDBL) std::memcpy(value, local, 8);
  else ConvertNum(attribute == kVisaAttrGPIBBoard ? kTDI32 : kTDU32, local, code, value);
  return st;
}

int32 VisaStatusDesc(Cookie session, const ErrorIOCluster* error, LStrHandle* text) {
  if (int32 st = VisaLoadLibrary()) return st;
  // An unknown refnum is no error: the library gets session 0.
  SesnHold held(session);
  int32 code = 0;
  if (error) std::memcpy(&code, reinterpret_cast<const uInt8*>(error) + offsetof(ErrorIOCluster, code), 4);
  char desc[kStatusBuffer] = {};
  int32 st = Call<StatusDescProc>(kVisaEntry_viStatusDesc, held.record() ? held.session() : 0u, code, desc);
  desc[kStatusBuffer - 1] = '\0';
  if (st >= 0 && text && VisaSetString(text, desc, int32(std::strlen(desc))) != kNoErr) return kMemFullErr;
  return st;
}

int32 VisaEnableEvent(Cookie session, uInt32 type, int32, int32) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<EnableProc>(kVisaEntry_viEnableEvent, node.vi(), type, uInt16(1), 0u);
}

int32 VisaDisableEvent(Cookie session, uInt32 type, int32) {
  return EventOp(session, type, kVisaEntry_viDisableEvent);
}

int32 VisaDiscardEvents(Cookie session, uInt32 type, int32) {
  return EventOp(session, type, kVisaEntry_viDiscardEvents);
}

int32 VisaWaitOnEvent(Cookie session, uInt32 type, uInt32 timeout, const TypeDescriptor* refnumTD, uInt32* outType,
                      Cookie* outSession) {
  if (outSession) *outSession = 0;
  Node node(session);
  if (!node.ok()) return node.status();
  uInt32 gotType = 0, ctx = 0;
  int32 st;
  if (type != kVisaAllEvents) {
    st = Call<WaitProc>(kVisaEntry_viWaitOnEvent, node.vi(), type, timeout, &gotType, &ctx);
  } else {
    // Each type in turn without waiting, until one gives an event, one
    // fails otherwise than by having none, or the time-out passes.
    uInt32 start = MilliSecs();
    for (;;) {
      st = kVisaStatTimeout;
      for (uInt32 t : kEachEvent) {
        st = Call<WaitProc>(kVisaEntry_viWaitOnEvent, node.vi(), t, 0u, &gotType, &ctx);
        if (st == kVisaStatTimeout || st == kVisaStatBadEvent) continue;
        break;
      }
      if (ctx || (st < 0 && st != kVisaStatTimeout && st != kVisaStatBadEvent)) break;
      if (timeout != 0xFFFFFFFFu && MilliSecs() - start >= timeout) {
        st = kVisaStatTimeout;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  if (outType) *outType = gotType;
  if (st == 0 && ctx) {
    int32 err = VNewSesn(node.record()->name, refnumTD ? TDGetOMId(refnumTD) : nullptr, ctx, outSession);
    if (err) {
      Call<CloseProc>(kVisaEntry_viClose, ctx);
      return err;
    }
  } else if (ctx) {
    Call<CloseProc>(kVisaEntry_viClose, ctx);
  }
  return st;
}

int32 VisaAssertTrigger(Cookie session, uInt16 protocol) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<U16Proc>(kVisaEntry_viAssertTrigger, node.vi(), protocol);
}

int32 VisaReadSTB(Cookie session, uInt16* status) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<U16OutProc>(kVisaEntry_viReadSTB, node.vi(), status);
}

int32 VisaClear(Cookie session) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<SessionProc>(kVisaEntry_viClear, node.vi());
}

int32 VisaIn8(Cookie c, uInt16 sp, uInt32 off, uInt8* v) { return In(c, kVisaEntry_viIn8, sp, off, v); }
int32 VisaIn16(Cookie c, uInt16 sp, uInt32 off, uInt16* v) { return In(c, kVisaEntry_viIn16, sp, off, v); }
int32 VisaIn32(Cookie c, uInt16 sp, uInt32 off, uInt32* v) { return In(c, kVisaEntry_viIn32, sp, off, v); }
int32 VisaOut8(Cookie c, uInt16 sp, uInt32 off, uInt32 v) { return Out<uInt8>(c, kVisaEntry_viOut8, sp, off, v); }
int32 VisaOut16(Cookie c, uInt16 sp, uInt32 off, uInt32 v) { return Out<uInt16>(c, kVisaEntry_viOut16, sp, off, v); }
int32 VisaOut32(Cookie c, uInt16 sp, uInt32 off, uInt32 v) { return Out<uInt32>(c, kVisaEntry_viOut32, sp, off, v); }

int32 VisaMIn8(Cookie c, uInt16 sp, uInt32 off, int32 n, ArrayHandle* a) {
  return MoveIn<uInt8>(c, kVisaEntry_viMoveIn8, kTDU8, sp, off, n, a);
}
int32 VisaMIn16(Cookie c, uInt16 sp, uInt32 off, int32 n, ArrayHandle* a) {
  return MoveIn<uInt16>(c, kVisaEntry_viMoveIn16, kTDU16, sp, off, n, a);
}
int32 VisaMIn32(Cookie c, uInt16 sp, uInt32 off, int32 n, ArrayHandle* a) {
  return MoveIn<uInt32>(c, kVisaEntry_viMoveIn32, kTDU32, sp, off, n, a);
}
int32 VisaMOut8(Cookie c, uInt16 sp, uInt32 off, ArrayHandle a) {
  return MoveOut<uInt8>(c, kVisaEntry_viMoveOut8, sp, off, a);
}
int32 VisaMOut16(Cookie c, uInt16 sp, uInt32 off, ArrayHandle a) {
  return MoveOut<uInt16>(c, kVisaEntry_viMoveOut16, sp, off, a);
}
int32 VisaMOut32(Cookie c, uInt16 sp, uInt32 off, ArrayHandle a) {
  return MoveOut<uInt32>(c, kVisaEntry_viMoveOut32, sp, off, a);
}

int32 VisaMapAddress(Cookie session, uInt16 space, uInt32 offset, uInt32 size, uInt16 access, uInt32 suggested) {
  Node node(session);
  if (!node.ok()) return node.status();
  VisaLockHold hold;
  VSesn* s = node.record();
  VisaChangeFlags(s, 0, kVSesnDirectAccess);
  s->mapped = 0;
  gMapSize.erase(s);
  void* address = nullptr;
  int32 st = Call<MapProc>(kVisaEntry_viMapAddress, node.vi(), space, offset, size, access,
                           reinterpret_cast<void*>(uintptr_t(suggested)), &address);
  s->mapped = uInt32(reinterpret_cast<uintptr_t>(address));
  if (st == 0) {
    gMapSize[s] = size;
    uInt16 win = 0;
    if (Call<GetAttrProc>(kVisaEntry_viGetAttribute, node.vi(), kAttrWinAccess, static_cast<void*>(&win)) == 0 &&
        win == kWinDeref) {
      VisaChangeFlags(s, kVSesnDirectAccess, 0);
    }
  }
  return st;
}

int32 VisaUnmapAddress(Cookie session) {
  Node node(session);
  if (!node.ok()) return node.status();
  VisaLockHold hold;
  int32 st = Call<SessionProc>(kVisaEntry_viUnmapAddress, node.vi());
  VSesn* s = node.record();
  s->mapped = 0;
  gMapSize.erase(s);
  VisaChangeFlags(s, 0, kVSesnDirectAccess);
  return st;
}

int32 VisaPeek8(Cookie c, uInt32 off, uInt8* v) { return Peek(c, kVisaEntry_viPeek8, off, v); }
int32 VisaPeek16(Cookie c, uInt32 off, uInt16* v) { return Peek(c, kVisaEntry_viPeek16, off, v); }
int32 VisaPeek32(Cookie c, uInt32 off, uInt32* v) { return Peek(c, kVisaEntry_viPeek32, off, v); }
int32 VisaPoke8(Cookie c, uInt32 off, uInt32 v) { return Poke<uInt8>(c, kVisaEntry_viPoke8, off, v); }
int32 VisaPoke16(Cookie c, uInt32 off, uInt32 v) { return Poke<uInt16>(c, kVisaEntry_viPoke16, off, v); }
int32 VisaPoke32(Cookie c, uInt32 off, uInt32 v) { return Poke<uInt32>(c, kVisaEntry_viPoke32, off, v); }

int32 VisaLock(Cookie session, uInt32 timeout, uInt32 type, LStrHandle requestedKey, LStrHandle* accessKey) {
  Node node(session);
  if (!node.ok()) return node.status();
  if (type != 2) return Call<LockProc>(kVisaEntry_viLock, node.vi(), type, timeout, nullptr, nullptr);
  std::string key;
  if (!VisaCString(requestedKey, &key)) return kArgErr;
  char granted[kStatusBuffer] = {};
  int32 st = Call<LockProc>(kVisaEntry_viLock, node.vi(), type, timeout, key.c_str(), granted);
  granted[kStatusBuffer - 1] = '\0';
  if (st >= 0 && accessKey && VisaSetString(accessKey, granted, int32(std::strlen(granted))) != kNoErr) {
    return kMemFullErr;
  }
  return st;
}

int32 VisaUnlock(Cookie session) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<SessionProc>(kVisaEntry_viUnlock, node.vi());
}

int32 VisaMemAlloc(Cookie session, uInt32 size, uInt32* offset) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<U32OutProc>(kVisaEntry_viMemAlloc, node.vi(), size, offset);
}

int32 VisaMemFree(Cookie session, uInt32 offset) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<U32Proc>(kVisaEntry_viMemFree, node.vi(), offset);
}

int32 VisaSetBuf(Cookie session, uInt16 mask, uInt32 size) {
  Node node(session);
  if (!node.ok()) return node.status();
  if (mask != 0x10 && mask != 0x20 && mask != 0x30) return kVisaStatBadMask;
  return Call<SetBufProc>(kVisaEntry_viSetBuf, node.vi(), mask, size);
}

int32 VisaFlush(Cookie session, uInt16 mask) {
  Node node(session);
  if (!node.ok()) return node.status();
  if (mask != 0x10 && mask != 0x20 && mask != 0x30 && mask != 0x60 && mask != 0x90) return kVisaStatBadMask;
  return Call<U16Proc>(kVisaEntry_viFlush, node.vi(), mask);
}

int32 VisaMove(Cookie session, uInt16 srcSpace, uInt32 srcOffset, uInt16 srcWidth, uInt16 dstSpace, uInt32 dstOffset,
               uInt16 dstWidth, uInt32 length) {
  Node node(session);
  if (!node.ok()) return node.status();
  return Call<MoveProc>(kVisaEntry_viMove, node.vi(), srcSpace, srcOffset, srcWidth, dstSpace, dstOffset, dstWidth,
                        length);
}
