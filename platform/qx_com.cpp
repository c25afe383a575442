#include "qx_com.h"

#include "qx_event.h"
#include "qx_globalmem.h"
#include "qx_msgqueue.h"
#include "qx_thread.h"

#include <atomic>

#include <valgrind/helgrind.h>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <new>
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
const PlatGuid kPlatIidClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
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
    {0x800401F3u, "The text is not an identifier."},
    {0x80040111u, "The class is not available."},
    {0x80010108u, "The object is disconnected from its clients."},
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
  struct ClassObject {
    PlatGuid clsid;
    PlatComClassFactory* factory;  // with a reference
    uint32_t context;
    uint32_t cookie;
    uint32_t owner;  // the thread that registered it: the server's apartment
  };
  std::vector<ClassObject> classObjects;
  uint32_t nextCookie = 1;
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

// ---- Proxies of local-server objects ---------------------------------------------------

struct Proxy {
  PlatComDispatch face;  // first: the proxy is its dispatch interface
  std::atomic<uint32_t> refs{1};
  PlatComDispatch* target = nullptr;   // with a reference; null once disconnected
  PlatComUnknown* identity = nullptr;  // the object's unknown, for finding its proxies (no reference)
  uint32_t owner = 0;                  // the apartment thread the object lives on; 0: any thread
};
struct Proxies {
  std::mutex lock;
  std::vector<Proxy*> live;
};
Proxies& TheProxies() {
  static Proxies* p = new Proxies;
  return *p;
}
Proxy* AsProxy(PlatComDispatch* self) { return reinterpret_cast<Proxy*>(self); }

// The target with a reference for one call, or null once disconnected.
PlatComDispatch* TakeTarget(PlatComDispatch* self) {
  std::lock_guard<std::mutex> g(TheProxies().lock);
  PlatComDispatch* t = AsProxy(self)->target;
  if (t) PlatComAddRef(t);
  return t;
}

// ---- Apartments --------------------------------------------------------------------
// A call of an apartment proxy runs on the object's thread: it is posted to
// that thread's queue as a windowless ComCall, and the caller waits for it,
// running the calls posted to its own queue meanwhile so that calls back
// into its apartment go through.  A call still queued when its object is
// disconnected is abandoned by the caller and skipped by the owner.
struct ApartmentCall {
  enum : int32_t { kQueued, kRunning, kDone, kAbandoned };
  std::function<PlatHResult()> body;
  PlatHResult result = kPlatDisconnected;
  std::atomic<int32_t> state{kQueued};
  PlatEvent* done = nullptr;
  std::atomic<int32_t> holders{2};  // the caller and the queued message
};
void DropCall(ApartmentCall* c) {
  // Whatever either holder did to the call comes before its deletion.
  ANNOTATE_HAPPENS_BEFORE(&c->holders);
  if (c->holders.fetch_sub(1) == 1) {
    ANNOTATE_HAPPENS_AFTER(&c->holders);
    PlatEventDestroy(c->done);
    delete c;
  }
}
void RunComCall(PlatLParam raw) {
  auto* c = reinterpret_cast<ApartmentCall*>(raw);
  int32_t queued = ApartmentCall::kQueued;
  if (c->state.compare_exchange_strong(queued, ApartmentCall::kRunning)) {
    c->result = c->body();
    // The caller reads the result once it sees the state done.
    ANNOTATE_HAPPENS_BEFORE(&c->state);
    c->state.store(ApartmentCall::kDone);
    PlatEventSet(c->done);
  }
  DropCall(c);
}
// Runs the calls posted to the calling thread's queue.
void ServeOwnCalls() {
  PlatMsg m;
  while (PlatPeekMessage(&m, 0, kPlatMsgComCall, kPlatMsgComCall, kPlatPeekRemove)) PlatDispatchMessage(&m);
}
// What a waiting caller runs each time it wakes (null: nothing).
std::atomic<void (*)()> gWaitProc{nullptr};

