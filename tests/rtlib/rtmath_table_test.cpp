// The numeric functions in the run-time function table: registered at the
// indexes the table list gives them, exported under every listed name, and
// called through the table as compiled code calls them.
#include <dlfcn.h>

#include <cmath>
#include <sstream>
#include <string>

#include "compiled_call.h"
#include "engine/exec/rttable_internal.h"
#include "rtlib/rtcomplex.h"
#include "rtlib/rtregister.h"
#include "rtmath_test_support.h"
#include "rttable_start.h"

using namespace rttest;
using qxtest::CallAsCompiledCode;
using qxtest::CallResult;

namespace {

void StartTable() {
  EXPECT_EQ(StartRunTimeTable().engine, kNoErr);
  EXPECT_EQ(StartRunTimeTable().rtlib, kNoErr);
}

class RTMathTable : public RTMathTest {
 protected:
  void SetUp() override {
    RTMathTest::SetUp();
    StartTable();
  }
};

TEST_F(RTMathTable, TheListRegistersCleanlyIntoAFreshTable) {
  std::vector<QXRTRoutine> table(kQXRTEntries + 1);
  qxrt::FillWithStub(table.data());
  qxrt::Registry reg(table.data());
  int32 count = 0;
  const QXRTEntry* entries = QXRTRTLibEntries(&count);
  // The real, integer and text-to-number members: 61 operations in three
  // precisions, the four integer entries and RTStrToNum; the complex
  // members: 55 operations in three precisions.
  int32 real = 0, complex = 0;
  for (int32 k = 0; k < count; ++k) {
    const std::string name = entries[k].name;
    auto starts = [&name](const char* prefix) { return name.rfind(prefix, 0) == 0; };
    if (starts("RTc") || starts("RTfc")) {
      ++complex;
    } else if (starts("RTf") || starts("RTi") || starts("RTu") || name == "RTStrToNum") {
      ++real;
    }
  }
  EXPECT_EQ(real, 61 * 3 + 4 + 1);
  EXPECT_EQ(complex, 55 * 3);
  qxtest::Reports::Get().Clear();
  EXPECT_EQ(reg.Register(entries, count), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("run-time table:"), 0) << qxtest::Reports::Get().Text();
  for (int32 k = 0; k < count; ++k) EXPECT_EQ(table[size_t(entries[k].index)], QXRTTable[entries[k].index]);
}

// Every registered routine is exported under the name the list gives its
// index and under each other name listed with it.
TEST_F(RTMathTable, RoutinesAreExportedUnderEveryListedName) {
  int32 count = 0;
  const QXRTEntry* entries = QXRTRTLibEntries(&count);
  int32 others = 0;
  for (int32 k = 0; k < count; ++k) {
    int32 i = entries[k].index;
    ASSERT_NE(QXRTEntryName(i), nullptr) << i;
    EXPECT_STREQ(entries[k].name, QXRTEntryName(i));
    EXPECT_NE(QXRTTable[i], &MissingRoutine) << i;
    EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, QXRTEntryName(i))), QXRTTable[i]) << QXRTEntryName(i);
    std::istringstream names(QXRTEntryOtherNames(i));
    for (std::string n; names >> n; ++others) EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, n.c_str())), QXRTTable[i]) << n;
  }
  EXPECT_EQ(others, 6);  // RTuMul twice, RTfRemS and RTfRemD twice each
  EXPECT_EQ(QXRTTable[1199], &MissingRoutine);
}

TEST_F(RTMathTable, SampleEntriesHoldTheirRoutines) {
  EXPECT_EQ(QXRTTable[1099], Routine(&RTStrToNum));
  EXPECT_EQ(QXRTTable[1100], Routine(&RTfAbsS));
  EXPECT_EQ(QXRTTable[1208], Routine(&RTfSinCosX));
  EXPECT_EQ(QXRTTable[1330], Routine(&RTfIsNanS));
  EXPECT_EQ(QXRTTable[1353], Routine(&RTfLT0X));
  EXPECT_EQ(QXRTTable[1360], Routine(&RTfAddS));
  EXPECT_EQ(QXRTTable[1386], Routine(&RTfQRemX));
  EXPECT_EQ(QXRTTable[1434], Routine(&RTfLTX));
  EXPECT_EQ(QXRTTable[1443], Routine(&RTfMaxMinX));
  EXPECT_EQ(QXRTTable[1459], Routine(&RTiMul));
  EXPECT_EQ(QXRTTable[1460], Routine(&RTuMul));
  EXPECT_EQ(QXRTTable[1462], Routine(&RTuDiv));
  // One body at each pair of indexes.
  EXPECT_EQ(QXRTTable[1686], QXRTTable[1689]);
  EXPECT_EQ(QXRTTable[1687], QXRTTable[1690]);
  EXPECT_EQ(QXRTTable[1686], Routine(&RTfRemS));
  EXPECT_EQ(QXRTTable[1688], Routine(&RTfModX));
  EXPECT_EQ(QXRTTable[1691], Routine(&RTfRemX));
  EXPECT_NE(QXRTTable[1688], QXRTTable[1691]);
}

