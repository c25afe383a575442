// The automation server's start, registry entries, class object, object
// lists, stop and unregistration.
#include "olesource/oleserv.h"

#include <atomic>

#include <valgrind/helgrind.h>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/membertab.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/appdirs.h"
#include "mgsource/debug.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/prefs.h"
#include "mgsource/rsrc.h"
#include "olesource/oleapp.h"
#include "olesource/olevi.h"
#include "olesource/servreq.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_registry.h"
#include "server/srvhooks.h"

// Our own class for the proxies of the two interfaces.
const PlatGuid kOleProxyClassId{0x51584301, 0x0010, 0x4F4C, {0x45, 0x50, 0x52, 0x4F, 0x58, 0x59, 0x53, 0x54}};

namespace {

PlatGuid gGuids[kOleGuidCount] = {};
uInt32 gCookie = 0;
OleObjectList* gAppList = nullptr;
OleObjectList* gThreadList = nullptr;
uInt32 gUIThread = 0;
std::atomic<Bool32> gShuttingDown{0};
void* gAppTypeInfo = nullptr;

std::string ListItem(RsrcFileRef file, int32 list, int32 item, bool* found) {
  Str255 s;
  *found = file && RGetIndString(file, s, list, item) == kNoErr;
  return *found ? std::string(reinterpret_cast<const char*>(s + 1), s[0]) : std::string();
}

std::string NameOr(int32 item, const char* fallback) {
  bool found = false;
  std::string s = ListItem(RunTimeRsrcFile(), kOleServerNameList, item, &found);
  return found ? s : std::string(fallback);
}

// Step 1 of the start: every item of the list parsed, an absent one zero.
PlatHResult ReadGuids() {
  for (int32 i = 0; i < kOleGuidCount; ++i) {
    gGuids[i] = kPlatGuidNull;
    bool found = false;
    const std::string text = ListItem(RunTimeRsrcFile(), kOleServerGuidList, i + 1, &found);
    if (found && PlatGuidFromText(text.c_str(), &gGuids[i]) != kPlatOk) {
      gGuids[i] = kPlatGuidNull;
      return kPlatOutOfMemory;
    }
  }
  return kPlatOk;
}

std::string GuidText(const PlatGuid& g) {
  char t[kPlatGuidTextLength + 1];
  PlatGuidToText(g, t);
  return t;
}

// A path's text, with "..." for its middle past 255 characters.
std::string ShortPathText(Path p) {
  Str255 s;
  FPathToAbbrevPStr(p, 255, s);
  return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
}

std::string Format(const char* format, int32 a, int32 b) {
  char t[64];
  std::snprintf(t, sizeof t, format, int(a), int(b));
  return t;
}

// Writes the registry entries in order, stopping at the first failure.
class Registration {
 public:
  int32 failure = kPlatRegOk;

  // The key's default value (or the sub-key's), or with named its value of
  // that name: the key opened, or made when it does not exist.
  void Set(const std::string& key, const char* subKey, const std::string& text, bool named = false) {
    if (failure) return;
    PlatRegKey k = 0;
    int32 r = PlatRegOpenKey(kPlatRegClassesRoot, key.c_str(), &k);
    if (r == kPlatRegNotFound) r = PlatRegCreateKey(kPlatRegClassesRoot, key.c_str(), &k);
    if (r == kPlatRegOk) {
      r = named ? PlatRegSetNamedValue(k, subKey, text.c_str()) : PlatRegSetValue(k, subKey, text.c_str());
      PlatRegCloseKey(k);
    }
    Fail(r, key, subKey);
  }

