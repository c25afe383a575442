// Pictures from resources, files and diagram data are not trusted: any
// bytes become a picture played onto a PostScript page, whose pixel blocks
// and images reach the page's image writer.  Nothing is read past the
// picture or the pixels (the sanitizers watch), nothing is asserted on, and
// the page's text stays whole: every bit map has the samples its operator reads.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "tests/draw_start.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/dport.h"
#include "mgsource/draw/dprims.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/draw/picture.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/draw/psport.h"
#include "mgsource/filemgr.h"
#include "mgsource/window/window.h"
#include "mgsource/window/wport.h"
#include "platform/qx_drives.h"
#include "platform/qx_window.h"

namespace {

// Text layouts the page cannot write yet are reported as not available;
// any other report while armed is a fault.
int32_t Alert(const char* title, const char* text, int32_t buttons, int32_t def) {
  if (text && std::strstr(text, " not available")) return PlatAlertDefaultAnswer(buttons);
  return FuzzAbortWhenArmed(title, text, buttons, def);
}

std::string gDir;
FileRef gSpool = nullptr;
int32 gPage = 0;
WindowRef gWindow = kWNoWindow;

bool Init() {
  if (!FuzzStartManagers(Alert)) return false;
  if (FInitFileMgr() != kNoErr) return false;
  if (!StartDrawing()) return false;

  char tmpl[] = "/tmp/qxpsfuzzXXXXXX";
  if (!mkdtemp(tmpl)) return false;
  gDir = tmpl;
  if (PlatDriveMap('P', gDir.c_str(), kPlatDriveFixed) != 0) return false;
  Path p = nullptr;
  const char* name = "P:\\page.ps";
  if (FTextToPath(reinterpret_cast<const uChar*>(name), int32(std::strlen(name)), &p) != kNoErr) return false;
  const MgErr err = FCreateAlways(&gSpool, p, 0666, kAccessReadWrite, kDenyNone, nullptr);
  FDisposePath(p);
  if (err) return false;
  UHandle record = AZNewHClr(128);
  const Rect page{0, 0, 792, 612};
  std::memcpy(*record + 24, &page, sizeof page);
  const Rect place{40, 40, 140, 240};
  gWindow = WCreate(0x3C, nullptr, nullptr, &place, 0, 0, 0);
  if (!gWindow) return false;
  DSetPointBuf(1);
  return ICreatePageImage(0, 8, uInt32(uintptr_t(gSpool)), &gPage, uInt32(uintptr_t(record))) == kNoErr;
}

bool IsHex(const std::string& line) {
  if (line.empty()) return false;
  for (char c : line)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// Every bit map's samples are exactly what its operator reads: the string's
// bytes times its rows, in hex digits.
bool SamplesWhole(const std::string& body) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < body.size();) {
    size_t end = body.find('\r', at);
    if (end == std::string::npos) end = body.size();
    lines.push_back(body.substr(at, end - at));
    at = end + 1;
  }
  long bytes = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    long w = 0, h = 0;
    if (std::sscanf(lines[i].c_str(), "/pictstr %ld string def", &bytes) == 1) continue;
    size_t first = 0;
    if (std::sscanf(lines[i].c_str(), "%ld %ld true [", &w, &h) == 2 && i + 1 < lines.size() &&
        lines[i + 1].find("imagemask") != std::string::npos) {
      first = i + 2;
    } else if (std::sscanf(lines[i].c_str(), "%ld %ld 8 [", &w, &h) == 2 &&
               lines[i].find("readhexstring") != std::string::npos) {
      first = i + 1;
    } else {
      continue;
    }
    size_t digits = 0, j = first;
    while (j < lines.size() && IsHex(lines[j])) digits += lines[j++].size();
    if (bytes < 0 || long(digits) != bytes * 2 * h) {
      std::fprintf(stderr, "samples: %zu digits for %ld bytes x %ld rows\n", digits, bytes, h);
      return false;
    }
    i = j - 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = Init();
  if (!ready || size < 2 || size > (1 << 16)) return 0;
  // The first byte: live references, level-2 colour samples and the
  // destination's size; the rest the picture (its length word included).
  const bool live = data[0] & 0x80;
  gPrintPrefs.postScriptLevel2 = (data[0] & 0x40) ? 1 : 0;
  const int16 side = int16(8 + (data[0] & 0x1F));
  const Rect frame{0, 0, 32, 32}, dst{4, 4, int16(4 + side), int16(4 + side)};
  UHandle h = FuzzPictureHandle(data + 1, size - 1);
  FUZZ_CHECK(h);
  int32 pict = 0;
  FUZZ_CHECK(ICreatePict(gWindow, &frame, 32, h, live ? kImageLive : 0, &pict) == kNoErr);
  DSetPortTarget(gPage);
  PSOpenPage(gPage);
  FuzzArmed() = true;
  IDrawPicture(pict, nullptr, &dst, 0, 0, 0, 0);
  FuzzArmed() = false;
  PSClose(nullptr, 0);  // the page's text reaches its file (no printer takes it)
  DSetPortTarget(0);
  FUZZ_CHECK(IRelease(pict) == kNoErr);
  MemFullReset();
  std::ifstream in(gDir + "/page.ps", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  const size_t body = text.find("setstrokeadjust}if }if\r");
  FUZZ_CHECK(body != std::string::npos);
  FUZZ_CHECK(SamplesWhole(text.substr(body)));
  return 0;
}
