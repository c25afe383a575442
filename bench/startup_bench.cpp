// Start-up to the first panel: the demo program, run headless with a script
// that quits once the program has gone idle (Demo.vi opened, run and its
// panel drawn), against the same program with an empty library, whose alert
// that nothing could be opened is answered by default before it quits.
// Each iteration is one whole run of the program; the medians of the
// repetitions compare (wall-clock time: the work is the child's).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

#include "app/demovi.h"
#include "mgsource/fourcc.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"
#include "tools/vilibrary.h"

namespace {

namespace fs = std::filesystem;

// The folder of both programs and their runs, removed at exit; empty when
// they cannot be made.
struct Removed {
  std::string dir;
  ~Removed() {
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
  }
};
const std::string& Folder() {
  static const Removed made{[] {
    const fs::path d = fs::temp_directory_path() / ("qx_startup_bench_" + std::to_string(::getpid()));
    std::error_code ec;
    fs::create_directories(d / "t", ec);
    std::string error;
    if (ec || !demo::BuildDemo(QX_QUENLIX, (d / "demo").string(), 20, "", &error)) return std::string();
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddRunTimeResources(&w);
    qxbuild::VILibraryWriter("Demo.qlb").AddTo(&w);
    if (!qxbuild::AppendToProgram(QX_QUENLIX, w.Write(), (d / "empty").string(), &error)) return std::string();
    std::ofstream(d / "script.txt") << "wait\nquit\n";
    return d.string();
  }()};
  return made.dir;
}

void Run(benchmark::State& st, const char* program) {
  const std::string& dir = Folder();
  if (dir.empty()) return st.SkipWithError("the programs cannot be made");
  const std::string cmd = "TMPDIR=" + dir + "/t QX_RUNTIME_DIR=" + dir + "/run QX_REGISTRY_FILE=" + dir +
                          "/reg.ini QX_UI=headless QX_INPUT_SCRIPT=" + dir + "/script.txt " + dir + "/" + program +
                          " >/dev/null 2>&1";
  for (auto _ : st)
    if (std::system(cmd.c_str()) != 0) return st.SkipWithError("the program failed");
}

void BM_StartUpToFirstPanel(benchmark::State& st) { Run(st, "demo"); }
void BM_StartUpEmptyLibrary(benchmark::State& st) { Run(st, "empty"); }
BENCHMARK(BM_StartUpToFirstPanel)->Iterations(5)->Repetitions(5)->ReportAggregatesOnly()->UseRealTime();
BENCHMARK(BM_StartUpEmptyLibrary)->Iterations(5)->Repetitions(5)->ReportAggregatesOnly()->UseRealTime();

}  // namespace