// Runs body on the owner thread (directly when that is the calling thread
// or no thread is named) and waits for it, serving the calls posted to the
// caller meanwhile; gone() tells that the owner will never run it.
PlatHResult RunOn(uint32_t owner, std::function<PlatHResult()> body, const std::function<bool()>& gone) {
  if (!owner || owner == PlatThreadCurrentId()) return body();
  PlatSetComCallProc(&RunComCall);
  auto* c = new (std::nothrow) ApartmentCall;
  if (!c) return kPlatOutOfMemory;
  c->body = std::move(body);
  c->done = PlatEventCreate(false);
  if (!c->done || !PlatPostThreadMessage(owner, kPlatMsgComCall, 0, reinterpret_cast<PlatLParam>(c))) {
    PlatEventDestroy(c->done);
    delete c;
    return kPlatDisconnected;
  }
  for (;;) {
    ServeOwnCalls();
    if (void (*proc)() = gWaitProc.load()) proc();
    if (c->state.load() == ApartmentCall::kDone) break;
    int32_t queued = ApartmentCall::kQueued;
    // An owner that will never take the call does not answer it.
    if (gone() && c->state.compare_exchange_strong(queued, ApartmentCall::kAbandoned)) break;
    PlatWaitEventOrInput(c->done, 50);
  }
  const bool done = c->state.load() == ApartmentCall::kDone;
  if (done) ANNOTATE_HAPPENS_AFTER(&c->state);
  const PlatHResult r = done ? c->result : kPlatDisconnected;
  DropCall(c);
  return r;
}
bool Disconnected(PlatComDispatch* self);
PlatHResult OnOwner(PlatComDispatch* self, std::function<PlatHResult()> body) {
  return RunOn(reinterpret_cast<Proxy*>(self)->owner, std::move(body), [self] { return Disconnected(self); });
}

bool Disconnected(PlatComDispatch* self) {
  std::lock_guard<std::mutex> g(TheProxies().lock);
  return AsProxy(self)->target == nullptr;
}
// Runs fn with the target and a reference for the call, on the object's
// thread: kPlatDisconnected once the object is disconnected.
PlatHResult WithTarget(PlatComDispatch* self, const std::function<PlatHResult(PlatComDispatch*)>& fn) {
  return OnOwner(self, [&]() -> PlatHResult {
    PlatComDispatch* t = TakeTarget(self);
    if (!t) return kPlatDisconnected;
    const PlatHResult r = fn(t);
    PlatComRelease(t);
    return r;
  });
}

PlatHResult ProxyQuery(PlatComDispatch* self, const PlatGuid* iid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  if (!iid) return kPlatInvalidArg;
  const bool own = PlatGuidEqual(*iid, kPlatIidUnknownRecord) || PlatGuidEqual(*iid, kPlatIidDispatch);
  // The proxy answers its own interfaces itself; others ask the object.
  if (own && Disconnected(self)) return kPlatDisconnected;
  const PlatHResult r = own ? kPlatOk : WithTarget(self, [&](PlatComDispatch* t) -> PlatHResult {
    void* other = nullptr;
    const PlatHResult q = PlatComQuery(t, *iid, &other);
    if (other) PlatComRelease(other);
    return PlatSucceeded(q) && !other ? kPlatNoInterface : q;
  });
  if (!PlatSucceeded(r)) return r;
  AsProxy(self)->refs.fetch_add(1);
  *out = self;
  return kPlatOk;
}
uint32_t ProxyAddRef(PlatComDispatch* self) { return AsProxy(self)->refs.fetch_add(1) + 1; }
uint32_t ProxyRelease(PlatComDispatch* self) {
  Proxy* p = AsProxy(self);
  const uint32_t left = p->refs.fetch_sub(1) - 1;
  if (left) return left;
  PlatComDispatch* t = nullptr;
  {
    Proxies& all = TheProxies();
    std::lock_guard<std::mutex> g(all.lock);
    for (size_t i = 0; i < all.live.size(); ++i)
      if (all.live[i] == p) {
        all.live.erase(all.live.begin() + long(i));
        break;
      }
    t = p->target;
    p->target = nullptr;
  }
  // The object's reference goes on its own thread (its last release may end
  // its apartment); an apartment already gone took the object with it.
  if (t) {
    {
      std::lock_guard<std::mutex> g(TheProxies().lock);
      p->target = t;  // the call is wanted until it ran: see OnOwner
    }
    OnOwner(self, [&]() -> PlatHResult {
      PlatComRelease(t);
      return kPlatOk;
    });
  }
  delete p;
  return 0;
}
PlatHResult ProxyTypeInfoCount(PlatComDispatch* self, uint32_t* count) {
  return WithTarget(self, [&](PlatComDispatch* t) -> PlatHResult { return t->slots->getTypeInfoCount(t, count); });
}
PlatHResult ProxyTypeInfo(PlatComDispatch* self, uint32_t index, uint32_t locale, void** info) {
  return WithTarget(self, [&](PlatComDispatch* t) -> PlatHResult { return t->slots->getTypeInfo(t, index, locale, info); });
}
PlatHResult ProxyIds(PlatComDispatch* self, const PlatGuid* iid, uint16_t** names, uint32_t count, uint32_t locale,
                     int32_t* ids) {
  return WithTarget(self,
                    [&](PlatComDispatch* t) { return t->slots->getIdsOfNames(t, iid, names, count, locale, ids); });
}
PlatHResult ProxyInvoke(PlatComDispatch* self, int32_t member, const PlatGuid* iid, uint32_t locale, uint16_t flags,
                        PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception, uint32_t* argError) {
  return WithTarget(self, [&](PlatComDispatch* t) -> PlatHResult {
    return t->slots->invoke(t, member, iid, locale, flags, params, result, exception, argError);
  });
}
const PlatComDispatchSlots kProxySlots{&ProxyQuery,    &ProxyAddRef, &ProxyRelease, &ProxyTypeInfoCount,
                                       &ProxyTypeInfo, &ProxyIds,    &ProxyInvoke};

