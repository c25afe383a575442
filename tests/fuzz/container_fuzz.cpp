// The container control's stored words and its two "STRG" resources (the
// object record and the saved object) come from VI files.  The input gives
// the stored words, both resources (a valid host state or raw bytes, with
// a count that may overrun them) and a failure for the host's next load;
// the container is loaded (the alert answered "Continue"), drawn, moved,
// copied and both are disposed.  Invariants: nothing reads past a handle
// (the sanitizer's), no handle and no host object outlives the run, and a
// container holds an object only when its saved state was a good one.
#include <cstdint>
#include <cstring>
#include <vector>

#include "controls/container.h"
#include "controls/cursorlegend.h"
#include "engine/typemgr.h"
#include "engine/vi/objload.h"
#include "engine/vi/panelroutines.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "panel/ctrl_internal.h"
#include "panel/objdraw.h"
#include "panel/objload.h"
#include "platform/qx_embed.h"
#include "server/embobj.h"
#include "tools/rsrcwriter.h"
#include "tools/vibuilder.h"

namespace {

constexpr uInt32 kSTRG = FourCC("STRG");

int32 Continue(int32, const void*, ConstPStr, ConstPStr, int32, int32, int32) { return 1; }

ContainerEmbHooks Hooks() {
  ContainerEmbHooks h{};
  h.loadFromResource = [](UHandle saved, UHandle* record, WindowRef window, const ContainerAmbient* a,
                          const Rect* bounds, int32* flags) {
    EmbAmbientInfo info{};
    if (a) info = {a->background, a->foreground, a->textRecord, a->text, 0};
    return EmbLoadFromResource(saved, record, window, a ? &info : nullptr, bounds, flags);
  };
  h.saveObject = &EmbSaveObject, h.destroy = &EmbDestroy, h.activate = &EmbActivate, h.getFlags = &EmbGetFlags;
  h.setWindow = &EmbSetWindow, h.setBounds = &EmbSetBounds, h.getBounds = &EmbGetBounds, h.focus = &EmbFocus;
  h.getPicture = &EmbGetPicture, h.ambientForeground = &EmbAmbientFGColor, h.ambientBackground = &EmbAmbientBGColor;
  h.ambientDisplayName = &EmbAmbientDisplayName, h.ambientFont = &EmbAmbientFont, h.recordSwap = &EmbRecordSwap;
  h.detachWindow = &EmbDetachWindow, h.hasObject = &EmbHasObject, h.disposeRecord = &EmbDisposeRecord;
  h.dupRecord = &EmbDupRecord, h.updateDispatch = &EmbUpdateDispatch, h.twoButtonAlert = &Continue;
  return h;
}

struct Base {
  UHandle vi = nullptr;
  WindowRef window = 0;
};

void Run(Base& b, ObjHeap heap, FuzzReader& in);

rsrcw::Bytes Take(FuzzReader& in, size_t most) {
  rsrcw::Bytes b;
  for (size_t n = in.Byte() % (most + 1); n && in.n; --n) b.push_back(in.Byte());
  return b;
}

void RunOne(Base& b, FuzzReader& in) {
  // A panel heap of the VI's, shown in the window, for this run only.
  ObjHeap heap = OHNewHeap(1024, kPanelHeapKind, kHeapExtensionSize, kClsObjHeapHdrExtension);
  if (!heap) return;
  PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtOwner, uInt32(uintptr_t(b.vi)));
  PutNative32(*heap + OHWord(heap, kOHExtension) + kHeapExtWindow, uInt32(b.window));
  Run(b, heap, in);
  OHDisposeHeap(heap);
}

