// Picture files are not trusted: any bytes, written to a file, are imported
// with IGetFile.  Nothing is read past the file (the sanitizers watch),
// nothing is asserted on, the file is closed again, a failure leaves no
// image, and an image made draws and is released with every handle it
// took.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tests/draw_start.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/imagedraw.h"
#include "mgsource/draw/imagefile.h"
#include "mgsource/path.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_drives.h"
#include "platform/qx_window.h"
#include "tools/metafilewriter.h"

namespace {

WindowRef gWindow = kWNoWindow;
int32 gPixmap = 0;
std::string gFile;
Path gPath = nullptr;

int32 OpenDescriptors() {
  int32 n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

int32 UsedImages() {
  int32 n = 0;
  for (int32 id = 1; id <= IImageTableCount(); ++id) n += IKindOf(id) != 0;
  return n;
}

bool Init() {
  if (!FuzzStartManagers(FuzzAbortWhenArmed)) return false;
  static WPortState saved;
  gWindow = StartDrawingWindow(Rect{40, 40, 140, 240}, &saved);
  if (!gWindow) return false;
  const Rect frame{0, 0, 48, 48};
  if (ICreatePixmap(gWindow, &frame, 32, &gPixmap) != kNoErr) return false;
  char dir[] = "/tmp/qxpictfuzzXXXXXX";
  if (!mkdtemp(dir) || PlatDriveMap('V', dir, kPlatDriveFixed) != 0) return false;
  gFile = std::string(dir) + "/in.pic";
  const char text[] = "V:\\in.pic";
  return FTextToPath(reinterpret_cast<const uChar*>(text), int32(sizeof text - 1), &gPath) == kNoErr;
}

// Imports the bytes and draws what they hold; the image, or 0.
int32 ImportAndDraw(const uint8_t* data, size_t size, MgErr* err) {
  FILE* f = std::fopen(gFile.c_str(), "wb");
  FUZZ_CHECK(f);
  FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
  std::fclose(f);
  int32 image = -1;
  *err = IGetFile(gPath, &image, 0);
  if (*err == kNoErr) {
    ImageSaveRecord save;
    IOpen(gPixmap, &save);
    const Rect dst{2, 2, 46, 46};
    IDraw(image, nullptr, &dst, 0, 0xFFFFFF, 0, 0xFFFFFF);
    IClose(gPixmap, &save);
  }
  return image;
}

// The first metafile drawn makes the rendered-metafile cache, which lives
// on: made before any handle is counted.
bool WarmUp() {
  const std::vector<uint8_t> emf = mfw::WriteEmf(mfw::Sample());
  MgErr err = 0;
  const int32 image = ImportAndDraw(emf.data(), emf.size(), &err);
  return err == kNoErr && IRelease(image) == kNoErr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init() && WarmUp();
  if (!ready || size > (1 << 20)) return 0;
  const int32 images = UsedImages(), handles = FuzzLiveHandles(), fds = OpenDescriptors();
  FuzzArmed() = true;
  MgErr err = 0;
  const int32 image = ImportAndDraw(data, size, &err);
  FUZZ_CHECK(OpenDescriptors() == fds);
  if (err != kNoErr) {
    FUZZ_CHECK(image == 0);
    FUZZ_CHECK(UsedImages() == images);
  } else {
    const int32 kind = IKindOf(image);
    FUZZ_CHECK(kind == kImageMeta || kind == kImagePicture);
    FUZZ_CHECK(IRelease(image) == kNoErr);
    FUZZ_CHECK(UsedImages() == images);
    // The rendered-metafile cache entries of the image went with it.
    FUZZ_CHECK(IMetaCacheEntries().empty());
  }
  FuzzArmed() = false;
  FUZZ_CHECK(FuzzLiveHandles() == handles);
  return 0;
}
