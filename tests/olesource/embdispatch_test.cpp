// A diagram drives an embedded object through the automation refnum of its
// dispatch interface, as the container library hands it out.
#include <cstring>
#include <vector>

#include "mgsource/memory.h"
#include "ole_test_support.h"
#include "server/embed_lib_support.h"
#include "server/embobj.h"

using namespace oletest;

namespace {

class EmbDispatchTest : public ClientTest {};

TEST_F(EmbDispatchTest, ADiagramReadsAPropertyAndCallsAMethodUntilTheObjectIsDestroyed) {
  ASSERT_NE(embtest::Library(), nullptr);
  const EmbContainerProcs old = EmbSetContainerProcs(embtest::Table());
  ASSERT_EQ(AutomationInit(), kNoErr);
  UHandle rec = AZNewHClr(sizeof(EmbObjectRec));
  reinterpret_cast<EmbObjectRec*>(*rec)->kind = kEmbObjectKind;
  const std::vector<uint8_t> state = QxEmbedWriteState(QxEmbedState{0x44656D6F, 40, 20, 0, 0x00C000});
  UHandle saved = AZNewHandle(int32(state.size()) + 4);
  const int32 n = int32(state.size());
  std::memcpy(*saved, &n, 4);
  std::memcpy(*saved + 4, state.data(), state.size());
  const Rect r{0, 0, 20, 40};
  ASSERT_EQ(EmbLoadFromResource(saved, &rec, 0, nullptr, &r, nullptr), kNoErr);
  const int32 token = reinterpret_cast<EmbObjectRec*>(*rec)->token;
  const Cookie ref = Cookie(EmbUpdateDispatch(rec));
  ASSERT_NE(ref, 0u);

  PlatVariant v = Var(kPlatVtEmpty);
  EXPECT_EQ(AutoPropertyRead(ref, 1, &v, 0, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(v.vt, kPlatVtI4);
  EXPECT_EQ(v.i4, 0x00C000);
  PlatVariant args[2] = {Var(kPlatVtEmpty), VarI4(0x123456)};
  EXPECT_EQ(AutoInvokeMethod(ref, 2, 2, nullptr, args, kAutoCallMethod, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(AutoPropertyRead(ref, 1, &v, 0, nullptr, kAutoRefClass), kPlatOk);
  EXPECT_EQ(v.i4, 0x123456) << "the method changed the object";
  // The object's saved state carries the change.
  UHandle out = nullptr;
  ASSERT_EQ(EmbSaveObject(rec, &out), kNoErr);
  QxEmbedState st;
  ASSERT_TRUE(QxEmbedReadState(reinterpret_cast<const uint8_t*>(*out + 4), AZGetHandleSize(out) - 4, &st));
  EXPECT_EQ(st.colour, 0x123456u);
  EXPECT_EQ(AutoPropertyRead(ref, 9, &v, 0, nullptr, kAutoRefClass), kPlatDispMemberNotFound);

  QxEmbedInfo info;
  ASSERT_TRUE(QxEmbedQuery(token, &info));
  EXPECT_EQ(info.dispatchRefs, 2u);
  EXPECT_EQ(EmbDestroy(rec), kNoErr);
  EXPECT_FALSE(IsAutomationRefnum(ref)) << "destroy releases the refnum";
  EXPECT_EQ(QxEmbedCount(), 0);
  AZDisposeHandle(out);
  AZDisposeHandle(saved);
  AZDisposeHandle(rec);
  EmbSetContainerProcs(old);
}

}  // namespace
