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
