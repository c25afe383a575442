// Recording drawing into pictures and playing them back: definitions
// written once, the mapping of shapes but not of pen widths, the start
// pen, copying into a picture being recorded, text reaching the text slot
// mapped, and pictures whose bytes do not hold together.
#include <filesystem>
#include <iomanip>
#include <fstream>
#include <sstream>

#include "draw_window.h"
#include "golden_image.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dregion.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/hostbits.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/draw/picture.h"
#include "mgsource/memory.h"
#include "mgsource/window/textrec.h"

namespace {

using Bytes = std::vector<uInt8>;

std::string Str(const Rect& r) {
  return std::to_string(r.top) + "," + std::to_string(r.left) + "," + std::to_string(r.bottom) + "," +
         std::to_string(r.right);
}

struct Rec {
  int32 op;
  Bytes data;
};

std::vector<Rec> Records(int32 pict) {
  UHandle h = reinterpret_cast<UHandle>(uintptr_t(IEntryOf(pict).data));
  std::vector<Rec> out;
  PictWalker walk(reinterpret_cast<const uInt8*>(*h) + 4, DSGetHandleSize(h) - 4);
  PictRecord r;
  while (walk.Next(&r)) out.push_back(Rec{r.opcode, Bytes(r.data, r.data + r.size)});
  return out;
}

uInt32 PenCount(int32 pict) {
  return reinterpret_cast<const PictInfo*>(*reinterpret_cast<UHandle>(uintptr_t(IEntryOf(pict).extra)))->penCount;
}

// Builds picture bytes record by record (any opcode, any data).
struct Builder {
  Bytes b{0, 0, 0, 0};
  Builder& Op(int32 op, Bytes data) {
    uInt8 head[6];
    PutBE16(head, uInt16(op));
    PutBE32(head + 2, uInt32(data.size()));
    b.insert(b.end(), head, head + 6);
    b.insert(b.end(), data.begin(), data.end());
    PutNative32(b.data(), uInt32(b.size() - 4));
    return *this;
  }
  int32 Make(const Rect& bounds) const {
    UHandle h = DSNewHandle(int32(b.size()));
    std::memcpy(*h, b.data(), b.size());
    int32 id = 0;
    EXPECT_EQ(ICreatePict(0, &bounds, 32, h, 0, &id), kNoErr);
    return id;
  }
};
Bytes R(int16 t, int16 l, int16 b, int16 r) {
  Bytes o(8);
  PutBE16(&o[0], uInt16(t)), PutBE16(&o[2], uInt16(l)), PutBE16(&o[4], uInt16(b)), PutBE16(&o[6], uInt16(r));
  return o;
}
Bytes U32(uInt32 v) {
  Bytes o(4);
  PutBE32(o.data(), v);
  return o;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes o;
  for (const Bytes& p : parts) o.insert(o.end(), p.begin(), p.end());
  return o;
}
Bytes PenDef(DColor fore, int16 width) {
  Bytes o = Cat({U32(fore), U32(0xFFFFFF), Bytes(8, 0xFF), Bytes(4), U32(0), U32(0)});
  PutBE16(&o[16], uInt16(width));
  return o;
}

class PicturePlay : public DrawWindow {
 protected:
  void SetUp() override {
    DrawWindow::SetUp();
    TXInitFonts();
  }
  void TearDown() override {
    TXFinishFonts();
    DrawWindow::TearDown();
  }
  int32 NewPicture(const Rect& frame) {
    int32 id = 0;
    EXPECT_EQ(ICreatePict(window_, &frame, 32, nullptr, 0, &id), kNoErr);
    return id;
  }
};

TEST_F(PicturePlay, OnePenStateIsDefinedOnceAndStandardFontsNever) {
  const int32 pict = NewPicture(Rect{0, 0, 50, 50});
  const int32 pen = Pen(0x0000FF, 2);
  ImageSaveRecord save;
  IOpen(pict, &save);
  DSelectPen(pen, 0, 0xFFFFFF);
  const Rect r{5, 5, 20, 30};
  DFrameRect(&r);
  DSelectPen(pen, 0, 0xFFFFFF);
  TBox(&r, 0, reinterpret_cast<const uChar*>("abc"), 3, TStandardFont(0), 0, kTransparentColor, 0, 0xFFFFFF);
  EXPECT_EQ(IClose(pict, &save), kImageWindow);
  EXPECT_EQ(Changed(), 0);  // nothing drawn while recording
  const std::vector<Rec> recs = Records(pict);
  std::vector<int32> ops;
  for (const Rec& rec : recs) ops.push_back(rec.op);
  EXPECT_EQ(ops, (std::vector<int32>{kPictOpPenDef, kPictOpSelectPen, kPictOpFrameRect, kPictOpSelectPen,
                                     kPictOpTextBox}));
  EXPECT_EQ(GetBE32(recs[1].data.data()), 0u);
  EXPECT_EQ(GetBE32(recs[3].data.data()), 0u);
  EXPECT_EQ(int32(GetBE32(recs[4].data.data() + 16 + 4)), TStandardFont(0) - 100);
  EXPECT_EQ(PenCount(pict), 1u);
  // The bytes, as a golden of hex text.
  UHandle h = reinterpret_cast<UHandle>(uintptr_t(IEntryOf(pict).data));
  std::ostringstream hex;
  for (int32 i = 0; i < DSGetHandleSize(h); ++i) hex << std::hex << std::setw(2) << std::setfill('0') << int((*h)[i]) << (i % 16 == 15 ? "\n" : " ");
  hex << "\n";
  const auto golden = std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/pen_once.pict.txt";
  if (qxtest::UpdatingGoldens()) std::ofstream(golden) << hex.str();
  std::ifstream in(golden);
  std::stringstream want;
  want << in.rdbuf();
  EXPECT_EQ(hex.str(), want.str()) << "QX_UPDATE_GOLDENS=1 rewrites " << golden;
  DDestroyPen(pen);
  IRelease(pict);
}

TEST_F(PicturePlay, PlaybackScalesShapesButNotPenWidthsAndStartsWithTheBlackPen) {
  const int32 pict = NewPicture(Rect{0, 0, 40, 40});
  const int32 pen = Pen(0x0000FF, 3);
  ImageSaveRecord save;
  IOpen(pict, &save);
  const Rect box{2, 2, 10, 12};
  DPaintRect(&box);
  DSelectPen(pen, 0, 0xFFFFFF);
  DMoveTo(30, 2);
  DLineTo(30, 30);
  const Rect oval{20, 2, 36, 18};
  DFrameOval(&oval);
  IClose(pict, &save);
  DDestroyPen(pen);
  DSelectPen(Pen(0x00FF00, 1), 0, 0xFFFFFF);  // playback does not start with the current pen
  const Rect dst{10, 10, 90, 90};
  IDrawPicture(pict, nullptr, &dst, 0, 0, 0, 0);
  // The rectangle at twice its size, black.
  EXPECT_EQ(At(14, 14), 0u);
  EXPECT_EQ(At(33, 29), 0u);
  EXPECT_EQ(At(34, 14), 0xFFFFFFu);
  EXPECT_EQ(At(14, 30), 0xFFFFFFu);
  // The line: moved and lengthened, still three pixels wide.
  int32 wide = 0;
  for (int32 x = 60; x < 80; ++x) wide += At(x, 40) == 0x0000FF;
  EXPECT_EQ(wide, 3);
  EXPECT_EQ(At(71, 68), 0x0000FFu);
  qxtest::ExpectMatchesGolden(Surface(), std::filesystem::path(QX_SOURCE_DIR) / "tests/mgsource/goldens/picture_play.png",
                              "QX_UPDATE_GOLDENS=1 rewrites it");
  IRelease(pict);
}

TEST_F(PicturePlay, PlayingWhileRecordingCopiesTheRecordsAndPixelBlocksBecomeImageRecords) {
  // A stored picture: a pen definition, a rectangle in it, a 1-bit block.
  Bytes block = Cat({U32(4), R(0, 0, 2, 8), Bytes{0, 1}, U32(0), U32(0xFFFFFF), Bytes{0, 0}, Bytes{0xF0, 0, 0x0F, 0}});
  const int32 stored = Builder{}
                           .Op(kPictOpPenDef, PenDef(0xFF0000, 1))
                           .Op(kPictOpSelectPen, Cat({U32(0), U32(0), U32(0xFFFFFF)}))
                           .Op(kPictOpFrameRect, R(1, 1, 9, 9))
                           .Op(kPictOpPixels, block)
                           .Make(Rect{0, 0, 10, 10});
  const int32 copy = NewPicture(Rect{0, 0, 20, 20});
  ImageSaveRecord save;
  IOpen(copy, &save);
  const Rect dst{0, 0, 20, 20};
  IDrawPicture(stored, nullptr, &dst, 0, 0, 0, 0);
  IClose(copy, &save);
  const std::vector<Rec> recs = Records(copy);
  std::vector<int32> ops;
  for (const Rec& rec : recs) ops.push_back(rec.op);
  // The first selection also moves the pen to the destination's corner.
  EXPECT_EQ(ops, (std::vector<int32>{kPictOpPenDef, kPictOpSelectPen, kPictOpMoveTo, kPictOpFrameRect, kPictOpImage}));
  EXPECT_EQ(Bytes(recs[3].data), R(2, 2, 18, 18));
  const int32 image = int32(GetBE32(recs[4].data.data()));
  EXPECT_EQ(IKindOf(image), kImagePixmap);
  EXPECT_EQ(Bytes(recs[4].data.begin() + 12, recs[4].data.begin() + 20), R(0, 0, 4, 16));
  EXPECT_TRUE(IEntryOf(image).flags & kImageOfPicture);
  // Copied on into a third picture, the image is copied too: each picture
  // takes its own image along when released.
  const int32 third = NewPicture(Rect{0, 0, 20, 20});
  IOpen(third, &save);
  IDrawPicture(copy, nullptr, &dst, 0, 0, 0, 0);
  IClose(third, &save);
  const int32 image3 = int32(GetBE32(Records(third).back().data.data()));
  EXPECT_NE(image3, image);
  EXPECT_EQ(IRelease(copy), kNoErr);
  EXPECT_EQ(IKindOf(image), 0);
  EXPECT_EQ(IKindOf(image3), kImagePixmap);
  EXPECT_EQ(IRelease(third), kNoErr);
  EXPECT_EQ(IKindOf(image3), 0);
  IRelease(stored);
}

TEST_F(PicturePlay, ACopiedPictureOwnsCopiesOfItsPixelImages) {
  // A red 1-bit block: row 0 columns 0-3 set, row 1 columns 4-7.
  const Bytes block = Cat({U32(4), R(0, 0, 2, 8), Bytes{0, 1}, U32(0xFF0000), U32(0xFFFFFF), Bytes{0, 0}, Bytes{0xF0, 0, 0x0F, 0}});
  const int32 stored = Builder{}.Op(kPictOpPixels, block).Make(Rect{0, 0, 10, 10});
  const Rect frame{0, 0, 10, 10}, dst{20, 20, 30, 30};
  auto record = [&] {
    const int32 p = NewPicture(frame);
    ImageSaveRecord save;
    IOpen(p, &save);
    IDrawPicture(stored, nullptr, &frame, 0, 0, 0, 0);
    IClose(p, &save);
    return std::pair{p, int32(GetBE32(Records(p).back().data.data()))};
  };
  const int32 pict = record().first;
  int32 copy = 0;
  ASSERT_EQ(IDuplicate(pict, &copy), kNoErr);
  IRelease(pict);
  IDrawPicture(copy, nullptr, &dst, 0, 0, 0, 0);  // its own block, in its colour
  EXPECT_EQ(At(20, 20), 0xFF0000u);
  EXPECT_EQ(At(24, 20), 0xFFFFFFu);
  EXPECT_EQ(At(24, 21), 0xFF0000u);
  const auto [again, image] = record();  // takes the original's ids again
  IRelease(copy);
  EXPECT_EQ(IKindOf(image), kImagePixmap);
  IRelease(again);
  IRelease(stored);
}

// Records the slot calls of text boxes and otherwise draws as the host.
struct TextLog {
  struct Call {
    Rect r;
    int32 font, size;
  };
  static inline std::vector<Call> calls;
  static int32 Box(const Rect* r, int32, const uChar*, int32, int32 font, DColor, DColor, DColor, DColor) {
    int32 size = 0;
    TGetFontInfo(font, nullptr, &size, nullptr, nullptr);  // the scaled font lives while the picture plays
    calls.push_back({*r, font, size});
    return 0;
  }
};

TEST_F(PicturePlay, TextBoxesReachTheSlotMappedWithOneScaledFont) {
  const int32 pict = NewPicture(Rect{0, 0, 50, 100});
  ImageSaveRecord save;
  IOpen(pict, &save);
  const int32 font = TNewFont(reinterpret_cast<ConstPStr>("\x0b" "DejaVu Sans"), 10, 0, 0);
  const Rect a{5, 10, 25, 60}, b{30, 10, 45, 60};
  TBox(&a, 0, reinterpret_cast<const uChar*>("one"), 3, font, 0, kTransparentColor, 0, 0xFFFFFF);
  TBox(&b, 0, reinterpret_cast<const uChar*>("two"), 3, font, 0, kTransparentColor, 0, 0xFFFFFF);
  IClose(pict, &save);
  EXPECT_EQ(PenCount(pict), 1u);
  DPort logging = gHostPort;
  logging.textBox = &TextLog::Box;
  TextLog::calls.clear();
  const DPort* old = DInstallTestPort(&logging);
  const Rect dst{0, 0, 100, 200};
  IDrawPicture(pict, nullptr, &dst, 0, 0, 0, 0);
  DInstallTestPort(old);
  ASSERT_EQ(TextLog::calls.size(), 2u);
  EXPECT_EQ(Str(TextLog::calls[0].r), "10,20,50,120");
  EXPECT_EQ(Str(TextLog::calls[1].r), "60,20,90,120");
  EXPECT_EQ(TextLog::calls[0].font, TextLog::calls[1].font);  // made once, kept while the font repeats
  EXPECT_GT(TextLog::calls[0].size, 10);
  EXPECT_EQ(TFontReferences(TextLog::calls[0].font), 0);  // and disposed at the end
  TDisposeFont(font);
  IRelease(pict);
}

struct TextRecordLog {
  static inline std::vector<Rect> views;
  static inline UHandle original = nullptr;
  static int32 Draw(UHandle record) {
    Rect view{};
    TGetRect(record, &view, nullptr);
    // A scaled copy of the picture's own copy, never the recorded record.
    views.push_back(record != original && (TRData(record)->flags & kTRFlagScaled) ? view : Rect{-1, -1, -1, -1});
    return 0;
  }
};

TEST_F(PicturePlay, TextRecordsAreOwnedCopiesPlayedScaledAndDisposedWithThePicture) {
  const int32 font = TNewFont(reinterpret_cast<ConstPStr>("\x0b" "DejaVu Sans"), 10, 0, 0);
  const Rect view{5, 10, 25, 60};
  const int32 baseline = LiveHandleCount();
  const int32 pict = NewPicture(Rect{0, 0, 50, 100});
  TRecord text = TNew(&view, 0, reinterpret_cast<const uChar*>("text"), 4, font, 0, 0xFFFFFF);
  TextRecordLog::original = text;
  ImageSaveRecord save;
  IOpen(pict, &save);
  TDraw(text);
  IClose(pict, &save);
  TDispose(text);  // the picture plays its own copy
  const struct {
    Rect dst;
    const char* view;
  } cases[] = {{{0, 0, 50, 100}, "5,10,25,60"}, {{100, 0, 200, 200}, "110,20,150,120"}};
  DPort logging = gHostPort;
  logging.textDraw = &TextRecordLog::Draw;
  for (const auto& c : cases) {
    TextRecordLog::views.clear();
    const int32 before = LiveHandleCount();
    const DPort* old = DInstallTestPort(&logging);
    IDrawPicture(pict, nullptr, &c.dst, 0, 0, 0, 0);
    DInstallTestPort(old);
    ASSERT_EQ(TextRecordLog::views.size(), 1u) << c.view;
    EXPECT_EQ(Str(TextRecordLog::views[0]), c.view);
    EXPECT_EQ(LiveHandleCount(), before) << "the scaled copy is disposed";
  }
  // A copy of the picture owns copies of its own: both release cleanly.
  int32 copy = 0;
  ASSERT_EQ(IDuplicate(pict, &copy), kNoErr);
  EXPECT_EQ(IRelease(pict), kNoErr);
  TextRecordLog::views.clear();
  const DPort* old = DInstallTestPort(&logging);
  IDrawPicture(copy, nullptr, &cases[0].dst, 0, 0, 0, 0);
  DInstallTestPort(old);
  EXPECT_EQ(TextRecordLog::views.size(), 1u);
  EXPECT_EQ(IRelease(copy), kNoErr);
  TDisposeFont(font);
  EXPECT_EQ(LiveHandleCount(), baseline) << "no text record left behind";
}

TEST_F(PicturePlay, BadPicturesDrawWhatHoldsAndUndoEverythingTheyMade) {
  const int32 spare = Pen(0, 1);
  DDestroyPen(spare);  // the number the next pen takes
  const Rect frame{0, 0, 10, 10}, dst{0, 0, 10, 10};
  const Bytes select1 = Cat({U32(1), U32(0), U32(0xFFFFFF)});
  const Bytes line = Bytes{0, 5, 0, 5};
  const struct {
    const char* what;
    Builder pict;
    DColor at55;  // the pixel (5, 5) after playback
  } cases[] = {
      // Placeholders beyond a pen count of 1: the list holds all three.
      {"placeholders", Builder{}.Op(33, {}).Op(32, {}).Op(30, PenDef(0xFF0000, 1)).Op(2, Cat({U32(2), U32(0), U32(0xFFFFFF)})).Op(8, line), 0xFF0000},
      {"index past the list", Builder{}.Op(30, PenDef(0xFF0000, 1)).Op(2, Cat({U32(7), U32(0), U32(0xFFFFFF)})).Op(8, line), 0},
      {"placeholder as a pen", Builder{}.Op(32, {}).Op(30, PenDef(0xFF0000, 1)).Op(2, Cat({U32(0), U32(0), U32(0xFFFFFF)})).Op(8, line), 0},
      {"overrun", Builder{}.Op(30, PenDef(0xFF0000, 1)).Op(2, Cat({U32(0), U32(0), U32(0xFFFFFF)})).Op(8, line).Op(10, R(0, 0, 1, 1)), 0xFF0000},
      {"invalid opcode", Builder{}.Op(30, PenDef(0xFF0000, 1)).Op(28, {}).Op(2, select1).Op(8, line), 0xFFFFFF},
      {"undrawable pen", Builder{}.Op(30, PenDef(0xFF0000, 900)).Op(2, Cat({U32(0), U32(0), U32(0xFFFFFF)})).Op(8, line), 0},
      {"short pixels", Builder{}.Op(29, Cat({U32(1), R(0, 0, 2, 8), Bytes{0, 1}, U32(0), U32(0xFFFFFF), Bytes{0, 0}, Bytes{0xF0}})), 0xFFFFFF},
      {"pixel depth 3", Builder{}.Op(29, Cat({U32(4), R(0, 0, 2, 8), Bytes{0, 3}, U32(0), U32(0xFFFFFF), Bytes{0, 0}, Bytes(4, 0xFF)})), 0xFFFFFF},
  };
  for (const auto& c : cases) {
    Builder b = c.pict;
    if (std::string(c.what) == "overrun") PutBE32(&b.b[b.b.size() - 12], 99);  // the last record's size
    const int32 id = b.Make(frame);
    PlatSurfaceClear(Surface(), 0xFFFFFF);
    Capture capture;
    IDrawPicture(id, nullptr, &dst, 0, 0, 0, 0);
    EXPECT_EQ(At(5, 5), c.at55) << c.what;
    EXPECT_EQ(capture.Count("assert"), 0) << c.what << capture.Debug();
    // Every pen the playback made is gone again.
    const int32 next = Pen(0, 1);
    EXPECT_EQ(next, spare) << c.what;
    DDestroyPen(next);
    IRelease(id);
  }
  // A pixel block that does not hold its rows is no answer either.
  const int32 bad = Builder{}.Op(29, Cat({U32(1), R(0, 0, 2, 8), Bytes{0, 1}, U32(0), U32(0), Bytes{0, 0}, Bytes{1}})).Make(frame);
  UHandle h = DSNewHandle(3);
  IGetQXPictBits(bad, h);
  EXPECT_EQ(DSGetHandleSize(h), 3);
  DSDisposeHandle(h);
  IRelease(bad);
}

// A picture's font records make at most 256 fonts in one playback: the
// later ones stand for the application font, and the playback says so.
TEST_F(PicturePlay, APictureMakesAtMostItsShareOfFonts) {
  for (int32 records : {256, 300}) {
    Builder b;
    for (int32 i = 0; i < records; ++i) {
      uChar rec[256];
      TFontToRec(TStandardFont(0), rec);
      PutBE16(rec + 2, uInt16(6 + i));  // a size of its own each
      b.Op(kPictOpFontDef, Bytes(rec, rec + ((rec[0] + 1) & ~1)));
    }
    const int32 id = b.Make(Rect{0, 0, 10, 10});
    Capture capture;
    const Rect dst{0, 0, 10, 10};
    IDrawPicture(id, nullptr, &dst, 0, 0, 0, 0);
    EXPECT_EQ(capture.Count("defines more than 256 fonts"), records > 256 ? 1 : 0) << records;
    EXPECT_EQ(capture.Count("assert"), 0) << capture.Debug();
    IRelease(id);
  }
}

TEST_F(PicturePlay, RegionsDrawAMovedCopyAndAFailedAppendEndsTheRecording) {
  const Rect box{2, 2, 6, 6};
  const DRgn rgn = DRectRgn(&box);
  const int32 pict = NewPicture(Rect{0, 0, 10, 10});
  ImageSaveRecord save;
  IOpen(pict, &save);
  DPaintRgn(rgn);
  IClose(pict, &save);
  const Rect dst{20, 20, 30, 30};
  IDrawPicture(pict, nullptr, &dst, 0, 0, 0, 0);
  Rect bounds;
  DRgnBounds(rgn, &bounds);
  EXPECT_EQ(Str(bounds), Str(box));  // the caller's region did not move
  EXPECT_EQ(At(23, 23), 0u);
  EXPECT_EQ(At(3, 3), 0xFFFFFFu);
  DDestroyRgn(rgn);
  IRelease(pict);

  // The picture can't grow for the definition: neither the definition nor
  // anything after it is written, though later records would fit.
  const int32 failing = NewPicture(Rect{0, 0, 10, 10});
  const int32 pen = Pen(0xFF0000, 1);
  IOpen(failing, &save);
  DFrameRect(&box);
  MemFailNthAllocation(1);
  DSelectPen(pen, 0, 0xFFFFFF);
  DFrameRect(&box);
  EXPECT_TRUE(PictRecordingFailed());
  IClose(failing, &save);
  MemFullReset();
  const std::vector<Rec> recs = Records(failing);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0].op, kPictOpFrameRect);
  EXPECT_EQ(PenCount(failing), 0u);
  DDestroyPen(pen);
  IRelease(failing);
}

}  // namespace

