#include "qx_com.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace {
// Initialisations not undone yet, over all threads.
std::atomic<int32_t> gProcessCount{0};

struct ComThreadState {
  int32_t count = 0;
  bool multithreaded = false;
  // A thread that ends gives back what it did not undo itself.
  ~ComThreadState() { gProcessCount.fetch_sub(count); }
};
thread_local ComThreadState tCom;
}  // namespace

int32_t PlatComInit(bool multithreaded) {
  gProcessCount.fetch_add(1);
  if (tCom.count++ > 0) return kPlatComAlready;
  tCom.multithreaded = multithreaded;
  return kPlatComDone;
}

void PlatComUninit() {
  if (tCom.count <= 0) return;
  gProcessCount.fetch_sub(1);
  if (--tCom.count == 0) tCom.multithreaded = false;
}

int32_t PlatComInitCount() { return tCom.count; }
bool PlatComMultithreaded() { return tCom.count > 0 && tCom.multithreaded; }
int32_t PlatComProcessCount() { return gProcessCount.load(); }

// ---- Identifiers ---------------------------------------------------------------------

const PlatGuid kPlatGuidNull{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const PlatGuid kPlatIidUnknownRecord{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const PlatGuid kPlatIidDispatch{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// The layer's own interfaces and class.
const PlatGuid kPlatIidRunnable{0x51584301, 0x0001, 0x4F4C, {0x45, 0x52, 0x55, 0x4E, 0x4E, 0x41, 0x42, 0x4C}};
const PlatGuid kPlatIidInterfaceTable{0x51584301, 0x0002, 0x4F4C, {0x45, 0x47, 0x49, 0x54, 0x41, 0x42, 0x4C, 0x45}};
const PlatGuid kPlatClsidInterfaceTable{0x51584301, 0x0003, 0x4F4C, {0x45, 0x47, 0x49, 0x54, 0x43, 0x4C, 0x53, 0x53}};

namespace {

bool Less(const PlatGuid& a, const PlatGuid& b) { return std::memcmp(&a, &b, sizeof a) < 0; }
struct GuidLess {
  bool operator()(const PlatGuid& a, const PlatGuid& b) const { return Less(a, b); }
};

// ---- Message texts ------------------------------------------------------------------

struct MessageText {
  uint32_t code;
  const char* text;
};
const MessageText kMessages[] = {
    {0x80004001u, "The operation is not implemented."},
    {0x80004002u, "The object does not offer that interface."},
    {0x80004003u, "A required pointer is missing."},
    {0x80004005u, "The operation failed."},
    {0x8007000Eu, "There is not enough memory for the operation."},
    {0x80070057u, "An argument is not valid."},
    {0x80040110u, "The class cannot be part of another object."},
    {0x80040154u, "The class is not registered."},
    {0x800401E3u, "No object of that class is running."},
    {0x80020001u, "The interface is not known."},
    {0x80020003u, "The member was not found."},
    {0x80020004u, "A parameter was not found."},
    {0x80020005u, "The types do not match."},
    {0x80020006u, "The name is not known."},
    {0x80020007u, "The member takes no named arguments."},
    {0x80020008u, "The variant type is not valid."},
    {0x80020009u, "An exception occurred."},
    {0x8002000Au, "The value is out of range."},
    {0x8002000Bu, "An index is out of range."},
    {0x8002000Du, "The array is locked."},
    {0x8002000Eu, "The number of parameters is wrong."},
    {0x8002000Fu, "A parameter that is not optional is missing."},
};

// ---- The class table and the running objects -------------------------------------------

struct Classes {
  std::mutex lock;
  std::map<PlatGuid, PlatComFactory, GuidLess> makers;
  struct Running {
    PlatGuid clsid;
    PlatComUnknown* object;
    uint32_t token;
  };
  std::vector<Running> running;
  uint32_t nextToken = 1;
  Classes() { makers[kPlatClsidInterfaceTable] = &PlatComInterfaceTableFactory; }
};
Classes& TheClasses() {
  static Classes* c = new Classes;
  return *c;
}

// ---- The interface table -----------------------------------------------------------

// The one table: its record and its entries.
struct InterfaceTable {
  std::mutex lock;
  struct Entry {
    PlatComUnknown* object;  // as the interface registered, with a reference
    PlatGuid iid;
  };
  std::map<uint32_t, Entry> entries;
  uint32_t nextCookie = 1;
};
InterfaceTable& TheTable() {
  static InterfaceTable* t = new InterfaceTable;
  return *t;
}

PlatHResult TableQuery(PlatComInterfaceTable* self, const PlatGuid* iid, void** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  if (!iid || (!PlatGuidEqual(*iid, kPlatIidUnknownRecord) && !PlatGuidEqual(*iid, kPlatIidInterfaceTable)))
    return kPlatNoInterface;
  *out = self;
  return kPlatOk;
}
// The table lives as long as the process: references do not count.
uint32_t TableAddRef(PlatComInterfaceTable*) { return 2; }
uint32_t TableRelease(PlatComInterfaceTable*) { return 1; }

PlatHResult TableRegister(PlatComInterfaceTable*, PlatComUnknown* object, const PlatGuid* iid,
                          uint32_t* cookie) {
  if (!object || !iid || !cookie) return kPlatInvalidArg;
  *cookie = 0;
  void* held = nullptr;
  if (PlatHResult r = PlatComQuery(object, *iid, &held); !PlatSucceeded(r) || !held) return kPlatNoInterface;
  InterfaceTable* t = &TheTable();
  std::lock_guard<std::mutex> g(t->lock);
  uint32_t c = t->nextCookie++;
  if (c == 0) c = t->nextCookie++;
  t->entries[c] = InterfaceTable::Entry{static_cast<PlatComUnknown*>(held), *iid};
  *cookie = c;
  return kPlatOk;
}

// The object of a cookie with the table's reference handed over (the
// cookie revoked) or a reference of the caller's own; null for none.
PlatComUnknown* TakeEntry(uint32_t cookie, bool revoke) {
  InterfaceTable* t = &TheTable();
  std::lock_guard<std::mutex> g(t->lock);
  auto it = t->entries.find(cookie);
  if (it == t->entries.end()) return nullptr;
  PlatComUnknown* object = it->second.object;
  if (revoke) t->entries.erase(it);
  else PlatComAddRef(object);
  return object;
}

PlatHResult TableGet(PlatComInterfaceTable*, uint32_t cookie, const PlatGuid* iid, void** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  if (!iid) return kPlatInvalidArg;
  // A local reference keeps the object while the lock is let go.
  PlatComUnknown* object = TakeEntry(cookie, false);
  if (!object) return kPlatInvalidArg;
  PlatHResult r = PlatComQuery(object, *iid, out);
  PlatComRelease(object);
  return r;
}

PlatHResult TableRevoke(PlatComInterfaceTable*, uint32_t cookie) {
  PlatComUnknown* object = TakeEntry(cookie, true);
  if (!object) return kPlatInvalidArg;
  PlatComRelease(object);
  return kPlatOk;
}

const PlatComInterfaceTableSlots kTableSlots{&TableQuery, &TableAddRef, &TableRelease,
                                             &TableRegister, &TableGet, &TableRevoke};

PlatComInterfaceTable gTableRecord{&kTableSlots};

}  // namespace

uint32_t PlatComMessageText(PlatHResult code, char* out, uint32_t max) {
  const char* text = "";
  for (const MessageText& m : kMessages)
    if (m.code == uint32_t(code)) text = m.text;
  const uint32_t len = uint32_t(std::strlen(text));
  if (out && max) {
    const uint32_t n = len < max - 1 ? len : max - 1;
    std::memcpy(out, text, n);
    out[n] = 0;
  }
  return len;
}

PlatHResult PlatComRegisterClass(const PlatGuid& clsid, PlatComFactory factory) {
  if (!factory) return kPlatInvalidArg;
  Classes& c = TheClasses();
  std::lock_guard<std::mutex> g(c.lock);
  c.makers[clsid] = factory;
  return kPlatOk;
}

PlatHResult PlatComRevokeClass(const PlatGuid& clsid) {
  Classes& c = TheClasses();
  std::lock_guard<std::mutex> g(c.lock);
  return c.makers.erase(clsid) ? kPlatOk : kPlatFalse;
}

PlatHResult PlatComCreateInstance(const PlatGuid* clsid, PlatComUnknown* outer, uint32_t context,
                                  const PlatGuid* iid, void** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  if (!clsid || !iid) return kPlatInvalidArg;
  if (outer) return kPlatNoAggregation;
  PlatComFactory maker = nullptr;
  {
    Classes& c = TheClasses();
    std::lock_guard<std::mutex> g(c.lock);
    auto it = c.makers.find(*clsid);
    if (it != c.makers.end()) maker = it->second;
  }
  if (!maker || !(context & (kPlatClassInproc | kPlatClassInprocHandler | kPlatClassLocal)))
    return kPlatClassNotRegistered;
  return maker(iid, out);
}

PlatHResult PlatComRegisterActive(PlatComUnknown* object, const PlatGuid& clsid, uint32_t* token) {
  if (!object || !token) return kPlatInvalidArg;
  PlatComAddRef(object);
  PlatComUnknown* replaced = nullptr;
  {
    Classes& c = TheClasses();
    std::lock_guard<std::mutex> g(c.lock);
    for (auto it = c.running.begin(); it != c.running.end(); ++it) {
      if (PlatGuidEqual(it->clsid, clsid)) {
        replaced = it->object;
        c.running.erase(it);
        break;
      }
    }
    uint32_t t = c.nextToken++;
    if (t == 0) t = c.nextToken++;
    c.running.push_back(Classes::Running{clsid, object, t});
    *token = t;
  }
  if (replaced) PlatComRelease(replaced);
  return kPlatOk;
}

PlatHResult PlatComRevokeActive(uint32_t token) {
  PlatComUnknown* object = nullptr;
  {
    Classes& c = TheClasses();
    std::lock_guard<std::mutex> g(c.lock);
    for (auto it = c.running.begin(); it != c.running.end(); ++it) {
      if (it->token == token) {
        object = it->object;
        c.running.erase(it);
        break;
      }
    }
  }
  if (!object) return kPlatInvalidArg;
  PlatComRelease(object);
  return kPlatOk;
}

PlatHResult PlatComGetActiveObject(const PlatGuid* clsid, PlatComUnknown** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  if (!clsid) return kPlatInvalidArg;
  Classes& c = TheClasses();
  std::lock_guard<std::mutex> g(c.lock);
  for (const Classes::Running& r : c.running) {
    if (PlatGuidEqual(r.clsid, *clsid)) {
      PlatComAddRef(r.object);
      *out = r.object;
      return kPlatOk;
    }
  }
  return kPlatNotRunning;
}

PlatHResult PlatComRun(PlatComUnknown* object) {
  if (!object) return kPlatInvalidArg;
  void* runnable = nullptr;
  if (!PlatSucceeded(PlatComQuery(object, kPlatIidRunnable, &runnable)) || !runnable) return kPlatOk;
  auto* r = static_cast<PlatComRunnable*>(runnable);
  const PlatHResult result = r->slots->run(r);
  r->slots->release(r);
  return result;
}

PlatHResult PlatComInterfaceTableFactory(const PlatGuid* iid, void** out) {
  if (!out) return kPlatInvalidArg;
  return TableQuery(&gTableRecord, iid, out);
}

uint32_t PlatComInterfaceTableCount() {
  InterfaceTable& t = TheTable();
  std::lock_guard<std::mutex> g(t.lock);
  return uint32_t(t.entries.size());
}
