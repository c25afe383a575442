// Whether a tag names an application item: the run-time menus' lookup over
// the catalog ('RTMN' 100, by hash, then without case) against a plain
// case-insensitive scan of the catalog's tags.  Each iteration asks for
// every tag of the catalog once, in lower case, and for one unknown tag.
#include <benchmark/benchmark.h>

#include "start_once.h"
#include <strings.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "engine/exec/rtmtexts.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "shell/rtmenu.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"

namespace {

bool Start() {
  static const bool started = [] {
    if (BenchMemInit() != kNoErr || BenchResources() != kNoErr) return false;
    rsrcw::Writer w(FourCC("APPL"), FourCC("QXrt"));
    qxbuild::AddRunTimeResources(&w);
    const rsrcw::Bytes file = w.Write();
    UHandle image = AZNewHandle(int32(file.size()));
    if (!image) return false;
    std::memcpy(*image, file.data(), file.size());
    RsrcFileRef ref = 0;
    if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, image) != kNoErr) return false;
    SetRunTimeRsrcFile(ref);
    return true;
  }();
  return started;
}

std::vector<std::string> Asked() {
  std::vector<std::string> tags;
  for (const rtmtexts::MenuItemText& t : rtmtexts::kAppMenu) {
    if (!t.tag || !*t.tag) continue;
    std::string s = t.tag;
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    tags.push_back(s);
  }
  tags.push_back("APP_NO_SUCH_ITEM");
  return tags;
}

void BM_RTMIsAppItemTag(benchmark::State& st) {
  if (!Start()) return st.SkipWithError("no run-time resources");
  const std::vector<std::string> asked = Asked();
  if (!RTMIsAppItemTag(asked.front())) return st.SkipWithError("the catalog was not read");
  for (auto _ : st)
    for (const std::string& tag : asked) benchmark::DoNotOptimize(RTMIsAppItemTag(tag));
}
BENCHMARK(BM_RTMIsAppItemTag);

void BM_StrcasecmpScanOfTags(benchmark::State& st) {
  const std::vector<std::string> asked = Asked();
  std::vector<std::string> catalog;
  for (const rtmtexts::MenuItemText& t : rtmtexts::kAppMenu)
    if (t.tag && *t.tag) catalog.push_back(t.tag);
  for (auto _ : st)
    for (const std::string& tag : asked) {
      bool found = false;
      for (const std::string& c : catalog)
        if (strcasecmp(c.c_str(), tag.c_str()) == 0) {
          found = true;
          break;
        }
      benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_StrcasecmpScanOfTags);

}  // namespace

namespace {

// A run-time menu file's bar whose one menu holds n items of one tag: each
// is made unique (ITEM, ITEM_1, ITEM_2 ...) against the tags in use as the
// menu is built, so the whole build grows with n, not with its cube.
void BM_RTMBuildRepeatedTags(benchmark::State& st) {
  if (!Start()) return st.SkipWithError("no run-time resources");
  const int32 n = int32(st.range(0));
  std::vector<RTMItem> items(2);
  items[0].name = "Bar";
  items[1].level = 1;
  items[1].name = items[1].tag = "M";
  for (int32 i = 0; i < n; ++i) {
    RTMItem it;
    it.level = 2;
    it.name = "item";
    it.tag = "ITEM";
    it.flags = 1;
    items.push_back(it);
  }
  static const uChar kTitle[] = "\x03" "Bar";
  for (auto _ : st) {
    MenuHandle bar = nullptr;
    if (RTMBuildMenu(nullptr, items, 0, kTitle, &bar) != kNoErr || !bar) return st.SkipWithError("no menu built");
    RTMDisposeMenu(bar);
  }
  st.SetComplexityN(n);
}
BENCHMARK(BM_RTMBuildRepeatedTags)->RangeMultiplier(4)->Range(64, 4096)->Complexity(benchmark::oN);

}  // namespace
