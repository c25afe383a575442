// Shared set-up of the object-system tests: the object system registered
// with the engine before the managers start (as start-up does), the type
// heap, and VIs with a data space and a front-panel heap of objects.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/engine_test_support.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "mgsource/byteorder.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/viinst.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "panel/fppanel.h"
#include "panel/objects.h"
#include "panel/popup.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_paint.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace ptest {

// Opens the bytes of a resource file, read-only, from a handle and makes it
// the run-time resource file (a fatal failure when it cannot).
inline void OpenRunTimeRsrcBytes(const std::vector<uChar>& bytes, RsrcFileRef* file) {
  UHandle fh = AZNewHandle(int32(bytes.size()));
  ASSERT_NE(fh, nullptr);
  std::memcpy(*fh, bytes.data(), bytes.size());
  ASSERT_EQ(ROpenFileOrHandle(nullptr, kRsrcReadOnly, file, nullptr, nullptr, fh), kNoErr);
  SetRunTimeRsrcFile(*file);
}

// A method put into a class's slot for one scope (the class records are
// the program's own: every patch is undone).
class SlotPatch {
 public:
  template <typename F>
  SlotPatch(int32 cls, int32 slot, F* method)
      : rec_(const_cast<ObjClassRecord*>(ClassRecord(cls))), slot_(slot), saved_(rec_->methods[slot]) {
    rec_->methods[slot] = reinterpret_cast<ObjMethodAddr>(method);
  }
  ~SlotPatch() { rec_->methods[slot_] = saved_; }
  SlotPatch(const SlotPatch&) = delete;
  SlotPatch& operator=(const SlotPatch&) = delete;

 private:
  ObjClassRecord* rec_;
  int32 slot_;
  ObjMethodAddr saved_;
};

class PanelTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    static bool installed = [] {
      PanelInstallEngineHooks();
      MemSetDataSpaceInitHook(&AZPAllocInit);
      return true;
    }();
    (void)installed;
    EngineTest::SetUp();
    // The memory manager makes the engine's start-up blocks (the transaction
    // stack among them) as it starts; started by another fixture before the
    // hook was installed, they are made here.
    if (!AZPBlocks()->linkerNames) AZPAllocInit();
    ASSERT_EQ(TypeHeapInit(), kNoErr);
    vi_ = vib::NewVI();
    ASSERT_NE(vi_, nullptr);
    ASSERT_EQ(RegisterVI(vi_), kNoErr);
    panel_ = vib::NewPanel(vi_);
    ASSERT_NE(panel_, nullptr);
    std::memcpy(VIRec(vi_)->name, "\004Test", 5);
  }
  void TearDown() override {
    if (window_) {
      PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, 0);
      WDestroy(window_);
    }
    if (DSAllocCurrentState()->active) AllocEndPass();
    MemFailNthAllocation(0);
    MemFullReset();
    UnregisterVI(vi_);
    vib::DisposeVI(vi_);
    for (UHandle h : handles_) AZDisposeHandle(h);
    EngineTest::TearDown();
  }

  // An object of the class, of the class's instance size.
  int32 Obj(int32 cls, int32 owner = 0, int16 partId = 0, int16 order = 0) {
    int32 o = vib::NewObject(panel_, cls, ClassRecord(cls)->instanceSize, owner, partId, order);
    EXPECT_NE(o, 0);
    return o;
  }
  TypeID Type(const tdb::TD& td) {
    std::vector<uChar> b = td.Bytes();
    TypeID id = NewTypeIDForTD(panel_, tdb::AsTD(b));
    EXPECT_NE(id, 0u);
    return id;
  }
  // A "Front Panel" root for the heap, bound to the VI's data space.
  int32 MakeRoot() {
    int32 root = FPNewPanelRoot(panel_);
    EXPECT_NE(root, 0);
    if (!root) return 0;
    int32 ext = int32(OHWord(panel_, kOHExtension));
    PutNative32(*panel_ + ext + kHeapExtRoot, uInt32(root));
    SetW(root, kPanelRootDataSpaceWord, int32(uintptr_t(DS())));
    return root;
  }
  int32 W(int32 obj, int32 word) const { return ObjWord(panel_, obj, word); }
  void SetW(int32 obj, int32 word, int32 v) { ObjSetWord(panel_, obj, word, v); }
  MgErr Alloc(int32 obj) { return AllocObjDataSpace(panel_, obj); }

  UHandle DS() const { return VIRec(vi_)->dataSpace; }
  UHandle TDH() const { return VIRec(vi_)->dsTypeMap; }
  int32 EntryCount() const { return int16(GetNative16(*TDH() + 4)); }
  int32 UsedSize() const { return DSHdr(DS())->size; }
  const TypeDescriptor* EntryTD(int32 tdOffset) const {
    return reinterpret_cast<const TypeDescriptor*>(*TDH() + tdOffset);
  }
  // A handle disposed at the end of the test.
  UHandle Keep(UHandle h) {
    handles_.push_back(h);
    return h;
  }
  // A hidden headless window (content 0, 0 to 400, 600) that shows the
  // panel: heap extension word 10; nothing waits to be redrawn in it.
  WindowRef ShowInWindow() {
    const Rect place{0, 0, 400, 600};
    window_ = WCreate(0, nullptr, nullptr, &place, 0, 0, 0);
    EXPECT_NE(window_, kWNoWindow);
    PutNative32(*panel_ + OHWord(panel_, kOHExtension) + kHeapExtWindow, uInt32(window_));
    WValidate(window_);
    return window_;
  }
  // The bounding box of the window's area waiting to be redrawn (empty:
  // nothing), the area emptied.
  Rect TakeInvalid() {
    Rect r{0, 0, 0, 0};
    WGetUpdateRect(window_, &r);
    WValidate(window_);
    return r;
  }
  // Whether the pixel (h, v) waits to be redrawn.
  bool InvalidAt(int32 h, int32 v) {
    DRgn rgn = DRectRgn(nullptr);
    PlatGetUpdateRgn(WHostWindow(window_), rgn);
    const bool in = DPtInRgn(int32((uInt32(h) << 16) | uInt16(v)), rgn);
    DDestroyRgn(rgn);
    return in;
  }
  void SetBounds(int32 obj, Rect r) { std::memcpy(*panel_ + obj + kObjBounds, &r, sizeof r); }
  static std::vector<int16> R(const Rect& r) { return {r.top, r.left, r.bottom, r.right}; }

  static int Reports(const char* what) { return qxtest::Reports::Get().Count(what); }
  // The assertion failures reported since the last ClearReports.
  static int Asserts() { return Reports("Failure "); }

  UHandle vi_ = nullptr;
  ObjHeap panel_ = nullptr;
  WindowRef window_ = 0;
  std::vector<UHandle> handles_;
};

// A panel with its "Front Panel" root bound to the VI's data space, and
// controls made of a data controller around a display object.
class PanelRootTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    if (HasFatalFailure()) return;
    root_ = MakeRoot();
    ASSERT_NE(root_, 0);
  }
  // A data controller of the type (a part of owner, 0 for none) around a
  // display object of the class that shows it.
  int32 Control(const tdb::TD& td, int32 cls, int32* display, int32 owner = 0) {
    TypeID t = Type(td);
    int32 dco = Obj(kClsFPDataController, owner);
    *display = Obj(cls);
    SetW(*display, kPWOwner, dco);  // a controller's word 6 is its record, not a part list
    SetW(dco, kPWDCOTypeId, int32(t));
    SetW(*display, kPWDDOTypeId, int32(t));
    SetW(dco, kPWDCODisplay, *display);
    return dco;
  }

  int32 root_ = 0;
};

}  // namespace ptest
