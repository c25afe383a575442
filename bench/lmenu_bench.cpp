// List menus: sizing a 500-item menu built from a string list against
// measuring its 500 texts with TTextSize (target: at most 3x); finding an
// item by name among 1,000 against a strcasecmp loop over the same names
// (target: at most 1.5x).
#include <benchmark/benchmark.h>

#include "start_once.h"
#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

#include "mgsource/draw/fonts.h"
#include "mgsource/memory.h"
#include "mgsource/rsrc.h"
#include "mgsource/window/lmenu.h"
#include "tools/rsrcwriter.h"

namespace {

bool Start() {
  static const bool started = BenchMemInit() == kNoErr && BenchResources() == kNoErr && (BenchFontsInit(), true);
  return started;
}

std::vector<std::string> Entries(int32 n) {
  std::vector<std::string> entries{"Bench"};
  for (int32 i = 1; i <= n; ++i)
    entries.push_back("Menu item number " + std::to_string(i) + ":NAME_" + std::to_string(i) + (i % 5 ? "" : ":Mk+S"));
  return entries;
}

MenuHandle FromStrings(int32 n) {
  rsrcw::Writer w(FourCC("QXRS"), 0);
  w.Add(FourCC("STR#"), 700, rsrcw::StrList(Entries(n)));
  const rsrcw::Bytes file = w.Write();
  UHandle image = AZNewHandle(int32(file.size()));
  std::memcpy(*image, file.data(), file.size());
  RsrcFileRef ref = 0;
  if (ROpenFileOrHandle(nullptr, kRsrcReadOnly, &ref, nullptr, nullptr, image) != kNoErr) return nullptr;
  MenuHandle menu = nullptr;
  MNewLMenuFromStrings(ref, 700, 1, &menu);
  RCloseFile(ref);
  return menu;
}

void BM_LMenuCalcSize500(benchmark::State& st) {
  if (!Start()) return st.SkipWithError("no managers");
  MenuHandle menu = FromStrings(500);
  if (!menu) return st.SkipWithError("no menu");
  for (auto _ : st) {
    MInvalMenuSize(menu);
    MCalcMenuSize(menu);
    benchmark::DoNotOptimize((*menu)->size);
  }
  MDisposeMenu(menu);
}
BENCHMARK(BM_LMenuCalcSize500);

void BM_TextSize500(benchmark::State& st) {
  if (!Start()) return st.SkipWithError("no managers");
  MenuHandle menu = FromStrings(500);
  if (!menu) return st.SkipWithError("no menu");
  std::vector<std::string> texts;
  for (int32 n = 1; n <= 500; ++n) {
    ConstPStr t = MLItemString(MGetLItemPtr(menu, n), 0);
    texts.emplace_back(reinterpret_cast<const char*>(t + 1), t[0]);
  }
  const int32 font = (*menu)->font;
  for (auto _ : st) {
    int32 width = 0;
    for (const std::string& t : texts) {
      Point p;
      TTextSize(reinterpret_cast<const uChar*>(t.data()), int32(t.size()), font, &p);
      width = p.h > width ? p.h : width;
    }
    benchmark::DoNotOptimize(width);
  }
  MDisposeMenu(menu);
}
BENCHMARK(BM_TextSize500);

void BM_LMenuFindByName1000(benchmark::State& st) {
  if (!Start()) return st.SkipWithError("no managers");
  MenuHandle menu = FromStrings(1000);
  if (!menu) return st.SkipWithError("no menu");
  const uChar name[] = "\x0Aname_1000";
  for (auto _ : st) benchmark::DoNotOptimize(MFindLItemByName(menu, name, nullptr, nullptr, 0));
  MDisposeMenu(menu);
}
BENCHMARK(BM_LMenuFindByName1000);

void BM_StrCaseCmpLoop1000(benchmark::State& st) {
  std::vector<std::string> names;
  for (int32 i = 1; i <= 1000; ++i) names.push_back("NAME_" + std::to_string(i));
  const char* volatile wanted = "name_1000";
  for (auto _ : st) {
    int32 found = 0;
    for (size_t i = 0; i < names.size(); ++i)
      if (strcasecmp(names[i].c_str(), wanted) == 0) {
        found = int32(i) + 1;
        break;
      }
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_StrCaseCmpLoop1000);

}  // namespace
