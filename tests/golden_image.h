// Comparing a drawn surface with a golden PNG kept beside the tests.
//
// With QX_UPDATE_GOLDENS=1 the golden is rewritten from the surface instead
// (the test is then marked skipped).  On a difference the drawn surface and
// a map of the differing pixels (red on white) are written to the host's
// temporary folder as <stem>_actual.png and <stem>_diff.png, and the test
// fails with their place.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/qx_png.h"
#include "platform/qx_surface.h"

namespace qxtest {

inline bool UpdatingGoldens() {
  const char* update = std::getenv("QX_UPDATE_GOLDENS");
  return update && std::string(update) == "1";
}

// Compares the colour (low 24 bits) of every pixel; the hint says how the
// golden is made again.
inline void ExpectMatchesGolden(const PlatSurface* actual, const std::filesystem::path& png, const std::string& hint) {
  namespace fs = std::filesystem;
  if (UpdatingGoldens()) {
    fs::create_directories(png.parent_path());
    ASSERT_EQ(PlatPngWriteFile(actual, png.string().c_str()), 0) << png;
    GTEST_SKIP() << "golden rewritten: " << png;
  }
  PlatSurface* golden = PlatPngReadFile(png.string().c_str());
  ASSERT_NE(golden, nullptr) << hint << ": " << png;
  const int32_t w = PlatSurfaceWidth(actual), h = PlatSurfaceHeight(actual);
  PlatSurface* diff = PlatSurfaceCreate(w, h, kPlatRgb32);
  PlatSurfaceClear(diff, 0xFFFFFF);
  int64_t differing = PlatSurfaceWidth(golden) == w && PlatSurfaceHeight(golden) == h ? 0 : int64_t(w) * h;
  for (int32_t y = 0; differing < int64_t(w) * h && y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if ((PlatSurfaceGetPixel(golden, x, y) & 0xFFFFFF) != (PlatSurfaceGetPixel(actual, x, y) & 0xFFFFFF)) {
        ++differing;
        PlatSurfaceSetPixel(diff, x, y, 0xFF0000);
      }
  if (differing) {
    const fs::path out = fs::temp_directory_path();
    const std::string stem = png.stem().string();
    PlatPngWriteFile(actual, (out / (stem + "_actual.png")).string().c_str());
    PlatPngWriteFile(diff, (out / (stem + "_diff.png")).string().c_str());
    ADD_FAILURE() << hint << ": " << differing << " pixels of " << png.filename() << " differ; actual and diff in "
                  << out;
  }
  PlatSurfaceDestroy(diff);
  PlatSurfaceDestroy(golden);
}

}  // namespace qxtest
