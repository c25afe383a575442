// The GPIB driver binding.
#include "io/gpib.h"

#include <valgrind/helgrind.h>

#include <cstring>
#include <mutex>
#include <string>

#include "platform/qx_dynlib.h"
#include "platform/qx_file.h"

std::atomic<uInt32> ibsta{0}, iberr{0}, ibcnt{0}, ibcntl{0};

namespace {

#define QX_GPIB_SLOT(name, n) kSlot_##name,
enum : int { QX_GPIB_ROUTINES(QX_GPIB_SLOT) kRoutineCount };
#undef QX_GPIB_SLOT
#define QX_GPIB_NAME(name, n) #name,
const char* const kRoutineNames[kRoutineCount] = {QX_GPIB_ROUTINES(QX_GPIB_NAME)};
#undef QX_GPIB_NAME
static_assert(kRoutineCount == 60, "31 traditional and 29 IEEE 488.2 routines");

enum : int { kThreadSta, kThreadErr, kThreadCnt };
const char* const kThreadNames[3] = {"ThreadIbsta", "ThreadIberr", "ThreadIbcnt"};

// The library, its status variables and the entries: written under gLock,
// read without it once an entry is seen (each is written once before its
// entry is published, and cleared only by the test reset).
std::mutex gLock;
void* gLibrary = nullptr;
const int* gUserSta = nullptr;
const int* gUserErr = nullptr;
const long* gUserCnt = nullptr;
std::atomic<void*> gEntries[kRoutineCount];
std::atomic<void*> gThreadEntries[3];
std::string gTestLibrary;

// Thread checkers: the copies are last-writer-wins, and the published
// pointers are read without the lock that wrote them.
struct Annotations {
  Annotations() {
    ANNOTATE_BENIGN_RACE_SIZED(&ibsta, sizeof ibsta, "last bound call's status");
    ANNOTATE_BENIGN_RACE_SIZED(&iberr, sizeof iberr, "last bound call's error");
    ANNOTATE_BENIGN_RACE_SIZED(&ibcnt, sizeof ibcnt, "last bound call's count");
    ANNOTATE_BENIGN_RACE_SIZED(&ibcntl, sizeof ibcntl, "last bound call's count");
    ANNOTATE_BENIGN_RACE_SIZED(&gUserSta, sizeof gUserSta, "published before the entries");
    ANNOTATE_BENIGN_RACE_SIZED(&gUserErr, sizeof gUserErr, "published before the entries");
    ANNOTATE_BENIGN_RACE_SIZED(&gUserCnt, sizeof gUserCnt, "published before the entries");
    ANNOTATE_BENIGN_RACE_SIZED(gEntries, sizeof gEntries, "entry cache, written once");
    ANNOTATE_BENIGN_RACE_SIZED(gThreadEntries, sizeof gThreadEntries, "entry cache, written once");
  }
} gAnnotations;

void FailCopies() {
  uInt32 code = uInt32(PlatLastError());
  ibsta.store(uInt32(kGpibERR), std::memory_order_relaxed);
  iberr.store(0, std::memory_order_relaxed);
  ibcnt.store(code, std::memory_order_relaxed);
  ibcntl.store(code, std::memory_order_relaxed);
}

// The identification texts agree but for the year.
bool SameIdent(const char* theirs) {
  size_t n = strnlen(theirs, sizeof kQXGPIBIdent);
  if (n != sizeof kQXGPIBIdent - 1) return false;
  for (size_t i = 0; i < n; ++i) {
    bool year = i >= size_t(kQXGPIBIdentYearOffset) && i < size_t(kQXGPIBIdentYearOffset + kQXGPIBIdentYearLength);
    if (!year && theirs[i] != kQXGPIBIdent[i]) return false;
  }
  return true;
}

// Loads and checks the library.  Under gLock.
bool Bind() {
  std::string folder, message;
  if (PlatProgramFile(&folder)) {
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? std::string() : folder.substr(0, slash);
  } else {
    folder.clear();
  }
  const char* name = gTestLibrary.empty() ? kQXGPIBLibraryName : gTestLibrary.c_str();
  int32_t status = 0, hostError = 0;
  void* lib = PlatLibOpen(name, folder.empty() ? nullptr : folder.c_str(), &status, &hostError, &message);
  if (!lib) return false;
  auto* sta = static_cast<const int*>(PlatLibFind(lib, "user_ibsta", &message));
  auto* err = static_cast<const int*>(PlatLibFind(lib, "user_iberr", &message));
  auto* cnt = static_cast<const long*>(PlatLibFind(lib, "user_ibcntl", &message));
  auto* ident = static_cast<const char*>(PlatLibFind(lib, kQXGPIBIdentExport, &message));
  int32_t why = kPlatErrProcNotFound;
  if (sta && err && cnt && ident) {
    if (SameIdent(ident)) {
      gLibrary = lib;
      gUserSta = sta;
      gUserErr = err;
      gUserCnt = cnt;
      return true;
    }
    why = kPlatErrModNotFound;  // a library, but not ours
  }
  PlatLibClose(lib, &message);
  PlatSetLastError(why);
  return false;
}

void* Entry(std::atomic<void*>& slot, const char* name) {
  void* e = slot.load(std::memory_order_acquire);
  if (e) return e;
  e = GetGPIBEntry(name);
  if (e) slot.store(e, std::memory_order_release);
  return e;
}

template <int Slot, class... W>
int32 Bound(W... w) {
  void* e = Entry(gEntries[Slot], kRoutineNames[Slot]);
  if (!e) {
    // The routines that give a descriptor answer a failed one: a status word
    // would read as a valid descriptor.
    if (Slot == kSlot_ibfindA || Slot == kSlot_ibdev) return -1;
    return int32(ibsta.load(std::memory_order_relaxed));
  }
  using Routine = int32(QX_GPIB_CALL*)(W...);
  int32 result = reinterpret_cast<Routine>(e)(w...);
  uInt32 count = uInt32(__atomic_load_n(gUserCnt, __ATOMIC_RELAXED));
  ibsta.store(uInt32(__atomic_load_n(gUserSta, __ATOMIC_RELAXED)), std::memory_order_relaxed);
  iberr.store(uInt32(__atomic_load_n(gUserErr, __ATOMIC_RELAXED)), std::memory_order_relaxed);
  ibcnt.store(count, std::memory_order_relaxed);
  ibcntl.store(count, std::memory_order_relaxed);
  return result;
}

int32 ThreadStatus(int which) {
  void* e = Entry(gThreadEntries[which], kThreadNames[which]);
  if (!e) return kGPIBNoThreadStatus;
  return reinterpret_cast<int32(QX_GPIB_CALL*)()>(e)();
}

}  // namespace

