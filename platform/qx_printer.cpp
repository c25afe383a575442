#include "platform/qx_printer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "platform/qx_dc.h"
#include "platform/qx_file.h"
#include "platform/qx_printdc.h"

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

// A whole decimal number in [lo, hi].
bool ParseInt(const std::string& s, int32_t lo, int32_t hi, int32_t* out) {
  if (s.empty() || s.size() > 9) return false;
  int32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < lo || v > hi) return false;
  *out = v;
  return true;
}

// "A" or "A x B" (also "AxB", "A,B"); one number gives both.
bool ParsePair(const std::string& s, int32_t lo, int32_t hi, int32_t* a, int32_t* b) {
  size_t sep = s.find_first_of("xX,");
  if (sep == std::string::npos) {
    if (!ParseInt(Trim(s), lo, hi, a)) return false;
    *b = *a;
    return true;
  }
  return ParseInt(Trim(s.substr(0, sep)), lo, hi, a) && ParseInt(Trim(s.substr(sep + 1)), lo, hi, b);
}

bool ParseBool(const std::string& s, bool* out) {
  static const char* const yes[] = {"yes", "true", "1", "on"};
  static const char* const no[] = {"no", "false", "0", "off"};
  for (const char* y : yes)
    if (s == y) return *out = true, true;
  for (const char* n : no)
    if (s == n) return *out = false, true;
  return false;
}

bool FitsBlock(const std::string& s) { return s.size() <= 255 && s.find('\0') == std::string::npos; }

struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
};

// Applies one section; an error text on failure.
std::string Apply(const Section& sec, PlatPrinterInfo* p) {
  p->name = sec.name;
  if (sec.name.empty() || !FitsBlock(sec.name)) return "bad name";
  bool ps = true, haveDriver = false;
  for (const auto& kv : sec.keys) {
    const std::string& k = kv.first;
    const std::string& v = kv.second;
    bool ok = true;
    if (k == "driver") {
      ok = !v.empty() && FitsBlock(v);
      p->driver = v;
      haveDriver = true;
    } else if (k == "port") {
      ok = !v.empty() && FitsBlock(v);
      p->port = v;
    } else if (k == "dpi") {
      ok = ParseInt(v, 36, 2400, &p->dpi);
    } else if (k == "paper") {
      ok = ParsePair(v, 72, 14400, &p->paperW, &p->paperH);
    } else if (k == "margins") {
      ok = ParsePair(v, 0, 7200, &p->marginX, &p->marginY);
    } else if (k == "colour") {
      ok = ParseBool(v, &p->colour);
    } else if (k == "postscript") {
      ok = ParseBool(v, &ps);
    } else if (k == "output") {
      ok = !v.empty();
      p->output = v;
    } else if (k == "command") {
      ok = !v.empty();
      p->command = v;
    } else {
      return "unknown key \"" + k + "\"";
    }
    if (!ok) return "bad value of \"" + k + "\"";
  }
  p->postscript = ps;
  if (!haveDriver) p->driver = ps ? "qxps" : "qxraster";
  if (2 * p->marginX >= p->paperW || 2 * p->marginY >= p->paperH) return "margins leave no page";
  return "";
}

