// Attaching a drawing target: the drawing state that the host port reads
// is filled from the target image, and the port for it installed.  IOpen
// and IClose nest drawing into pixmaps and pictures inside the current
// target.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mgsource/debug.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/picture.h"
#include "mgsource/draw/psport.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "mgsource/draw/imagedraw.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "mgsource/rects.h"
#include "platform/qx_dc.h"
#include "platform/qx_draw.h"
#include "platform/qx_metafile.h"
#include "platform/qx_paint.h"

namespace {

PlatWindow gDcWindow = 0;  // the host window an obtained context goes back to

// The recording contexts of metafile images being drawn into, by image:
// they outlive detaching (a nested target comes and goes) and end at their
// image's IClose.
struct MetaRecording {
  int32 image;
  PlatObj dc;
};
std::vector<MetaRecording> gMetaRecordings;

PlatObj MetaDcOf(int32 image) {
  for (const MetaRecording& m : gMetaRecordings)
    if (m.image == image) return m.dc;
  return 0;
}

// A recording context for a metafile image, described as the system's
// metafile; the file name (the temporary folder's qx.emf) is given only
// when it is short enough.
PlatObj NewMetaDc() {
  static const char kDescription[] = "Quenlix metafile\0";  // two zero bytes end it
  std::string name;
  Path temp = nullptr;
  if (FTempDirPath(&temp) == kNoErr && temp) {
    if (UHandle text = FPathToCStrHandle(temp)) {
      name.assign(reinterpret_cast<const char*>(*text), strnlen(reinterpret_cast<const char*>(*text), size_t(AZGetHandleSize(text))));
      AZDisposeHandle(text);
    }
    FDisposePath(temp);
  }
  const bool named = !name.empty() && name.size() + 10 < 260;
  if (named) name += "\\qx.emf";
  return PlatCreateMetafileDc(named ? name.c_str() : nullptr, kDescription);
}

// Offscreen drawing: one shared pixmap, its save record and the nesting.
int32 gOffscreen = 0;
ImageSaveRecord gOffscreenSave{};
uInt16 gOffscreenDepth = 0;

void PutDefaultObjects(PlatObj dc) {
  if (!dc) return;
  PlatSelectObject(dc, PlatGetStockObject(kPlatStockBlackPen));
  PlatSelectObject(dc, PlatGetStockObject(kPlatStockWhiteBrush));
}

// Gives back a context obtained from the window (the window puts it back as
// it was made), puts the default pen, brush and palette back into any other,
// deletes a memory context, and clears the state (the clip region handle is
// kept for reuse).
void Detach() {
  DDrawState& s = gDrawState;
  if (s.dc && s.obtainedDc) {
    // Given back, the context is put back as it was made.
    PlatReleaseDc(gDcWindow, s.dc);
  } else if (s.dc) {
    PutDefaultObjects(s.dc);
    PlatSelectPalette(s.dc, PlatGetStockObject(kPlatStockPalette));
  }
  if (s.memDc) PlatDeleteDc(s.memDc);
  // The next context holds none of the pens: the next selection applies
  // everything again.
  DForgetPen();
  const DRgn keep = s.clipRgn;
  s = DDrawState{};
  s.clipRgn = keep;
  DSetPortTarget(0);
}

bool AttachPixmap(int32 image, PlatObj paintDc) {
  DDrawState& s = gDrawState;
  Rect src{0, 0, 0, 0};
  int32 depth = 0;
  if (paintDc) {
    s.dc = paintDc;
  } else {
    const PlatObj bitmap = ILockHost(image, &src, &depth);
    if (!bitmap) return false;
    const PlatObj dc = PlatCreateMemoryDc();
    if (!dc) return false;
    if (!PlatSelectObject(dc, bitmap)) {
      PlatDeleteDc(dc);
      DBAssert(__FILE__, __LINE__, "IAttachTarget: the pixmap's bitmap is in use");
      return false;
    }
    PlatSetBkMode(dc, kPlatBkTransparent);
    if (PlatObj palette = DAppPalette()) PlatSelectPalette(dc, palette);
    s.dc = s.memDc = dc;
  }
  Rect bounds{0, 0, 0, 0};
  IGetRect(image, &bounds);
  s.originH = bounds.left;
  s.originV = bounds.top;
  return true;
}

// Ends the recording of a metafile image: the metafile becomes its data
// (one it held before is deleted, with its cached renderings) and its
// bounds those of what was drawn, moved to the origin.
void EndMetaRecording(int32 image) {
  PlatObj dc = 0;
  for (auto it = gMetaRecordings.begin(); it != gMetaRecordings.end(); ++it)
    if (it->image == image) {
      dc = it->dc;
      gMetaRecordings.erase(it);
      break;
    }
  if (!dc) return;
  const PlatMetafile mf = PlatCloseMetafileDc(dc);
  ImageEntry* e = IEntryPtr(image);
  if (!e || !mf) {
    if (mf) PlatDeleteMetafile(mf);
    return;
  }
  if (e->data) {
    IMetaCacheDrop(e->data);
    PlatDeleteMetafile(PlatMetafile(e->data));
  }
  e->data = mf;
  PlatMetaHeader header{};
  UHandle info = IHandleOf(e->extra);
  if (info && AZGetHandleSize(info) >= int32(sizeof(MetaInfo)) && PlatGetMetafileHeader(mf, &header)) {
    // The header's right and bottom are the last pixels drawn.
    const int32 w = header.bounds.right - header.bounds.left + 1, h = header.bounds.bottom - header.bounds.top + 1;
    reinterpret_cast<MetaInfo*>(*info)->bounds = Rect{0, 0, int16(std::clamp(h, 0, 32767)), int16(std::clamp(w, 0, 32767))};
  }
}

}  // namespace

