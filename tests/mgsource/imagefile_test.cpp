// Picture files to images and images to the clipboard.
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "draw_window.h"
#include "mgsource/byteorder.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/imagefile.h"
#include "mgsource/draw/imagegeom.h"
#include "mgsource/memory.h"
#include "platform/qx_clipboard.h"
#include "platform/qx_drives.h"
#include "platform/qx_metafile.h"
#include "tools/metafilewriter.h"
#include "tools/picturefilewriter.h"

namespace {

using Bytes = std::vector<uInt8>;

class ImageFile : public DrawWindow {
 protected:
  void TearDown() override {
    for (int32 id : made_)
      if (IKindOf(id)) IRelease(id);
    DrawWindow::TearDown();
  }
  // The pixel block of a picture imported from a bitmap file: depth, bounds
  // and the pixel bytes.
  struct Block {
    int32 depth = 0, pixels = 0;
    Rect bounds{};
    Bytes bytes;
  };
  Block BlockOf(int32 image) {
    Block b;
    UHandle h = IHandleOf(IEntryOf(image).data);
    const uInt8* p = reinterpret_cast<const uInt8*>(*h);
    EXPECT_EQ(GetBE16(p + 4), 29);
    const uInt8* d = p + 10;
    b.pixels = int32(GetBE32(d));
    b.bounds = Rect{int16(GetBE16(d + 4)), int16(GetBE16(d + 6)), int16(GetBE16(d + 8)), int16(GetBE16(d + 10))};
    b.depth = int16(GetBE16(d + 12));
    const int32 c = int16(GetBE16(d + 22));
    const uInt8* px = d + 24 + (c ? 2 + 8 * (c + 1) : 0);
    b.bytes.assign(px, px + b.pixels);
    EXPECT_EQ(int64(AZGetHandleSize(h)), (px - p) + int64(b.pixels));
    return b;
  }
  std::vector<int32> made_;
};

pfw::Bitmap Bmp(int32 w, int32 h, int32 depth, Bytes rows, std::vector<uint32_t> colours = {}) {
  pfw::Bitmap b;
  b.width = w, b.height = h, b.depth = depth, b.rows = std::move(rows), b.colours = std::move(colours);
  return b;
}

TEST_F(ImageFile, EveryFormImportsOrIsRefused) {
  const mfw::Picture sample = mfw::Sample();
  const Bytes emf = mfw::WriteEmf(sample), wmf = mfw::WriteWmf(sample), placeable = mfw::WriteWmf(sample, true);
  Bytes badClip = pfw::WriteClipboardFile(50001, emf);
  badClip[4 + 172 + 8] = 0xFF;  // the metafile's offset past the end
  pfw::Bitmap core8 = Bmp(2, 1, 8, {1, 2}, std::vector<uint32_t>(256, 0x102030));
  core8.core = true;
  Bytes header20 = pfw::WriteBmp(Bmp(1, 1, 24, {1, 2, 3}));
  header20[14] = 20;
  Bytes truncated = pfw::WriteBmp(Bmp(4, 4, 8, Bytes(16), std::vector<uint32_t>(256)));
  truncated.resize(truncated.size() - 1);
  const struct {
    const char* name;
    Bytes bytes;
    MgErr err;
    int32 kind;
  } files[] = {
      {"enhanced", emf, kNoErr, kImageMeta},
      {"plain", wmf, kNoErr, kImageMeta},
      {"placeable", placeable, kNoErr, kImageMeta},
      {"clipboard 50000", pfw::WriteClipboardFile(50000, wmf), kNoErr, kImageMeta},
      {"clipboard 50001", pfw::WriteClipboardFile(50001, emf), kNoErr, kImageMeta},
      {"clipboard 50002", pfw::WriteClipboardFile(50002, emf), kNoErr, kImageMeta},
      {"clipboard, offset outside", badClip, kImageNotFoundErr, 0},
      {"core 8-bit", pfw::WriteBmp(core8), kNoErr, kImagePicture},
      {"16-bit", pfw::WriteBmp(Bmp(1, 1, 16, {0, 0})), kImageNotFoundErr, 0},
      {"32-bit", pfw::WriteBmp(Bmp(1, 1, 32, {0, 0, 0, 0})), kImageNotFoundErr, 0},
      {"2-bit", pfw::WriteBmp(Bmp(1, 1, 2, {0})), kImageNotFoundErr, 0},
      {"header of 20", header20, kImageNotFoundErr, 0},
      {"rows cut short", truncated, kImageNotFoundErr, 0},
      {"nothing", Bytes{'B', 'M', 0}, kImageNotFoundErr, 0},
  };
  for (const auto& f : files) {
    int32 image = -1;
    EXPECT_EQ(IImageFromFileBytes(f.bytes.data(), int32(f.bytes.size()), &image), f.err) << f.name;
    EXPECT_EQ(IKindOf(image), f.kind) << f.name;
    if (!image) continue;
    made_.push_back(image);
    Rect r{1, 1, 1, 1};
    IGetRect(image, &r);
    EXPECT_EQ(r.top, 0) << f.name;  // every frame moved to the origin
    EXPECT_EQ(r.left, 0) << f.name;
    if (f.kind == kImageMeta) {
      PlatMetaHeader h{};
      ASSERT_TRUE(PlatGetMetafileHeader(PlatMetafile(IEntryOf(image).data), &h));
      EXPECT_EQ(r.right, h.bounds.right - h.bounds.left) << f.name;
      EXPECT_GT(r.bottom, 40) << f.name;
    }
  }
}

TEST_F(ImageFile, BitmapRowsBecomeOnePixelBlockTopRowFirst) {
  // One bit, white as 1: the set bits become clear (a set bit is black).
  const Bytes mono = pfw::WriteBmp(Bmp(8, 2, 1, {0x80, 0x01}, {0x000000, 0xFFFFFF}));
  // 24 bits, width 3: rows of 9 bytes, blue-green-red turned around.
  const Bytes rgb = pfw::WriteBmp(Bmp(3, 2, 24, {0, 0, 255, 0, 255, 0, 255, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  int32 a = 0, b = 0;
  ASSERT_EQ(IImageFromFileBytes(mono.data(), int32(mono.size()), &a), kNoErr);
  ASSERT_EQ(IImageFromFileBytes(rgb.data(), int32(rgb.size()), &b), kNoErr);
  made_ = {a, b};
  const Block m = BlockOf(a), c = BlockOf(b);
  EXPECT_EQ(m.depth, 1);
  EXPECT_EQ(m.bytes, (Bytes{0x7F, 0xFF, 0xFE, 0xFF}));
  EXPECT_EQ(c.depth, 24);
  EXPECT_EQ(c.pixels, 18);
  EXPECT_EQ(c.bounds.bottom, 2);
  EXPECT_EQ(c.bounds.right, 3);
  EXPECT_EQ(c.bytes, (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 3, 2, 1, 6, 5, 4, 9, 8, 7}));
  // Drawn, the white pixel of the file is white and the others black.
  const Rect dest{0, 0, 2, 8};
  IDraw(a, nullptr, &dest, kBlackColor, kWhiteColor, kBlackColor, kWhiteColor);
  EXPECT_EQ(Mask(0, 0, 8, 2), ".#######\n#######.");
}

TEST_F(ImageFile, FailedFilesAlertAndCloseTheirFile) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("qximport" + std::to_string(getpid()));
  fs::create_directories(dir);
  ASSERT_EQ(PlatDriveMap('P', dir.c_str(), kPlatDriveFixed), 0);
  const Bytes sixteen = pfw::WriteBmp(Bmp(1, 1, 16, {0, 0})), good = pfw::WriteBmp(Bmp(1, 1, 24, {1, 2, 3}));
  const struct {
    const char* file;
    const Bytes* bytes;
    Bool32 alert;
    MgErr err;
    int32 alerts;
  } cases[] = {
      {"sixteen.bmp", &sixteen, 1, kImageNotFoundErr, 1},
      {"sixteen.bmp", &sixteen, 0, kImageNotFoundErr, 0},
      {"missing.bmp", nullptr, 1, kImageNotFoundErr, 1},
      {"good.bmp", &good, 1, kNoErr, 0},
  };
  for (const auto& c : cases) {
    const fs::path p = dir / c.file;
    if (c.bytes) std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(c.bytes->data()), std::streamsize(c.bytes->size()));
    Path path = nullptr;
    const std::string text = std::string("P:\\") + c.file;
    ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &path), kNoErr);
    Capture capture;
    int32 image = -1;
    EXPECT_EQ(IGetFile(path, &image, c.alert), c.err) << c.file;
    FDisposePath(path);
    int32 shown = 0;
    for (const std::string& a : capture.Alerts()) shown += a.find(kImportAlertText) != std::string::npos;
    EXPECT_EQ(shown, c.alerts) << c.file;
    if (c.err) EXPECT_EQ(image, 0);
    else made_.push_back(image);
    if (c.bytes) { EXPECT_TRUE(fs::remove(p)) << c.file; }  // closed: removable, and nothing held
  }
  PlatDriveMap('P', nullptr, 0);
  fs::remove_all(dir);
}

