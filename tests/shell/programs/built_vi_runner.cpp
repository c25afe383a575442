// A built application in miniature: starts up as the program does, opens
// the top-level VIs of the library appended to it (keeping the first), hands the posted
// user events to their handlers until the VI's run is done and it is idle,
// prints the 32-bit words of its data space at the given offsets (one
// "word=" line each, in order), with -range the range-check word of its
// panel's root ("range=<hex>"), and shuts down.  Each file given with -first
// is loaded before, by its host path, then closed with whatever it loaded
// ("first=<n> opened=<0 or 1> left=<VIs still loaded>").
//   built_vi_runner -word <offset> [-word <offset> ...] [-range] [-first <host path> ...] [-pref <configuration file>]
// Exit status 0, or: 2 start-up failed, 3 no library, 4 the VI did not
// open, 5 its run did not end within 20 s.
//   built_vi_runner -methods [-access <entry> ...]
// After the run, the VI server's methods and application properties on the
// VI (vimethods_probe.h), with the exported-VI list set to the entries.
//   built_vi_runner -unregistered
// After start-up, prints "unregistered=<index> <name>" for each routine the
// program has under a name the run-time table's list gives an index, when
// that index does not hold it, then "routines=<how many it has>",
// "automation=<1 when the automation client started>", "variantcopy=deep"
// (or "flat" without the variant's own procedures) and "autoref=<the
// result of converting an automation refnum type>"; runs no VI.
//   built_vi_runner -call <host path>
// Calls the VI of the file by its path with the I32 inputs "a" 2 and "b" 40
// and the output "sum" while the main loop runs, and prints "call=<result>
// sum=<sum> refs=<references left on the VI>"; then names the indicator
// "sum" as an input and prints "indicator=<result> ran=<0 or 1>".
//   built_vi_runner -steps [-fail-refs]
// Prints "step=<name>" for each step of the shell's start-up and shut-down,
// and before the type heap's step the failure log ("faillog=<path>") and
// the run-time globals ("globals=<1 when word 0 holds the loaded-VI list's
// head> <word 5 in hex>");
// with -fail-refs the VI references' start fails (2): then "failed=<error>
// threads=<threads beyond those before the execution systems started>" and
// status 2.  After the whole shut-down, "memory=<live handles when the
// memory manager had started> <live handles then> <of them the support
// constants and windows kept for the process's life> az=<the application
// zone's total then and now, emptied pages given back> ds=<the data
// zone's>".
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/appstart.h"
#include "engine/datamgr.h"
#include "engine/dsalloc.h"
#include "engine/stdize.h"
#include "engine/exec/exec.h"
#include "engine/exec/rttable.h"
#include "engine/vi/archive.h"
#include "engine/vi/archive_format.h"
#include "engine/vi/rtrsrc.h"
#include "engine/vi/vifind.h"
#include "engine/vi/vi_internal.h"
#include "engine/vi/viinst.h"
#include "engine/vi/viload.h"
#include "engine/vi/virecord.h"
#include "io/device.h"
#include "mgsource/datetime.h"
#include "mgsource/debug.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/printmgr.h"
#include "mgsource/filemgr.h"
#include "mgsource/memory.h"
#include "mgsource/mgstartup.h"
#include "mgsource/path.h"
#include "mgsource/pool.h"
#include "mgsource/support.h"
#include "mgsource/thread.h"
#include "mgsource/window/textrec.h"
#include "mgsource/window/wevent.h"
#include "mgsource/window/window.h"
#include "olesource/oleautomgr.h"
#include "panel/rangecheck.h"
#include "server/viref.h"
#include "shell/appprint.h"
#include "shell/background.h"
#include "shell/callbypath.h"
#include "shell/eventfilter.h"
#include "shell/shellinit.h"
#include "shell/toplevel.h"
#include "shell/userevent.h"
#include "tests/live_handles.h"
#include "tools/runvi.h"
#include "vimethods_probe.h"

