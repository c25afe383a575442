// The run-time function table: its shape after start-up, the agreement of the
// compiled names with the table list, the registration and what it refuses,
// sample entries called as compiled code calls them, the stub, and the export.
#include <dlfcn.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/exec/rttable.h"
#include "engine/exec/rttable_internal.h"
#include "compiled_call.h"
#include "engine_test_support.h"
#include "mgsource/blockmove.h"
#include "engine/link/linker.h"
#include "mgsource/config.h"
#include "mgsource/draw/dcolors.h"
#include "mgsource/draw/dpen.h"
#include "mgsource/draw/fonts.h"
#include "mgsource/draw/image.h"
#include "mgsource/extload.h"
#include "mgsource/extmath.h"
#include "mgsource/sorting.h"
#include "mgsource/thread.h"
#include "mgsource/rsrc.h"
#include "platform/qx_portio.h"

namespace qxtest {
bool StartRTTableOnce() {
  EXPECT_EQ(QXRTRegisterEngine(), kNoErr);
  QXRTCloseRegistration();
  return true;
}
}  // namespace qxtest

namespace {

using qxtest::CallAsCompiledCode;
using qxtest::CallResult;
using qxtest::Reports;

// Start-up as the program does it: the engine registers, registration closes.
void StartTable() { qxtest::StartRTTable(); }

class RTTable : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    StartTable();
  }
  static int TableReports() { return Reports::Get().Count("run-time table:"); }
};

QXRTRoutine Routine(void* p) { return reinterpret_cast<QXRTRoutine>(p); }
template <class F>
QXRTRoutine Routine(F* f) {
  return reinterpret_cast<QXRTRoutine>(f);
}

// A register-form real routine: x in ST0, the result in ST0.
floatExt CallRealRegister(QXRTRoutine fn, floatExt x) {
  __asm__ __volatile__("call *%1" : "+t"(x) : "r"(fn) : "eax", "ecx", "edx", "memory", "cc");
  return x;
}

// A register-form complex routine: the real part in ST0, the imaginary in ST1.
void CallComplexRegister(QXRTRoutine fn, floatExt& re, floatExt& im) {
  __asm__ __volatile__("call *%2" : "+t"(re), "+u"(im) : "r"(fn) : "eax", "ecx", "edx", "memory", "cc");
}

// ------------------------------------------------------------- the list

std::string SourceRoot() { return std::string(QX_SOURCE_DIR) + "/"; }

// What the table list gives one index.
struct Listed {
  std::string kind;  // "routine", "stub" or "kept"
  std::string name;
  std::string others;  // the other names, blank-separated; the library for "kept"
};

// Reads engine/exec/rttable.list on its own, without the generator.
std::vector<Listed> ReadList(std::string* error) {
  std::vector<Listed> slots(kQXRTEntries);
  std::vector<bool> seen(kQXRTEntries);
  std::ifstream in(SourceRoot() + "engine/exec/rttable.list");
  if (!in) {
    *error = "cannot open the list";
    return {};
  }
  std::string line;
  int lineno = 0;
  while (std::getline(in, line)) {
    ++lineno;
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string range;
    if (!(words >> range)) continue;
    long first = 0, last = 0;
    size_t dash = range.find('-');
    first = std::stol(range.substr(0, dash));
    last = dash == std::string::npos ? first : std::stol(range.substr(dash + 1));
    std::vector<std::string> rest;
    for (std::string w; words >> w;) rest.push_back(w);
    if (rest.empty() || first < 0 || last < first || last >= kQXRTEntries) {
      *error = "bad line " + std::to_string(lineno);
      return {};
    }
    Listed l;
    if (rest[0] == "-") {
      l.kind = "stub";
    } else if (rest[0][0] == '~') {
      l.kind = "kept";
      l.others = rest[0].substr(1);
    } else {
      l.kind = "routine";
      l.name = rest[0];
      for (size_t k = 1; k < rest.size(); ++k) l.others += (k > 1 ? " " : "") + rest[k];
    }
    for (long i = first; i <= last; ++i) {
      if (seen[size_t(i)]) {
        *error = "index " + std::to_string(i) + " given twice";
        return {};
      }
      seen[size_t(i)] = true;
      slots[size_t(i)] = l;
    }
  }
  for (int32 i = 0; i < kQXRTEntries; ++i) {
    if (!seen[size_t(i)]) {
      *error = "no line for index " + std::to_string(i);
      return {};
    }
  }
  return slots;
}

