// The services the linker's start-up answers from the engine itself, and
// those that stay with their owners: a library function bound into a VI
// whose compiled code names a routine this system does not have marks the
// VI bad through the engine's own test of the code.
#include <gtest/gtest.h>

#include <vector>

#include "engine/dsalloc.h"
#include "engine/exec/codeentry.h"
#include "engine/exec/dsprocs.h"
#include "engine/link/linker.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/virecord.h"
#include "engine_test_support.h"
#include "link_check.h"
#include "mgsource/byteorder.h"
#include "mgsource/path_test_util.h"
#include "tools/i386emit.h"
#include "tools/tdbuilder.h"
#include "tools/vibuilder.h"

using pathtest::PS;

namespace {

std::vector<UHandle> gBad;

int32 gSlot17 = 0;
int32 Slot17(DataSpace, int32) { return ++gSlot17; }
// A reentrant VI's compiled initialisation for a clone: the clone's
// procedures, and slot 17 when asked.
bool gInstall17 = false;
int32 CloneInit(DataSpace ds, int32) {
  VINormalInitCProcsHelper(ds, 1);
  if (gInstall17) DSProc(*ds, 17) = reinterpret_cast<void*>(&Slot17);
  return 0;
}

class LinkerServicesTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    qxtest::StartRTTable();
    if (!AZPAllocBlocks()) AZPAllocInit();
    SetLinkerServices(nullptr);
    InitLinker();
    ASSERT_NE(gLinkTable, nullptr);
    gBad.clear();
  }
  void TearDown() override {
    linkcheck::DisposeTables();
    SetLinkerServices(nullptr);
    EngineTest::TearDown();
  }
  static bool AZPAllocBlocks() { return AZPBlocks()->linkerNames != nullptr; }
};

TEST_F(LinkerServicesTest, StartUpFillsWhatTheEngineAnswersAndLeavesTheOwnersHooks) {
  const LinkerServices& s = LinkServices();
  EXPECT_NE(s.isVILoaded, nullptr);
  EXPECT_NE(s.insertLoadedVI, nullptr);
  EXPECT_NE(s.removeLoadedVI, nullptr);
  ASSERT_NE(s.rootVI, nullptr);
  EXPECT_EQ(s.rootVI(), nullptr) << "no root VI was made";
  EXPECT_NE(s.postUserEvent, nullptr);
  EXPECT_NE(s.initClone, nullptr);
  EXPECT_NE(s.callDisposeProc, nullptr);
  EXPECT_NE(s.disposeDataSpace, nullptr);
  EXPECT_NE(s.usesMissingRTEntries, nullptr);
  // The run commands' and the load methods' own services stay empty.
  EXPECT_EQ(s.setVIBad, nullptr);
  EXPECT_EQ(s.propagatePriority, nullptr);
  EXPECT_EQ(s.reevalSubVIState, nullptr);
  EXPECT_EQ(s.subrHasUnitAccess, nullptr);
  EXPECT_EQ(s.writeCodeWord, nullptr) << "the platform's writer answers for it";
  // A member installed before the start-up stays.
  linkcheck::DisposeTables();
  LinkerServices mine{};
  mine.rootVI = []() -> UHandle { return nullptr; };
  SetLinkerServices(&mine);
  InitLinker();
  EXPECT_EQ(LinkServices().rootVI, mine.rootVI);
  EXPECT_NE(LinkServices().usesMissingRTEntries, nullptr);
}

