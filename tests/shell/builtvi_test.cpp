// A built application end to end: two VIs whose compiled code adds two
// numbers through a subVI call, in a library appended to a copy of a small
// driver that starts up as the program does, opens the first top-level VI
// and prints the word the run stored.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "engine/engine_test_support.h"
#include "engine/exec/codeentry.h"
#include "engine/exec/dsprocs.h"
#include "engine/objswap.h"
#include "engine/typemgr.h"
#include "engine/vi/archive_format.h"
#include "temp_folder.h"
#include "tools/appbuild.h"
#include "tools/i386emit.h"
#include "tools/linkinfowriter.h"
#include "tools/runvi.h"
#include "tools/panelwriter.h"
#include "tools/vibuilder.h"
#include "tools/vifile.h"
#include "tools/vilibrary.h"

namespace {

using emit::EAX;
using emit::EBP;
using emit::ECX;
using emit::EDX;
using emit::ESI;
using emit::ESP;

// The data words of the two VIs after the header.
constexpr int32 kD = kDataSpaceHeaderSize;
constexpr int32 kX = kD, kY = kD + 4, kSum = kD + 8;  // Add: its inputs and output; Main: its two numbers
constexpr int32 kResult = kD + 8;                       // Main: where it keeps Add's answer
constexpr int32 kAddDS = kD + 12;                       // Main: Add's data space (an LIds site)
constexpr int32 kFinish = kD + 16;                      // Main: where its run ends (the completion address)
constexpr int32 kMainFlag = kD + 20, kAddFlag = kD + 12;  // the flag records
constexpr int32 kRunElement = kD + 24;                  // Main: its run element (24 words)
constexpr int32 kDeadline = kRunElement + int32(sizeof(QueueElement));  // Main: when its wait ends
constexpr int32 kYields = kDeadline + 4;                                // Main: how often it yielded
constexpr int32 kWaitMs = 300;
constexpr int32 kRTVIEntrance = 768, kRTVIExit = 771, kRTInitProcs = 1697, kRTMilliSecs = 96;
constexpr int32 kRTLoadLibrary16 = 626, kRTShutDown = 1052;

int32 Slot(int32 n) { return int32(offsetof(DataSpaceHeader, procs)) + 4 * (n - kDSProcFirst); }

// The compiled initialisation (cdecl, data space and mode): the normal
// procedures, then the VI's own entries: its top-level code (keeping the
// completion address in the data) or its entry for callers, and a DCO
// initialisation that has nothing to do.
void EmitInit(emit::Code& c, emit::Code::Label clump, bool topLevel) {
  auto none = c.NewLabel();
  c.SetEntry();
  c.PushReg(EBP);
  c.MovRegMem(EBP, ESP, 8);
  c.PushImm(0);
  c.PushReg(EBP);
  c.CallRT(kRTInitProcs);
  c.AddRegImm(ESP, 8);
  c.MovRegMem(EDX, EBP, 0);
  // The flag record and, at top level, the run element live in the data.
  c.MovRegReg(ECX, EDX);
  c.AddRegImm(ECX, topLevel ? kMainFlag : kAddFlag);
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, flagRecord)), ECX);
  if (topLevel) {
    c.MovRegReg(ECX, EDX);
    c.AddRegImm(ECX, kRunElement);
    c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, runElement)), ECX);
    c.MovMemReg(ECX, int32(offsetof(QueueElement, dataSpace)), EBP);
    c.MovMemImm(ECX, int32(offsetof(QueueElement, signature)), kQueueElementSig);
  }
  // The VI's own element runs it for callers: it names the data space.
  c.MovMemReg(EDX, int32(offsetof(DataSpaceHeader, entrance) + offsetof(VIEntranceRec, ownElement) +
                         offsetof(QueueElement, dataSpace)),
              EBP);
  c.MovRegReg(EBP, EDX);
  c.LoadLabelAddress(ECX, clump);
  if (topLevel) {
    c.MovRegMem(EDX, EBP, Slot(kDSProcTopCode));
    c.MovMemReg(EBP, kFinish, EDX);
    c.MovMemReg(EBP, Slot(kDSProcTopCode), ECX);
  } else {
    c.MovMemReg(EBP, int32(offsetof(DataSpaceHeader, subVIEntry)), ECX);
  }
  c.LoadLabelAddress(ECX, none);
  c.MovMemReg(EBP, Slot(kDSProcInitDCOs), ECX);
  c.PopReg(EBP);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(none);
  c.XorRegReg(EAX, EAX);
  c.Ret();
}

