#include "appfolders.h"

#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "mgsource/counted_strings.h"
#include "mgsource/extload.h"
#include "mgsource/rsrc.h"

namespace {

// The table by runs: entries first to first + count - 1 are entries
// firstIndex, firstIndex + 1, ... of one string list.
struct IndStringRun {
  int32 first;
  int32 count;
  int32 listId;
  int32 firstIndex;
};
constexpr IndStringRun kIndStrings[] = {
    {0, 3, 501, 1},     // device manager
    {3, 2, 502, 1},     // file manager: the texts of a non-path and a long path
    {5, 8, 500, 1},     // font manager: size and style items
    {13, 19, 14400, 1},
    {32, 27, 503, 1},   // virtual key names
    {59, 6, 504, 1},    // menu modifiers
};
static_assert(kIndStrings[5].first + kIndStrings[5].count == kAppIndStringCount, "the table's size");

Bool32 IsNTFamily() { return 1; }

}  // namespace

MgErr ShellGetAppIndString(int32 n, PStr text, ConstPStr defaultText) {
  if (!text) return kArgErr;
  MgErr err = kArgErr;
  for (const IndStringRun& r : kIndStrings) {
    if (n < r.first || n >= r.first + r.count) continue;
    err = RGetIndString(RunTimeRsrcFile(), text, r.listId, r.firstIndex + n - r.first);
    break;
  }
  if (err == kNoErr) return kNoErr;
  if (defaultText) PStrCpy(text, defaultText);
  else text[0] = 0;
  return err;
}

void ShellInstallFolderHooks() {
  ExtCodeSetAppPathHook(&GetAppPath);
  ExtCodeSetTempDirPathHook(&GetTempDirPath);
  ExtCodeSetAppIndStringHook(&ShellGetAppIndString);
  ExtCodeSetNTFamilyHook(&IsNTFamily);
  VIFindShellHooks h = VIFindShell();
  h.controlLibPath = &GetControlLibPath;
  h.symbolicFolder = &AppSymbolicFolder;
  SetVIFindShellHooks(&h);
}