TEST_F(LinkerServicesTest, LibraryFunctionMarksAVIWhoseCodeUsesMissingEntriesBad) {
  LinkerServices s = LinkServices();
  s.setVIBad = [](UHandle vi) { gBad.push_back(vi); };
  SetLinkerServices(&s);
  UHandle rec = AZNewHClr(12);
  PutNative32(*rec + 4, 0x1234);
  ASSERT_EQ(AddLinkEntry(rec, PS("lib:fn"), nullptr, FourCC("XFun"), nullptr), 0);
  struct Case {
    const char* name;
    int32 index;  // the entry the VI's code calls; -1: the VI has no code
    bool bad;
  } cases[] = {{"\x07" "Plain.vi", 317, false}, {"\x09" "Missing.vi", 630, true}, {"\x08" "NoCode.vi", -1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + 1);
    UHandle vi = vib::NewVI(std::vector<tdb::TD>(4, tdb::I32()), true);
    ASSERT_NE(vi, nullptr);
    std::memcpy(VIRec(vi)->name, c.name, size_t(c.name[0]) + 1);
    UHandle ds = VIRec(vi)->dataSpace;
    reinterpret_cast<DataSpaceHeader*>(*ds)->owner = vi;
    VICode code = nullptr;
    if (c.index >= 0) {
      emit::Code e;
      e.SetEntry();
      e.CallRT(c.index);
      e.Ret();
      std::vector<uint8_t> bytes = e.Finish();
      ASSERT_EQ(NewVICode(bytes.data(), int32(bytes.size()), &code), kNoErr);
      VIRec(vi)->codeHandle = reinterpret_cast<UHandle>(code);
    }
    gBad.clear();
    ASSERT_EQ(AddLinkEntry(ds, VIRec(vi)->name, nullptr, FourCC("VIDS"), nullptr), 0);
    EXPECT_EQ(AddExtern(ds, kDataSpaceHeaderSize, VIRec(vi)->name, FourCC("VIDS"), PS("lib:fn"), nullptr,
                        FourCC("XFun"), nullptr, nullptr),
              1);
    EXPECT_EQ(GetNative32(*ds + kDataSpaceHeaderSize), 0x1234u);
    EXPECT_EQ(gBad.size(), c.bad ? 1u : 0u);
    Str255 name;
    std::memcpy(name, VIRec(vi)->name, size_t(VIRec(vi)->name[0]) + 1);
    UnlinkItemByName(name, FourCC("VIDS"));
    VIRec(vi)->codeHandle = nullptr;
    if (code) DisposeVICode(code);
    vib::DisposeVI(vi);
  }
  UnlinkItemByName(PS("lib:fn"), FourCC("XFun"));
  AZDisposeHandle(rec);
  EXPECT_EQ(linkcheck::Walk(), "");
}

// A clone starts with its initialisation, its compiled initialisation and
// slot 17 when its initialisation installed one; without one nothing is
// reported.  It is disposed through the engine's own disposal.
TEST_F(LinkerServicesTest, AClonesStartRunsItsInitialisationAndSlot17OnlyWhenSet) {
  for (const bool with17 : {true, false}) {
    SCOPED_TRACE(with17 ? "slot 17 installed" : "no slot 17");
    gInstall17 = with17;
    gSlot17 = 0;
    UHandle vi = vib::NewVI(std::vector<tdb::TD>(4, tdb::I32()), true);
    ASSERT_NE(vi, nullptr);
    VIRec(vi)->viKind = 7;
    UHandle first = VIRec(vi)->dataSpace;
    reinterpret_cast<DataSpaceHeader*>(*first)->owner = vi;
    UHandle clone = NewDSFromDefaults(vi);
    ASSERT_NE(clone, nullptr);
    DSProc(reinterpret_cast<DataSpaceHeader*>(*clone), kDSProcInit) = reinterpret_cast<void*>(&CloneInit);
    ClearReports();
    EXPECT_EQ(LinkServices().initClone(vi, clone), kNoErr);
    auto* h = reinterpret_cast<DataSpaceHeader*>(*clone);
    EXPECT_EQ(h->self, reinterpret_cast<DataSpace>(clone)) << "initialised";
    EXPECT_EQ(reinterpret_cast<DataSpaceHeader*>(*first)->nextClone, reinterpret_cast<DataSpace>(clone));
    EXPECT_NE(DSProc(h, kDSProcCompletion), nullptr) << "its compiled initialisation ran";
    EXPECT_EQ(gSlot17, with17 ? 1 : 0);
    EXPECT_EQ(qxtest::Reports::Get().Count("empty procedure slot"), 0) << ReportText();
    LinkServices().disposeDataSpace(clone);
    EXPECT_EQ(reinterpret_cast<DataSpaceHeader*>(*first)->nextClone, nullptr) << "taken out of the clones";
    vib::DisposeVI(vi);
  }
}

}  // namespace