// The object made by a local server's class object as the client sees it:
// a proxy of its dispatch interface, or the object itself without one.
PlatHResult ProxyFor(void* made, uint32_t owner, void** out) {
  void* dispatch = nullptr;
  void* identity = nullptr;
  if (!PlatSucceeded(PlatComQuery(made, kPlatIidDispatch, &dispatch)) || !dispatch) {
    *out = made;
    return kPlatOk;
  }
  PlatComQuery(made, kPlatIidUnknownRecord, &identity);
  Proxy* p = new (std::nothrow) Proxy;
  if (!p) {
    PlatComRelease(dispatch);
    if (identity) PlatComRelease(identity);
    PlatComRelease(made);
    return kPlatOutOfMemory;
  }
  p->face.slots = &kProxySlots;
  p->target = static_cast<PlatComDispatch*>(dispatch);
  p->identity = static_cast<PlatComUnknown*>(identity ? identity : made);
  p->owner = owner;
  {
    Proxies& all = TheProxies();
    std::lock_guard<std::mutex> g(all.lock);
    all.live.push_back(p);
  }
  if (identity) PlatComRelease(identity);
  PlatComRelease(made);
  *out = &p->face;
  return kPlatOk;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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
  PlatComClassFactory* factory = nullptr;
  uint32_t owner = 0, cookie = 0;
  {
    Classes& c = TheClasses();
    std::lock_guard<std::mutex> g(c.lock);
    auto it = c.makers.find(*clsid);
    if (it != c.makers.end()) {
      maker = it->second;
    } else {
      for (const Classes::ClassObject& o : c.classObjects)
        if (PlatGuidEqual(o.clsid, *clsid) && (o.context & context)) {
          factory = o.factory;
          owner = o.owner;
          cookie = o.cookie;
          PlatComAddRef(factory);
          break;
        }
    }
  }
  if (factory) {
    // A local server's objects are made in its apartment (the thread that
    // registered the class object) and reach the client through proxies
    // whose calls run there.
    auto withdrawn = [cookie] {
      Classes& c = TheClasses();
      std::lock_guard<std::mutex> g(c.lock);
      for (const Classes::ClassObject& o : c.classObjects)
        if (o.cookie == cookie) return false;
      return true;
    };
    // The class object's reference goes in its apartment too (a call its
    // apartment never took keeps it: the class object is withdrawn then).
    return RunOn(
        owner,
        [&]() -> PlatHResult {
          void* made = nullptr;
          const PlatHResult m = factory->slots->createInstance(factory, nullptr, iid, &made);
          PlatComRelease(factory);
          if (!PlatSucceeded(m) || !made) return PlatSucceeded(m) ? kPlatFail : m;
          return ProxyFor(made, owner, out);
        },
        withdrawn);
  }
  if (!maker || !(context & (kPlatClassInproc | kPlatClassInprocHandler | kPlatClassLocal)))
    return kPlatClassNotRegistered;
  return maker(iid, out);
}

