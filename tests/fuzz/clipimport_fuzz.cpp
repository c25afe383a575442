// Text another program put on the system clipboard becomes the panel
// clipboard's label: its bytes and a count word that may not match them.
// The import reads no byte past the handle and leaves the clipboard either
// holding exactly the counted text in one selected label (kind 4), or empty
// (kind 0, no label).  "Paste Data" is then offered to a string exactly
// when the clipboard holds text, a paste into a string or a numeric ends
// with no key focus, and a paste into the focus without one does nothing.
// Nothing is left behind.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/vi/rtrsrc.h"
#include "fuzz_support.h"
#include "mgsource/objlist.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/textrec.h"
#include "panel/oinit.h"
#include "panel/operate.h"
#include "panel/osupport.h"
#include "panel/textparts.h"
#include "panel_fuzz_support.h"
#include "tools/dlgwriter.h"
#include "tools/rsrcwriter.h"

namespace {

bool Init() {
  if (!FuzzStartPanelManagers() || RInitResources() != kNoErr) return false;
  // The label templates the clipboard's labels are made from.
  rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
  dlgwriter::AddLabelTemplates(&w);
  const rsrcw::Bytes file = w.Write();
  UHandle fh = AZNewHandle(int32(file.size()));
  if (!fh) return false;
  std::memcpy(*fh, file.data(), file.size());
  RsrcFileRef rf = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &rf, nullptr, nullptr, fh) != kNoErr) return false;
  SetRunTimeRsrcFile(rf);
  FPPanelClipboardLife(1);
  return PanelClipboardVI() != nullptr;
}

ObjHeap ClipHeap() { return VIRec(PanelClipboardVI())->panelHeap; }

int32 RootObjects(ObjHeap heap) {
  const int32 root = FuzzPanelRoot(heap);
  const int32 list = ObjWord(heap, root, kRootObjectListWord);
  return list ? ObjListCount(heap, list) : 0;
}

std::vector<uint8_t> TextOf(ObjHeap heap, int32 part) {
  const TRecord t = PartTextRecord(heap, part);
  const UHandle h = t ? TGetText(t) : nullptr;
  if (!h || !*h) return {};
  return std::vector<uint8_t>(*h + 4, *h + 4 + GetNative32(*h));
}

// A control with a text part of the id, its controller in the root's
// controller list too; its text part, or 0.
int32 TextControl(ObjHeap heap, const tdb::TD& type, int32 cls, int16 textId, int32* control) {
  *control = FuzzNewControl(heap, FuzzPanelRoot(heap), type, cls);
  if (!*control) return 0;
  const int32 root = FuzzPanelRoot(heap);
  int32 items = ObjWord(heap, root, kRootItemList / 4);
  const int32 dco = ObjWord(heap, *control, kPWOwner);
  if (!items) items = vib::NewList(heap, {dco});
  else if (OHListInsert(heap, &items, dco, kObjListAppend) != kNoErr) return 0;
  ObjSetWord(heap, root, kRootItemList / 4, items);
  const int32 part = vib::NewObject(heap, kClsLabel, ClassRecord(kClsLabel)->instanceSize, *control, textId);
  const Rect r{10, 10, 30, 80};
  if (part) std::memcpy(*heap + part + kObjBounds, &r, sizeof r);
  return part && SetPartText(heap, part, reinterpret_cast<const uChar*>("0"), 1, 0, 0) == 0 ? part : 0;
}

void Run(const uint8_t* data, size_t size, bool counted);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One paste of each kind first: what the managers keep from the first
  // use on (type entries, fonts, templates) is made before handles count.
  static const uint8_t kWarm[][5] = {{2, '1', '2', '.', '5'}, {0, '1', '2', '.', '5'}};
  static bool init = Init() && (Run(kWarm[0], 5, false), Run(kWarm[1], 5, false), true);
  if (!init || size < 1 || size > 1024) return 0;
  Run(data, size, true);
  return 0;
}

namespace {

void Run(const uint8_t* data, size_t size, bool counted) {
  FuzzReader in{data, size};
  const uint8_t mode = in.Byte();
  const int32 live = FuzzLiveHandles();
  // The text: the rest of the input, its count word true or taken from the
  // input.
  const int32 n = int32(size - 1);
  LStrHandle text = reinterpret_cast<LStrHandle>(DSNewHandle(4 + n));
  if (!text) return;
  std::memcpy((*text)->str, data + 1, size_t(n));
  int32 count = n;
  if (mode & 1) std::memcpy(&count, data + 1, n >= 4 ? 4 : 0);
  (*text)->cnt = count;
  const bool whole = count >= 0 && count <= n;

  UHandle vi = nullptr;
  ObjHeap heap = FuzzNewRegisteredPanel(&vi);
  if (!heap) {
    DSDisposeHandle(reinterpret_cast<UHandle>(text));
    return;
  }
  int32 numeric = 0, string = 0;
  const int32 numText = TextControl(heap, tdb::DBL(), kClsNumeric, 10, &numeric);
  const int32 strText = numText ? TextControl(heap, tdb::String(), kClsString, 11, &string) : 0;

  ImportClipboardText(text);
  const ObjHeap clip = ClipHeap();
  const int32 kind = PanelClipboardKind();
  FUZZ_CHECK(kind == 0 || kind == 4);
  if (kind == 0) FUZZ_CHECK(RootObjects(clip) == 0 && FPSelectionCount(clip) == 0);
  if (kind == 4) {
    FUZZ_CHECK(whole && FPSelectionCount(clip) == 1 && RootObjects(clip) == 1);
    FUZZ_CHECK(TextOf(clip, FPSelectedObject(clip, 0)) == std::vector<uint8_t>(data + 1, data + 1 + count));
  }
  if (strText) {
    FUZZ_CHECK(PasteTextToFocus(heap, clip, FPSelectedObject(clip, 0), kind) == 0);
    FUZZ_CHECK(PasteDataEnabled(heap, string) == (kind == 4 ? 1 : 0));
    const Bool32 intoNumeric = PasteDataEnabled(heap, numeric);
    FUZZ_CHECK(intoNumeric == 0 || intoNumeric == 1);
    const int32 target = mode & 2 ? string : numeric;
    if (PasteDataEnabled(heap, target)) {
      FUZZ_CHECK(PasteDataToObject(heap, target) == 1);
      FUZZ_CHECK(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtKeyFocus) == 0);
    }
  }
  ClearPanelClipboard();
  for (int32 part : {numText, strText})
    if (part)
      if (const TRecord t = PartTextRecord(heap, part)) TDispose(t);
  if (UHandle saved = reinterpret_cast<UHandle>(uintptr_t(GetNative32(*heap + int32(OHWord(heap, kOHExtension)) + kHeapExtSavedFrames))))
    AZDisposeHandle(saved);
  UnregisterVI(vi);
  FuzzDisposePanel(heap, vi);
  FUZZ_CHECK(!counted || FuzzLiveHandles() == live);
}

}  // namespace
