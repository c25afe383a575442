// List-menu items from a string list of any bytes, then random insertions,
// deletions, changes, groups, links and copies.  Invariants: walking the
// records ends exactly at the handle's end after the item count, every
// group's words are consistent (a head's length covers followers carrying
// minus their distance), and a link found lies within the linked menu.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/lmenu.h"
#include "mgsource/window/lmenu_internal.h"
#include "rsrc_image.h"
#include "tests/draw_start.h"

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t Byte() { return n ? (--n, *p++) : 0; }
  // A Pascal string of up to 255 bytes.
  void Text(uChar* out) {
    const uint8_t len = Byte() % 40;
    out[0] = 0;
    for (uint8_t i = 0; i < len && n; ++i) out[++out[0]] = Byte();
  }
};

void CheckMenu(MenuHandle m) {
  const int32 count = (*m)->itemCount;
  int32 at = lmenu::ItemsStart(m);
  const int32 end = AZGetHandleSize(reinterpret_cast<UHandle>(m));
  std::vector<int32> groups;
  for (int32 n = 1; n <= count; ++n) {
    FUZZ_CHECK(at + kLItemFixedSize <= end);
    const LItemRecord* r = lmenu::At(m, at);
    FUZZ_CHECK(r->varSize >= 8 && r->varSize % 4 == 0);
    FUZZ_CHECK(MLItemDataSize(r) >= 0 && MLItemDataSize(r) <= kLItemMaxData);
    groups.push_back(r->group);
    at += lmenu::RecordSize(r);
  }
  FUZZ_CHECK(at == end);
  for (int32 i = 0; i < count;) {
    const int32 g = groups[size_t(i)];
    FUZZ_CHECK(g >= 0);
    for (int32 k = 1; k < g; ++k) FUZZ_CHECK(i + k < count && groups[size_t(i + k)] == -k);
    i += g > 0 ? g : 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 14) return 0;
  static const bool started = FuzzStartManagers() && StartDrawing() && RInitResources() == kNoErr;
  FUZZ_CHECK(started);
  // The string list: entries separated by a zero byte, up to the first 0xFF.
  size_t split = 0;
  while (split < size && data[split] != 0xFF) ++split;
  std::vector<std::string> entries{"Title"};
  std::string cur;
  for (size_t i = 0; i < split; ++i) {
    if (data[i] == 0) {
      entries.push_back(cur.substr(0, 255));
      cur.clear();
    } else {
      cur += char(data[i]);
    }
  }
  entries.push_back(cur.substr(0, 255));
  rsrcw::Writer w(FourCC("QXRS"), 0);
  w.Add(FourCC("STR#"), 600, rsrcw::StrList(entries));
  const RsrcFileRef file = FuzzOpenRsrcImage(w.Write());
  if (!file) return 0;
  MenuHandle menu = nullptr, other = nullptr;
  if (MNewLMenuFromStrings(file, 600, 1, &menu) != kNoErr || MNewLMenu(&other, nullptr, 2) != kNoErr ||
      MAppendLItemsFromStrings(file, 600, other, 2, 8) != kNoErr) {
    MDisposeMenu(menu);
    MDisposeMenu(other);
    RCloseFile(file);
    return 0;
  }
  RCloseFile(file);
  FUZZ_CHECK(MCountItems(menu) == int32(entries.size()) - 1);
  CheckMenu(menu);
  Reader in{data + split + (split < size), size - split - (split < size)};
  uChar text[256], name[256];
  uChar bytes[300] = {};
  for (int32 ops = 0; ops < 64 && in.n; ++ops) {
    MenuHandle m = in.Byte() & 1 ? menu : other;
    MenuHandle o = m == menu ? other : menu;
    const int32 count = MCountItems(m);
    const int32 item = in.Byte() % (count + 2), second = in.Byte() % (MCountItems(o) + 2);
    switch (in.Byte() % 10) {
      case 0:
        in.Text(text);
        MInsertLItem(m, text, nullptr, 0, bytes, in.Byte() + 8, int32(item) - 1, in.Byte());
        break;
      case 1:
        if (item >= 1 && item <= count) MDeleteItem(m, item);
        break;
      case 2:
        in.Text(text), in.Text(name);
        MChangeLItem(m, item, in.Byte() & 1 ? text : nullptr, in.Byte() & 1 ? name : nullptr);
        break;
      case 3:
        in.Text(name);
        MGroupLItems(m, item, in.Byte() % 6, in.Byte() & 1 ? name : nullptr);
        break;
      case 4:
        MUngroupLItems(m, item);
        break;
      case 5:
        MLinkLItem(m, item, o, second, in.Byte() & 1);
        break;
      case 6:
        in.Text(name);
        MCopyItems(m, name, int32(item) - 1, in.Byte(), o, second, in.Byte() % 6);
        break;
      case 7: {
        in.Text(text);
        int32 at = 0;
        MInsertLItemSorted(m, text, nullptr, 0, nullptr, 0, int32(item) - 1, 0, in.Byte() % 8, in.Byte() & 1, &at);
        break;
      }
      case 8:
        MCopyLItem(m, item, o, second);
        break;
      default: {
        MenuHandle linked = nullptr;
        int32 index = 0;
        if (item >= 1 && item <= count && MGetLItemLink(m, item, &linked, &index))
          FUZZ_CHECK((linked == o || linked == m) && index >= 1 && index <= MCountItems(linked));
        MCalcMenuSize(m);
        break;
      }
    }
    CheckMenu(m);
  }
  MDisposeMenu(menu);
  MDisposeMenu(other);
  return 0;
}