PlatHResult PlatComRegisterClassObject(const PlatGuid& clsid, PlatComUnknown* object, uint32_t context,
                                       uint32_t* cookie) {
  if (!object || !cookie) return kPlatInvalidArg;
  *cookie = 0;
  void* factory = nullptr;
  if (!PlatSucceeded(PlatComQuery(object, kPlatIidClassFactory, &factory)) || !factory) return kPlatNoInterface;
  // The registering thread is the class object's apartment: it gets its
  // queue now, so creations can be posted to it at once.
  PlatSetComCallProc(&RunComCall);
  PlatMsg probe;
  PlatPeekMessage(&probe, 0, kPlatMsgComCall, kPlatMsgComCall, kPlatPeekNoRemove);
  Classes& c = TheClasses();
  std::lock_guard<std::mutex> g(c.lock);
  uint32_t k = c.nextCookie++;
  if (k == 0) k = c.nextCookie++;
  c.classObjects.push_back(
      Classes::ClassObject{clsid, static_cast<PlatComClassFactory*>(factory), context, k, PlatThreadCurrentId()});
  *cookie = k;
  return kPlatOk;
}

PlatHResult PlatComRevokeClassObject(uint32_t cookie) {
  PlatComClassFactory* factory = nullptr;
  {
    Classes& c = TheClasses();
    std::lock_guard<std::mutex> g(c.lock);
    for (auto it = c.classObjects.begin(); it != c.classObjects.end(); ++it)
      if (it->cookie == cookie) {
        factory = it->factory;
        c.classObjects.erase(it);
        break;
      }
  }
  if (!factory) return kPlatInvalidArg;
  PlatComRelease(factory);
  return kPlatOk;
}

PlatHResult PlatComDisconnectObject(PlatComUnknown* object) {
  if (!object) return kPlatInvalidArg;
  void* identity = nullptr;
  PlatComQuery(object, kPlatIidUnknownRecord, &identity);
  PlatComUnknown* key = identity ? static_cast<PlatComUnknown*>(identity) : object;
  std::vector<PlatComDispatch*> dropped;
  {
    Proxies& all = TheProxies();
    std::lock_guard<std::mutex> g(all.lock);
    for (Proxy* p : all.live)
      if (p->identity == key && p->target) {
        dropped.push_back(p->target);
        p->target = nullptr;
      }
  }
  if (identity) PlatComRelease(identity);
  // The references go outside the lock: the object may end with them.
  for (PlatComDispatch* t : dropped) PlatComRelease(t);
  // Calls already queued for this thread answer now rather than never.
  ServeOwnCalls();
  return kPlatOk;
}

void PlatComSetWaitProc(void (*proc)()) { gWaitProc.store(proc); }

uint32_t PlatComProxyCount() {
  Proxies& all = TheProxies();
  std::lock_guard<std::mutex> g(all.lock);
  return uint32_t(all.live.size());
}

void PlatGuidToText(const PlatGuid& g, char out[kPlatGuidTextLength + 1]) {
  std::snprintf(out, kPlatGuidTextLength + 1, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(g.data1),
                unsigned(g.data2), unsigned(g.data3), g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4],
                g.data4[5], g.data4[6], g.data4[7]);
}

