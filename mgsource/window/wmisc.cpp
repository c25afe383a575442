#include "mgsource/window/wmisc.h"

#include <atomic>
#include <cstring>

#include "mgsource/debug.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/icursor.h"
#include "mgsource/hookset.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "platform/qx_cursor.h"
#include "platform/qx_display.h"
#include "platform/qx_help.h"
#include "platform/qx_process.h"

// The first byte of the program's image: the instance word external code
// asks for names the loaded program, as a module base does.
extern "C" char __executable_start;

namespace {

WManagerHooks gHooks{};
// The id of the cursor set last; the user-interface thread sets cursors,
// other threads may read it.
std::atomic<int32> gLastCursor{0};
std::atomic<bool> gCursorSet{false};

}  // namespace

MgErr WExecute(ConstCStr commandLine, Bool32 minimized) {
  if (!commandLine) return kGenericErr;
  return PlatRunProgram(commandLine, minimized != 0) < 32 ? kGenericErr : kNoErr;
}

int32 WWinHelp(WindowRef /*window*/, Path path, int32 command, ConstCStr keyword) {
  // The help viewer is a program of its own; the window it is opened for
  // does not change what it shows.
  UHandle text = path ? FPathToCStrHandle(path) : nullptr;
  if (!text) return 2;
  int32 result;
  if (command == kWHelpQuit) {
    result = PlatHelp(reinterpret_cast<const char*>(*text), kPlatHelpQuit, nullptr);
  } else {
    const char* key = command == kWHelpKeyword && keyword && *keyword ? keyword : nullptr;
    result = PlatHelp(reinterpret_cast<const char*>(*text), kPlatHelpShow, key);
  }
  AZDisposeHandle(text);
  return result ? 1 : 0;
}

MgErr GetManagerLong(int32* out, int32 selector) {
  if (!out) return kArgErr;
  switch (selector) {
    case 1: *out = int32(reinterpret_cast<intptr_t>(&__executable_start)); return kNoErr;
    case 2: case 3: case 4: *out = TStandardFont(selector - 2); return kNoErr;
    case 5:
      if (gHooks.deviceValue) return gHooks.deviceValue(out);
      *out = -1;
      return kArgErr;
    case 6:
      if (gHooks.threadValue) return gHooks.threadValue(out);
      *out = 0;
      return kCapabilityErr;
    default: return kArgErr;
  }
}

WManagerHooks WSetManagerHooks(const WManagerHooks& hooks) {
  return SetGivenHooks(&gHooks, hooks, &WManagerHooks::deviceValue, &WManagerHooks::threadValue);
}

void WSetHostCursor(int32 id) {
  if (gCursorSet.load() && gLastCursor.load() == id) return;
  gLastCursor.store(id);
  gCursorSet.store(true);
  PlatSetCursor(IGetHostCursor(id));
}

void WForgetHostCursor() { gCursorSet.store(false); }

namespace {
std::atomic<int32> gNoOperator{-1};
}  // namespace

void WSetNoOperator(int32 state) { gNoOperator.store(state); }

Bool32 WNoOperator() {
  if (const int32 state = gNoOperator.load(); state >= 0) return state;
  PlatDisplay* display = PlatGetDisplay();
  return !display || std::strcmp(display->Name(), "headless") == 0 ? 1 : 0;
}