void Run(Base& b, ObjHeap heap, FuzzReader& in) {
  const int32 c = vib::NewObject(heap, kClsContainerId, kContainerSize, 0, 0);
  const int32 cell = c ? vib::NewObject(heap, kClsCosmetic, ClassRecord(kClsCosmetic)->instanceSize, c,
                                        kContainerCellArea) : 0;
  if (!c || !cell) return;
  const Rect r{int16(in.Byte()), int16(in.Byte()), int16(100 + in.Byte()), int16(100 + in.Byte())};
  std::memcpy(*heap + c + kObjBounds, &r, sizeof r);
  std::memcpy(*heap + cell + kObjBounds, &r, sizeof r);
  // The stored words (nonzero: a resource follows), and both resources.
  const uInt32 flags = in.Byte();
  ObjSetWord(heap, c, kContainerRecordWord, int32(flags & 1));
  ObjSetWord(heap, c, kContainerSavedWord, int32(flags & 2));
  rsrcw::Bytes record, saved, state;
  if (flags & 4) {
    record = Take(in, 28);
  } else {
    for (uInt32 w : {1u, in.Word(), in.Word(), in.Word(), in.Word()})
      for (int i = 3; i >= 0; --i) record.push_back(uChar(w >> (8 * i)));
  }
  if (flags & 8) {
    state = Take(in, 40);
  } else {
    QxEmbedState st{in.Word(), int32(in.Byte()), int32(in.Byte()), in.Byte(), in.Word()};
    state = QxEmbedWriteState(st);
  }
  const int32 count = (flags & 16) ? int32(in.Word()) : int32(state.size());
  for (int i = 3; i >= 0; --i) saved.push_back(uChar(uInt32(count) >> (8 * i)));
  saved.insert(saved.end(), state.begin(), state.end());
  if (flags & 32) saved.resize(in.Byte() % (saved.size() + 1));
  QxEmbedFailNextLoad((flags & 64) ? in.Byte() : 0);
  rsrcw::Writer w(FourCC("LVIN"), FourCC("QNLX"));
  int32 id = 101;
  if (flags & 1) w.Add(kSTRG, id++, record);
  if (flags & 2) w.Add(kSTRG, id++, saved);
  const rsrcw::Bytes file = w.Write();
  UHandle fh = AZNewHandle(int32(file.size()));
  if (!fh) return;
  std::memcpy(*fh, file.data(), file.size());
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, fh) != kNoErr) {
    AZDisposeHandle(fh);
    return;
  }
  OHForEachBlock(heap, [](ObjHeap h, int32 o) { return OHSetBlockMarkWord(h, o, 0), 0; });
  OHSetBlockMarkWord(heap, c, 100);
  ClearObjLoadAbort();
  const bool loaded = OLoadHeapObjects(heap, ref) == 0;
  RCloseFile(ref);
  OHForEachBlock(heap, [](ObjHeap h, int32 o) { return OHSetBlockMarkWord(h, o, 0), 0; });
  QxEmbedFailNextLoad(0);
  UHandle rec = reinterpret_cast<UHandle>(uintptr_t(uInt32(ObjWord(heap, c, kContainerRecordWord))));
  if (EmbHasObject(rec)) {
    QxEmbedState st;
    FUZZ_CHECK(loaded && QxEmbedReadState(state.data(), int32(state.size()), &st));
    FUZZ_CHECK(count >= 0 && size_t(count) <= state.size());
  }
  if (loaded) {
    WPortState port{};
    WSetup(b.window, &port);
    ODraw(heap, c, nullptr, int32(0), int32(kDrawModeNormal));
    PanelSetImagingMode(kPanelDrawPrint);
    ODraw(heap, c, nullptr, int32(0), int32(kDrawModeNormal));
    PanelSetImagingMode(kPanelDrawScreen);
    WRestore(&port);
    OOffset(heap, c, Point{int16(in.Byte() - 128), int16(in.Byte() - 128)});
    OHBeginMarkPassPair(heap, heap);
    OCopy(heap, c, heap, int32(0), int32(0));
    const int32 copy = OHBlockMarkWord(heap, c);
    OHEndMarkPassPair(heap, heap);
    if (copy && copy != c && OHIsUsedBlock(heap, copy) && ObjClass(heap, copy) == kClsContainerId)
      ODispose(heap, copy);
    ODispose(heap, c);
  } else {
    ODisposeAfterAbort(heap);
    ClearObjLoadAbort();
  }
  FUZZ_CHECK(QxEmbedCount() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Base* base = [] {
    PanelInstallEngineHooks();
    ControlsInstallPanelHooks();
    if (!FuzzStartManagers(FuzzAbortWhenArmed) || RInitResources() != kNoErr) return static_cast<Base*>(nullptr);
    DInitDraw();
    EmbSetContainerProcs(EmbHostProcs());
    SetContainerEmbHooks(Hooks());
    Base* b = new Base;
    b->vi = vib::NewVI();
    const Rect place{0, 0, 300, 400};
    b->window = WCreate(0, nullptr, nullptr, &place, 0, 0, 0);
    if (!b->vi || !b->window) return static_cast<Base*>(nullptr);
    // The managers' own tables (resource files, images, drawing) are made by
    // first runs: an empty container and one whose object loads.
    for (const std::vector<uint8_t>& warm : {std::vector<uint8_t>{}, std::vector<uint8_t>{0, 0, 0, 0, 3}}) {
      FuzzReader in{warm.data(), warm.size()};
      RunOne(*b, in);
    }
    return b;
  }();
  if (!base) return 0;
  return FuzzRunLeakChecked(data, size, [&](FuzzReader& in) { RunOne(*base, in); });
}
