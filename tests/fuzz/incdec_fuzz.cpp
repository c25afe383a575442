// Stepping values whose representation, limits, flags, kind, text, cursor
// and ring item list are whatever the panel data held, pressed and held
// with the clock moved between calls.  A step that starts inside its limits
// never leaves them unless the kind wraps; nothing is read past a list or a
// text (the sanitizers watch); a found text step is positive and finite.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/dsalloc.h"
#include "engine/panelrec.h"
#include "engine/typemgr.h"
#include "engine/vi/panelroutines.h"
#include "engine/vi/viinst.h"
#include "fuzz_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/numconv.h"
#include "mgsource/window/winproc.h"
#include "panel/datamsg.h"
#include "panel/methsupport.h"
#include "panel/numincdec.h"
#include "panel_fuzz_support.h"
#include "platform/qx_time.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

namespace {

using Input = FuzzReader;

// A field as a number to compare with: extended values as the double the
// step works them in.
long double AsNumber(int32 repr, const uChar* field) {
  const int32 code = repr & 0xF;
  long double x = 0;
  if (code == kTDEXT) {
    std::memcpy(&x, field, 10);
    return (long double)double(x);
  }
  ConvertNum(code >= kTDI8 && code <= kTDEXT && code != kTDI64 && code != kTDU64 ? code : kTDI32, field, kTDEXT, &x);
  if (code == kTDI64 || code == kTDU64) {
    int64 i;
    std::memcpy(&i, field, 8);
    return code == kTDI64 ? (long double)i : (long double)uInt64(i);
  }
  return x;
}

// A state of random fields, pressed and held: inside its limits it stays.
void FuzzSteps(Input& in) {
  ActionParams p{};
  IncDecState* s = IncDecOf(&p);
  s->repr = int16(in.Byte() % 16), s->kind = int16(in.Byte() % 3), s->rangeFlags = uInt16(in.Byte() & 0xE0);
  s->multiplier = int16((const int16[]){16, 8, 2, 10}[in.Byte() % 4]);
  s->pressState = int16(1 + in.Byte() % 2), s->selStart = s->selEnd = -1;
  for (uChar* f : {s->value, s->min, s->max, s->increment}) in.Bytes(f, 10);
  if (s->repr == kTDEXT)  // the unused bytes of an extended field stay clear
    for (uChar* f : {s->value, s->min, s->max, s->increment}) f[8] &= 0x7F, f[9] &= 0x43;
  bool checked = false;
  long double lo = 0, hi = 0;
  for (int32 k = 0; k < 24 && in.n; ++k) {
    p.modifiers = in.Byte() & 1 ? kWModShift : 0;
    const long double before = AsNumber(s->repr, s->value);
    const int32 r = IncDecStep(nullptr, 0, &p);
    FUZZ_CHECK(r == 0 || r == 8);
    if (k == 0) {
      // The limits as the first press completed them.
      lo = AsNumber(s->repr, s->min), hi = AsNumber(s->repr, s->max);
      checked = !(s->kind & kIncKindWraps) && before >= lo && before <= hi && IncDecProcFor(s->repr);
    }
    if (checked) {
      const long double now = AsNumber(s->repr, s->value);
      FUZZ_CHECK(now >= lo && now <= hi);
    }
    if (s->pressState <= kArrowDown) s->pressState = int16(s->pressState + 2);
    PlatTickShift(in.Byte() % 4 * 100);
  }
}

// Text steps of any text and cursor.
void FuzzText(Input& in) {
  uChar text[300];
  const int32 len = in.Byte() % 40;
  for (int32 i = 0; i < len; ++i) text[i] = "0123456789.:/-eE+ 5"[in.Byte() % 19];
  const int32 cursor = int32(in.Byte()) - 8;
  ActionParams p{};
  IncDecState* s = IncDecOf(&p);
  s->repr = int16((const int16[]){kTDI32, kTDU8, kTDDBL, kTDSGL, kTDEXT, kTDI64}[in.Byte() % 6]);
  s->pressState = int16(1 + in.Byte() % 2);
  in.Bytes(s->value, 8);
  uChar step[16] = {};
  Bool32 found = 0;
  switch (in.Byte() % 3) {
    case 0: found = IncDecDecimalStep(text, len, cursor, s->repr, step); break;
    case 1: found = IncDecRelTimeStep(text, len, cursor, s->repr, step); break;
    default: found = IncDecDateTimeStep(text, len, cursor, int32(in.Word() % 1025), s, step); break;
  }
  if (found) {
    const long double x = AsNumber(s->repr, step);
    FUZZ_CHECK(x > 0 && std::isfinite(double(x)));
  }
}


// A numeric or ring of the panel: its range word, range flags, value and
// ring item list from the input, stepped through set-up.
void FuzzControl(Input& in, ObjHeap heap, int32 root) {
  const bool ring = in.Byte() & 1;
  const tdb::TD types[] = {tdb::I8(), tdb::U8(), tdb::I32(), tdb::DBL(), tdb::U16(), tdb::I64(), tdb::SGL(),
                           tdb::U32()};
  const int32 n = FuzzNewControl(heap, root, types[in.Byte() % 8], ring ? kClsRing : kClsNumeric);
  if (!n) return;
  ObjSetWord(heap, n, 8, int32(in.Word()));
  if (in.Byte() >= 160) ObjSetWord(heap, n, kPWNumRange, int32(in.Word()));
  if (const UHandle items = ring ? ObjItemData(heap, n) : nullptr) {
    const int32 count = in.Byte() % 7;
    if (DSSetHandleSize(items, 4 + 4 * count) == kNoErr)
      for (int32 i = 0; i < count; ++i) PutNative32(*items + 4 + 4 * i, in.Byte() & 1);
    if (DSGetHandleSize(items) >= 4) PutNative32(*items, count);
  }
  for (int32 k = 0; k < 6 && in.n; ++k) {
    ActionParams p{};
    IncDecState* s = IncDecOf(&p);
    s->kind = ring ? kIncKindRing : kIncKindNumeric;
    s->pressState = int16(1 + in.Byte() % 2);
    const UPtr data = NumIncDecSetup(heap, n, &p, in.Byte() & 1);
    if (!data) continue;
    in.Bytes(data, 2);
    std::memcpy(s->value, data, 2);
    const int32 reply = NumIncDecArrow(heap, n, &p, s->data, s->repr);
    if (reply & 8) FUZZ_CHECK(std::memcmp(s->data, s->value, size_t(NumSize(s->repr & 0xF))) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = [] {
    PanelInstallEngineHooks();
    MemSetDataSpaceInitHook(&AZPAllocInit);
    return FuzzStartManagers(FuzzAbortWhenArmed) && TypeHeapInit() == kNoErr;
  }();
  if (!init || size > 2048) return 0;
  Input in{data, size};
  const int32 live = FuzzLiveHandles();
  FuzzArmed() = true;
  switch (in.Byte() % 3) {
    case 0: FuzzSteps(in); break;
    case 1: FuzzText(in); break;
    default: {
      UHandle vi = nullptr;
      ObjHeap heap = FuzzNewRegisteredPanel(&vi);
      if (!heap) break;
      VIRec(vi)->flags2 = in.Byte() & 1 ? 0x80000 : 0;
      const int32 root = FuzzPanelRoot(heap);
      FuzzControl(in, heap, root);
      UnregisterVI(vi);
      FuzzDisposePanel(heap, vi);
    }
  }
  FuzzArmed() = false;
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