void* GetGPIBEntry(const char* routine) {
  std::lock_guard<std::mutex> hold(gLock);
  if (!gLibrary && !Bind()) {
    FailCopies();
    return nullptr;
  }
  std::string message;
  void* e = PlatLibFind(gLibrary, routine, &message);
  if (!e) FailCopies();
  return e;
}

#define QX_GPIB_ARGS_1 a1.word
#define QX_GPIB_ARGS_2 QX_GPIB_ARGS_1, a2.word
#define QX_GPIB_ARGS_3 QX_GPIB_ARGS_2, a3.word
#define QX_GPIB_ARGS_4 QX_GPIB_ARGS_3, a4.word
#define QX_GPIB_ARGS_5 QX_GPIB_ARGS_4, a5.word
#define QX_GPIB_ARGS_6 QX_GPIB_ARGS_5, a6.word
#define QX_GPIB_DEFINE(name, n) \
  int32 name(QX_GPIB_PARAMS_##n) { return Bound<kSlot_##name>(QX_GPIB_ARGS_##n); }
QX_GPIB_ROUTINES(QX_GPIB_DEFINE)
#undef QX_GPIB_DEFINE

int32 ThreadIbsta() { return ThreadStatus(kThreadSta); }
int32 ThreadIberr() { return ThreadStatus(kThreadErr); }
int32 ThreadIbcnt() { return ThreadStatus(kThreadCnt); }

void GPIBSetLibraryForTest(const char* name) {
  std::lock_guard<std::mutex> hold(gLock);
  gTestLibrary = name ? name : "";
}

void GPIBUnbindForTest() {
  std::lock_guard<std::mutex> hold(gLock);
  for (auto& e : gEntries) e.store(nullptr);
  for (auto& e : gThreadEntries) e.store(nullptr);
  if (gLibrary) {
    std::string message;
    PlatLibClose(gLibrary, &message);
  }
  gLibrary = nullptr;
  gUserSta = gUserErr = nullptr;
  gUserCnt = nullptr;
}
