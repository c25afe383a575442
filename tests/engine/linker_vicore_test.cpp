// The VI instances' link steps with the linker itself behind them: making a
// VI enters its panel heap and the VI, disposing it with unlinking removes
// them, and a VI is not disposable while another loaded VI refers to it.
#include "viinst_test_support.h"

#include "engine/link/linker.h"
#include "link_check.h"

using namespace qxvitest;

namespace {

class VILinkTest : public VITest {
 protected:
  void SetUp() override {
    VITest::SetUp();
    ASSERT_TRUE(qxvitest::StartBareLinker());
  }
  void TearDown() override {
    VITest::TearDown();
    linkcheck::DisposeTables();
    SetLinkerServices(nullptr);
  }
  static int32 Entry(const std::string& name, const char* code) {
    int32 e = 0;
    uInt32 cls = 0;
    std::memcpy(&cls, code, 4);  // the code's characters in memory order
    LookupLinkItem(PS(name), cls, &e);
    return e;
  }
};

TEST_F(VILinkTest, NewVICoreEntersItsItemsAndDisposeVIRemovesThem) {
  UHandle sub = NewVICore(kVIKindDatalog, PS("Sub.vi"), -1);
  UHandle ctl = NewVICore(kVIKindControl, PS("Type.ctl"), -1);
  UHandle caller = NewVICore(kVIKindDatalog, PS("Caller.vi"), -1);
  ASSERT_TRUE(sub && ctl && caller);
  struct Item {
    std::string name;
    const char* code;
    const void* owner;
  } items[] = {{"Sub.vi", "QXIN", sub},     {"Sub.vi", "FPHP", VIRec(sub)->panelHeap},
               {"Type.ctl", "QXCC", ctl},   {"Type.ctl", "FPHP", VIRec(ctl)->panelHeap},
               {"Caller.vi", "QXIN", caller}};
  for (const Item& it : items) {
    SCOPED_TRACE(it.name + " " + it.code);
    const int32 e = Entry(it.name, it.code);
    ASSERT_NE(e, 0);
    EXPECT_EQ(LE(e).owner, uInt32(uintptr_t(it.owner)));
    EXPECT_TRUE(LE(e).classFlags & kLinkFlagPublic);
  }
  EXPECT_EQ(Entry("Type.ctl", "QXIN"), 0) << "a control is entered as a custom control only";

  // The caller refers to the subVI: the subVI is no longer disposable.
  EXPECT_TRUE(VIIsDisposable(sub));
  EXPECT_EQ(AddExtern(caller, -1, PS("Caller.vi"), FourCC("QXIN"), PS("Sub.vi"), nullptr, FourCC("QXIN"), nullptr,
                      nullptr),
            1);
  EXPECT_EQ(VIHasLoadedCaller(sub), 1);
  EXPECT_FALSE(VIIsDisposable(sub));

  // Disposing the caller with unlinking removes its entries and its reference.
  DisposeVI(caller, 1);
  EXPECT_EQ(Entry("Caller.vi", "QXIN"), 0);
  EXPECT_EQ(Entry("Caller.vi", "FPHP"), 0);
  EXPECT_EQ(LE(Entry("Sub.vi", "QXIN")).referrers, 0);
  EXPECT_EQ(VIHasLoadedCaller(sub), 0);
  EXPECT_TRUE(VIIsDisposable(sub));
  DisposeVI(sub, 1);
  DisposeVI(ctl, 1);
  for (const Item& it : items) EXPECT_EQ(Entry(it.name, it.code), 0) << it.name << " " << it.code;
  EXPECT_EQ(linkcheck::Walk(), "");
  EXPECT_EQ(LoadedVICount(), 0);
}

}  // namespace