namespace {

// The application's top-level VIs open as the start event opens them; the
// first is kept (held by name, it outlives the purge that follows its run).
UHandle gFirst = nullptr;
MgErr OpenAndKeepFirst(Path path, UHandle* vi, int32 flags) {
  UHandle opened = nullptr;
  const MgErr err = OpenVIFile(path, &opened, flags);
  if (!err && opened && !gFirst && HoldVIName(VIRec(opened)->name, 0) == kNoErr) gFirst = opened;
  if (vi) *vi = opened;
  return err;
}

int Watch(UHandle vi, const std::vector<int32>& offsets);
// -methods: the VI server's probe after the run; -access: its VI access list.
bool gMethods = false;
std::vector<std::string> gAccess;
bool gRange = false;

// Loads a VI file by its host path as the loader does for a file found (the
// library inside the program, which holds a VI of the same name, is not
// searched), then closes it with every VI that then stays unused.
void OpenFirst(int n, const char* host) {
  std::string text = "C:";
  for (const char* c = host; *c; ++c) text += *c == '/' ? '\\' : *c;
  Path path = nullptr;
  UHandle vi = nullptr;
  RsrcFileRef file = 0;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &path) == kNoErr &&
      ROpenFile(path, kRsrcReadOnly, &file, nullptr, nullptr) == kNoErr) {
    // The path is the VI's from here, or disposed by the failed load.
    LoadInstrument(path, 0, nullptr, file, &vi, 0);
    path = nullptr;
  }
  if (path) FDisposePath(path);
  std::fflush(stderr);
  if (vi) CloseVI(vi, 0, 0, 1);
  PurgeUnusedVIs(0);
  std::printf("first=%d opened=%d left=%d\n", n, vi ? 1 : 0, int(LoadedVICount()));
  std::fflush(stdout);
}

int ListUnregistered() {
  int found = 0;
  for (int32 i = 0; i < kQXRTEntries; ++i) {
    if (!QXRTEntryName(i)) continue;
    const std::string names = std::string(QXRTEntryName(i)) + " " + QXRTEntryOtherNames(i);
    for (size_t at = 0, end; at < names.size(); at = end + 1) {
      end = names.find(' ', at);
      if (end == std::string::npos) end = names.size();
      if (end == at) continue;
      const std::string name = names.substr(at, end - at);
      void* routine = dlsym(RTLD_DEFAULT, name.c_str());
      if (!routine) continue;
      ++found;
      if (reinterpret_cast<void*>(QXRTTable[i]) != routine) std::printf("unregistered=%d %s\n", int(i), name.c_str());
    }
  }
  std::printf("routines=%d\n", found);
  // The automation client started, and its hooks in the engine: variants
  // copied with their strings, automation refnum types converted.
  std::printf("automation=%d\n", int(AutomationStarted()));
  const uChar variantType[] = {6, 0, kTDVariant, 0, 1, 0};
  PlatVariant a, b;
  PlatVariantInit(&a);
  PlatVariantInit(&b);
  a.vt = kPlatVtBstr;
  a.bstr = PlatBstrFromText("x", 1);
  const MgErr copied = CopyData(reinterpret_cast<const TypeDescriptor*>(variantType), &a, &b);
  std::printf("variantcopy=%s\n", !copied && b.vt == kPlatVtBstr && b.bstr && b.bstr != a.bstr ? "deep" : "flat");
  if (b.bstr != a.bstr) PlatVariantClear(&b);
  PlatVariantClear(&a);
  uChar refType[] = {8, 0, kTDRefnum, 0, kRefnumAutomation, 0, 0, 0};
  std::printf("autoref=%d\n", int(AutoRefStandardize(refType, 1, 8)));
  return 0;
}