 private:
  void Fail(int32 r, const std::string& key, const char* sub) {
    if (r == kPlatRegOk) return;
    failure = r;
    DBPrintf("OleServerStart: registry entry \"%s\\%s\" not written; err=%ld", key.c_str(), sub ? sub : "",
             long(r));
  }
};

int32 WriteRegistry() {
  const std::string p = OleProductName();
  const std::string progId = p + ".Application";
  char versioned[300];
  std::snprintf(versioned, sizeof versioned, "%s.%d", progId.c_str(), int(kOleServerMajor));
  const std::string clsid = GuidText(gGuids[kOleGuidAppClass - 1]);
  const std::string typeLib = GuidText(gGuids[kOleGuidTypeLib - 1]);
  const std::string version = Format("%d.%d", kOleServerMajor, kOleServerMinor);

  std::string program, folder;
  Path self = nullptr;
  if (FAppFilePath(&self) == kNoErr) program = ShortPathText(self);
  if (self) FDisposePath(self);
  if (Path dir = FEmptyPath(nullptr)) {
    if (GetAppPath(dir) == kNoErr) folder = ShortPathText(dir);
    FDisposePath(dir);
  }
  std::string versionText;
  if (ServerUI().versionText)
    if (ConstPStr v = ServerUI().versionText()) versionText.assign(reinterpret_cast<const char*>(v + 1), v[0]);
  const std::string libFile = folder + "\\" + OleTypeLibFileName();

  Registration r;
  r.Set(progId, nullptr, p + " Application Object");
  r.Set(progId, "ClassId", clsid);
  r.Set(versioned, nullptr, p + " Application Object");
  r.Set(versioned, "ClassId", clsid);
  const std::string classKey = "Classes\\" + clsid;
  r.Set(classKey, nullptr, p + " Application");
  r.Set(classKey, "ProgramId", versioned);
  r.Set(classKey, "CurrentProgramId", progId);
  r.Set(classKey, "Server", program + " /Automation");
  r.Set(classKey, "Server2", program + " /Automation");
  const std::string libKey = "TypeInfo\\" + typeLib;
  r.Set(libKey, version.c_str(), p + " " + versionText + " Type Library");
  r.Set(libKey, Format("%d.%d\\409\\file1", kOleServerMajor, kOleServerMinor).c_str(), libFile);
  r.Set(libKey, Format("%d.%d\\409\\file2", kOleServerMajor, kOleServerMinor).c_str(), libFile);
  r.Set(libKey, Format("%d.%d\\0\\file2", kOleServerMajor, kOleServerMinor).c_str(), libFile);
  r.Set(libKey, Format("%d.%d\\HelpFolder", kOleServerMajor, kOleServerMinor).c_str(), folder);
  const struct {
    int32 item;
    const char* name;
  } kInterfaces[] = {{kOleGuidAppInterface, "_Application"}, {kOleGuidVIInterface, "VirtualInstrument"}};
  for (const auto& i : kInterfaces) {
    const std::string key = "Interfaces\\" + GuidText(gGuids[i.item - 1]);
    r.Set(key, nullptr, i.name);
    r.Set(key, "ProxyClassId", GuidText(kOleProxyClassId));
    r.Set(key, "ProxyClassId2", GuidText(kOleProxyClassId));
    r.Set(key, "TypeInfo", typeLib);
    r.Set(key + "\\TypeInfo", "Version", version, true);
  }
  return r.failure;
}

// ---- The class object ---------------------------------------------------------------------

OleClassFactory* AsFactory(PlatComClassFactory* self) { return reinterpret_cast<OleClassFactory*>(self); }

PlatHResult FactoryQuery(PlatComClassFactory* self, const PlatGuid* iid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  if (!iid || (!PlatGuidEqual(*iid, kPlatIidUnknownRecord) && !PlatGuidEqual(*iid, kPlatIidClassFactory)))
    return kPlatNoInterface;
  __atomic_add_fetch(&AsFactory(self)->refs, 1, __ATOMIC_ACQ_REL);
  *out = self;
  return kPlatOk;
}
// The count changes on the client's thread and on the thread the class was
// registered on: each change is one atomic step.
uint32_t FactoryAddRef(PlatComClassFactory* self) {
  return uint32_t(__atomic_add_fetch(&AsFactory(self)->refs, 1, __ATOMIC_ACQ_REL));
}
uint32_t FactoryRelease(PlatComClassFactory* self) {
  const int32 left = __atomic_sub_fetch(&AsFactory(self)->refs, 1, __ATOMIC_ACQ_REL);
  if (left <= 0) delete AsFactory(self);
  return uint32_t(left > 0 ? left : 0);
}
PlatHResult FactoryCreate(PlatComClassFactory*, PlatComUnknown* outer, const PlatGuid* iid, void** out) {
  if (!out) return int32(0x80070006u);
  *out = nullptr;
  if (!OleServerEnabled() || OleServerShuttingDown()) return kPlatClassNotAvailable;
  if (!iid) return kPlatInvalidArg;
  // An outer object is accepted only for the unknown interface, and the
  // object is then made on its own.
  if (outer && !PlatGuidEqual(*iid, kPlatIidUnknownRecord)) return kPlatNoAggregation;
  OleApplication* app = nullptr;
  if (PlatHResult r = OleApplicationCreate(&app); r != kPlatOk) return r;
  PlatComAddRef(app);
  const PlatHResult r = PlatComQuery(app, *iid, out);
  // The object's own reference goes: the client's, when it answered,
  // keeps it; else it is deleted.
  PlatComRelease(app);
  return r;
}
PlatHResult FactoryLock(PlatComClassFactory*, int32_t) { return kPlatOk; }
const PlatComClassFactorySlots kFactorySlots{&FactoryQuery, &FactoryAddRef, &FactoryRelease, &FactoryCreate,
                                             &FactoryLock};

// ---- Unregistration --------------------------------------------------------------------------

// The run-time resource file: the one open, or the executable opened now
// (closed again by the caller).
RsrcFileRef OpenRunTimeFile(bool* opened) {
  *opened = false;
  if (RsrcFileRef f = RunTimeRsrcFile()) return f;
  Path self = nullptr;
  RsrcFileRef f = 0;
  if (FAppFilePath(&self) == kNoErr && ROpenFile(self, kRsrcReadOnly, &f, nullptr, nullptr) == kNoErr) *opened = true;
  if (self) FDisposePath(self);
  return *opened ? f : 0;
}

}  // namespace

