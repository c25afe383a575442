// Pictures from resources, files and diagram data are not trusted: any
// bytes become a picture that is played into a pixmap and, while another
// picture records, into that recording, which is then played too.  Nothing
// is read past the picture (the sanitizers watch), nothing is asserted on,
// and everything a playback makes is undone: the pens, the fonts, the clip,
// the handles and the image entries.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "tests/draw_start.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dprims.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/picture.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_window.h"

namespace {

// The text slot is not built yet: its report ("... not available") is
// expected; any other report while armed is a fault.
int32_t Alert(const char* title, const char* text, int32_t buttons, int32_t def) {
  if (text && std::strstr(text, " not available")) return PlatAlertDefaultAnswer(buttons);
  return FuzzAbortWhenArmed(title, text, buttons, def);
}

WindowRef gWindow = kWNoWindow;
int32 gPixmap = 0;

bool Init() {
  if (!FuzzStartManagers(Alert)) return false;
  static WPortState saved;
  gWindow = StartDrawingWindow(Rect{40, 40, 140, 240}, &saved);
  if (!gWindow) return false;
  // The point buffer of polylines lives on once made: made here, it is no
  // handle a playback leaves behind.
  DSetPointBuf(1);
  const Rect frame{0, 0, 64, 64};
  return ICreatePixmap(gWindow, &frame, 32, &gPixmap) == kNoErr;
}

// The number the next pen takes: the same after a playback when every pen
// it made is gone.
int32 NextPen() {
  const int32 pen = DNewPen(kDefaultPenBase, 0, nullptr);
  DDestroyPen(pen);
  return pen;
}

// Font slots keep their handles as a cache when their references end: the
// handles are counted with a fresh font table.
struct State {
  int32 pen, appRefs, liveHandles;
  Rect clip;
  bool clipped;
};
int32 HandlesWithFreshFonts() {
  TXFinishFonts();
  TXInitFonts();
  return FuzzLiveHandles();
}
State Snapshot(bool handles) {
  State s{NextPen(), TFontReferences(TStandardFont(0)), handles ? HandlesWithFreshFonts() : 0, {}, false};
  s.clipped = WGetClipRect(gWindow, &s.clip);
  return s;
}
// Pens, fonts and the clip as they were; with handles, the handles too.
bool Same(const State& a, const State& b, bool handles) {
  const bool same = a.pen == b.pen && a.appRefs == b.appRefs && (!handles || a.liveHandles == b.liveHandles) &&
                    a.clipped == b.clipped && (!a.clipped || std::memcmp(&a.clip, &b.clip, sizeof a.clip) == 0);
  if (!same)
    std::fprintf(stderr, "before: pen %d, font references %d, handles %d, clipped %d; after: %d, %d, %d, %d\n",
                 int(a.pen), int(a.appRefs), int(a.liveHandles), int(a.clipped), int(b.pen), int(b.appRefs),
                 int(b.liveHandles), int(b.clipped));
  return same;
}

int32 UsedImages() {
  int32 n = 0;
  for (int32 id = 1; id <= IImageTableCount(); ++id) n += IKindOf(id) != 0;
  return n;
}

void PlayInto(int32 target, int32 pict, const Rect& dst) {
  ImageSaveRecord save;
  IOpen(target, &save);
  IDrawPicture(pict, nullptr, &dst, 0, 0, 0, 0);
  IClose(target, &save);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  if (!ready || size < 2 || size > (1 << 16)) return 0;
  // The first byte: live references and the destination's size; the rest
  // the picture (its length word included).
  const bool live = data[0] & 0x80;
  const int16 side = int16(8 + (data[0] & 0x3F));
  const Rect frame{0, 0, 32, 32}, dst{4, 4, int16(4 + side), int16(4 + side)};
  const int32 images = UsedImages();
  const State before = Snapshot(true);
  FuzzArmed() = true;
  UHandle h = FuzzPictureHandle(data + 1, size - 1);
  FUZZ_CHECK(h);
  int32 pict = 0;
  FUZZ_CHECK(ICreatePict(gWindow, &frame, 32, h, live ? kImageLive : 0, &pict) == kNoErr);
  PlayInto(gPixmap, pict, dst);
  FUZZ_CHECK(Same(before, Snapshot(false), false));

  // Into a recording, which is a picture of this process: then played too.
  int32 copy = 0;
  FUZZ_CHECK(ICreatePict(gWindow, &frame, 32, nullptr, 0, &copy) == kNoErr);
  PlayInto(copy, pict, frame);
  PlayInto(gPixmap, copy, dst);
  FUZZ_CHECK(IRelease(copy) == kNoErr);
  FUZZ_CHECK(IRelease(pict) == kNoErr);
  MemFullReset();
  FuzzArmed() = false;
  FUZZ_CHECK(Same(before, Snapshot(true), true));
  // Every image the recording made (of pixel blocks) went with it.
  FUZZ_CHECK(UsedImages() == images);
  return 0;
}
