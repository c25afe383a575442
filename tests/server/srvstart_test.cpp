// The VI server's start as the shell calls it: the listener that cannot
// start is reported with 53 only when the server is on; the access lists
// are kept as copies.
#include "engine/engine_test_support.h"
#include "mgsource/config_test_file.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "server/access.h"
#include "server/srvstart.h"

namespace {

class SrvStart : public qxtest::EngineTest {};

TEST_F(SrvStart, ListenerFailsOnlyWhenEnabledAndAccessListsAreCopied) {
  const std::pair<const char*, MgErr> cases[] = {{nullptr, kNoErr}, {"False", kNoErr}, {"True", kCapabilityErr}};
  for (const auto& [enabled, want] : cases) {
    CfgTestClearValues();
    if (enabled) CfgTestSetValue("server.tcp.enabled", enabled);
    EXPECT_EQ(TCPServerInit(), want);
  }
  CfgTestClearValues();
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  ASSERT_EQ(CPStrInsert(list, reinterpret_cast<ConstPStr>("\x02+*"), 0), kNoErr);
  QXSSpecifyViAccess(list);
  AZDisposeHandle(reinterpret_cast<UHandle>(list));
  ASSERT_NE(QXSViAccessList(), nullptr);
  EXPECT_EQ((*QXSViAccessList())->cnt, 1) << "the copy outlives the caller's list";
  SrvDisposeStartState();
  EXPECT_EQ(QXSViAccessList(), nullptr);
}

}  // namespace