int CallByPath(const char* host) {
  WEventSetGate(1);
  WSetEventHandler(kWRootWindow, &ShellEventFilter);
  std::string text = "C:";
  for (const char* c = host; *c; ++c) text += *c == '/' ? '\\' : *c;
  Path path = nullptr;
  if (FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &path) != kNoErr) return 4;
  const TypeDescriptor* i32 = StdTDTable[kTDI32];
  static const uChar kA[] = "\001a", kB[] = "\001b", kSum[] = "\003sum";
  int32 a = 2, b = 40, sum = 0;
  const MgErr err = CallInstrumentByPath(path, 0, 2, 1, kA, i32, &a, kB, i32, &b, kSum, i32, &sum);
  Str255 name;
  FNamePtr(path, name);
  UHandle vi = FindVIByName(name);
  std::printf("call=%d sum=%d refs=%d\n", int(err), int(sum), vi ? int(VIHasRefs(vi, 0)) : -1);
  int32 ran = 0;
  if (vi && VIRec(vi)->dataSpace) PutNative32(*VIRec(vi)->dataSpace + runvi::kAddSum, 0);
  const MgErr indicator = CallInstrumentByPath(path, 0, 1, 0, kSum, i32, &a);
  vi = FindVIByName(name);
  if (vi && VIRec(vi)->dataSpace) ran = GetNative32(*VIRec(vi)->dataSpace + runvi::kAddSum) != 0;
  std::printf("indicator=%d ran=%d\n", int(indicator), int(ran));
  FDisposePath(path);
  return 0;
}

int Run(const std::vector<int32>& offsets, const std::vector<const char*>& first) {
  if (!RunTimeRsrcFile()) return 3;
  // The main loop is running: user events leave the queue.
  WEventSetGate(1);
  for (size_t i = 0; i < first.size(); ++i) OpenFirst(int(i), first[i]);
  SetTopLevelOpenProc(&OpenAndKeepFirst);
  OpenLibraryTopLevelVIs(nullptr, 0);
  SetTopLevelOpenProc(nullptr);
  if (!gFirst) return 4;
  Str255 name;
  std::memcpy(name, VIRec(gFirst)->name, size_t(VIRec(gFirst)->name[0]) + 1);
  int status = Watch(gFirst, offsets);
  if (status == 0 && gMethods) status = probe::Methods(gFirst, gAccess);
  HoldVIName(name, 1);
  return status;
}

int Watch(UHandle vi, const std::vector<int32>& offsets) {
  // The done event of the run is handled on this thread, which also runs
  // the user-interface system's clumps between events.
  bool done = false;
  const uInt32 deadline = MilliSecs() + 20000;
  while (!(done && (VIRec(vi)->eState & kVIStateMask) == kVIStateIdle)) {
    if (MillisecCmp(MilliSecs(), deadline) > 0) {
      UHandle ds = VIRec(vi)->dataSpace;
      std::fprintf(stderr, "not done: done event %d, state %u, flags 0x%x, data space %d\n", int(done),
                   unsigned(VIRec(vi)->eState), unsigned(VIRec(vi)->flags), ds ? DSGetHandleSize(ds) : -1);
      for (int32 at = 528; ds && at + 4 <= DSGetHandleSize(ds) && at < 548; at += 4)
        std::fprintf(stderr, "  %d: 0x%x\n", int(at), unsigned(GetNative32(*ds + at)));
      return 5;
    }
    const int32 busy = WBackground(0);
    WEventRecord e{};
    bool any = false;
    while (WGetNextEvent(&e)) {
      any = true;
      if (DispatchUserEvent(&e) && UserEventSubCode(&e) == kUEVIDone) done = true;
    }
    if (!any && busy != 2) WSleep(1);
  }
  UHandle ds = VIRec(vi)->dataSpace;
  for (int32 offset : offsets)
    if (!ds || offset < 0 || offset + 4 > DSGetHandleSize(ds)) return 4;
  for (int32 offset : offsets) std::printf("word=%d\n", int(int32(GetNative32(*ds + offset))));
  if (gRange) {
    const ObjHeap panel = VIRec(vi)->panelHeap;
    if (!panel) return 4;
    std::printf("range=%x\n", unsigned(RangeWord(panel, viinst::PanelRoot(panel))));
  }
  return 0;
}

bool gFailRefs = false;
int gThreadsBeforeExec = 0;