TEST_F(ImageFile, ClipboardTakesPixmapsAndMetafiles) {
  int32 deep = 0, eight = 0, proc = 0, meta = 0;
  const Rect r{0, 0, 4, 4};
  ASSERT_EQ(ICreatePixmap(window_, &r, 0, &deep), kNoErr);
  ASSERT_EQ(ICreatePixmap(window_, &r, 8, &eight), kNoErr);
  ASSERT_EQ(ICreateProcImage(nullptr, 0, &proc), kNoErr);
  const Bytes emf = mfw::WriteEmf(mfw::Sample());
  ASSERT_EQ(IImageFromFileBytes(emf.data(), int32(emf.size()), &meta), kNoErr);
  made_ = {deep, eight, proc, meta};
  const struct {
    int32 image;
    bool bitmap, palette, metafile;
  } rows[] = {
      {eight, true, true, false},
      {deep, true, false, false},
      {meta, false, false, true},
      {proc, false, false, false},  // emptied
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ISetClipboard(row.image), kNoErr) << row.image;
    EXPECT_EQ(PlatIsClipboardFormatAvailable(kPlatClipBitmap), row.bitmap) << row.image;
    EXPECT_EQ(PlatIsClipboardFormatAvailable(kPlatClipPalette), row.palette) << row.image;
    EXPECT_EQ(PlatIsClipboardFormatAvailable(kPlatClipMetafile), row.metafile) << row.image;
  }
  // Held by another thread: 42, and nothing changes.
  std::atomic<int> stage{0};
  std::thread holder([&] {
    PlatOpenClipboard(0);
    stage = 1;
    while (stage != 2) std::this_thread::yield();
    PlatCloseClipboard();
  });
  while (stage != 1) std::this_thread::yield();
  EXPECT_EQ(ISetClipboard(eight), kGenericErr);
  stage = 2;
  holder.join();
  EXPECT_FALSE(PlatIsClipboardFormatAvailable(kPlatClipBitmap));
  int32 got = -1;
  EXPECT_EQ(IGetClipboard(&got), kFileNotFoundErr);
  EXPECT_EQ(got, 0);
}

}  // namespace
