// The VI server's start as the shell calls it: the log keys and the log
// file; the access lists kept as copies.
#include <fstream>
#include <sstream>

#include "engine/engine_test_support.h"
#include "mgsource/config_test_file.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/path_test_util.h"
#include "server/access.h"
#include "server/srvstart.h"
#include "temp_folder.h"

namespace {

class SrvStart : public qxtest::EngineTest {};

// The system's text of a host path (drive C: is the root).
std::string HostText(std::string host) {
  for (char& ch : host) ch = ch == '/' ? '\\' : ch;
  return "C:" + host;
}

std::string PathText(Path p) {
  Str255 name;
  return p && FNamePtr(p, name) == kNoErr ? std::string(reinterpret_cast<const char*>(name + 1), name[0]) : "";
}

TEST_F(SrvStart, TheLogKeysMakeTheLog) {
  TempFolder tmp("qxsrvstart");
  const std::string host = tmp.Dir() + "/server.log";
  const struct {
    std::vector<std::pair<const char*, std::string>> keys;
    MgErr want;
    bool logging;
    const char* file;
  } cases[] = {
      {{}, kNoErr, false, "servrlog.txt"},
      {{{"tcpServer.log", "True"}, {"tcpServer.logPath", HostText(host)}}, kNoErr, true, "server.log"},
  };
  for (const auto& c : cases) {
    CfgTestClearValues();
    for (const auto& [key, value] : c.keys) CfgTestSetValue(key, value.c_str());
    qxtest::Reports::Get().Clear();
    EXPECT_EQ(TCPServerInit(), c.want);
    Path path = FEmptyPath(nullptr);
    Bool32 on = 0;
    ASSERT_EQ(GetServerLogging(path, &on), kNoErr);
    EXPECT_EQ(on != 0, c.logging);
    EXPECT_EQ(PathText(path), c.file);
    FDisposePath(path);
    SrvDisposeStartState();
  }
  std::stringstream log;
  log << std::ifstream(host).rdbuf();
  EXPECT_NE(log.str().find("## Initializing TCP Server\r\n\t\tTurning on logging.\r\n"), std::string::npos) << log.str();
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