int Threads() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (const dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

void PrintStep(const char* name) {
  std::printf("step=%s\n", name);
  const std::string step = name;
  if (step == "engine") gThreadsBeforeExec = Threads();
  if (step == "types") {
    char log[512];
    DBFailureLogPath(log, sizeof log);
    const uInt32* block = QXRTGlobals();
    std::printf("faillog=%s\nglobals=%d %x\n", log,
                int(block[0] == uInt32(reinterpret_cast<uintptr_t>(LoadedVIListHead()))), unsigned(block[5]));
  }
  if (gFailRefs && step == "types") {
    ShellStartHooks hooks = ShellStartHooksInUse();
    hooks.viRefInit = [] { return MgErr(kMemFullErr); };
    ShellSetStartHooks(hooks);
  }
}

// What the zones hold once the memory manager has started (the engine's
// start-up blocks made): live handles and the two zones' totals.
struct Memory {
  int32 handles = 0;
  int32 az = 0, ds = 0;
};
Memory gAtStart;
Memory Measure() {
  MemStatsRecord a{}, d{};
  AZMemStats(&a);
  DSMemStats(&d);
  return {LiveHandleCount(), a.allocTotal, d.allocTotal};
}
void MemoryStarted() {
  AZPAllocInit();
  gAtStart = Measure();
}

int Steps(int argc, char** argv) {
  AppInstallHooks();
  ShellStartHooks hooks = ShellStartHooksInUse();
  hooks.step = &PrintStep;
  ShellSetStartHooks(hooks);
  MemSetDataSpaceInitHook(&MemoryStarted);
  if (MgErr err = AppStartInstalled(argc, argv)) {
    std::printf("failed=%d threads=%d\n", int(err), Threads() - gThreadsBeforeExec);
    // What a failed start made is left to the process's end, as in the
    // program: no exit handlers (nor a leak check) run.
    std::fflush(stdout);
    _exit(2);
  }
  AppShutdown();
  // What stays for the process's life: the support constants and the root
  // and disposal windows (every later post names the root window).
  const SupportConstants& c = SupportConsts();
  int32 kept = 0;
  for (const void* h : {(const void*)c.cr, (const void*)c.lf, (const void*)c.crlf, (const void*)c.tab,
                        (const void*)c.empty, (const void*)c.emptyPath, (const void*)c.notAPath,
                        (const void*)AZRecoverHandle(WRecord(WRootWindow())),
                        (const void*)uintptr_t(WDisposalWindow())})
    kept += AZCheckHandle(h) == kNoErr || DSCheckHandle(h) == kNoErr;
  // Pages emptied go back (the pool keeps them below its floor otherwise).
  PoolShrink(PoolInitDefault());
  const Memory end = Measure();
  std::printf("memory=%d %d %d az=%d %d ds=%d %d\n", int(gAtStart.handles), int(end.handles), int(kept),
              int(gAtStart.az), int(end.az), int(gAtStart.ds), int(end.ds));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) gFailRefs |= std::strcmp(argv[i], "-fail-refs") == 0;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "-steps") == 0) return Steps(argc, argv);
  std::vector<int32> offsets;
  std::vector<const char*> first;
  bool unregistered = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-word") == 0 && i + 1 < argc) offsets.push_back(int32(std::atoi(argv[i + 1])));
    if (std::strcmp(argv[i], "-first") == 0 && i + 1 < argc) first.push_back(argv[i + 1]);
    if (std::strcmp(argv[i], "-unregistered") == 0) unregistered = true;
    if (std::strcmp(argv[i], "-methods") == 0) gMethods = true;
    if (std::strcmp(argv[i], "-range") == 0) gRange = true;
    if (std::strcmp(argv[i], "-access") == 0 && i + 1 < argc) gAccess.push_back(argv[i + 1]);
  }
  if (AppStartup(argc, argv) != kNoErr) return 2;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "-call") == 0) {
      const int status = CallByPath(argv[i + 1]);
      std::fflush(stdout);
      AppShutdown();
      return status;
    }
  if (unregistered) {
    const int status = ListUnregistered();
    std::fflush(stdout);
    AppShutdown();
    return status;
  }
  // The start-up gives the execution systems their time slice: without one
  // every clump that checks its countdown would yield at every check.
  const int status = ExecTimeSlice() > 0 ? Run(offsets, first) : 5;
  std::fflush(stdout);
  AppShutdown();
  return status;
}
