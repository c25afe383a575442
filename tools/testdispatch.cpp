// The test dispatch class.
#include "tools/testdispatch.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>

const PlatGuid kTestDispatchClass{0x51584302, 0x0001, 0x5445, {0x53, 0x54, 0x44, 0x49, 0x53, 0x50, 0x01, 0x01}};
const PlatGuid kTestDispatchTwinClass{0x51584302, 0x0002, 0x5445, {0x53, 0x54, 0x44, 0x49, 0x53, 0x50, 0x02, 0x02}};

namespace {

struct TestObject {
  PlatComDispatch dispatch;
  PlatComRunnable runnable;
  std::atomic<uint32_t> refs{1};
  bool twin = false;
  std::mutex lock;  // the properties
  PlatVariant value{};
  PlatVariant items[4]{};
};

std::mutex gLock;  // the counters, the exception texts and the running object
TestDispatchCounts gCounts{};
std::string gSource, gDescription, gHelpFile;
uint32_t gContext = 0;
uint32_t gRunningToken = 0;
PlatComDispatch* gRunning = nullptr;

TestObject* FromDispatch(PlatComDispatch* d) {
  return reinterpret_cast<TestObject*>(reinterpret_cast<char*>(d) - offsetof(TestObject, dispatch));
}
TestObject* FromRunnable(PlatComRunnable* r) {
  return reinterpret_cast<TestObject*>(reinterpret_cast<char*>(r) - offsetof(TestObject, runnable));
}

PlatHResult Query(TestObject* o, const PlatGuid* iid, void** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  if (!iid) return kPlatInvalidArg;
  if (PlatGuidEqual(*iid, kPlatIidUnknownRecord) || PlatGuidEqual(*iid, kPlatIidDispatch)) *out = &o->dispatch;
  else if (PlatGuidEqual(*iid, kPlatIidRunnable)) *out = &o->runnable;
  else return kPlatNoInterface;
  o->refs.fetch_add(1);
  return kPlatOk;
}
uint32_t AddRef(TestObject* o) { return o->refs.fetch_add(1) + 1; }
uint32_t Release(TestObject* o) {
  const uint32_t left = o->refs.fetch_sub(1) - 1;
  if (left == 0) {
    PlatVariantClear(&o->value);
    for (PlatVariant& v : o->items) PlatVariantClear(&v);
    delete o;
    std::lock_guard<std::mutex> g(gLock);
    --gCounts.live;
  }
  return left;
}

PlatBstr Bstr(const std::string& s) { return s.empty() ? nullptr : PlatBstrFromText(s.data(), uint32_t(s.size())); }

std::string TextOf(const PlatVariant& v) {
  if (v.vt == kPlatVtError && v.scode == kPlatDispParamNotFound) return "missing";
  PlatVariant t;
  PlatVariantInit(&t);
  if (PlatVariantChangeType(&t, &v, 0, kPlatVtBstr) != kPlatOk) return "?";
  std::string s(PlatBstrLength(t.bstr), '\0');
  PlatBstrToText(t.bstr, uint32_t(s.size()), s.data(), uint32_t(s.size()));
  PlatVariantClear(&t);
  return s;
}

// The arguments of a call by parameter position (the first parameter at 0);
// absent ones are the not-found value.  The value of a put is apart.
PlatHResult Sort(TestObject* o, const PlatDispParams* p, uint16_t flags, uint32_t count, PlatVariant* args,
                 PlatVariant* putValue) {
  for (uint32_t i = 0; i < count; ++i) {
    PlatVariantInit(&args[i]);
    args[i].vt = kPlatVtError;
    args[i].scode = kPlatDispParamNotFound;
  }
  uint32_t k = 0;
  const uint32_t n = p ? p->count : 0;
  const bool put = flags & (kPlatDispatchPropertyPut | kPlatDispatchPropertyPutRef);
  if (put) {
    if (!p || p->namedCount != 1 || p->namedIds[0] != kPlatDispIdPropertyPut || n < 1)
      return kPlatDispParamNotFound;
    *putValue = p->args[0];
    k = 1;
  } else if (p && p->namedCount) {
    if (o->twin) return kPlatDispNoNamedArgs;
    for (; k < p->namedCount; ++k) {
      const int32_t id = p->namedIds[k];
      if (id < 0 || uint32_t(id) >= count) return kPlatDispParamNotFound;
      args[id] = p->args[k];
    }
  }
  // The others by position: the last argument first.
  const uint32_t positional = n - k;
  if (positional > count) return kPlatDispBadParamCount;
  for (uint32_t j = k; j < n; ++j) {
    const uint32_t position = n - 1 - j;
    if (position < count) args[position] = p->args[j];
  }
  return kPlatOk;
}

bool Missing(const PlatVariant& v) { return v.vt == kPlatVtError && v.scode == kPlatDispParamNotFound; }

PlatHResult Invoke(PlatComDispatch* self, int32_t member, const PlatGuid*, uint32_t, uint16_t flags,
                   PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception, uint32_t*) {
  TestObject* o = FromDispatch(self);
  {
    std::lock_guard<std::mutex> g(gLock);
    gCounts.lastFlags = flags;
    gCounts.lastNamed = params ? params->namedCount : 0;
    gCounts.lastCount = params ? params->count : 0;
    ++gCounts.calls;
  }
  PlatVariant args[3];
  PlatVariant putValue{};
  switch (member) {
    case kTestMemberJoin: {
      if (!(flags & kPlatDispatchMethod)) return kPlatDispMemberNotFound;
      if (PlatHResult r = Sort(o, params, flags, 3, args, &putValue); r != kPlatOk) return r;
      if (Missing(args[0]) || Missing(args[2])) return kPlatDispParamNotOptional;
      const std::string text = TextOf(args[0]) + "|" + TextOf(args[1]) + "|" + TextOf(args[2]);
      if (result) {
        PlatVariantClear(result);
        result->vt = kPlatVtBstr;
        result->bstr = PlatBstrFromText(text.data(), uint32_t(text.size()));
      }
      return kPlatOk;
    }
    case kTestMemberValue:
    case kTestMemberItem: {
      const uint32_t nparams = member == kTestMemberItem ? 1 : 0;
      if (PlatHResult r = Sort(o, params, flags, nparams, args, &putValue); r != kPlatOk) return r;
      std::lock_guard<std::mutex> g(o->lock);
      PlatVariant* slot = &o->value;
      if (member == kTestMemberItem) {
        PlatVariant index;
        PlatVariantInit(&index);
        if (Missing(args[0]) || PlatVariantChangeType(&index, &args[0], 0, kPlatVtI4) != kPlatOk) return kPlatDispTypeMismatch;
        if (index.i4 < 0 || index.i4 > 3) return kPlatDispBadIndex;
        slot = &o->items[index.i4];
      }
      if (flags & (kPlatDispatchPropertyPut | kPlatDispatchPropertyPutRef)) return PlatVariantCopyInd(slot, &putValue);
      if (flags & kPlatDispatchPropertyGet) return result ? PlatVariantCopy(result, slot) : kPlatOk;
      return kPlatDispMemberNotFound;
    }
    case kTestMemberFail: {
      if (!exception) return kPlatDispException;
      std::lock_guard<std::mutex> g(gLock);
      std::memset(exception, 0, sizeof *exception);
      exception->source = Bstr(gSource);
      exception->description = Bstr(gDescription);
      exception->helpFile = Bstr(gHelpFile);
      exception->helpContext = gContext;
      exception->scode = kPlatFail;
      return kPlatDispException;
    }
    default:
      return kPlatDispMemberNotFound;
  }
}

PlatHResult DQuery(PlatComDispatch* self, const PlatGuid* iid, void** out) { return Query(FromDispatch(self), iid, out); }
uint32_t DAddRef(PlatComDispatch* self) { return AddRef(FromDispatch(self)); }
uint32_t DRelease(PlatComDispatch* self) { return Release(FromDispatch(self)); }
PlatHResult TypeInfoCount(PlatComDispatch*, uint32_t* count) {
  if (count) *count = 0;
  return kPlatOk;
}
PlatHResult TypeInfo(PlatComDispatch*, uint32_t, uint32_t, void** info) {
  if (info) *info = nullptr;
  return kPlatNotImpl;
}
PlatHResult IdsOfNames(PlatComDispatch*, const PlatGuid*, uint16_t**, uint32_t, uint32_t, int32_t*) {
  return kPlatDispUnknownName;
}
const PlatComDispatchSlots kDispatchSlots{&DQuery, &DAddRef, &DRelease, &TypeInfoCount, &TypeInfo, &IdsOfNames, &Invoke};

PlatHResult RQuery(PlatComRunnable* self, const PlatGuid* iid, void** out) { return Query(FromRunnable(self), iid, out); }
uint32_t RAddRef(PlatComRunnable* self) { return AddRef(FromRunnable(self)); }
uint32_t RRelease(PlatComRunnable* self) { return Release(FromRunnable(self)); }
PlatHResult Run(PlatComRunnable*) {
  std::lock_guard<std::mutex> g(gLock);
  ++gCounts.runs;
  return kPlatOk;
}
const PlatComRunnableSlots kRunnableSlots{&RQuery, &RAddRef, &RRelease, &Run};

PlatHResult Make(bool twin, const PlatGuid* iid, void** out) {
  auto* o = new TestObject;
  o->dispatch.slots = &kDispatchSlots;
  o->runnable.slots = &kRunnableSlots;
  o->twin = twin;
  {
    std::lock_guard<std::mutex> g(gLock);
    ++gCounts.live;
    ++gCounts.made;
  }
  const PlatHResult r = Query(o, iid, out);
  Release(o);
  return r;
}
PlatHResult MakeObject(const PlatGuid* iid, void** out) { return Make(false, iid, out); }
PlatHResult MakeTwin(const PlatGuid* iid, void** out) { return Make(true, iid, out); }

}  // namespace

