// Input scripts (QX_INPUT_SCRIPT) are read from files: any bytes either parse
// into steps whose values lie in their ranges, in line order, each of which
// formats to a line that parses back to the same step; or fail at a line
// that exists, with a message and no steps.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/qx_uitest_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::vector<PlatScriptStep> steps;
  int32_t badLine = 0;
  std::string message;
  int32_t lines = 1;
  for (size_t i = 0; i < size; ++i) lines += text[i] == '\n';
  if (!PlatScriptParse(text, size, &steps, &badLine, &message)) {
    if (badLine < 1 || badLine > lines || message.empty() || !steps.empty()) std::abort();
    return 0;
  }
  int32_t last = 0;
  for (const PlatScriptStep& s : steps) {
    if (s.line <= last || s.line > lines) std::abort();
    last = s.line;
    if (s.x < -32768 || s.x > 32767 || s.y < -32768 || s.y > 32767) std::abort();
    if (s.op == kScriptWheel && (s.steps == 0 || s.steps < -kScriptMaxWheel || s.steps > kScriptMaxWheel))
      std::abort();
    if (s.op == kScriptKey && PlatScriptNameOfKey(s.key).empty()) std::abort();
    if ((s.op == kScriptSnapshot || s.op == kScriptSnapshotWindow || s.op == kScriptWaitFile) && s.text.empty()) std::abort();
    const std::string line = PlatScriptFormat(s);
    std::vector<PlatScriptStep> back;
    if (!PlatScriptParse(line.data(), line.size(), &back, &badLine, &message) || back.size() != 1) std::abort();
    back[0].line = s.line;
    if (!(back[0] == s)) std::abort();
  }
  return 0;
}