void IAttachTarget(int32 image, PlatObj paintDc) {
  const int32 window = WCurrentPort();
  Detach();
  if (!image) return;
  const int32 kind = IKindOf(image);
  if (kind != kImageWindow && kind != kImagePixmap && kind != kImagePicture && kind != kImagePage &&
      kind != kImageMeta) {
    DBAssert(__FILE__, __LINE__, "IAttachTarget: kind not supported");
    return;
  }
  DDrawState& s = gDrawState;
  s.target = uInt32(image);
  s.depth = IGetDepth(image);
  s.bw = s.depth < 4 ? 1 : 0;
  if (kind == kImageWindow) {
    const int32 w = IWindowOf(image);
    s.window = w;
    s.pageWindow = WGetStyle(w) == kWStyleRecordOnly ? 1 : 0;
    PlatObj dc = paintDc;
    if (!dc && WHasHostWindow(w)) {
      gDcWindow = WHostWindow(w);
      dc = PlatGetDc(gDcWindow);
      s.obtainedDc = dc ? 1 : 0;
    }
    s.dc = dc;
    if (dc) {
      if (PlatObj palette = DAppPalette()) PlatSelectPalette(dc, palette);
      PlatSetBkMode(dc, kPlatBkTransparent);
    }
    Point origin{0, 0};
    WGetOrigin(w, &origin);
    s.originH = origin.h;
    s.originV = origin.v;
    WGetRect(w, &s.bounds);
  } else {
    s.window = window;
    if (kind == kImagePixmap) AttachPixmap(image, paintDc);
    else if (kind == kImagePicture) s.recording = 1;
    else if (kind == kImageMeta) {
      PlatObj dc = paintDc ? paintDc : MetaDcOf(image);
      if (!dc) {
        dc = NewMetaDc();
        if (dc) gMetaRecordings.push_back(MetaRecording{image, dc});
        else DBAssert(__FILE__, __LINE__, "IAttachTarget: no metafile context");
      }
      s.dc = dc;
    }
    IGetRect(image, &s.bounds);
  }
  DSetPortTarget(image);
}

void IOpen(int32 image, ImageSaveRecord* save) {
  if (!save) {
    DBAssert(__FILE__, __LINE__, "IOpen: no save record");
    return;
  }
  DDrawState& s = gDrawState;
  const int32 window = WCurrentPort();
  if (!window || !s.target) DBAssert(__FILE__, __LINE__, "IOpen: no current window or target");
  *save = ImageSaveRecord{};
  // Another kind is refused before anything changes.
  const int32 kind = IKindOf(image);
  if (kind != kImagePixmap && kind != kImagePicture && kind != kImagePage && kind != kImageMeta) {
    DBAssert(__FILE__, __LINE__, "IOpen: kind not supported");
    save->target = int32(s.target);
    return;
  }
  // Over a window target, the window and its origin are noted for the port.
  if (s.target && IKindOf(int32(s.target)) == kImageWindow) {
    Point origin{0, 0};
    WGetOrigin(s.window, &origin);
    gNotedWindow = DNotedWindow{s.window, origin.h, origin.v};
  }
  save->dc = s.dc;
  save->memDc = s.memDc;
  save->obtainedDc = s.obtainedDc;
  save->originH = s.originH;
  save->originV = s.originV;
  save->target = int32(s.target);
  save->depth = uInt16(s.depth);
  save->bw = uInt16(s.bw);
  save->window = s.window;
  save->recording = s.recording;
  save->bounds = s.bounds;
  save->opened = 1;
  Rect clip{0, 0, 0, 0};
  if (window && WGetClipRect(window, &clip)) save->clip = clip;
  // The image starts unclipped.
  const Rect none{0, 0, 0, 0};
  WRestoreClip(&none);
  PutDefaultObjects(s.dc);
  if (kind == kImagePicture) {
    if (s.recording) DBAssert(__FILE__, __LINE__, "IOpen: a picture is already being recorded");
    PictBeginRecording(image);
  }
  // The saved contexts stay alive for IClose: the state lets go of them
  // without giving them back.
  s.dc = s.memDc = 0;
  s.obtainedDc = 0;
  IAttachTarget(image, 0);
  if (kind == kImagePage) PSOpenPage(image);  // the page's prolog
}