// Main's clump: first waits kWaitMs milliseconds as compiled waits do,
// yielding whenever its thread's countdown register (patch -2) runs out and
// counting the yields; then checks that it sees that register (a missing
// one spoils the answer), hands its two numbers to Add's data space, calls
// Add through its entrance (a relative call), then keeps Add's answer and
// ends its run.
std::vector<uint8_t> MainCode() {
  emit::Code c;
  auto clump = c.NewLabel(), go = c.NewLabel(), wait = c.NewLabel(), after = c.NewLabel();
  auto waiting = c.NewLabel(), spin = c.NewLabel(), waited = c.NewLabel();
  EmitInit(c, clump, true);
  auto addHeader = [&] {
    c.MovRegMem(EDX, EBP, kAddDS);
    c.MovRegMem(EDX, EDX, 0);
  };
  c.Bind(clump);
  c.MovRegReg(ESI, EAX);
  c.CallRT(kRTMilliSecs);
  c.AddRegImm(EAX, kWaitMs);
  c.MovMemReg(EBP, kDeadline, EAX);
  c.Jmp(spin);
  // Resumed here after a yield, with the element in EAX again.
  c.Bind(waiting);
  c.MovRegReg(ESI, EAX);
  c.Bind(spin);
  c.CallRT(kRTMilliSecs);
  c.MovRegMem(ECX, EBP, kDeadline);
  c.Byte(0x29);  // sub eax, ecx: now - deadline, signed across the wrap
  c.Byte(0xC8);
  c.CmpRegImm(EAX, 0);
  c.Jcc(emit::kGE, waited);
  c.MovRegGsPatched(ECX, kPatchCountdown);
  c.CmpMemImm(ECX, 0, 0);
  c.Jcc(emit::kNZ, spin);
  c.IncMem(EBP, kYields);
  c.LoadLabelAddress(EAX, waiting);
  c.Ret();
  c.Bind(waited);
  c.MovRegReg(EAX, ESI);
  // The thread's countdown register (patch -2) must be there.
  c.MovRegGsPatched(ECX, kPatchCountdown);
  c.TestRegReg(ECX, ECX);
  c.Jcc(emit::kNZ, go);
  c.MovMemImm(EBP, kX, 0);
  c.Bind(go);
  c.MovRegReg(ESI, EAX);
  addHeader();
  for (int32 at : {kX, kY}) {
    c.MovRegMem(EAX, EBP, at);
    c.MovMemReg(EDX, at, EAX);
  }
  c.LoadLabelAddress(ECX, after);
  c.MovMemReg(ESI, int32(offsetof(QueueElement, code)), ECX);
  c.MovRegReg(ECX, EDX);
  c.AddRegImm(ECX, int32(offsetof(DataSpaceHeader, entrance)));
  c.PushReg(ECX);
  c.PushReg(ESI);
  c.CallRT(kRTVIEntrance);
  c.AddRegImm(ESP, 8);
  c.TestRegReg(EAX, EAX);
  c.Jcc(emit::kZ, wait);
  addHeader();
  c.MovRegMem(EAX, EDX, int32(offsetof(DataSpaceHeader, subVIEntry)));
  c.Ret();
  c.Bind(wait);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  c.Bind(after);
  addHeader();
  c.MovRegMem(EAX, EDX, kSum);
  c.MovMemReg(EBP, kResult, EAX);
  c.MovRegMem(EAX, EBP, kFinish);
  c.Ret();
  return c.Finish();
}