void TestDispatchRegister() {
  PlatComRegisterClass(kTestDispatchClass, &MakeObject);
  PlatComRegisterClass(kTestDispatchTwinClass, &MakeTwin);
}

void TestDispatchRevoke() {
  TestDispatchSetRunning(false);
  PlatComRevokeClass(kTestDispatchClass);
  PlatComRevokeClass(kTestDispatchTwinClass);
}

PlatHResult TestDispatchSetRunning(bool on) {
  uint32_t token = 0;
  PlatComDispatch* object = nullptr;
  {
    std::lock_guard<std::mutex> g(gLock);
    token = gRunningToken;
    object = gRunning;
    gRunningToken = 0;
    gRunning = nullptr;
  }
  if (token) PlatComRevokeActive(token);
  if (object) PlatComRelease(object);
  if (!on) return kPlatOk;
  void* made = nullptr;
  if (PlatHResult r = MakeObject(&kPlatIidDispatch, &made); r != kPlatOk) return r;
  if (PlatHResult r = PlatComRegisterActive(PlatAsUnknown(made), kTestDispatchClass, &token); r != kPlatOk) {
    PlatComRelease(made);
    return r;
  }
  std::lock_guard<std::mutex> g(gLock);
  gRunning = static_cast<PlatComDispatch*>(made);
  gRunningToken = token;
  return kPlatOk;
}

PlatComDispatch* TestDispatchRunning() {
  std::lock_guard<std::mutex> g(gLock);
  if (gRunning) PlatComAddRef(gRunning);
  return gRunning;
}

void TestDispatchSetException(const std::string& source, const std::string& description,
                              const std::string& helpFile, uint32_t context) {
  std::lock_guard<std::mutex> g(gLock);
  gSource = source;
  gDescription = description;
  gHelpFile = helpFile;
  gContext = context;
}

TestDispatchCounts TestDispatchCountsNow() {
  std::lock_guard<std::mutex> g(gLock);
  return gCounts;
}

uint32_t TestDispatchRefs(PlatComDispatch* object) { return object ? FromDispatch(object)->refs.load() : 0; }