std::string Str(const char* s) { return s ? s : "(null)"; }

}  // namespace

TEST(RTTableList, CompiledNamesAgreeWithTheListAtEveryIndex) {
  std::string error;
  std::vector<Listed> list = ReadList(&error);
  ASSERT_EQ(list.size(), size_t(kQXRTEntries)) << error;
  for (int32 i = 0; i < kQXRTEntries; ++i) {
    const Listed& l = list[size_t(i)];
    SCOPED_TRACE("index " + std::to_string(i));
    if (l.kind == "routine") {
      EXPECT_EQ(Str(QXRTEntryName(i)), l.name);
      EXPECT_EQ(Str(QXRTEntryOtherNames(i)), l.others);
      EXPECT_EQ(QXRTEntryKeptFor(i), nullptr);
    } else {
      EXPECT_EQ(QXRTEntryName(i), nullptr);
      EXPECT_EQ(QXRTEntryOtherNames(i), nullptr);
      EXPECT_EQ(Str(QXRTEntryKeptFor(i)), l.kind == "kept" ? l.others : "(null)");
    }
  }
  EXPECT_EQ(QXRTEntryName(-1), nullptr);
  EXPECT_EQ(QXRTEntryName(kQXRTEntries), nullptr);
}

// Indexes whose routine the contract with compiled code fixes.
TEST(RTTableList, FixedIndexesHoldTheirRoutines) {
  const std::map<int32, std::string> fixed = {
      {0, "SwapWL"},           {45, "TPrintf"},           {71, "RCShift"},
      {104, "FlushCaches"},    {109, "WBackground"},      {317, "ClearMem"},
      {319, "MoveBlock"},      {514, "ComplexAcos"},      {523, "ComplexSinc"},
      {617, "Sinh"},           {625, "F2X"},              {626, "LoadLibrary16Stub"},
      {691, "AddExtern"},      {692, "RemExtern"},        {768, "VIEntrance"},
      {769, "EnQRunQ"},        {770, "CondSchedClmp"},    {771, "VIExit"},
      {866, "_inp"},           {867, "_inpw"},            {868, "_outp"},
      {869, "_outpw"},         {1502, "ComplexCot"},      {1511, "ComplexSinh"},
      {1512, "FlushCaches"},   {1697, "VINormalInitCProcsHelper"},
      {1705, "CfgWrite"},      {1706, "CfgRemove"},
  };
  for (const auto& [index, name] : fixed) EXPECT_EQ(Str(QXRTEntryName(index)), name) << index;
  EXPECT_EQ(Str(QXRTEntryOtherNames(104)), "ProfileStopStartAccum");
  EXPECT_EQ(Str(QXRTEntryOtherNames(45)), "CheckHeapBlocks CheckOHeaps DEndColorAlloc");
  EXPECT_EQ(Str(QXRTEntryOtherNames(0)), "");
  for (int32 i = 627; i <= 652; ++i) EXPECT_EQ(QXRTEntryName(i), nullptr) << i;
  for (int32 i : {91, 95, 107, 108, 1080, 1601, 1632}) EXPECT_EQ(QXRTEntryName(i), nullptr) << i;
  const std::pair<int32, const char*> automation[] = {
      {1620, "AutoOpenRefnum"},   {1621, "AutoCloseRefnumCleanup"}, {1622, "AutoInvokeMethod"},
      {1623, "AutoPropertyWrite"}, {1624, "AutoPropertyRead"},       {1625, "NewArgVariant"},
      {1633, "FreeArgVariant"}};
  for (const auto& [index, name] : automation) EXPECT_EQ(Str(QXRTEntryName(index)), name) << index;
}

TEST_F(RTTable, ShapeIsEveryIndexFilledThenAZeroWord) {
  static_assert(sizeof(QXRTTable) == (kQXRTEntries + 1) * 4, "1,707 words and the 0 word");
  EXPECT_EQ(QXRTTable[kQXRTEntries], nullptr);
  int32 stubs = 0;
  for (int32 i = 0; i < kQXRTEntries; ++i) {
    ASSERT_NE(QXRTTable[i], nullptr) << i;
    if (QXRTTable[i] == &MissingRoutine) ++stubs;
    // The stub and kept indexes hold the stub.
    if (!QXRTEntryName(i)) {
      EXPECT_EQ(QXRTTable[i], &MissingRoutine) << i;
    }
  }
  int32 count = 0;
  QXRTEngineEntries(&count);
  EXPECT_EQ(stubs, kQXRTEntries - count);
  EXPECT_TRUE(QXRTRegistrationClosed());
}