namespace {

// The same calls drawn directly and played back from a picture of the
// same frame give the same pixels.
TEST_F(PicturePlay, PlaybackAtTheFrameDrawsWhatTheCallsDraw) {
  auto draw = [] {
    DSelectNormPen(0, 0);
    const Rect a{10, 10, 30, 40}, b{50, 60, 90, 120}, c{20, 130, 70, 190};
    DFrameRect(&a);
    DMoveTo(15, 60);
    DLineTo(45, 95);
    DPaintOval(&b);
    DFrameRect(&c);
    DMoveTo(150, 10);
    DLineTo(120, 40);
  };
  const Rect frame{0, 0, 100, 200};
  const int32 pict = NewPicture(frame);
  ImageSaveRecord save;
  IOpen(pict, &save);
  draw();
  IClose(pict, &save);
  draw();
  const std::string direct = Mask(0, 0, 200, 100);
  PlatSurfaceClear(Surface(), 0xFFFFFF);
  IDrawPicture(pict, nullptr, &frame, 0, 0, 0, 0);
  EXPECT_EQ(Mask(0, 0, 200, 100), direct);
  // Into a pixmap larger than the window: clipped to the pixmap, not to
  // the window.
  int32 pixmap = 0;
  const Rect big{0, 0, 300, 400}, far{200, 300, 300, 400};
  ASSERT_EQ(ICreatePixmap(window_, &big, 32, &pixmap), kNoErr);
  PlatSurface* s = PlatBitmapSurface(PlatObj(IEntryOf(pixmap).extra));
  PlatSurfaceClear(s, 0xFFFFFF);
  IOpen(pixmap, &save);
  IDrawPicture(pict, nullptr, &far, 0, 0, 0, 0);
  IClose(pixmap, &save);
  EXPECT_EQ(PlatSurfaceGetPixel(s, 310, 210) & 0xFFFFFF, 0u);  // the first frame's corner
  EXPECT_EQ(PlatSurfaceGetPixel(s, 305, 205) & 0xFFFFFF, 0xFFFFFFu);
  IRelease(pixmap);
  IRelease(pict);
}

}  // namespace