int32 IClose(int32 image, ImageSaveRecord* save) {
  if (!save) return DBAssert(__FILE__, __LINE__, "IClose: no save record");
  const int32 kind = IKindOf(image);
  if (!save->opened) {
    // Its IOpen refused the image and changed nothing.
    DBAssert(__FILE__, __LINE__, "IClose: kind not supported");
    return IKindOf(int32(gDrawState.target));
  }
  if (kind == kImagePage) PSClosePage(image);  // the page goes to the printer
  IAttachTarget(0, 0);
  if (kind == kImagePicture) PictEndRecording(image);
  else if (kind == kImageMeta) EndMetaRecording(image);
  else if (kind != kImagePixmap && kind != kImagePage) DBAssert(__FILE__, __LINE__, "IClose: kind not supported");
  // The previous target comes back with its own contexts.
  DDrawState& s = gDrawState;
  const int32 back = save->target;
  if (back && IKindOf(back)) {
    s.target = uInt32(back);
    s.window = save->window;
    s.dc = save->dc;
    s.memDc = save->memDc;
    s.obtainedDc = save->obtainedDc;
    s.originH = save->originH;
    s.originV = save->originV;
    s.depth = save->depth;
    s.bw = save->bw;
    s.recording = save->recording;
    s.bounds = save->bounds;
    s.pageWindow = IKindOf(back) == kImageWindow && WGetStyle(save->window) == kWStyleRecordOnly ? 1 : 0;
    if (IKindOf(back) == kImageWindow) {
      // Back on the window: at the origin noted for it, which followed the
      // window while the images were open (its clip with it), and the note
      // is forgotten.
      if (gNotedWindow.window && gNotedWindow.window == save->window) {
        const int32 dh = gNotedWindow.originH - save->originH, dv = gNotedWindow.originV - save->originV;
        if ((dh || dv) && !DEmptyRect(&save->clip)) DOffsetRect(&save->clip, int16(dh), int16(dv));
        s.originH = gNotedWindow.originH;
        s.originV = gNotedWindow.originV;
        WGetRect(save->window, &s.bounds);
      }
      gNotedWindow = DNotedWindow{};
    }
    DSetPortTarget(back);
  } else {
    // Nothing to go back to: the contexts are let go of.
    if (save->obtainedDc && save->dc) PlatReleaseDc(WHostWindow(save->window), save->dc);
    if (save->memDc) PlatDeleteDc(save->memDc);
  }
  WRestoreClip(&save->clip);
  return IKindOf(int32(s.target));
}

void IGetCurrentTarget(int32* image, int32* window) {
  if (image) *image = int32(gDrawState.target);
  if (window) *window = gDrawState.window;
}

void IEraseImage(int32 image) {
  Rect r{0, 0, 0, 0};
  if (!IKindOf(image)) {
    DBAssert(__FILE__, __LINE__, "IEraseImage: invalid image id");
    return;
  }
  IGetRect(image, &r);
  DSetClipRect(&r);
  DSelectNormPen(kWhiteColor, kWhiteColor);
  if (IKindOf(image) == kImageMeta) {
    // Two inverted lines along the right and bottom edges: the recording
    // then spans the whole rectangle.
    const PlatObj dc = gDrawState.dc;
    if (!dc) return;
    const int32 w = r.right - r.left, h = r.bottom - r.top;
    const int32 x = r.left - gDrawState.originH, y = r.top - gDrawState.originV;
    if (h > 1) PlatPatBlt(dc, x + w - 1, y, 1, h - 1, kPlatPatInvert);
    if (w > 1) PlatPatBlt(dc, x + 1, y + h - 1, w - 1, 1, kPlatPatInvert);
    return;
  }
  DPaintRect(&r);
}