// Through the table, from a stack aligned to 4 bytes only, the results are
// the direct calls' results and the stack is balanced.
TEST_F(RTMathTable, EntriesCalledAsCompiledCodeCallsThem) {
  const float64 xs[] = {0.0, 0.5, -1.25, 3.0, 1e10, -HUGE_VAL, NaND()};
  for (float64 x : xs) {
    float64 viaTable = -7, direct = -7;
    CallResult r = CallAsCompiledCode(QXRTTable[1155], {Word(&x), Word(&viaTable)});
    RTfSinD(&x, &direct);
    EXPECT_TRUE(Same(viaTable, direct)) << x;
    EXPECT_EQ(r.espAfter, r.espBefore);
    EXPECT_NE(r.espBefore % 16, 0u);
    for (float64 y : xs) {
      EXPECT_EQ(CallAsCompiledCode(QXRTTable[1418], {Word(&x), Word(&y)}).eax, uInt32(RTfEQD(&x, &y))) << x << " "
                                                                                                        << y;
    }
  }
  const int32 ints[] = {7, -2, 0, INT32_MIN, -1, 0x10000};
  for (int32 a : ints) {
    for (int32 b : ints) {
      EXPECT_EQ(CallAsCompiledCode(QXRTTable[1461], {uInt32(a), uInt32(b)}).eax, uInt32(RTiDiv(a, b)));
    }
  }
  EXPECT_EQ(CallAsCompiledCode(QXRTTable[1461], {7, uInt32(-2)}).eax, uInt32(-3));
  // Two results through the table, as the complex members will use them.
  float64 x = -7, y = 2, q = 0, rem = 0;
  CallAsCompiledCode(QXRTTable[1385], {Word(&x), Word(&y), Word(&q), Word(&rem)});
  EXPECT_EQ(q, -4.0);
  EXPECT_EQ(rem, 1.0);
  ExtFloat ex = Ext(-3), er{};
  CallAsCompiledCode(QXRTTable[1102], {Word(&ex), Word(&er)});
  EXPECT_TRUE(SameBits(er, Ext(3)));
}

// The complex members through the table give the direct results.
TEST_F(RTMathTable, ComplexEntriesCalledAsCompiledCodeCallsThem) {
  EXPECT_EQ(QXRTTable[1400], Routine(&RTcMulD));
  EXPECT_EQ(QXRTTable[1436], Routine(&RTcEQD));
  EXPECT_EQ(QXRTTable[1391], Routine(&RTfcReImToCD));
  EXPECT_EQ(QXRTTable[1299], &MissingRoutine);
  const ComplexD zs[] = {{1, 2}, {-3, 0.5}, {NaND(), 0}, {0, -0.0}, {HUGE_VAL, 1}};
  for (const ComplexD& z : zs) {
    for (const ComplexD& w : zs) {
      ComplexD viaTable = {-7, -7}, direct = {-7, -7};
      CallResult r = CallAsCompiledCode(QXRTTable[1400], {Word(&z), Word(&w), Word(&viaTable)});
      RTcMulD(&z, &w, &direct);
      EXPECT_TRUE(Same(viaTable.re, direct.re) && Same(viaTable.im, direct.im));
      EXPECT_EQ(r.espAfter, r.espBefore);
      EXPECT_EQ(CallAsCompiledCode(QXRTTable[1436], {Word(&z), Word(&w)}).eax, uInt32(RTcEQD(&z, &w)));
    }
    ComplexD made = {-7, -7};
    CallAsCompiledCode(QXRTTable[1391], {Word(&z.re), Word(&z.im), Word(&made)});
    EXPECT_EQ(Bits(made.re), Bits(z.re));
    EXPECT_EQ(Bits(made.im), Bits(z.im));
  }
}

}  // namespace
