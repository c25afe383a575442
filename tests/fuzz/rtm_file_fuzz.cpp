// Run-time menu files and 'RTMN' resources of any bytes: read as a file
// from a drive, parsed as a resource body, and every description that
// parses built into a menu tree against a program menu bar made from the
// catalog, then disposed.  Invariants: the readers answer only 0, 2, 42,
// 1033 or 1034; a parsed description keeps flags within 16 bits and levels
// within the limit; after disposal no run-time menu id stays taken and no
// handle is left behind.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/vi/rtrsrc.h"
#include "fuzz_support.h"
#include "mgsource/filemgr.h"
#include "mgsource/window/lmenu.h"
#include "platform/qx_drives.h"
#include "rsrc_image.h"
#include "shell/menuids.h"
#include "shell/rtmenu.h"
#include "tests/draw_start.h"
#include "tools/rtmwriter.h"

namespace {

std::string gRoot;

bool Allowed(MgErr e) { return e == 0 || e == 2 || e == 42 || e == 1033 || e == 1034; }

uChar* P(const std::string& s, uChar* out) {
  out[0] = uChar(s.size() > 255 ? 255 : s.size());
  std::memcpy(out + 1, s.data(), out[0]);
  return out;
}

// The program's menu bar (id 4): the catalog's menus and items, the open
// windows as a group of two.
void MakeProgramBar() {
  MenuHandle bar = nullptr, sub = nullptr;
  uChar a[256], b[256];
  MNewLMenu(&bar, P("Panel", a), 4);
  MenuTableSet(4, bar);
  int32 id = 10;
  for (const auto& it : rtmtexts::kAppMenu) {
    if (it.level == 1) {
      MInsertLItem(bar, P(it.name, a), P(it.tag, b), 0, nullptr, 0, -1, 0);
      MNewLMenu(&sub, P(it.name, a), id);
      MenuTableSet(id++, sub);
      MSetLItemSubmenu(bar, MCountItems(bar), sub);
    } else if (it.level == 2 && sub) {
      MInsertLItem(sub, P(it.name, a), P(it.tag, b), 0, nullptr, 0, -1, uInt32(MCountItems(sub) + 1));
      if (std::string(it.tag) == "APP_OPEN_WINDOWS") {
        MInsertLItem(sub, P("Second", a), P("", b), 0, nullptr, 0, -1, 0);
        MGroupLItems(sub, MCountItems(sub) - 1, 2, P(it.tag, b));
      }
    }
  }
}

bool Start() {
  if (!FuzzStartManagers() || !StartDrawing() || RInitResources() != kNoErr || FInitFileMgr() != kNoErr) return false;
  gRoot = (std::filesystem::temp_directory_path() / ("rtmfuzz" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(gRoot);
  if (PlatDriveMap('F', gRoot.c_str(), kPlatDriveFixed) != 0) return false;
  rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
  rtmw::AddRunTimeMenus(&w);
  const RsrcFileRef rt = FuzzOpenRsrcImage(w.Write());
  if (!rt) return false;
  SetRunTimeRsrcFile(rt);
  MenuTableReset(0);
  MakeProgramBar();
  // The caches a first build fills (catalog, texts, loaded lists) are filled
  // here, so that every run leaves the handle count as it found it.
  RTMMenuData d;
  MenuHandle menu = nullptr;
  uChar title[256];
  if (RTMReadMenuRsrc(rt, kRTMAppMenuId, &d) != kNoErr ||
      RTMBuildMenu(nullptr, d.items, 0, P("Bar", title), &menu) != kNoErr)
    return false;
  RTMDisposeMenu(menu);
  int32 ch = 0, key = 0;
  uInt32 mods = 0;
  RTMShortcutRec rec{0, FuzzTextHandle(reinterpret_cast<const uint8_t*>("F5"), 2)};
  RTMParseShortcut(&rec, &ch, &key, &mods);
  DSDisposeHandle(reinterpret_cast<UHandle>(rec.key));
  return key == 19;
}

void CheckAndBuild(MgErr err, const RTMMenuData& d) {
  FUZZ_CHECK(Allowed(err));
  if (err) {
    FUZZ_CHECK(d.items.empty());
    return;
  }
  for (const RTMItem& it : d.items) FUZZ_CHECK(it.flags <= 0xFFFF && it.level <= kRTMMaxLevel);
  if (d.items.empty()) return;
  MenuHandle menu = nullptr;
  uChar title[256];
  if (RTMBuildMenu(nullptr, d.items, 0, P(d.items[0].name, title), &menu) == kNoErr) RTMDisposeMenu(menu);
  for (int32 id = kSentinelMenuID + 1; id < MenuTableSize(); ++id) FUZZ_CHECK(MenuKindGet(id) == kMenuKindFree);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 14) return 0;
  static const bool started = Start();
  FUZZ_CHECK(started);
  const int32 before = FuzzLiveHandles();
  {
    FILE* f = std::fopen((gRoot + "/in.rtm").c_str(), "wb");
    FUZZ_CHECK(f);
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    Path p = nullptr;
    FTextToPath(reinterpret_cast<const uChar*>("F:\\in.rtm"), 9, &p);
    FUZZ_CHECK(p);
    RTMMenuData d;
    const MgErr err = RTMReadMenuFile(p, &d);
    FDisposePath(p);
    uInt32 version = 0;
    if (RTMCheckHeader(data, int32(size), &version) != kNoErr) FUZZ_CHECK(err == kRTMBadFileErr);
    CheckAndBuild(err, d);
  }
  {
    RTMMenuData d;
    CheckAndBuild(RTMParseMenuRsrc(data, int32(size), &d), d);
  }
  FUZZ_CHECK(FuzzLiveHandles() == before);
  return 0;
}
