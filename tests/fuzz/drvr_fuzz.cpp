// Loads driver files whose code resource is an arbitrary "MQ" image (the
// code is never run): a block is given only for a driver file of the right
// type holding a resource of the driver's name, and only with the driver
// words checked (the magic, room for the kept words, the entry-table
// function inside the block); the file, the resource handle and the path
// are given back whatever the outcome.
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "io/device.h"
#include "mgsource/appdirs.h"
#include "mgsource/byteorder.h"
#include "mgsource/config.h"
#include "mgsource/extload.h"
#include "mgsource/fourcc.h"
#include "mgsource/rsrc.h"
#include "platform/qx_drives.h"
#include "platform/qx_vmem.h"
#include "tools/rsrcwriter.h"

namespace {

std::string gFolder;
Path gFolderPath = nullptr;
MgErr FolderPath(Path out) { return FPathCpy(out, gFolderPath); }

bool Start() {
  if (!FuzzStartManagers() || RInitResources() != kNoErr) return false;
  char dir[] = "/tmp/qxdrvfuzzXXXXXX";
  if (!mkdtemp(dir)) return false;
  gFolder = dir;
  std::string text;
  if (!PlatHostToSysText(gFolder.c_str(), &text)) return false;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &gFolderPath) != kNoErr)
    return false;
  // Code libraries' temporary files go to the library folder too.
  ExtCodeSetTempDirPathHook(FolderPath);
  static const uChar kLibDir[] = "\x06" "libdir";
  CfgWrite(kCfgPath, kLibDir, &gFolderPath);
  return InitAppDirs() == kNoErr;
}

int QxsbFiles() {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(gFolder))
    n += e.path().filename().string().rfind("qxsb", 0) == 0;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = Start();
  if (!started || size < 1 || size > 1 << 16) return 0;
  const uint8_t how = data[0];
  const bool typeOk = !(how & 1), nameOk = !(how & 2);
  std::vector<uChar> image(data + 1, data + size);
  if (image.size() < 2) image.resize(2);
  image[0] = 'M';
  image[1] = 'Q';
  rsrcw::Writer w(typeOk ? FourCC("QXSB") : FourCC("QXSC"), FourCC("QXLV"));
  w.Add(FourCC("QXSB"), 1, image, nameOk ? "drv" : "drw");
  if (!rsrcw::WriteHostFile(gFolder + "/drv", w.Write())) return 0;

  const int32 blocks = PlatCodeBlocksInUse(), handles = FuzzLiveHandles();
  // The loader reports a relocation outside the code itself (fuzzed there).
  UPtr block = DevTestPrepareDriver(reinterpret_cast<ConstPStr>("\x03" "drv"));
  if (block) {
    FUZZ_CHECK(typeOk && nameOk);
    Bool32 library = 1;
    const int32 extent = ExtCodeBlockExtent(block, &library);
    FUZZ_CHECK(!library && extent >= kDrvBlockMin);
    FUZZ_CHECK(GetNative32(block + kDrvMagicAt) == FourCC("DRVR"));
    const uintptr_t entry = GetNative32(block + kDrvEntryProcAt), at = reinterpret_cast<uintptr_t>(block);
    FUZZ_CHECK(entry >= at && entry - at < uintptr_t(extent));
    UnloadExtCode(block);
  }
  FUZZ_CHECK(PlatCodeBlocksInUse() == blocks);
  FUZZ_CHECK(FuzzLiveHandles() == handles);
  FUZZ_CHECK(QxsbFiles() == 0);
  return 0;
}