// Add's clump: adds (or subtracts) its inputs, then leaves through VIExit,
// whose address comes as a patched immediate and must equal the run-time
// table's entry (patch -4); a difference spoils the answer.
std::vector<uint8_t> AddCode(bool subtract) {
  emit::Code c;
  auto clump = c.NewLabel(), same = c.NewLabel(), done = c.NewLabel();
  EmitInit(c, clump, false);
  c.Bind(clump);
  c.MovRegMem(EAX, EBP, kX);
  c.MovRegMem(ECX, EBP, kY);
  c.Byte(subtract ? 0x29 : 0x01);  // sub/add eax, ecx
  c.Byte(0xC8);
  c.MovMemReg(EBP, kSum, EAX);
  c.MovRegPatched(EDX, kPatchRTTable);
  c.MovRegMem(EDX, EDX, 4 * kRTVIExit);
  c.MovRegPatched(ECX, kRTVIExit);
  c.Byte(0x39);  // cmp edx, ecx
  c.Byte(0xCA);
  c.Jcc(emit::kZ, same);
  c.MovMemImm(EBP, kSum, 0xFFFFFFFF);
  c.Bind(same);
  c.MovRegReg(EAX, EBP);
  c.AddRegImm(EAX, int32(offsetof(DataSpaceHeader, entrance)));
  c.PushReg(EAX);
  c.CallReg(ECX);
  c.AddRegImm(ESP, 4);
  c.CmpRegImm(EAX, 1);
  c.Jcc(emit::kBE, done);
  c.MovRegMem(EAX, EAX, int32(offsetof(QueueElement, code)));
  c.Ret();
  c.Bind(done);
  c.XorRegReg(EAX, EAX);
  c.Ret();
  return c.Finish();
}

// A top-level clump that asks to load a 16-bit library, keeps the answer
// and ends its run.
// With shutDown, it then asks the application to quit.
std::vector<uint8_t> LibraryCallCode(bool shutDown = false) {
  emit::Code c;
  auto clump = c.NewLabel();
  EmitInit(c, clump, true);
  c.Bind(clump);
  c.PushImm(0x1234);  // the library: never read
  c.CallRT(kRTLoadLibrary16);
  c.AddRegImm(ESP, 4);
  c.MovMemReg(EBP, kResult, EAX);
  if (shutDown) c.CallRT(kRTShutDown);
  c.MovRegMem(EAX, EBP, kFinish);
  c.Ret();
  return c.Finish();
}

tdb::TD AddConnector() { return tdb::Cluster({tdb::I32(), tdb::I32(), tdb::I32()}); }