TEST_F(RTTable, SampleIndexesHoldTheRoutinesThemselves) {
  EXPECT_EQ(QXRTTable[0], Routine(&SwapWL));
  EXPECT_EQ(QXRTTable[317], Routine(&ClearMem));
  EXPECT_EQ(QXRTTable[319], Routine(&MoveBlock));
  EXPECT_EQ(QXRTTable[1706], Routine(&CfgRemove));
  EXPECT_EQ(QXRTTable[626], Routine(&LoadLibrary16Stub));
  // External code adds and removes link references through the table.
  EXPECT_EQ(QXRTTable[691], Routine(&AddExtern));
  EXPECT_EQ(QXRTTable[692], Routine(&RemExtern));
  // The register-form routines, never their C entries.
  EXPECT_EQ(QXRTTable[514], Routine(&ComplexAcos));
  EXPECT_EQ(QXRTTable[617], Routine(&Sinh));
  EXPECT_EQ(QXRTTable[1502], Routine(&ComplexCot));
  EXPECT_NE(QXRTTable[617], Routine(&ExtSinh));
  EXPECT_EQ(QXRTTable[866], Routine(&_inp));
  EXPECT_EQ(QXRTTable[869], Routine(&_outpw));
  EXPECT_EQ(QXRTTable[627], &MissingRoutine);
}

// Compiled code makes pictures and loads images through the table.
TEST_F(RTTable, ImageRoutinesAnswerThroughTheTable) {
  const auto create = reinterpret_cast<decltype(&ICreatePict)>(QXRTTable[420]);
  const auto get = reinterpret_cast<decltype(&IGet)>(QXRTTable[425]);
  const auto release = reinterpret_cast<decltype(&IRelease)>(QXRTTable[430]);
  const Rect bounds{0, 0, 10, 20};
  int32 id = 0;
  ASSERT_EQ(create(0, &bounds, 8, nullptr, 0, &id), kNoErr);
  EXPECT_EQ(IGetKind(id), 9);
  EXPECT_EQ(release(id), kNoErr);
  EXPECT_EQ(get(0, 11, -2, &id, 0), kNoErr);
  EXPECT_EQ(id, -2);
}

// Every registered routine is exported under the name the list gives its
// index and under each other name listed with it.
TEST_F(RTTable, RegisteredRoutinesAreExportedUnderEveryListedName) {
  int32 count = 0;
  const QXRTEntry* entries = QXRTEngineEntries(&count);
  ASSERT_GT(count, 300);
  int32 others = 0;
  for (int32 k = 0; k < count; ++k) {
    int32 i = entries[k].index;
    EXPECT_EQ(Str(entries[k].name), Str(QXRTEntryName(i))) << i;
    void* sym = dlsym(RTLD_DEFAULT, QXRTEntryName(i));
    EXPECT_EQ(Routine(sym), QXRTTable[i]) << QXRTEntryName(i);
    std::istringstream names(QXRTEntryOtherNames(i));
    for (std::string n; names >> n; ++others) EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, n.c_str())), QXRTTable[i]) << n;
  }
  EXPECT_GT(others, 0) << "one routine with other names is registered";
}

// A routine of the engine, the managers or the platform under a name the
// list gives an index stands there (the array family's are the run-time
// library's to register; the whole program is checked in the shell's tests).
TEST_F(RTTable, EveryRoutineOfTheProgramIsRegisteredAtItsIndex) {
  const std::set<int32> family = {1645, 1678};  // NArrayElts, ArrayResize
  int32 found = 0;
  for (int32 i = 0; i < kQXRTEntries; ++i) {
    if (!QXRTEntryName(i) || family.count(i)) continue;
    std::istringstream names(std::string(QXRTEntryName(i)) + " " + QXRTEntryOtherNames(i));
    for (std::string n; names >> n;) {
      void* sym = dlsym(RTLD_DEFAULT, n.c_str());
      if (!sym) continue;
      ++found;
      EXPECT_EQ(QXRTTable[i], Routine(sym)) << "index " << i << ": " << n << " is not registered there";
    }
  }
  EXPECT_GT(found, 300);
}