// ---- Names --------------------------------------------------------------------------------

const PlatGuid& OleServerGuid(int32 item) {
  return item >= 1 && item <= kOleGuidCount ? gGuids[item - 1] : kPlatGuidNull;
}
std::string OleProductName() { return NameOr(1, "Quenlix"); }
std::string OleTypeLibFileName() { return NameOr(2, "quenlix50.tlb"); }

// ---- Object lists ---------------------------------------------------------------------------

OleObjectList::~OleObjectList() {
  if (block_) AZDisposeHandle(block_);
  if (mutex_) ThMutexDestroy(mutex_);
}

MgErr OleObjectList::Init() {
  if (block_ || mutex_) return kNoErr;
  block_ = AZNewHClr(4);
  if (!block_ || ThMutexCreate(&mutex_, nullptr) != kNoErr) {
    if (block_) AZDisposeHandle(block_);
    block_ = nullptr;
    mutex_ = nullptr;
    return kMemFullErr;
  }
  return kNoErr;
}

namespace {
int32 CountOf(UHandle h) {
  int32 n = 0;
  std::memcpy(&n, *h, 4);
  return n;
}
void** Slots(UHandle h) { return reinterpret_cast<void**>(*h + 4); }
}  // namespace

MgErr OleObjectList::Insert(void* element, int32 position) {
  Lock();
  const int32 n = CountOf(block_);
  MgErr err = AZSetHandleSize(block_, 4 + (n + 1) * int32(sizeof(void*)));
  if (err == kNoErr) {
    if (position < 0 || position > n) position = n;
    void** slots = Slots(block_);
    std::memmove(slots + position + 1, slots + position, size_t(n - position) * sizeof(void*));
    slots[position] = element;
    const int32 m = n + 1;
    std::memcpy(*block_, &m, 4);
  }
  Unlock();
  return err ? MgErr(kMemFullErr) : MgErr(kNoErr);
}

void* OleObjectList::DeleteAt(int32 index) {
  Lock();
  void* e = nullptr;
  const int32 n = CountOf(block_);
  if (index >= 0 && index < n) {
    void** slots = Slots(block_);
    e = slots[index];
    std::memmove(slots + index, slots + index + 1, size_t(n - index - 1) * sizeof(void*));
    const int32 m = n - 1;
    std::memcpy(*block_, &m, 4);
    AZSetHandleSize(block_, 4 + m * int32(sizeof(void*)));
  }
  Unlock();
  return e;
}

