// The benchmark program's entry: Google Benchmark's own, except that the CSV
// format, as the display format or as the format of the output file, is
// written by a reporter of this program.  The library's CSV reporter takes
// its columns from the first benchmark it reports and stops the program at a
// user counter it has not seen, and the benchmarks here set different
// counters (some only in some runs).  Ours keeps the runs until the end and
// writes one header naming every counter any run set; a run without a
// counter leaves its column empty.
#include <benchmark/benchmark.h>

#include "insn_marks.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <set>
#include <string>
#include <vector>

// Distinct bodies keep the linker from folding the two marks into one.
volatile int gInsnMarks[2];
extern "C" __attribute__((noinline)) void QxInsnMarkBegin() { gInsnMarks[0] = 1; }
extern "C" __attribute__((noinline)) void QxInsnMarkEnd() { gInsnMarks[1] = 1; }

namespace {

// The value of a flag of the library as it will read it: the environment
// variable of its name in capitals, then the last "--name=value" (or
// "-name=value") of the command line.
std::string FlagValue(int argc, char** argv, const std::string& name) {
  std::string env = name;
  for (char& c : env) c = char(std::toupper(static_cast<unsigned char>(c)));
  std::string value;
  if (const char* e = std::getenv(env.c_str())) value = e;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (*a != '-') continue;
    a += a[1] == '-' ? 2 : 1;
    if (std::strncmp(a, name.c_str(), name.size()) == 0 && a[name.size()] == '=') value = a + name.size() + 1;
  }
  return value;
}

std::string Quoted(const std::string& s) {
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

const char* ComplexityText(benchmark::BigO o) {
  switch (o) {
    case benchmark::oN: return "N";
    case benchmark::oNSquared: return "N^2";
    case benchmark::oNCubed: return "N^3";
    case benchmark::oLogN: return "lgN";
    case benchmark::oNLogN: return "NlgN";
    case benchmark::o1: return "(1)";
    default: return "f(N)";
  }
}

class CsvReporter : public benchmark::BenchmarkReporter {
 public:
  // The context (machine, caches, load) goes to the error stream of the
  // display; a file holds the table alone.
  explicit CsvReporter(bool context) : context_(context) {}

  bool ReportContext(const Context& context) override {
    if (context_) PrintBasicContext(&GetErrorStream(), context);
    return true;
  }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      runs_.push_back(r);
      for (const auto& c : r.counters)
        if (!IsRate(c.first)) counters_.insert(c.first);
    }
  }
  void Finalize() override {
    std::ostream& out = GetOutputStream();
    out << "name,iterations,real_time,cpu_time,time_unit,bytes_per_second,items_per_second,label,"
           "error_occurred,error_message";
    for (const std::string& c : counters_) out << "," << Quoted(c);
    out << "\n";
    for (const Run& r : runs_) Row(out, r);
    out.flush();
  }

 private:
  static bool IsRate(const std::string& name) { return name == "bytes_per_second" || name == "items_per_second"; }

  void Row(std::ostream& out, const Run& r) const {
    out << Quoted(r.benchmark_name()) << ",";
    if (r.error_occurred) {
      out << ",,,,,,,true," << Quoted(r.error_message);
    } else {
      if (!r.report_big_o && !r.report_rms) out << r.iterations;
      out << "," << r.GetAdjustedRealTime() << "," << r.GetAdjustedCPUTime() << ",";
      if (r.report_big_o) out << ComplexityText(r.complexity);
      else if (!r.report_rms) out << benchmark::GetTimeUnitString(r.time_unit);
      for (const char* rate : {"bytes_per_second", "items_per_second"}) {
        out << ",";
        auto it = r.counters.find(rate);
        if (it != r.counters.end()) out << double(it->second);
      }
      out << ",";
      if (!r.report_label.empty()) out << Quoted(r.report_label);
      out << ",,";
    }
    for (const std::string& c : counters_) {
      out << ",";
      auto it = r.counters.find(c);
      if (it != r.counters.end()) out << double(it->second);
    }
    out << "\n";
  }

  bool context_;
  std::vector<Run> runs_;
  std::set<std::string> counters_;
};

}  // namespace

int main(int argc, char** argv) {
  const bool csvDisplay = FlagValue(argc, argv, "benchmark_format") == "csv";
  const bool csvFile = FlagValue(argc, argv, "benchmark_out_format") == "csv" &&
                       !FlagValue(argc, argv, "benchmark_out").empty();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CsvReporter display(true), file(false);
  benchmark::RunSpecifiedBenchmarks(csvDisplay ? &display : nullptr, csvFile ? &file : nullptr);
  benchmark::Shutdown();
  // The libraries' places, for naming the code pages an instruction count
  // found outside the program (scripts/insncount.sh).
  if (std::getenv("QX_PRINT_MAPS")) {
    if (FILE* maps = std::fopen("/proc/self/maps", "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, maps))
        if (std::strchr(line, '/')) std::fputs(line, stderr);
      std::fclose(maps);
    }
  }
  return 0;
}