TEST_F(RTTable, TheExportIsFoundByALoadedObject) {
  EXPECT_EQ(ExtCodeRTTable(), static_cast<const void*>(QXRTTable)) << "external code receives the table";
  void* self = dlsym(RTLD_DEFAULT, "QXRTTable");
  EXPECT_EQ(self, static_cast<void*>(QXRTTable));
  void* probe = dlopen(QX_RTTABLE_PROBE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(probe, nullptr) << dlerror();
  auto entry = reinterpret_cast<uInt32 (*)(int32)>(dlsym(probe, "RTProbeEntry"));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry(319), reinterpret_cast<uInt32>(&MoveBlock));
  EXPECT_EQ(entry(kQXRTEntries), 0u);
  dlclose(probe);
}

// ------------------------------------------------------------ registration

namespace {
void DummyA() {}
void DummyB() {}
}  // namespace

TEST_F(RTTable, EngineListRegistersCleanlyIntoAFreshTable) {
  std::vector<QXRTRoutine> table(kQXRTEntries + 1);
  qxrt::FillWithStub(table.data());
  qxrt::Registry reg(table.data());
  int32 count = 0;
  const QXRTEntry* entries = QXRTEngineEntries(&count);
  Reports::Get().Clear();
  EXPECT_EQ(reg.Register(entries, count), kNoErr);
  EXPECT_EQ(TableReports(), 0) << Reports::Get().Text();
  for (int32 i = 0; i <= kQXRTEntries; ++i) EXPECT_EQ(table[size_t(i)], QXRTTable[i]) << i;
}