bool OleObjectList::Remove(void* element) {
  Lock();
  bool found = false;
  for (int32 i = 0, n = CountOf(block_); i < n && !found; ++i)
    if (Slots(block_)[i] == element) found = DeleteAt(i) == element;
  Unlock();
  return found;
}

int32 OleObjectList::Count() {
  Lock();
  const int32 n = CountOf(block_);
  Unlock();
  return n;
}

void* OleObjectList::At(int32 index) {
  Lock();
  void* e = index >= 0 && index < CountOf(block_) ? Slots(block_)[index] : nullptr;
  Unlock();
  return e;
}

int32 OleObjectList::FindByKey(uInt32 key) {
  Lock();
  int32 found = -1;
  for (int32 i = CountOf(block_) - 1; i >= 0 && found < 0; --i) {
    uInt32 first = 0;
    if (const void* e = Slots(block_)[i]) std::memcpy(&first, e, 4);
    if (Slots(block_)[i] && first == key) found = i;
  }
  Unlock();
  return found;
}

void OleObjectList::Lock() { ThMutexAcquire(mutex_); }
void OleObjectList::Unlock() { ThMutexRelease(mutex_); }

// ---- State ----------------------------------------------------------------------------------

Bool32 OleServerEnabled() { return PrefGet(kPrefServerOleEnabled) ? 1 : 0; }
Bool32 OleServerShuttingDown() { return gShuttingDown.load(); }
uInt32 OleServerUIThreadId() { return gUIThread; }
OleObjectList* OleAppObjectList() { return gAppList; }
OleObjectList* OleVIThreadList() { return gThreadList; }
uInt32 OleServerCookie() { return gCookie; }
void* OleAppTypeInfo() { return gAppTypeInfo; }
void OleSetAppTypeInfo(void* info) { gAppTypeInfo = info; }

OleClassFactory* OleClassFactory::New() {
  OleClassFactory* f = new (std::nothrow) OleClassFactory;
  if (f) {
    f->face.slots = &kFactorySlots;
    f->refs = 0;
    // Changed by atomic steps only, which the race detector does not model.
    ANNOTATE_BENIGN_RACE_SIZED(&f->refs, sizeof f->refs, "class factory count");
  }
  return f;
}

// ---- Start and stop ----------------------------------------------------------------------------

int32 OleServerStart() {
  gShuttingDown.store(0);
  if (PlatHResult r = ReadGuids(); r != kPlatOk) {
    OleServerStop();
    return r;
  }
  if (int32 r = WriteRegistry()) {
    // Nothing further: without its entries no client could find the server.
    OleServerStop();
    return r;
  }
  OleClassFactory* factory = OleClassFactory::New();
  if (!factory) {
    OleServerStop();
    return kPlatOutOfMemory;
  }
  PlatComAddRef(factory);
  PlatHResult r = PlatComRegisterClassObject(gGuids[kOleGuidAppClass - 1], PlatAsUnknown(factory), kPlatClassLocal,
                                             &gCookie);
  PlatComRelease(factory);
  if (r != kPlatOk) {
    gCookie = 0;
    OleServerStop();
    return r;
  }
  for (OleObjectList** list : {&gAppList, &gThreadList}) {
    *list = new (std::nothrow) OleObjectList;
    if (!*list) {
      OleServerStop();
      return kPlatOutOfMemory;
    }
    if (MgErr err = (*list)->Init()) {
      OleServerStop();
      return err;
    }
  }
  gUIThread = PlatThreadCurrentId();
  // The member tables are made here, before any VI thread reads them.
  PropInfoLookup(kAutoClassApp, 0);
  // While this thread waits for a VI object's apartment it still serves the
  // requests VI threads hand it.
  PlatComSetWaitProc(&OleServePostedRequests);
  return kPlatOk;
}

