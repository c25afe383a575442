#include <gtest/gtest.h>

#include <thread>

#include "platform/qx_com.h"
#include "platform/qx_event.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_thread.h"

// The first initialisation of a thread answers 0, every later one 1; each is
// undone once, and the first call's model stays.
TEST(PlatformCom, FirstInitDoneRepeatedAlreadyPerThread) {
  ASSERT_EQ(PlatComInitCount(), 0);
  EXPECT_EQ(PlatComInit(false), kPlatComDone);
  EXPECT_EQ(PlatComInit(true), kPlatComAlready);
  EXPECT_EQ(PlatComInit(false), kPlatComAlready);
  EXPECT_EQ(PlatComInitCount(), 3);
  EXPECT_FALSE(PlatComMultithreaded()) << "the first call chose the apartment model";

  // Another thread starts uninitialised.
  int32_t other[3] = {-1, -1, -1};
  std::thread t([&] {
    other[0] = PlatComInitCount();
    other[1] = PlatComInit(true);
    other[2] = PlatComMultithreaded() ? 1 : 0;
    PlatComUninit();
  });
  t.join();
  EXPECT_EQ(other[0], 0);
  EXPECT_EQ(other[1], kPlatComDone);
  EXPECT_EQ(other[2], 1);

  PlatComUninit();
  PlatComUninit();
  EXPECT_EQ(PlatComInitCount(), 1);
  PlatComUninit();
  EXPECT_EQ(PlatComInitCount(), 0);
  PlatComUninit();  // one too many: nothing
  EXPECT_EQ(PlatComInitCount(), 0);
  EXPECT_EQ(PlatComInit(true), kPlatComDone) << "undone completely, the next call is a first one";
  EXPECT_TRUE(PlatComMultithreaded());
  PlatComUninit();
}

// Initialisations that a thread leaves behind end with the thread; undoing
// on another thread cannot reach them.
TEST(PlatformCom, AThreadsInitialisationsEndWithIt) {
  const int32_t before = PlatComProcessCount();
  std::thread t([] {
    PlatComInit(false);
    PlatComInit(false);
    PlatComInit(true);
  });
  t.join();
  EXPECT_EQ(PlatComProcessCount(), before) << "the ended thread gave back its three";
  EXPECT_EQ(PlatComInit(false), kPlatComDone);
  EXPECT_EQ(PlatComProcessCount(), before + 1);
  PlatComUninit();
  PlatComUninit();  // one too many: nothing
  EXPECT_EQ(PlatComProcessCount(), before);
}

