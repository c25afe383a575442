// The VI server's start as the shell calls it: its log keys read, the
// listener that cannot start reported with 53 only when the server is on,
// and the access lists kept as copies.
#include "engine/engine_test_support.h"
#include "mgsource/config_test_file.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "server/srvstart.h"

namespace {

class SrvStart : public qxtest::EngineTest {};

TEST_F(SrvStart, ListenerFailsOnlyWhenEnabledAndAccessListsAreCopied) {
  const struct {
    const char* enabled;
    const char* details;
    MgErr want;
  } cases[] = {{nullptr, nullptr, kNoErr}, {"False", "True", kNoErr}, {"True", "True", kCapabilityErr}};
  for (const auto& c : cases) {
    CfgTestClearValues();
    if (c.enabled) CfgTestSetValue("server.tcp.enabled", c.enabled);
    if (c.details) CfgTestSetValue("tcpServer.logDetails", c.details);
    EXPECT_EQ(TCPServerInit(), c.want);
    EXPECT_EQ(SrvLogKeys().logDetails, c.details ? 1 : 0);
    SrvDisposeStartState();
  }
  CfgTestClearValues();
  CPStrHandle list = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(CPStrInsert(list, reinterpret_cast<ConstPStr>("\x02+*"), 0), kNoErr);
  QXSSpecifyViAccess(list);
  AZDisposeHandle(reinterpret_cast<UHandle>(list));
  ASSERT_NE(QXSViAccessList(), nullptr);
  EXPECT_EQ((*QXSViAccessList())->cnt, 1) << "the copy outlives the caller's list";
  QXSSpecifyTcpAccess(nullptr);
  EXPECT_EQ(QXSTcpAccessList(), nullptr);
  SrvDisposeStartState();
  EXPECT_EQ(QXSViAccessList(), nullptr);
}

}  // namespace