void OleServerStop() {
  gShuttingDown.store(1);
  // Runs and calls that wait for their end hear of the stop.
  VIServReleaseWaiters();
  if (gCookie) PlatComRevokeClassObject(gCookie);
  gCookie = 0;
  if (OleObjectList* apps = gAppList) {
    // A disconnected object may end at once, leaving the list itself.
    apps->Lock();
    for (int32 i = apps->Count() - 1; i >= 0; --i)
      if (void* app = apps->At(i)) PlatComDisconnectObject(PlatAsUnknown(app));
    apps->Unlock();
    gAppList = nullptr;
    delete apps;
  }
  if (OleObjectList* threads = gThreadList) {
    for (;;) {
      threads->Lock();
      auto* rec = static_cast<OleVIThreadRec*>(threads->DeleteAt(threads->Count() - 1));
      threads->Unlock();
      if (!rec) break;
      PlatEventSet(rec->event);
      PlatPostThreadMessage(rec->threadId, kPlatMsgQuit, 0, 0);
      if (rec->thread) {
        PlatThreadWaitEnd(rec->thread, kPlatWaitForever);
        PlatThreadClose(rec->thread);
      }
      delete rec;
    }
    gThreadList = nullptr;
    delete threads;
  }
  // The process's reference: an object still held by someone keeps its own
  // until its last release (releasing those too would free what it uses).
  if (gAppTypeInfo) PlatComRelease(gAppTypeInfo);
  gAppTypeInfo = nullptr;
}

// ---- Unregistration ----------------------------------------------------------------------------

void OleRegDeleteTree(uInt32 parent, const char* subKey) {
  if (!subKey || !*subKey) return;
  PlatRegKey key = 0;
  if (PlatRegOpenKey(parent, subKey, &key) != kPlatRegOk) return;
  char name[256];
  while (PlatRegEnumKey(key, 0, name, sizeof name) == kPlatRegOk) {
    const size_t before = std::strlen(name);
    OleRegDeleteTree(key, name);
    // A sub-key that would not go ends the walk instead of repeating it.
    char again[256];
    if (PlatRegEnumKey(key, 0, again, sizeof again) == kPlatRegOk && std::strlen(again) == before &&
        std::strcmp(again, name) == 0)
      break;
  }
  PlatRegCloseKey(key);
  PlatRegDeleteKey(parent, subKey);
}

int32 OleServerUnregister() {
  bool opened = false;
  const RsrcFileRef file = OpenRunTimeFile(&opened);
  struct Item {
    int32 list, item;
  };
  const Item kItems[] = {{kOleServerGuidList, kOleGuidAppClass},
                         {kOleServerGuidList, kOleGuidTypeLib},
                         {kOleServerNameList, 1},
                         {kOleServerGuidList, kOleGuidAppInterface},
                         {kOleServerGuidList, kOleGuidVIInterface}};
  std::string texts[5];
  bool all = file != 0;
  for (int32 i = 0; i < 5 && all; ++i) texts[i] = ListItem(file, kItems[i].list, kItems[i].item, &all);
  if (opened) RCloseFile(file);
  if (!all) return 0;
  const std::string& p = texts[2];
  char versioned[300];
  std::snprintf(versioned, sizeof versioned, "%s.%d", (p + ".Application").c_str(), int(kOleServerMajor));
  OleRegDeleteTree(kPlatRegClassesRoot, (p + ".Application").c_str());
  OleRegDeleteTree(kPlatRegClassesRoot, versioned);
  OleRegDeleteTree(kPlatRegClassesRoot, ("Classes\\" + texts[0]).c_str());
  OleRegDeleteTree(kPlatRegClassesRoot, ("TypeInfo\\" + texts[1]).c_str());
  OleRegDeleteTree(kPlatRegClassesRoot, ("Interfaces\\" + texts[3]).c_str());
  OleRegDeleteTree(kPlatRegClassesRoot, ("Interfaces\\" + texts[4]).c_str());
  return 1;
}

bool OleListText(int32 list, int32 item, std::string* out) {
  bool found = false;
  *out = ListItem(RunTimeRsrcFile(), list, item, &found);
  return found;
}
