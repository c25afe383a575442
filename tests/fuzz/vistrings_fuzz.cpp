// Arbitrary text imported as a VI string file into a fixture VI (a label, a
// string control, a ring, a cluster holding a string): the result is 0, 2
// or 42, no report fires, no reader moves past the text's count (the
// handle's bytes beyond it would read as tags), and afterwards the
// fixture's own file imports cleanly again.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "mgsource/filemgr.h"
#include "mgsource/path.h"
#include "panel/strimport.h"
#include "panel_fuzz_support.h"
#include "platform/qx_drives.h"
#include "shell/vistring.h"
#include "tests/panel/vistring_fixture.h"

namespace {

struct Fixture {
  UHandle vi = nullptr;
  ObjHeap heap = nullptr;
  Path file = nullptr;
  std::string root;
};

Fixture* Start() {
  if (!FuzzStartPanelManagers()) return nullptr;
  PlatSetAlertProc(FuzzAbortWhenArmed);
  FInitFileMgr();
  auto* f = new Fixture;
  const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                        : std::filesystem::temp_directory_path();
  f->root = (base / "qxvsXXXXXX").string();
  if (!mkdtemp(f->root.data())) std::abort();
  PlatDriveMap('F', f->root.c_str(), kPlatDriveFixed);
  const char text[] = "F:\\s.txt";
  if (FTextToPath(reinterpret_cast<const uChar*>(text), int32(sizeof text - 1), &f->file)) std::abort();
  f->heap = FuzzNewBoundPanel({}, &f->vi);
  if (!f->heap) std::abort();
  VIRec(f->vi)->viKind = 2;
  std::memcpy(VIRec(f->vi)->name, "\004Test", 5);
  const int32 root = int32(GetNative32(*f->heap + OHWord(f->heap, kOHExtension) + kHeapExtRoot));
  vsfix::Build(f->heap, root);
  SetVIStringHooks({.importPanel = &FPImportStrings, .className = &GetObjClassName});
  return f;
}

MgErr ImportFile(Fixture* f, const void* data, size_t size) {
  {
    std::ofstream out(f->root + "/s.txt", std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
  }
  return ImportVIStrings(f->vi, f->file, 0, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Fixture* f = Start();
  if (!f || size > 1 << 14) return 0;
  FuzzArmed() = true;
  // The whole import from the file.
  const MgErr result = ImportFile(f, data, size);
  FUZZ_CHECK(result == 0 || result == 2 || result == 42);
  // The panel's readers on a text whose handle goes on past its count with
  // bytes that would close every element.
  if (LStrHandle text = FuzzTextHandle(data, size, 64, '>')) {
    for (size_t i = 0; i < 64; i += 8) std::memcpy((*text)->str + size + i, "</VI>   ", 8);
    ImportStringsContext context;
    InitImportContext(&context);
    ImportStringsRequest rq{};
    rq.text = reinterpret_cast<UHandle>(text);
    rq.syntaxVersion = int32(size % 4);
    rq.context = &context;
    const int32 reply = FPImportStrings(f->heap, &rq);
    FUZZ_CHECK(rq.position <= size);
    FUZZ_CHECK((reply & kImportStop) ? context.errCode >= 1 && context.errCode <= 19 : context.errCode == -1);
    FUZZ_CHECK(context.errPosition <= size && context.warnCount != 0);
    DSDisposeHandle(reinterpret_cast<UHandle>(text));
  }
  // The VI is whole: its own file imports without an error.
  const std::string own = vsfix::Section({});
  FUZZ_CHECK(ImportFile(f, own.data(), own.size()) == 0);
  FuzzArmed() = false;
  return 0;
}