PlatHResult PlatGuidFromText(const char* text, PlatGuid* out) {
  if (!text || !out || std::strlen(text) != kPlatGuidTextLength || text[0] != '{' || text[37] != '}')
    return kPlatClassString;
  // The digit positions of the 16 bytes, after the brace.
  static const uint8_t kAt[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
  for (int dash : {9, 14, 19, 24})
    if (text[dash] != '-') return kPlatClassString;
  uint8_t b[16];
  for (int i = 0; i < 16; ++i) {
    const int hi = HexDigit(text[kAt[i]]), lo = HexDigit(text[kAt[i] + 1]);
    if (hi < 0 || lo < 0) return kPlatClassString;
    b[i] = uint8_t(hi * 16 + lo);
  }
  out->data1 = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
  out->data2 = uint16_t(b[4] << 8 | b[5]);
  out->data3 = uint16_t(b[6] << 8 | b[7]);
  std::memcpy(out->data4, b + 8, 8);
  return kPlatOk;
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

// ---- Marshalling ----------------------------------------------------------------------
// A marshalled interface is an entry of a process-wide table that holds the
// object's dispatch interface with a reference and its thread; the stream
// carries only the entry's number, so bytes of a stream never become a
// pointer.  Unmarshalling takes the entry once.
namespace {
constexpr uint32_t kStreamMagic = 0x51584D53u;  // "QXMS"
struct Marshalled {
  PlatComDispatch* object;    // with a reference
  PlatComUnknown* identity;   // the object's unknown, for its disconnection
  uint32_t owner;
};
struct MarshalTable {
  std::mutex lock;
  std::map<uint32_t, Marshalled> entries;
  uint32_t next = 1;
};
MarshalTable& TheMarshalTable() {
  static MarshalTable* t = new MarshalTable;
  return *t;
}
}  // namespace

struct PlatComStream {
  PlatGlobal block = 0;
  uint32_t position = 0;
};

PlatHResult PlatComStreamCreate(PlatComStream** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  auto* s = new (std::nothrow) PlatComStream;
  if (!s) return kPlatOutOfMemory;
  s->block = PlatGlobalAlloc(kPlatGlobalMovable | kPlatGlobalZeroInit, 8);
  if (!s->block) {
    delete s;
    return kPlatOutOfMemory;
  }
  *out = s;
  return kPlatOk;
}
void PlatComStreamRewind(PlatComStream* s) {
  if (s) s->position = 0;
}
void PlatComStreamRelease(PlatComStream* s) {
  if (!s) return;
  PlatGlobalFree(s->block);
  delete s;
}

PlatHResult PlatComMarshalInterface(PlatComStream* s, const PlatGuid& iid, PlatComUnknown* object) {
  if (!s || !object) return kPlatInvalidArg;
  PlatSetComCallProc(&RunComCall);
  // The calling thread gets its queue now, so calls can be posted to it at
  // once.
  PlatMsg probe;
  PlatPeekMessage(&probe, 0, kPlatMsgComCall, kPlatMsgComCall, kPlatPeekNoRemove);
  void* dispatch = nullptr;
  PlatHResult r = PlatComQuery(object, iid, &dispatch);
  if (PlatSucceeded(r) && dispatch) {
    PlatComRelease(dispatch);
    dispatch = nullptr;
    r = PlatComQuery(object, kPlatIidDispatch, &dispatch);
  }
  if (!PlatSucceeded(r) || !dispatch) return PlatSucceeded(r) ? kPlatNoInterface : r;
  if (s->position > PlatGlobalSize(s->block) - 8) {
    PlatComRelease(dispatch);
    return kPlatFail;
  }
  void* identity = nullptr;
  PlatComQuery(object, kPlatIidUnknownRecord, &identity);
  if (identity) PlatComRelease(identity);
  uint32_t cookie;
  {
    MarshalTable& t = TheMarshalTable();
    std::lock_guard<std::mutex> g(t.lock);
    cookie = t.next++;
    if (!t.next) t.next = 1;
    t.entries[cookie] = Marshalled{static_cast<PlatComDispatch*>(dispatch),
                                   static_cast<PlatComUnknown*>(identity ? identity : object), PlatThreadCurrentId()};
  }
  auto* bytes = static_cast<uint8_t*>(PlatGlobalLock(s->block));
  const uint32_t words[2] = {kStreamMagic, cookie};
  std::memcpy(bytes + s->position, words, 8);
  PlatGlobalUnlock(s->block);
  s->position += 8;
  return kPlatOk;
}

PlatHResult PlatComUnmarshalInterface(PlatComStream* s, const PlatGuid& iid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  if (!s) return kPlatInvalidArg;
  uint32_t words[2] = {0, 0};
  if (s->position <= PlatGlobalSize(s->block) && PlatGlobalSize(s->block) - s->position >= 8) {
    const auto* bytes = static_cast<const uint8_t*>(PlatGlobalLock(s->block));
    std::memcpy(words, bytes + s->position, 8);
    PlatGlobalUnlock(s->block);
  }
  if (words[0] != kStreamMagic) return kPlatInvalidArg;
  Proxy* p = new (std::nothrow) Proxy;
  if (!p) return kPlatOutOfMemory;
  Marshalled m{};
  {
    MarshalTable& t = TheMarshalTable();
    std::lock_guard<std::mutex> g(t.lock);
    auto it = t.entries.find(words[1]);
    if (it == t.entries.end()) {
      delete p;
      return kPlatInvalidArg;
    }
    m = it->second;
    t.entries.erase(it);
  }
  s->position += 8;
  p->face.slots = &kProxySlots;
  p->target = m.object;
  p->identity = m.identity;
  p->owner = m.owner;
  {
    Proxies& all = TheProxies();
    std::lock_guard<std::mutex> g(all.lock);
    all.live.push_back(p);
  }
  const PlatHResult r = ProxyQuery(&p->face, &iid, out);
  ProxyRelease(&p->face);
  return r;
}
