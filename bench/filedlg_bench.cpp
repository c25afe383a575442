// The file dialog's listing of a folder of 10,000 files with a custom
// pattern (FDFillList: the file manager's sorted listing, the kind ring and
// the pattern test) against readdir, std::sort and the same pattern test on
// std::strings.
#include <benchmark/benchmark.h>

#include "start_once.h"
#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "platform/qx_drives.h"
#include "shell/filedlg.h"

namespace {

constexpr int kFiles = 10000;
const uChar kPattern[] = "\x04*.vi";

struct Setup {
  std::string root;
  Setup() {
    BenchMemInit();
    BenchFileMgr();
    std::string t = (std::filesystem::temp_directory_path() / "qxbdXXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    root = t;
    for (int i = 0; i < kFiles; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/f%05d.%s", (i * 7919) % kFiles, i % 2 ? "vi" : "txt");
      std::fclose(std::fopen((root + name).c_str(), "wb"));
    }
    PlatDriveMap('D', root.c_str(), kPlatDriveFixed);
  }
};
Setup& S() {
  static Setup* s = new Setup;
  return *s;
}

void BM_FDFillList(benchmark::State& state) {
  S();
  FDState& s = FDCurrent();
  s = FDState{};
  s.flags = kFDBrowse | kFDChooseFiles;
  s.pattern = "*.vi";
  s.kindIndex = s.kinds.Count() - 1;  // "Custom Pattern"
  Path p = nullptr;
  FTextToPath(reinterpret_cast<const uChar*>("D:\\"), 3, &p);
  s.folder = p;
  for (auto _ : state) {
    FDFillList();
    benchmark::DoNotOptimize(s.entries.size());
  }
  FDisposePath(p);
  s = FDState{};
}
BENCHMARK(BM_FDFillList)->Unit(benchmark::kMillisecond);

void BM_ReaddirSortPattern(benchmark::State& state) {
  const std::string root = S().root;
  for (auto _ : state) {
    std::vector<std::string> names;
    DIR* d = opendir(root.c_str());
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    std::vector<std::string> kept;
    for (const std::string& n : names)
      if (FStrFitsPat(kPattern + 1, reinterpret_cast<const uChar*>(n.data()), kPattern[0], int32(n.size())))
        kept.push_back(n);
    benchmark::DoNotOptimize(kept.size());
  }
}
BENCHMARK(BM_ReaddirSortPattern)->Unit(benchmark::kMillisecond);

}  // namespace
