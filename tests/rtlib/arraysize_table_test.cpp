// The array sizing functions in the run-time function table: at their
// indexes, exported by name, and called through the table as compiled code
// calls them.
#include <dlfcn.h>

#include <map>

#include "arraysize_test_support.h"
#include "compiled_call.h"
#include "engine/exec/rttable_internal.h"
#include "rttable_start.h"

using namespace astest;
using qxtest::CallAsCompiledCode;
using qxtest::CallResult;
using rttest::Routine;
using rttest::Word;

namespace {

using ArraySizeTable = rttest::StartedTable<ArraySizeTest>;

const std::map<int32, std::pair<const char*, QXRTRoutine>>& Indexed() {
  static const std::map<int32, std::pair<const char*, QXRTRoutine>> m = {
      {707, {"ArrayResize_Old", Routine(&ArrayResize_Old)}},
      {708, {"ArrayResize2_Old", Routine(&ArrayResize2_Old)}},
      {713, {"FlatArrayResize", Routine(&FlatArrayResize)}},
      {714, {"FlatArrayResize2", Routine(&FlatArrayResize2)}},
      {715, {"VectorResize_Old", Routine(&VectorResize_Old)}},
      {716, {"VectorResize2_Old", Routine(&VectorResize2_Old)}},
      {717, {"FlatVectorResize", Routine(&FlatVectorResize)}},
      {718, {"FlatVectorResize2", Routine(&FlatVectorResize2)}},
      {731, {"SetArraySize", Routine(&SetArraySize)}},
      {880, {"CountDSHandles_Old", Routine(&CountDSHandles_Old)}},
      {887, {"NumericArrayResize", Routine(&NumericArrayResize)}},
      {1602, {"SetArraySzAndInflateNewElt", Routine(&SetArraySzAndInflateNewElt)}},
      {1644, {"FlatHandleResize", Routine(&FlatHandleResize)}},
      {1645, {"NArrayElts", Routine(&NArrayElts)}},
      {1646, {"NSubArrayElts", Routine(&NSubArrayElts)}},
      {1647, {"MakeSubArray", Routine(&MakeSubArray)}},
      {1678, {"ArrayResize", Routine(&ArrayResize)}},
      {1679, {"VectorResize", Routine(&VectorResize)}},
  };
  return m;
}

TEST_F(ArraySizeTable, EachFunctionStandsAtItsIndexAndIsExported) {
  for (const auto& [index, entry] : Indexed()) {
    SCOPED_TRACE(index);
    ASSERT_NE(QXRTEntryName(index), nullptr);
    EXPECT_STREQ(QXRTEntryName(index), entry.first);
    EXPECT_EQ(QXRTTable[index], entry.second);
    EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, entry.first)), entry.second);
  }
  // The family's names that no index carries are exported all the same.
  const std::pair<const char*, QXRTRoutine> named[] = {
      {"ArrayResizeElts", Routine(&ArrayResizeElts)},   {"BitLength", Routine(&BitLength)},
      {"NPackedBoolWords", Routine(&NPackedBoolWords)}, {"HandleVectorResize", Routine(&HandleVectorResize)},
      {"ArrayResize2", Routine(&ArrayResize2)},         {"VectorResize2", Routine(&VectorResize2)},
      {"CountDataHandles", Routine(&CountDataHandles)},
  };
  for (const auto& [name, routine] : named) EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, name)), routine) << name;
}

// The library registers the family once: the engine's own list leaves the
// engine's functions of the family to it, and both lists go into one table
// without a refusal.
TEST_F(ArraySizeTable, TheEngineAndTheLibraryRegisterTogetherCleanly) {
  int32 nEngine = 0, nLib = 0;
  const QXRTEntry* engine = QXRTEngineEntries(&nEngine);
  const QXRTEntry* lib = QXRTRTLibEntries(&nLib);
  for (int32 k = 0; k < nEngine; ++k) EXPECT_EQ(Indexed().count(engine[k].index), 0u) << engine[k].index;
  int32 found = 0;
  for (int32 k = 0; k < nLib; ++k) found += int32(Indexed().count(lib[k].index));
  EXPECT_EQ(found, int32(Indexed().size()));
  std::vector<QXRTRoutine> table(kQXRTEntries + 1);
  qxrt::FillWithStub(table.data());
  qxrt::Registry reg(table.data());
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(reg.Register(engine, nEngine), kNoErr);
  EXPECT_EQ(reg.Register(lib, nLib), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("run-time table:"), 0) << qxtest::Reports::Get().Text();
  for (const auto& [index, entry] : Indexed()) EXPECT_EQ(table[size_t(index)], entry.second) << index;
}

// Compiled code pushes the arguments right to left and reads the error in
// EAX; the stack is the caller's to pop.
TEST_F(ArraySizeTable, CompiledCodeResizesThroughTheTable) {
  UHandle h = nullptr;
  int32 count = 3;
  int32* countPtr = &count;
  CallResult r = CallAsCompiledCode(QXRTTable[1679], {Word(StdTDTable[kStdTDString]), Word(&h), Word(&countPtr)});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(I32At(h, 0), 3);
  EXPECT_EQ(DSGetHandleSize(h), 4 + 12);
  count = 0x40000000;
  r = CallAsCompiledCode(QXRTTable[1679], {Word(StdTDTable[kStdTDString]), Word(&h), Word(&countPtr)});
  EXPECT_EQ(r.eax, uInt32(kMemFullErr));
  EXPECT_EQ(I32At(h, 0), 3);
  DSDisposeHandle(h);

  UHandle d = nullptr;
  r = CallAsCompiledCode(QXRTTable[887], {uInt32(kTDDBL), 1, Word(&d), 4});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(DSGetHandleSize(d), AlignDatum(StdTDTable[kTDDBL], 4) + 32);
  r = CallAsCompiledCode(QXRTTable[887], {31, 1, Word(&d), 4});
  EXPECT_EQ(r.eax, uInt32(kArgErr));
  EXPECT_EQ(FamilyFailures(), 1);
  DSDisposeHandle(d);
}

}  // namespace