class BuiltVITest : public qxtest::EngineTest {
 protected:
  // Main's file; tweak changes the VI, edit the panel's resources and
  // objects the panel heap before they are written (damaged variants).
  static rsrcw::Bytes MainFile(const std::function<void(vif::VIFile&)>& tweak = nullptr,
                               const std::function<void(std::vector<vif::Resource>&)>& edit = nullptr,
                               const std::function<void(ObjHeap, int32)>& objects = nullptr) {
    vif::VIFile v;
    v.name = "Main.vi";
    v.flags = kVIFlagRunWhenOpened;
    v.viKind = kVIKindDatalog;  // the kind the run command starts, with its (empty) log binding
    v.datalog = std::vector<uInt32>(7, 0);
    v.logRecordType = tdb::I32();
    v.controlMap = std::vector<uInt16>{};
    v.execSystem = 1;
    v.entries = {tdb::I32().WithFlags(kDSEntryStored), tdb::I32().WithFlags(kDSEntryStored)};
    v.entries.resize(size_t(kYields + 4 - kD) / 4, tdb::I32());
    v.defaultWords = {{kX, 40000}, {kY, 2345}};
    v.code = MainCode();
    v.viRefs = {LinkInfoRef{FourCC("QXIN"), "Add.vi", {0}, AddConnector().Bytes(), liw::FlatPath(nullptr)}};
    v.dsRefs = {LinkInfoRef{FourCC("VIDS"), "Add.vi", {kAddDS}, {}, liw::FlatPath(nullptr)}};
    if (tweak) tweak(v);
    return vif::WriteWithPanel(v, 0, edit, objects);
  }
  static rsrcw::Bytes AddFile(bool subtract) {
    vif::VIFile v;
    v.name = "Add.vi";
    v.execSystem = 1;
    v.entries = std::vector<tdb::TD>(4, tdb::I32());
    v.connPane = AddConnector();
    v.code = AddCode(subtract);
    return vif::WriteWithPanel(v);
  }
  // A copy of the driver with the run-time resources and the library.
  std::string Build(const std::string& name, bool subtract) {
    return Build(name, {{"Main.vi", MainFile(), archfmt::kFlagTopLevel}, {"Add.vi", AddFile(subtract), 0u}});
  }
  std::string Build(const std::string& name, const std::vector<std::tuple<const char*, rsrcw::Bytes, uInt32>>& files,
                    const char* program = QX_BUILT_VI_RUNNER) {
    qxbuild::VILibraryWriter lib(name + ".qlb");
    for (const auto& [member, file, flags] : files) {
      EXPECT_FALSE(file.empty()) << member;
      qxbuild::LibraryMember m;
      m.name = member;
      m.file = file;
      m.flags = flags;
      lib.Add(m);
    }
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddRunTimeResources(&w);
    lib.AddTo(&w);
    const std::string out = root_ + "/" + name;
    std::string error;
    EXPECT_TRUE(qxbuild::AppendToProgram(program, w.Write(), out, &error)) << error;
    return out;
  }
  // Runs it (at most 30 s): the printed words (the result, then the number
  // of yields), the exit status and, when asked, all it wrote.
  static std::pair<std::vector<std::string>, int> Run(const std::string& app, const std::string& args,
                                                      std::string* output = nullptr) {
    std::vector<std::string> words;
    FILE* p = popen(("timeout 30 " + app + " -word " + std::to_string(kResult) + " -word " + std::to_string(kYields) +
                     " " + args + " 2>&1")
                        .c_str(),
                    "r");
    if (!p) return {words, -1};
    std::string all;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
      all += line;
      if (std::string(line).rfind("word=", 0) == 0) words.emplace_back(line + 5, std::strcspn(line + 5, "\n"));
    }
    const int status = pclose(p);
    if (output) *output = all;
    if (words.size() != 2) words = {"none: " + all, ""};
    return {words, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
  }

  TempFolder tmp_{"qxbv"};
  std::string root_ = tmp_.Dir();
};

