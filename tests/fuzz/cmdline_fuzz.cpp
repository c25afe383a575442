// Command lines split in place, the start mode and the document arguments.
// Invariants: counting and filling find the same arguments, every argument
// lies inside the text and ends at its NUL, the platform's splitter agrees,
// the start mode is the first switch found, the skip loop never runs past
// the arguments, and arguments joined into a command line split back.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mgsource/window/winmain.h"
#include "platform/qx_process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find('\0'));
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back(0);
  char* const begin = buf.data();
  const int32 count = WSplitCommandLine(reinterpret_cast<CStr>(begin), nullptr);
  std::vector<CStr> argv(size_t(count) + 1, nullptr);
  FUZZ_CHECK(WSplitCommandLine(reinterpret_cast<CStr>(begin), argv.data()) == count);
  const std::vector<std::string> plat = PlatSplitCommandLine(text.c_str());
  FUZZ_CHECK(int32(plat.size()) == count);
  int32 mode = 0;
  for (int32 i = 0; i < count; ++i) {
    const char* a = reinterpret_cast<const char*>(argv[size_t(i)]);
    FUZZ_CHECK(a >= begin && a + std::strlen(a) < begin + buf.size());
    FUZZ_CHECK(plat[size_t(i)] == a);
    if (!mode && std::strcmp(a, "/Automation") == 0) mode = 1;
    if (!mode && std::strcmp(a, "/Unregister") == 0) mode = 2;
  }
  FUZZ_CHECK(WFindStartMode(count, argv.data()) == mode);
  for (int32 i = 0; i < count; ++i) {
    const int32 before = i;
    if (WSkipArgument(argv[size_t(i)], &i)) FUZZ_CHECK(i == before || i == before + 1);
    else FUZZ_CHECK(i == before && *argv[size_t(i)]);
  }
  // Arguments with no quote and no leading slash survive the trip through
  // a command line.
  std::vector<std::string> simple;
  for (const std::string& a : plat)
    if (a.find('"') == std::string::npos && (a.empty() || a[0] != '/')) simple.push_back(a);
  std::vector<const char*> ptrs;
  for (const std::string& a : simple) ptrs.push_back(a.c_str());
  FUZZ_CHECK(PlatSplitCommandLine(WCommandLineFromArgs(int(ptrs.size()), ptrs.data()).c_str()) == simple);
  return 0;
}
