// Printer settings (QX_PRINTERS profiles, QX_PRINT_DIALOG scripts) and
// pass-through escapes come from outside.  Any bytes: every section is
// either a printer whose values lie in their ranges and whose device blocks
// read back, or one error line; a script's page range and copies lie in
// their ranges; a pass-through escape takes exactly the counts its buffer
// holds and fails below 1 on the others.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/qx_dc.h"
#include "platform/qx_file.h"
#include "platform/qx_globalmem.h"
#include "platform/qx_printdc.h"
#include "platform/qx_printer.h"

namespace {

int32_t Sections(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  int32_t n = 0;
  while (std::getline(in, line)) {
    size_t b = line.find_first_not_of(" \t\r");
    n += b != std::string::npos && line[b] == '[';
  }
  return n;
}

void CheckPrinter(const PlatPrinterInfo& p) {
  if (p.name.empty() || p.dpi < 36 || p.dpi > 2400 || p.paperW < 72 || p.paperH < 72 ||
      2 * p.marginX >= p.paperW || 2 * p.marginY >= p.paperH || p.marginX < 0 || p.marginY < 0)
    std::abort();
  for (bool landscape : {false, true}) {
    int32_t w = 0, h = 0, hr = 0, vr = 0, ox = 0, oy = 0;
    PlatPrinterCapOf(p, landscape, kPlatCapPhysicalWidth, &w);
    PlatPrinterCapOf(p, landscape, kPlatCapPhysicalHeight, &h);
    PlatPrinterCapOf(p, landscape, kPlatCapHorzRes, &hr);
    PlatPrinterCapOf(p, landscape, kPlatCapVertRes, &vr);
    PlatPrinterCapOf(p, landscape, kPlatCapPhysicalOffsetX, &ox);
    PlatPrinterCapOf(p, landscape, kPlatCapPhysicalOffsetY, &oy);
    if (hr <= 0 || vr <= 0 || hr + 2 * ox != w || vr + 2 * oy != h) std::abort();
  }
  PlatGlobal dm = 0, dn = 0;
  const bool fits = sizeof(PlatDevNames) + p.driver.size() + p.name.size() + p.port.size() + 3 <= 0xFFFF;
  if (PlatMakeDeviceBlocks(p, &dm, &dn) != fits) std::abort();
  if (!fits) return;
  uint32_t size = PlatGlobalSize(dn);
  auto* b = static_cast<const uint8_t*>(PlatGlobalLock(dn));
  PlatDevNames head;
  std::memcpy(&head, b, sizeof head);
  if (head.deviceOffset + p.name.size() + 1 > size || std::string(reinterpret_cast<const char*>(b + head.deviceOffset)) != p.name)
    std::abort();
  PlatGlobalUnlock(dn);
  if (PlatGlobalSize(dm) != sizeof(PlatDevMode)) std::abort();
  PlatGlobalFree(dm);
  PlatGlobalFree(dn);
}

// A printer with a small page, so that a page per input stays cheap.
PlatObj SmallPrinter() {
  static PlatObj dc = [] {
    char path[] = "/tmp/qxprinterfuzzXXXXXX";
    int fd = mkstemp(path);
    const char text[] = "[Small]\ndpi=36\npaper=72x72\nmargins=0\n";
    if (fd < 0 || write(fd, text, sizeof text - 1) != ssize_t(sizeof text - 1)) std::abort();
    close(fd);
    setenv("QX_PRINTERS", path, 1);
    PlatObj d = PlatCreatePrinterDc(nullptr, "Small", nullptr, 0);
    unlink(path);
    if (!d || PlatStartDoc(d, "fuzz") < 1) std::abort();
    return d;
  }();
  return dc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const int32_t live = PlatGlobalLiveCount();
  std::string errors;
  std::vector<PlatPrinterInfo> list = PlatParsePrinters(text, &errors);
  int32_t errorLines = 0;
  for (char c : errors) errorLines += c == '\n';
  if (int32_t(list.size()) + errorLines != Sections(text)) std::abort();
  std::set<std::string> names;
  for (const PlatPrinterInfo& p : list) {
    if (!names.insert(p.name).second) std::abort();
    CheckPrinter(p);
  }
  if (PlatGlobalLiveCount() != live) std::abort();

  PlatPrintScript s = PlatParsePrintScript(text, nullptr);
  if ((s.fromPage == 0) != (s.toPage == 0) || s.fromPage > s.toPage || s.toPage > 65535 || s.copies < 0 ||
      s.copies > 9999)
    std::abort();
  if (s.cancel && text.find("cancel") == std::string::npos) std::abort();

  PlatObj dc = SmallPrinter();
  if (PlatStartPage(dc) != 1) std::abort();
  int32_t r = PlatEscape(dc, kPlatEscPassThrough, int32_t(size), data, nullptr);
  if (size >= 2) {
    uint16_t n;
    std::memcpy(&n, data, 2);
    bool fits = n <= size - 2;
    if (fits ? r != (n ? n : 1) : r >= 1) std::abort();
  } else if (r >= 1) {
    std::abort();
  }
  if (PlatEndPage(dc) != 1) std::abort();
  return 0;
}