TEST_F(RTTable, RefusedRegistrationsAreReportedAndChangeNothing) {
  struct Case {
    const char* what;
    QXRTEntry entry;
    bool before;  // register SwapWL at 0 and RTiMul at 1459 first
  };
  const Case cases[] = {
      {"an index twice", {0, "SwapWL", &DummyB}, true},
      {"a name one index off", {1, "SwapWL", &DummyA}, false},
      {"an other name of the routine", {45, "CheckHeapBlocks", &DummyA}, false},
      {"a stub index", {627, "LoadLibrary16Stub", &DummyA}, false},
      {"a name the list does not give the index", {1620, "ServerRoutine", &DummyA}, false},
      {"an index below the table", {-1, "SwapWL", &DummyA}, false},
      {"an index past the table", {kQXRTEntries, "CfgRemove", &DummyA}, false},
      {"no name", {2, nullptr, &DummyA}, false},
      {"no routine", {2, "RevBL", nullptr}, false},
      {"one routine with two addresses", {1460, "RTiMul", &DummyB}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<QXRTRoutine> table(kQXRTEntries + 1);
    qxrt::FillWithStub(table.data());
    qxrt::Registry reg(table.data());
    if (c.before) {
      const QXRTEntry first[] = {{0, "SwapWL", &DummyA}, {1459, "RTiMul", &DummyA}};
      ASSERT_EQ(reg.Register(first, 2), kNoErr);
    }
    std::vector<QXRTRoutine> saved = table;
    Reports::Get().Clear();
    EXPECT_EQ(reg.Register(&c.entry, 1), kArgErr);
    EXPECT_EQ(TableReports(), 1);
    EXPECT_EQ(table, saved);
  }
}

TEST_F(RTTable, OneRoutineAtSeveralIndexesAndRefusalsDoNotStopTheRest) {
  std::vector<QXRTRoutine> table(kQXRTEntries + 1);
  qxrt::FillWithStub(table.data());
  qxrt::Registry reg(table.data());
  const QXRTEntry list[] = {
      {1459, "RTiMul", &DummyA},
      {1460, "RTiMul", &DummyA},
      {5, "SwapWL", &DummyB},  // refused: index 5 is Min
      {5, "Min", &DummyB},
  };
  Reports::Get().Clear();
  EXPECT_EQ(reg.Register(list, 4), kArgErr);
  EXPECT_EQ(TableReports(), 1);
  EXPECT_EQ(table[1459], &DummyA);
  EXPECT_EQ(table[1460], &DummyA);
  EXPECT_EQ(table[5], &DummyB);
  EXPECT_TRUE(reg.Registered(5) && reg.Registered(1460) && !reg.Registered(6));
  EXPECT_EQ(reg.Register(nullptr, 0), kNoErr);
  EXPECT_EQ(reg.Register(nullptr, 3), kArgErr);
  EXPECT_EQ(reg.Register(list, -1), kArgErr);
}

TEST_F(RTTable, NothingIsRegisteredOnceClosed) {
  std::vector<QXRTRoutine> table(kQXRTEntries + 1);
  qxrt::FillWithStub(table.data());
  qxrt::Registry reg(table.data());
  reg.Close();
  const QXRTEntry late = {0, "SwapWL", &DummyA};
  Reports::Get().Clear();
  EXPECT_EQ(reg.Register(&late, 1), kArgErr);
  EXPECT_EQ(TableReports(), 1);
  EXPECT_EQ(table[0], &MissingRoutine);
  // The real table is closed too: its entries stay.
  QXRTRoutine before = QXRTTable[0];
  EXPECT_EQ(QXRTRegister(&late, 1), kArgErr);
  EXPECT_EQ(QXRTTable[0], before);
}

// ------------------------------------------------------ calls through it

TEST_F(RTTable, StubCalledAsCompiledCodeReportsAndReturnsBalanced) {
  Reports::Get().Clear();
  CallResult r = CallAsCompiledCode(QXRTTable[627], {});
  EXPECT_EQ(r.espAfter, r.espBefore);
  EXPECT_EQ(r.espBefore % 16, 12u) << "entered from a stack that is not 16-byte aligned";
  EXPECT_EQ(Reports::Get().Count("Call to non existant Quenlix routine!!!"), 1);
  EXPECT_EQ(Reports::Get().Count("Failure"), 1) << Reports::Get().Text();
  EXPECT_EQ(Reports::Get().Count("rttable"), 1) << "the report names the table's source file";
  EXPECT_EQ(Reports::Get().Count("\"engine/exec/rttable.cpp\" line"), 1) << "relative to the project";
}

TEST_F(RTTable, LoadLibrary16EntryShowsTheAlertAndAnswersZero) {
  static int shown;
  shown = 0;
  SetInvalidLibraryAlertHook([]() -> MgErr {
    ++shown;
    return kRsrcNotFoundErr;
  });
  CallResult r = CallAsCompiledCode(QXRTTable[626], {0x1234});
  SetInvalidLibraryAlertHook(nullptr);
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  EXPECT_EQ(shown, 1);
}

TEST_F(RTTable, CdeclEntriesAnswerThroughTheTable) {
  // SwapWL swaps the halves of the word at its argument; Abs and Max by value.
  uInt32 word = 0x11223344;
  CallResult r = CallAsCompiledCode(QXRTTable[0], {reinterpret_cast<uInt32>(&word)});
  EXPECT_EQ(word, 0x33441122u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  EXPECT_EQ(CallAsCompiledCode(QXRTTable[4], {uInt32(-17)}).eax, 17u);
  EXPECT_EQ(CallAsCompiledCode(QXRTTable[6], {uInt32(-3), 9}).eax, 9u);
  char src[] = "abcdef", dst[8] = {};
  CallAsCompiledCode(QXRTTable[319], {reinterpret_cast<uInt32>(src), reinterpret_cast<uInt32>(dst), 6});
  EXPECT_STREQ(dst, "abcdef");
}

TEST_F(RTTable, PointResultComesBackInEAX) {
  // RCShift (point word, rectangle address): the grid cell, v in the low half.
  Rect r = {10, 20, 20, 40};  // 10 high, 20 wide
  auto word = [](int16 v, int16 h) { return uInt32(uInt16(v)) | (uInt32(uInt16(h)) << 16); };
  struct Case {
    int16 v, h, row, column;
  } cases[] = {{9, 19, -1, -1}, {10, 20, 0, 0}, {35, 100, 2, 4}, {-11, -1, -3, -2}};
  for (const Case& c : cases) {
    CallResult res = CallAsCompiledCode(QXRTTable[71], {word(c.v, c.h), reinterpret_cast<uInt32>(&r)});
    EXPECT_EQ(res.eax, word(c.row, c.column)) << c.v << "," << c.h;
    EXPECT_EQ(res.espAfter, res.espBefore);
  }
}

TEST_F(RTTable, ColourToIndexThroughTheTable) {
  // DColorToIndex (colour, depth, matched out): the middle grey takes the
  // third extra grey of the 8-bit palette.
  DColor matched = 0;
  CallResult res = CallAsCompiledCode(QXRTTable[212], {0x808080, 8, reinterpret_cast<uInt32>(&matched)});
  EXPECT_EQ(res.eax, 218u);
  EXPECT_EQ(matched, 0x7F7F7Fu);
  EXPECT_EQ(res.espAfter, res.espBefore);
}

TEST_F(RTTable, RegisterFormEntriesWorkOnTheFloatingPointStack) {
  for (floatExt x : {0.5L, -2.25L, 3.0L}) {
    EXPECT_EQ(CallRealRegister(QXRTTable[617], x), ExtSinh(x)) << double(x);
  }
  ExtComplex z = {0.75L, -1.25L}, want;
  ExtComplexCot(&z, &want);
  floatExt re = z.re, im = z.im;
  CallComplexRegister(QXRTTable[1502], re, im);
  EXPECT_EQ(re, want.re);
  EXPECT_EQ(im, want.im);
}

TEST_F(RTTable, PenStateEntryTakesItsRecordByAddress) {
  // DSetPenState (pen, mask, record): the masked fields of the 28-byte
  // record reach the pen, the others stay; the normal pen is refused.
  DInitDraw();
  const int32 pen = DNewPen(kDefaultPenBase, 0, nullptr);
  ASSERT_GE(pen, kGrayPen + 1);
  PenState s{0x00FF00, 0x123456, {1, 2, 3, 4, 5, 6, 7, 8}, 4, 1, 2, 1};
  auto call = [&](int32 which) {
    return CallAsCompiledCode(QXRTTable[166], {uInt32(which), uInt32(kPenWidth | kPenFore | kPenFill),
                                               reinterpret_cast<uInt32>(&s)});
  };
  CallResult r = call(pen);
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  PenState got{};
  ASSERT_EQ(DGetPenState(pen, kPenAll, &got), kNoErr);
  EXPECT_EQ(got.fore, 0x00FF00u);
  EXPECT_EQ(got.width, 4);
  EXPECT_EQ(got.fill, 1u);
  EXPECT_EQ(got.back, 0xFFFFFFu);
  EXPECT_EQ(got.mode, 0);
  EXPECT_EQ(call(kNormalPen).eax, uInt32(kPenErr));
  DDisposeDraw();
}

TEST_F(RTTable, PortEntriesAreSimulatedWithOneDebugLine) {
  PlatPortForceSimulated(true);
  PlatPortResetNotice();
  Reports::Get().Clear();
  EXPECT_EQ(CallAsCompiledCode(QXRTTable[866], {0x378}).eax & 0xFF, 0u);
  EXPECT_EQ(CallAsCompiledCode(QXRTTable[867], {0x3F8}).eax & 0xFFFF, 0u);
  EXPECT_EQ(CallAsCompiledCode(QXRTTable[868], {0x378, 0x1A5}).eax & 0xFF, 0xA5u);
  EXPECT_EQ(CallAsCompiledCode(QXRTTable[869], {0x3F8, 0xBEEF}).eax & 0xFFFF, 0xBEEFu);
  EXPECT_EQ(Reports::Get().Count("port I/O is simulated"), 1);
  PlatPortForceSimulated(false);
}

// Compiled code makes, measures and drops fonts through the table.
TEST_F(RTTable, FontEntriesAnswerThroughTheTable) {
  static const uChar kFace[] = "\x0b" "DejaVu Sans";
  const uInt32 face = uInt32(uintptr_t(kFace));
  const CallResult made = CallAsCompiledCode(QXRTTable[216], {face, 13, 2, 0});
  EXPECT_EQ(made.espAfter, made.espBefore);
  const int32 font = int32(made.eax);
  ASSERT_GE(font, 0);
  EXPECT_EQ(TNewFont(kFace, 13, 2, 0), font) << "the same font";
  EXPECT_EQ(TFontReferences(font), 2);
  Point size{};
  CallAsCompiledCode(QXRTTable[251], {uInt32(uintptr_t("Wide text")), 9, uInt32(font), uInt32(uintptr_t(&size))});
  Point direct{};
  TTextSize(reinterpret_cast<const uChar*>("Wide text"), 9, font, &direct);
  EXPECT_GT(size.h, 0);
  EXPECT_EQ(size.h, direct.h);
  EXPECT_EQ(size.v, direct.v);
  EXPECT_EQ(int32(CallAsCompiledCode(QXRTTable[254], {uInt32(font), uInt32(font), 141}).eax), 0);
  CallAsCompiledCode(QXRTTable[217], {uInt32(font)});
  EXPECT_EQ(TFontReferences(font), 1);
  TDisposeFont(font);
}