// Identifier texts: the exact form reads either case and writes upper case;
// anything else is refused with the target untouched.
TEST(PlatformCom, GuidTextForms) {
  const PlatGuid g{0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  char text[kPlatGuidTextLength + 1];
  PlatGuidToText(g, text);
  EXPECT_STREQ(text, "{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  const struct {
    const char* text;
    bool ok;
  } rows[] = {{"{0123abcd-4567-89ef-fedc-ba9876543210}", true}, {"0123ABCD-4567-89EF-FEDC-BA9876543210", false},
              {"{0123ABCD-4567-89EF-FEDC-BA9876543210", false}, {"{0123ABCD-4567-89EF-FEDCBA9876543210}}", false},
              {"{0123ABCD+4567-89EF-FEDC-BA9876543210}", false}, {"{0123ABCG-4567-89EF-FEDC-BA9876543210}", false},
              {"", false}};
  for (const auto& r : rows) {
    PlatGuid out = kPlatGuidNull;
    EXPECT_EQ(PlatGuidFromText(r.text, &out), r.ok ? kPlatOk : kPlatClassString) << r.text;
    EXPECT_TRUE(PlatGuidEqual(out, r.ok ? g : kPlatGuidNull)) << r.text;
  }
}

// ---- Apartments ----------------------------------------------------------------------
namespace {

// A dispatch object that is not thread-safe: its count and records are
// plain, so a call run on the wrong thread shows under the race detector.
// Member 1 records the thread it runs on; member 2 calls member 1 of the
// object held in back (a proxy into the caller's apartment); its last
// release ends its thread's message loop.
struct Recorder {
  PlatComDispatch face;
  int32_t refs = 1;
  uint32_t lastThread = 0;
  PlatComDispatch* back = nullptr;
};
Recorder* R(PlatComDispatch* d) { return reinterpret_cast<Recorder*>(d); }
PlatHResult RecQuery(PlatComDispatch* d, const PlatGuid* iid, void** out) {
  *out = nullptr;
  if (!PlatGuidEqual(*iid, kPlatIidUnknownRecord) && !PlatGuidEqual(*iid, kPlatIidDispatch)) return kPlatNoInterface;
  ++R(d)->refs;
  *out = d;
  return kPlatOk;
}
uint32_t RecAddRef(PlatComDispatch* d) { return uint32_t(++R(d)->refs); }
uint32_t RecRelease(PlatComDispatch* d) {
  if (--R(d)->refs > 0) return uint32_t(R(d)->refs);
  if (PlatComDispatch* b = R(d)->back) {
    R(d)->back = nullptr;
    PlatComRelease(b);  // a call into the releasing caller's apartment
  }
  PlatPostQuitMessage(0);
  return 0;
}
PlatHResult RecCount(PlatComDispatch*, uint32_t* n) {
  *n = 0;
  return kPlatOk;
}
PlatHResult RecInfo(PlatComDispatch*, uint32_t, uint32_t, void**) { return kPlatNotImpl; }
PlatHResult RecIds(PlatComDispatch*, const PlatGuid*, uint16_t**, uint32_t, uint32_t, int32_t*) {
  return kPlatDispUnknownName;
}
PlatHResult RecInvoke(PlatComDispatch* d, int32_t id, const PlatGuid*, uint32_t, uint16_t, PlatDispParams*,
                      PlatVariant* result, PlatExcepInfo*, uint32_t*) {
  R(d)->lastThread = PlatThreadCurrentId();
  if (id == 2) return R(d)->back->slots->invoke(R(d)->back, 1, nullptr, 0, 1, nullptr, result, nullptr, nullptr);
  return kPlatOk;
}
const PlatComDispatchSlots kRecSlots{&RecQuery, &RecAddRef, &RecRelease, &RecCount, &RecInfo, &RecIds, &RecInvoke};

PlatHResult Call(PlatComDispatch* d, int32_t id) {
  return d->slots->invoke(d, id, nullptr, 0, 1, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

// An object on an apartment thread of its own: calls through its proxy run
// there, a call back into the caller's apartment is served while the caller
// waits, the stream gives the interface once, the last release ends the
// thread after giving back what it held of the caller's apartment.
TEST(PlatformCom, ApartmentThreadsRunCallsOnTheOwner) {
  Recorder home;
  home.face.slots = &kRecSlots;
  PlatComStream* up = nullptr;   // main -> apartment: the caller's own object
  PlatComStream* down = nullptr; // apartment -> main: the object
  ASSERT_EQ(PlatComStreamCreate(&up), kPlatOk);
  ASSERT_EQ(PlatComStreamCreate(&down), kPlatOk);
  ASSERT_EQ(PlatComMarshalInterface(up, kPlatIidDispatch, reinterpret_cast<PlatComUnknown*>(&home)), kPlatOk);
  PlatComStreamRewind(up);

  PlatEvent* ready = PlatEventCreate(false);
  uint32_t aptThread = 0;
  Recorder* seen = nullptr;
  std::thread apt([&] {
    aptThread = PlatThreadCurrentId();
    auto* obj = new Recorder;
    obj->face.slots = &kRecSlots;
    void* back = nullptr;
    EXPECT_EQ(PlatComUnmarshalInterface(up, kPlatIidDispatch, &back), kPlatOk);
    obj->back = static_cast<PlatComDispatch*>(back);
    EXPECT_EQ(PlatComMarshalInterface(down, kPlatIidDispatch, reinterpret_cast<PlatComUnknown*>(obj)), kPlatOk);
    --obj->refs;  // the stream's entry keeps it now
    seen = obj;
    PlatEventSet(ready);
    PlatMsg m;
    while (PlatGetMessage(&m, 0, 0, 0)) PlatDispatchMessage(&m);
    PlatComDisconnectObject(reinterpret_cast<PlatComUnknown*>(obj));
    delete obj;
  });
  ASSERT_EQ(PlatEventWait(ready, kPlatWaitForever), kPlatWaitEvent);
  PlatComStreamRewind(down);
  void* proxy = nullptr;
  ASSERT_EQ(PlatComUnmarshalInterface(down, kPlatIidDispatch, &proxy), kPlatOk);
  PlatComStreamRewind(down);
  void* again = nullptr;
  EXPECT_EQ(PlatComUnmarshalInterface(down, kPlatIidDispatch, &again), kPlatInvalidArg) << "read once";
  EXPECT_EQ(again, nullptr);

  auto* d = static_cast<PlatComDispatch*>(proxy);
  EXPECT_EQ(Call(d, 1), kPlatOk);
  EXPECT_EQ(seen->lastThread, aptThread) << "ran on the apartment thread";
  EXPECT_EQ(Call(d, 2), kPlatOk) << "the call back into this apartment is served while waiting";
  EXPECT_EQ(home.lastThread, PlatThreadCurrentId());
  void* other = nullptr;
  const PlatGuid unknownIid{9, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9}};
  EXPECT_EQ(PlatComQuery(proxy, unknownIid, &other), kPlatNoInterface);
  PlatComRelease(proxy);  // the last reference: the apartment ends
  apt.join();
  EXPECT_EQ(home.refs, 1) << "the proxy into this apartment was released";
  EXPECT_EQ(PlatComProxyCount(), 0u);
  PlatEventDestroy(ready);
  PlatComStreamRelease(up);
  PlatComStreamRelease(down);
}