std::string ReadFile(const char* path, bool* ok) {
  std::ifstream in(path, std::ios::binary);
  *ok = bool(in);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::vector<PlatPrinterInfo> PlatParsePrinters(const std::string& text, std::string* errors) {
  std::vector<Section> sections;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[') {
      size_t close = t.find(']');
      sections.push_back(Section{});
      // An unclosed header keeps an empty name, which is refused below.
      if (close != std::string::npos && close == t.size() - 1) sections.back().name = Trim(t.substr(1, close - 1));
      continue;
    }
    size_t eq = t.find('=');
    if (sections.empty() || eq == std::string::npos) continue;
    sections.back().keys.emplace_back(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
  }
  std::vector<PlatPrinterInfo> out;
  std::set<std::string> names;
  for (const Section& sec : sections) {
    PlatPrinterInfo p;
    std::string why = Apply(sec, &p);
    if (why.empty() && !names.insert(sec.name).second) why = "name used twice";
    if (!why.empty()) {
      if (errors) *errors += "printer [" + sec.name.substr(0, 64) + "] skipped: " + why + "\n";
      continue;
    }
    out.push_back(p);
  }
  return out;
}

std::vector<PlatPrinterInfo> PlatBuiltinPrinters() {
  PlatPrinterInfo ps;
  ps.name = "PostScript Printer";
  ps.driver = "qxps";
  ps.port = "FILE:";
  PlatPrinterInfo raster = ps;
  raster.name = "Raster Printer";
  raster.driver = "qxraster";
  raster.dpi = 150;
  raster.postscript = false;
  return {ps, raster};
}

std::vector<PlatPrinterInfo> PlatPrinters() {
  const char* path = std::getenv("QX_PRINTERS");
  if (!path || !*path) return PlatBuiltinPrinters();
  bool ok = false;
  std::string text = ReadFile(path, &ok);
  if (!ok) {
    std::fprintf(stderr, "QX_PRINTERS: cannot read %s\n", path);
    return PlatBuiltinPrinters();
  }
  std::string errors;
  std::vector<PlatPrinterInfo> list = PlatParsePrinters(text, &errors);
  if (!errors.empty()) std::fputs(errors.c_str(), stderr);
  return list.empty() ? PlatBuiltinPrinters() : list;
}

bool PlatFindPrinter(const char* name, PlatPrinterInfo* out) {
  if (!name) return false;
  for (const PlatPrinterInfo& p : PlatPrinters())
    if (p.name == name) {
      *out = p;
      return true;
    }
  return false;
}

bool PlatEnumPrinters(void* buf, uint32_t size, uint32_t* needed, uint32_t* count) {
  std::vector<PlatPrinterInfo> list = PlatPrinters();
  uint64_t total = list.size() * sizeof(PlatPrinterEntry);
  for (const auto& p : list) total += p.name.size() + p.driver.size() + p.port.size() + 3;
  if (needed) *needed = uint32_t(total);
  if (count) *count = 0;
  if (!buf || size < total) {
    PlatSetLastError(kPlatErrInsufficientBuffer);
    return false;
  }
  auto* entries = static_cast<PlatPrinterEntry*>(buf);
  char* text = static_cast<char*>(buf) + list.size() * sizeof(PlatPrinterEntry);
  auto put = [&text](const std::string& s) {
    std::memcpy(text, s.c_str(), s.size() + 1);
    const char* at = text;
    text += s.size() + 1;
    return at;
  };
  for (size_t i = 0; i < list.size(); ++i) {
    entries[i].name = put(list[i].name);
    entries[i].driver = put(list[i].driver);
    entries[i].port = put(list[i].port);
  }
  if (count) *count = uint32_t(list.size());
  return true;
}

bool PlatPrinterCapOf(const PlatPrinterInfo& p, bool landscape, int32_t cap, int32_t* value) {
  int32_t w = int32_t(int64_t(p.paperW) * p.dpi / 72), h = int32_t(int64_t(p.paperH) * p.dpi / 72);
  int32_t ox = int32_t(int64_t(p.marginX) * p.dpi / 72), oy = int32_t(int64_t(p.marginY) * p.dpi / 72);
  if (landscape) {
    std::swap(w, h);
    std::swap(ox, oy);
  }
  switch (cap) {
    case kPlatCapLogPixelsX:
    case kPlatCapLogPixelsY: *value = p.dpi; return true;
    case kPlatCapPhysicalWidth: *value = w; return true;
    case kPlatCapPhysicalHeight: *value = h; return true;
    case kPlatCapPhysicalOffsetX: *value = ox; return true;
    case kPlatCapPhysicalOffsetY: *value = oy; return true;
    case kPlatCapHorzRes: *value = w - 2 * ox; return true;
    case kPlatCapVertRes: *value = h - 2 * oy; return true;
    case kPlatCapBitsPixel: *value = p.colour ? 24 : 1; return true;
    case kPlatCapPlanes: *value = 1; return true;
    case kPlatCapNumColors: *value = -1; return true;
    default: return false;
  }
}

bool PlatMakeDeviceBlocks(const PlatPrinterInfo& p, PlatGlobal* devMode, PlatGlobal* devNames) {
  // The names block's offsets are 16-bit words: names too long for them
  // would wrap, so such a printer gets no blocks.
  const uint64_t namesSize = uint64_t(sizeof(PlatDevNames)) + p.driver.size() + p.name.size() + p.port.size() + 3;
  if (namesSize > 0xFFFF) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  PlatGlobal dm = PlatGlobalAlloc(kPlatGlobalMovable | kPlatGlobalZeroInit, sizeof(PlatDevMode));
  PlatGlobal dn = dm ? PlatGlobalAlloc(kPlatGlobalMovable | kPlatGlobalZeroInit, uint32_t(namesSize)) : 0;
  if (!dm || !dn) {
    if (dm) PlatGlobalFree(dm);
    PlatSetLastError(kPlatErrNoMemory);
    return false;
  }
  auto* mode = static_cast<PlatDevMode*>(PlatGlobalLock(dm));
  std::strncpy(mode->deviceName, p.name.c_str(), sizeof mode->deviceName - 1);
  mode->fields = kPlatDmOrientation | kPlatDmCopies;
  mode->orientation = kPlatPortrait;
  mode->copies = 1;
  mode->size = sizeof(PlatDevMode);
  mode->driverExtra = 0;
  PlatGlobalUnlock(dm);
  auto* names = static_cast<uint8_t*>(PlatGlobalLock(dn));
  PlatDevNames head;
  head.driverOffset = sizeof(PlatDevNames);
  head.deviceOffset = uint16_t(head.driverOffset + p.driver.size() + 1);
  head.outputOffset = uint16_t(head.deviceOffset + p.name.size() + 1);
  head.isDefault = 0;
  std::memcpy(names, &head, sizeof head);
  std::memcpy(names + head.driverOffset, p.driver.c_str(), p.driver.size() + 1);
  std::memcpy(names + head.deviceOffset, p.name.c_str(), p.name.size() + 1);
  std::memcpy(names + head.outputOffset, p.port.c_str(), p.port.size() + 1);
  PlatGlobalUnlock(dn);
  *devMode = dm;
  *devNames = dn;
  return true;
}

namespace {

// The NUL-terminated text at off in a block of size bytes.
bool TextAt(const uint8_t* b, uint32_t size, uint32_t off, std::string* out) {
  if (off >= size) return false;
  const void* nul = std::memchr(b + off, 0, size - off);
  if (!nul) return false;
  out->assign(reinterpret_cast<const char*>(b + off), static_cast<const uint8_t*>(nul) - (b + off));
  return true;
}

}  // namespace

bool PlatReadDeviceBlocks(PlatGlobal devMode, PlatGlobal devNames, PlatPrinterInfo* p, bool* landscape,
                          int32_t* copies) {
  uint32_t nsize = PlatGlobalSize(devNames), msize = PlatGlobalSize(devMode);
  if (nsize < sizeof(PlatDevNames) || msize < sizeof(PlatDevMode)) {
    PlatSetLastError(kPlatErrInvalidHandle);
    return false;
  }
  std::string device;
  bool ok = false;
  if (const auto* n = static_cast<const uint8_t*>(PlatGlobalLock(devNames))) {
    PlatDevNames head;
    std::memcpy(&head, n, sizeof head);
    ok = head.deviceOffset >= sizeof head && TextAt(n, nsize, head.deviceOffset, &device);
    PlatGlobalUnlock(devNames);
  }
  PlatDevMode mode;
  if (const void* m = PlatGlobalLock(devMode)) {
    std::memcpy(&mode, m, sizeof mode);
    PlatGlobalUnlock(devMode);
  } else {
    ok = false;
  }
  if (!ok) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  if (!PlatFindPrinter(device.c_str(), p)) {
    PlatSetLastError(kPlatErrInvalidParam);
    return false;
  }
  if (landscape)
    *landscape = (mode.fields & kPlatDmOrientation) && mode.orientation == kPlatLandscape;
  if (copies) *copies = (mode.fields & kPlatDmCopies) && mode.copies > 0 ? mode.copies : 1;
  return true;
}

PlatPrintScript PlatParsePrintScript(const std::string& text, std::string* errors) {
  PlatPrintScript s;
  std::string word, all;
  for (char c : text) all += (c == ',' || c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
  std::istringstream words(all);
  while (words >> word) {
    int32_t a = 0, b = 0;
    bool ok = true;
    if (word == "cancel") {
      s.cancel = true;
    } else if (word == "landscape") {
      s.landscape = true;
    } else if (word.compare(0, 6, "pages=") == 0) {
      std::string r = word.substr(6);
      size_t dash = r.find('-');
      ok = dash != std::string::npos && ParseInt(r.substr(0, dash), 1, 65535, &a) &&
           ParseInt(r.substr(dash + 1), 1, 65535, &b) && a <= b;
      if (ok) s.fromPage = a, s.toPage = b;
    } else if (word.compare(0, 7, "copies=") == 0) {
      ok = ParseInt(word.substr(7), 1, 9999, &a);
      if (ok) s.copies = a;
    } else {
      ok = false;
    }
    if (!ok && errors) *errors += "QX_PRINT_DIALOG: ignored \"" + word.substr(0, 64) + "\"\n";
  }
  return s;
}

namespace {

void SetDevMode(PlatGlobal dm, bool landscape, int32_t copies) {
  auto* mode = static_cast<PlatDevMode*>(PlatGlobalLock(dm));
  if (!mode) return;
  if (landscape) {
    mode->orientation = kPlatLandscape;
    mode->fields |= kPlatDmOrientation;
  }
  if (copies > 0) {
    mode->copies = int16_t(copies);
    mode->fields |= kPlatDmCopies;
  }
  PlatGlobalUnlock(dm);
}

}  // namespace

int32_t PlatPrintDialog(PlatPrintDlg* pd, uint32_t* extError) {
  auto fail = [&](uint32_t e) {
    if (extError) *extError = e;
    return 0;
  };
  if (extError) *extError = kPlatPdErrNone;
  if (!pd) return fail(kPlatPdErrInit);
  pd->dc = 0;
  std::vector<PlatPrinterInfo> list = PlatPrinters();
  PlatPrinterInfo printer;
  bool landscape = false;
  if (pd->flags & kPlatPdReturnDefault) {
    if (pd->devMode || pd->devNames) return fail(kPlatPdErrInit);
    if (!PlatMakeDeviceBlocks(list.front(), &pd->devMode, &pd->devNames)) return fail(kPlatPdErrInit);
    printer = list.front();
  } else {
    std::string errors;
    const char* text = std::getenv("QX_PRINT_DIALOG");
    PlatPrintScript script = PlatParsePrintScript(text ? text : "", &errors);
    if (!errors.empty()) std::fputs(errors.c_str(), stderr);
    if (pd->devMode || pd->devNames) {
      int32_t copies = 1;
      if (!PlatReadDeviceBlocks(pd->devMode, pd->devNames, &printer, &landscape, &copies))
        return fail(kPlatPdErrNoDevice);
    } else if (!PlatMakeDeviceBlocks(list.front(), &pd->devMode, &pd->devNames)) {
      return fail(kPlatPdErrInit);
    } else {
      printer = list.front();
    }
    if (script.cancel) return fail(kPlatPdErrNone);
    pd->flags &= ~kPlatPdPageNums;
    pd->copies = 1;
    if (script.fromPage) {
      pd->flags |= kPlatPdPageNums;
      pd->fromPage = uint16_t(script.fromPage);
      pd->toPage = uint16_t(script.toPage);
    }
    if (script.copies) pd->copies = uint16_t(script.copies);
    SetDevMode(pd->devMode, script.landscape, script.copies);
    landscape = landscape || script.landscape;
  }
  if (pd->flags & kPlatPdReturnDc) {
    pd->dc = PlatCreatePrinterDc(printer.driver.c_str(), printer.name.c_str(), printer.port.c_str(), pd->devMode);
    if (!pd->dc) return fail(kPlatPdErrCreateDc);
  }
  return 1;
}
