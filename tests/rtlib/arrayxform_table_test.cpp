// The array operations and type casts in the run-time function table: at
// their indexes, exported by name, and called through the table as compiled
// code calls them.
#include <dlfcn.h>

#include "arraysize_test_support.h"
#include "compiled_call.h"
#include "mgsource/byteorder.h"
#include "rtlib/arrayxform.h"
#include "rtlib/typecast.h"
#include "rttable_start.h"

using namespace astest;
using namespace tdb;
using qxtest::CallAsCompiledCode;
using qxtest::CallResult;
using rttest::Routine;
using rttest::Word;

namespace {

using ArrayXformTable = rttest::StartedTable<ArraySizeTest>;

TEST_F(ArrayXformTable, EachFunctionStandsAtItsIndexAndIsExported) {
  const struct {
    int32 index;
    const char* name;
    QXRTRoutine routine;
  } indexed[] = {
      {719, "TransposeArray", Routine(&TransposeArray)}, {729, "ReverseArray", Routine(&ReverseArray)},
      {730, "RotateArray", Routine(&RotateArray)},       {735, "LockFlat", Routine(&LockFlat)},
      {736, "UnlockUnflat", Routine(&UnlockUnflat)},     {862, "TypeCast", Routine(&TypeCast)},
      {881, "ReshapeArray", Routine(&ReshapeArray)},     {882, "InitArray", Routine(&InitArray)},
      {1084, "TypeCastConvert", Routine(&TypeCastConvert)},
  };
  for (const auto& e : indexed) {
    SCOPED_TRACE(e.index);
    EXPECT_STREQ(QXRTEntryName(e.index), e.name);
    EXPECT_EQ(QXRTTable[e.index], e.routine);
    EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, e.name)), e.routine);
  }
  // The byte swaps of whole TDs have no index but are exported.
  EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, "TDByteSwap")), Routine(&TDByteSwap));
  EXPECT_EQ(Routine(dlsym(RTLD_DEFAULT, "TDByteSwapToFile")), Routine(&TDByteSwapToFile));
}

// Compiled code pushes the arguments right to left and reads the error in
// EAX; the stack is the caller's to pop.
TEST_F(ArrayXformTable, CompiledCodeCastsAndRotatesThroughTheTable) {
  TDHandle i32(I32()), str(String());
  int32 v = 0x01020304;
  LStrHandle s = reinterpret_cast<LStrHandle>(DSNewHClr(4));
  CallResult r = CallAsCompiledCode(QXRTTable[862], {Word(i32.h()), uInt32(i32.offset()), Word(str.h()),
                                                     uInt32(str.offset()), Word(&v), Word(s), 0});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  ASSERT_EQ(GetNative32(*s), 4u);
  EXPECT_EQ(std::vector<uChar>((*s)->str, (*s)->str + 4), (std::vector<uChar>{1, 2, 3, 4}));
  DSDisposeHandle(reinterpret_cast<UHandle>(s));

  int32 data[5] = {1, 2, 3, 4, 5};
  r = CallAsCompiledCode(QXRTTable[730], {uInt32(-2), 5, Word(data), 4});
  EXPECT_EQ(r.eax, 0u);
  EXPECT_EQ(r.espAfter, r.espBefore);
  EXPECT_EQ(std::vector<int32>(data, data + 5), (std::vector<int32>{3, 4, 5, 1, 2}));
  MemFailNthAllocation(1);
  r = CallAsCompiledCode(QXRTTable[730], {1, 5, Word(data), 4});
  MemFailNthAllocation(0);
  EXPECT_EQ(r.eax, uInt32(kMemFullErr));
  EXPECT_EQ(std::vector<int32>(data, data + 5), (std::vector<int32>{3, 4, 5, 1, 2}));
}

}  // namespace