MgErr ISetPixmapBounds(int32 image, int32 window, const Rect* rect, int32 depth, Bool32 keepBits) {
  ImageEntry* e = IEntryPtr(image);
  if (!e || e->kind != kImagePixmap || !rect) return kArgErr;
  if (!window) return kNullWindowErr;
  const PlatObj dc = gDrawState.dc;
  if (!dc) return e->extra ? kNoErr : kImageMemErr;
  const PixmapInfo* info = IInfoOf<PixmapInfo>(e->data);
  if (!info) return kImageMemErr;
  if (depth == 0) depth = WGetDepth(window == -1 ? WCurrentPort() : window);
  else if (depth == -1) depth = int32(info->depth);
  if (int32(info->depth) == depth && std::memcmp(&info->bounds, rect, sizeof(Rect)) == 0 && e->extra) return kNoErr;
  // The kept pixels: those of rect that the pixmap holds, read at the new
  // depth so that they go back into the new bitmap as they are.
  const bool known = depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
  std::vector<uInt8> kept;
  Rect keptRect{0, 0, 0, 0};
  int32 keptRowBytes = 0, keptDepth = 0;
  if (keepBits && e->extra) {
    Rect common{0, 0, 0, 0};
    if (DSectRect(&info->bounds, rect, &common)) {
      int32 size = 0;
      keptDepth = known ? depth : 0;
      if (IGetHostBits(image, 0, &keptDepth, &common, &keptRowBytes, &size, nullptr, nullptr) == kNoErr) {
        kept.resize(size_t(size));
        if (IGetHostBits(image, 0, &keptDepth, &common, &keptRowBytes, &size, kept.data(), nullptr) == kNoErr)
          keptRect = common;
        else
          kept.clear();
      }
    }
  }
  e = IEntryPtr(image);
  if (e->extra) IDeleteHostObject(PlatObj(e->extra));
  e->extra = 0;
  const int32 w = rect->right - rect->left, h = rect->bottom - rect->top;
  PlatObj bitmap = 0;
  if (w > 0 && h > 0) bitmap = known ? PlatCreateBitmap(w, h, depth, nullptr, 0) : PlatCreateCompatibleBitmap(dc, w, h);
  PixmapInfo* p = reinterpret_cast<PixmapInfo*>(*IHandleOf(e->data));
  p->bounds = *rect;
  p->depth = uInt32(depth);
  e->extra = bitmap;
  if (bitmap && !kept.empty())
    IPutHostBits(image, 0, keptDepth, &keptRect, keptRowBytes, kept.data(), 0);
  return bitmap ? kNoErr : kImageMemErr;
}

MgErr IDrawOffscreen(const Rect* rect, Rect* clipSave) {
  if (!rect) return kArgErr;
  MgErr err = kNoErr;
  if (gOffscreenDepth == 0) {
    if (gOffscreen && IKindOf(gOffscreen) == kImagePixmap)
      err = ISetPixmapBounds(gOffscreen, -1, rect, 0, 0);
    else
      err = ICreatePixmap(-1, rect, 0, &gOffscreen);
    if (err != kNoErr) {
      if (gOffscreen) IRelease(gOffscreen);
      gOffscreen = 0;
      // Drawing goes straight to the window: no memory alert for it.
      if (err == kMemFullErr || err == kImageMemErr) MemFullReset();
    }
    if (gOffscreen) IOpen(gOffscreen, &gOffscreenSave);
  }
  Rect saved{0, 0, 0, 0};
  WLimitClip(rect, &saved);
  if (clipSave) *clipSave = saved;
  ++gOffscreenDepth;
  return err;
}

void ICopyOffscreen(const Rect* clipSave, Bool32 copy) {
  const Rect none{0, 0, 0, 0};
  WRestoreClip(clipSave ? clipSave : &none);
  if (gOffscreenDepth > 0) --gOffscreenDepth;
  if (gOffscreenDepth != 0 || !gOffscreen) return;
  IClose(gOffscreen, &gOffscreenSave);
  if (!copy) return;
  Rect r{0, 0, 0, 0};
  IGetRect(gOffscreen, &r);
  IDraw(gOffscreen, nullptr, &r, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
}

int32 IOffscreenImage() { return gOffscreen; }
int32 IOffscreenNesting() { return gOffscreenDepth; }
void IForgetOffscreen() {
  gOffscreen = 0;
  gOffscreenDepth = 0;
}

bool IMetaRecordingOpen(int32 image) { return image && MetaDcOf(image) != 0; }

void IAbandonMetaRecordings() {
  if (MetaDcOf(int32(gDrawState.target))) IAttachTarget(0, 0);  // no state left naming a closed context
  for (const MetaRecording& m : gMetaRecordings)
    if (const PlatMetafile mf = PlatCloseMetafileDc(m.dc)) PlatDeleteMetafile(mf);
  gMetaRecordings.clear();
}