TEST_F(BuiltVITest, MainCallsAddThroughItsEntranceInEitherExecutionSetting) {
  const std::string uiOnly = root_ + "/ui.ini";
  std::ofstream(uiOnly) << "[Quenlix]\nESys.StdNParallel=0\n";
  // Main waits first: on the user-interface thread its countdown runs out
  // on every tick, so it yields and is resumed; an execution thread with
  // nothing else to run keeps its slice and may wait without yielding.
  struct Case {
    const char* what;
    bool subtract;
    std::string args;
    const char* word;
    bool yields;
  } cases[] = {
      {"execution threads", false, "", "42345", false},
      {"the user-interface thread", false, "-pref " + uiOnly, "42345", true},
      {"a library whose Add subtracts", true, "", "37655", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string app = Build(c.subtract ? "sub.app" : "add.app", c.subtract);
    const auto [words, status] = Run(app, c.args);
    EXPECT_EQ(words[0], c.word);
    if (c.yields) { EXPECT_GT(std::atoi(words[1].c_str()), 0) << "yields"; }
    EXPECT_EQ(status, 0);
  }
}

// Damaged copies of Main.vi, each a plain file of the same name, are opened
// first and must be refused with the load error of the step that read the
// damaged resource (or load, be closed and leave nothing behind); then the
// library's good Main.vi of the same name loads in the same process and
// runs.  A crash or an assertion ends the process and spoils the run.
TEST_F(BuiltVITest, DamagedFilesAreRefusedAndAGoodVIOfTheirNameRunsAfter) {
  typedef std::vector<vif::Resource> Rs;
  auto byType = [](Rs& rs, uInt32 type) -> vif::Resource& {
    for (vif::Resource& r : rs)
      if (r.type == type) return r;
    ADD_FAILURE() << "no resource";
    return rs.front();
  };
  auto ext = [](ObjHeap heap, int32 at, uInt32 value) {
    PutNative32(*heap + OHWord(heap, kOHExtension) + at, value);
  };
  const std::vector<uChar> panelRefs = liw::Write(LinkInfoRecords{
      FourCC("FPHP"), "Main.vi", {}, {LinkInfoRef{FourCC("QXIN"), "Add.vi", {60}, AddConnector().Bytes(), liw::FlatPath(nullptr)}}});
  struct Damage {
    const char* kind;
    std::function<void(vif::VIFile&)> tweak;
    std::function<void(Rs&)> edit;
    std::function<void(ObjHeap, int32)> objects;
    int32 loadError;  // 0: the file loads, and is closed again
  } table[] = {
      {"data-space link information named after the subVI",
       [](vif::VIFile& v) {
         v.raw[FourCC("LIds")] = liw::Write(LinkInfoRecords{FourCC("VIDS"), "Add.vi", {}, v.dsRefs});
       }, nullptr, nullptr, 0},
      {"stored bad (0x10000) with code", [](vif::VIFile& v) { v.flags |= 0x10000; }, nullptr, nullptr, 0},
      {"panel heap kind, byte 7", nullptr, [&](Rs& rs) { byType(rs, FourCC("FPHP")).bytes[7] ^= 0x20; }, nullptr, 3},
      {"panel heap extension offset, byte 11", nullptr, [&](Rs& rs) { byType(rs, FourCC("FPHP")).bytes[11] ^= 0x04; },
       nullptr, 3},
      {"panel root offset past the heap", nullptr, nullptr, [&](ObjHeap h, int32) { ext(h, kHeapExtRoot, 0x00100000); }, 3},
      {"key-focus word past the heap", nullptr, nullptr, [&](ObjHeap h, int32) { ext(h, kHeapExtKeyFocus, 0x7FFF0000); }, 3},
      {"undo record set", nullptr, nullptr, [&](ObjHeap h, int32) { ext(h, kHeapExtUndo30, 1); }, 3},
      {"panel link information missing", nullptr, [&](Rs& rs) { byType(rs, FourCC("LIfp")).type = FourCC("gone"); },
       nullptr, 2},
      {"panel link site names no type definition", nullptr, [&](Rs& rs) { byType(rs, FourCC("LIfp")).bytes = panelRefs; },
       nullptr, 2},
      {"data-space site in the header", [](vif::VIFile& v) { v.dsRefs[0].sites = {100}; }, nullptr, nullptr, 16},
      {"data-space site past the data", [](vif::VIFile& v) { v.dsRefs[0].sites = {0x7FFF0000}; }, nullptr, nullptr, 16},
  };
  std::string args;
  const size_t n = sizeof table / sizeof table[0];
  for (size_t i = 0; i < n; ++i) {
    const std::string dir = root_ + "/v" + std::to_string(i);
    std::filesystem::create_directories(dir);
    // Each loads its panel with the VI (flag 0x100), so every damaged
    // resource is read at load.
    const auto tweak = [&](vif::VIFile& v) {
      v.flags |= 0x100;
      if (table[i].tweak) table[i].tweak(v);
    };
    const rsrcw::Bytes file = MainFile(tweak, table[i].edit, table[i].objects);
    ASSERT_FALSE(file.empty()) << table[i].kind;
    std::ofstream(dir + "/Main.vi", std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                             std::streamsize(file.size()));
    args += " -first " + dir + "/Main.vi";
  }
  const std::string app = Build("damaged.app", false);
  std::string out;
  const auto [words, status] = Run(app, args, &out);
  size_t from = 0;
  for (size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(table[i].kind);
    const std::string mark = "first=" + std::to_string(i) + " opened=";
    const size_t at = out.find(mark, from);
    ASSERT_NE(at, std::string::npos) << out;
    const std::string before = out.substr(from, at - from);
    const size_t code = before.find("load error code ");
    EXPECT_EQ(code == std::string::npos ? 0 : std::atoi(before.c_str() + code + 16), table[i].loadError) << before;
    EXPECT_EQ(out.compare(at + mark.size(), 1, table[i].loadError ? "0" : "1"), 0);
    EXPECT_EQ(out.compare(out.find(' ', at + mark.size()), 7, " left=0"), 0) << "nothing stays loaded";
    from = at + mark.size();
  }
  EXPECT_EQ(words[0], "42345") << out;
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(out.find("Failure"), std::string::npos) << out;
}

// The run-time function table of the whole program: a routine the program
// has under the name the table's list gives an index stands at that index
// once start-up has registered every library.
TEST_F(BuiltVITest, EveryRoutineOfTheProgramIsRegisteredAtItsIndex) {
  std::string out;
  EXPECT_EQ(Run(Build("table.app", false), "-unregistered", &out).second, 0) << out;
  EXPECT_EQ(out.find("unregistered="), std::string::npos) << out;
  const size_t at = out.find("routines=");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_GT(std::atoi(out.c_str() + at + 9), 800) << "the routines are found by name";
  // The automation client's start-up and its engine hooks are the program's own.
  EXPECT_NE(out.find("automation=1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("variantcopy=deep\n"), std::string::npos) << out;
  EXPECT_NE(out.find("autoref=0\n"), std::string::npos) << out;
}

// External code calls a VI by its path: the VI is loaded, given its inputs
// by name, run while the main loop turns, and its output copied back; the
// reference is released.  An indicator named as an input leaves it unrun.
TEST_F(BuiltVITest, CallingAVIByPathRunsItThroughAReference) {
  const std::string vi = root_ + "/adder.vi";
  ASSERT_TRUE(rsrcw::WriteHostFile(vi, vif::WriteWithPanel(runvi::File("adder.vi", runvi::Clumps::kAdd))));
  std::string out;
  EXPECT_EQ(Run(Build("call.app", false), "-call " + vi, &out).second, 0) << out;
  EXPECT_NE(out.find("call=0 sum=42 refs=0"), std::string::npos) << out;
  EXPECT_NE(out.find("indicator=1 ran=0"), std::string::npos) << out;
}

// The steps of start-up and shut-down in their order.  A failure at the VI
// references' start leaves no execution thread and no temporary file.
TEST_F(BuiltVITest, StartUpAndShutDownRunInOrderAndAFailureLateInStartUpLeavesNothing) {
  const std::string app = Build("steps.app", false);
  const std::vector<std::string> start = {
      "defaults", "folders", "resource file", "file types", "version", "colours", "texts", "folders from keys",
      "disk space", "windows", "preferences", "prefs: keys", "prefs: access lists", "prefs: search path",
      "prefs: precisions", "temporary files", "engine", "refnums", "menus", "fonts", "types"};
  const std::vector<std::string> down = {
      "instruments and servers", "down: tileUpDown default", "down: execution", "down: instruments and servers",
      "down: help", "down: tileUpDown", "down: recent paths and refnums", "down: windows", "down: archive",
      "down: temporary files", "down: run-time menus"};
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail);
    const std::string temp = root_ + (fail ? "/t1" : "/t0");
    std::filesystem::create_directories(temp);
    FILE* p = popen(("TMPDIR=" + temp + " timeout 30 " + app + " -steps" + (fail ? " -fail-refs" : "") + " 2>&1").c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::vector<std::string> steps;
    std::string all, failed, faillog, globals, handles;
    char line[512];
    while (std::fgets(line, sizeof line, p)) {
      all += line;
      std::string l(line, std::strcspn(line, "\n"));
      if (l.rfind("step=", 0) == 0) steps.push_back(l.substr(5));
      if (l.rfind("failed=", 0) == 0) failed = l;
      if (l.rfind("faillog=", 0) == 0) faillog = l.substr(8);
      if (l.rfind("globals=", 0) == 0) globals = l.substr(8);
      if (l.rfind("memory=", 0) == 0) handles = l.substr(7);
    }
    const int status = pclose(p);
    std::vector<std::string> want = start;
    if (!fail) want.insert(want.end(), down.begin(), down.end());
    EXPECT_EQ(steps, want) << all;
    EXPECT_EQ(WEXITSTATUS(status), fail ? 2 : 0) << all;
    if (fail) { EXPECT_EQ(failed, "failed=2 threads=0") << all; }
    // After the whole shut-down the zones hold what they held once the
    // memory manager had started, and the nine handles kept for the
    // process's life; their totals, emptied pages given back, differ by at
    // most the one page those and the other lasting blocks fill.
    int before = -1, after = -2, kept = -3, az[2] = {}, ds[2] = {};
    if (!fail) {
      EXPECT_EQ(std::sscanf(handles.c_str(), "%d %d %d az=%d %d ds=%d %d", &before, &after, &kept, &az[0], &az[1],
                            &ds[0], &ds[1]), 7) << all;
      RecordProperty("memory", handles);
      EXPECT_EQ(kept, 9) << all;
      EXPECT_EQ(after, before + kept) << all;
      EXPECT_LE(az[1] - az[0], 65536) << all;
      EXPECT_LE(ds[1] - ds[0], 65536) << all;
    }
    EXPECT_EQ(globals, "1 5018003") << all;
    std::string log = "C:" + temp + "/QX_Fail.txt";
    for (char& ch : log) ch = ch == '/' ? '\\' : ch;
    EXPECT_EQ(faillog, log) << "the failure log in the temporary folder";
    EXPECT_TRUE(std::filesystem::is_empty(temp)) << "no qxtr or qxtl file left";
  }
}

// Compiled code that asks to load a 16-bit library: the call answers 0 and
// the application shows the text its resource file carries, headless on
// stderr.
TEST_F(BuiltVITest, A16BitLibraryCallShowsTheInvalidLibraryAlert) {
  const rsrcw::Bytes main = MainFile([](vif::VIFile& v) {
    v.code = LibraryCallCode();
    v.viRefs.clear();
    v.dsRefs.clear();
  });
  const std::string app = Build("lib16.app", {{"Main.vi", main, archfmt::kFlagTopLevel}});
  std::string out;
  const auto [words, status] = Run(app, "", &out);
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(words[0], "0");
  const std::string alert =
      "[alert] A CIN tried to load a 16-bit DLL.  This operation is not supported under Quenlix for Windows 95 or "
      "Windows NT.  The CIN and DLL must be recompiled.\n";
  EXPECT_NE(out.find(alert), std::string::npos) << out;
}

// A built application whose library marks nothing top-level, or holds
// nothing, opens nothing and says why (headless, on stderr).
TEST_F(BuiltVITest, AnApplicationWithoutTopLevelVIsSaysWhy) {
  const std::vector<std::tuple<const char*, rsrcw::Bytes, uInt32>> unmarked{{"Main.vi", MainFile(), 0u}}, none{};
  const std::pair<const std::vector<std::tuple<const char*, rsrcw::Bytes, uInt32>>*, const char*> cases[] = {
      {&unmarked, "Top level VI(s) could not be opened."},
      {&none, "This is the application template and cannot be run alone."}};
  for (const auto& [files, text] : cases) {
    std::string out;
    EXPECT_EQ(Run(Build("none.app", *files), "", &out).second, 4) << out;
    EXPECT_NE(out.find(text), std::string::npos) << out;
  }
}

// The program itself, built with a library [A top-level, run when opened,
// B top-level, C unmarked but run when opened, D top-level], run headless.
// Its script runs before the main loop, so A ends the run: its code makes
// its library call (whose alert shows it ran) and asks the application to
// quit.  The listing puts the marked members first and the walk stops at C,
// so only A's alert shows; the run ends with 0 and leaves no temporary
// file.  A library whose marked members all fail to load shows no alert and
// quits by itself.
TEST_F(BuiltVITest, TheProgramRunsItsMarkedVIsAndQuitsCleanly) {
  auto vi = [](const char* name, bool run, bool quit) {
    return MainFile([&](vif::VIFile& v) {
      v.name = name;
      v.flags = run ? uInt32(kVIFlagRunWhenOpened) : 0u;
      v.code = LibraryCallCode(quit);
      v.viRefs.clear();
      v.dsRefs.clear();
    });
  };
  const rsrcw::Bytes broken(64, 0x5a);
  const struct {
    const char* name;
    std::vector<std::tuple<const char*, rsrcw::Bytes, uInt32>> files;
    int alerts;
  } kApps[] = {
      {"abcd.app",
       {{"A.vi", vi("A.vi", true, true), archfmt::kFlagTopLevel},
        {"B.vi", vi("B.vi", false, false), archfmt::kFlagTopLevel},
        {"C.vi", vi("C.vi", true, false), 0u},
        {"D.vi", vi("D.vi", false, false), archfmt::kFlagTopLevel}},
       1},
      {"failing.app", {{"A.vi", broken, archfmt::kFlagTopLevel}, {"B.vi", broken, archfmt::kFlagTopLevel}}, 0},
  };
  const std::string alert = "A CIN tried to load a 16-bit DLL.";
  for (const auto& app : kApps) {
    SCOPED_TRACE(app.name);
    const std::string program = Build(app.name, app.files, QX_QUENLIX);
    TempFolder tmp("qxbvp");
    std::ofstream(tmp.Dir() + "/script.txt") << "wait\n";
    std::filesystem::create_directories(tmp.Dir() + "/t");
    const std::string cmd = "TMPDIR=" + tmp.Dir() + "/t QX_RUNTIME_DIR=" + tmp.Dir() + "/run QX_REGISTRY_FILE=" +
                            tmp.Dir() + "/reg.ini QX_UI=headless QX_SCREEN=64x48 QX_INPUT_SCRIPT=" + tmp.Dir() +
                            "/script.txt timeout 30 " + program + " 2>" + tmp.Dir() + "/err";
    const int raw = std::system(cmd.c_str());
    std::stringstream err;
    err << std::ifstream(tmp.Dir() + "/err").rdbuf();
    const std::string out = err.str();
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw << "\n" << out;
    int alerts = 0;
    for (size_t at = out.find(alert); at != std::string::npos; at = out.find(alert, at + 1)) ++alerts;
    EXPECT_EQ(alerts, app.alerts) << out;
    EXPECT_EQ(out.find("Top level VI(s) could not be opened."), std::string::npos) << out;
    EXPECT_TRUE(std::filesystem::is_empty(tmp.Dir() + "/t")) << "no temporary file left";
  }
}

}  // namespace
