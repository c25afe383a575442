// The access lists: each entry's kind, allow flag, address and mask; the
// tables they parse into; and the checks, last entry first, of hosts (with
// their names resolved through the test resolvers) and of VIs.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "engine/exec_test_support.h"
#include "mgsource/counted_strings.h"
#include "mgsource/memory.h"
#include "mgsource/pool.h"
#include "mgsource/prefs.h"
#include "platform/qx_netdb.h"
#include "server/access.h"
#include "server/srvstart.h"

namespace {

std::string P(const std::string& s) { return std::string(1, char(s.size())) + s; }
ConstPStr U(const std::string& s) { return reinterpret_cast<ConstPStr>(s.data()); }

TEST(AccessEntries, TcpEntriesParseToTheirKindsAddressesAndMasks) {
  struct Case {
    const char* text;
    int32 flags;
    uInt32 address, mask;
  };
  for (const Case& c : {Case{"+*", 2 | kAccessAllowFlag, 0, 0}, {"-10.1.2.3", 3, 0x0A010203, 0xFFFFFFFF},
                        {"+10.1.*", 5 | kAccessAllowFlag, 0x0A010000, 0xFFFF0000}, {"+Host-1.example.COM", 4 | kAccessAllowFlag, 0, 0},
                        {"+*.example.com", 6 | kAccessAllowFlag, 0, 0}, {"+10.1.2", 1, 0, 0}, {"+256.1.1.1", 1, 0, 0},
                        {"+1.2.3.4.5", 1, 0, 0}, {"+*x", 1, 0, 0}, {"+123", 1, 0, 0}, {"+a..b", 1, 0, 0},
                        {"+", 1, 0, 0}, {"x", 1, 0, 0}, {"+1.2.3.4*", 1, 0, 0},
                        {"+10.0", 1, 0, 0}, {"+123.45", 1, 0, 0}, {"10.0.0.1", 1, 0, 0}, {"-3.*", 5, 0x03000000, 0xFF000000}}) {
    const std::string t = P(c.text);
    uInt32 address = 7, mask = 7;
    int32 flags = 0;
    EXPECT_EQ(QXSParseTcpEntry(U(t), &address, &mask, &flags), Bool32(c.flags != 1)) << c.text;
    EXPECT_EQ(flags, c.flags) << c.text;
    EXPECT_EQ(address, htonl(c.address)) << c.text;
    EXPECT_EQ(mask, htonl(c.mask)) << c.text;
  }
}

TEST(AccessEntries, ViEntriesAreNamesOrPathsWithOrWithoutWildcards) {
  for (auto [text, flags] : {std::pair{"+*", 2 | kAccessAllowFlag}, {"-Main.vi", 3}, {"+C:\\a\\b.vi", 4 | kAccessAllowFlag},
                             {"+Ma?n.vi", 5 | kAccessAllowFlag}, {"-C:\\a\\*", 6}, {"+", 1}, {"*", 1}}) {
    int32 got = 0;
    const std::string t = P(text);
    EXPECT_EQ(QXSParseViEntry(U(t), &got), Bool32(flags != 1)) << text;
    EXPECT_EQ(got, flags) << text;
  }
}

// ---- Tables and checks ----------------------------------------------------------
// Host names of the test resolvers, both ways; every look-up is counted.
std::map<std::string, uInt32> gNames;  // name -> address (host order)
int gForward = 0, gReverse = 0;
std::vector<std::string> gStatus;

bool Forward(const char* name, uint32_t* address) {
  ++gForward;
  auto it = gNames.find(name);
  if (it == gNames.end()) return false;
  *address = htonl(it->second);
  return true;
}
bool Reverse(uint32_t address, char* name, size_t size) {
  ++gReverse;
  for (const auto& [n, a] : gNames)
    if (htonl(a) == address) {
      std::snprintf(name, size, "%s", n.c_str());
      return true;
    }
  return false;
}

uInt32 Ip(const char* dotted) { return inet_addr(dotted); }

CPStrHandle List(const std::vector<std::string>& entries) {
  CPStrHandle h = reinterpret_cast<CPStrHandle>(AZNewHClr(4));
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string t = P(entries[i]);
    EXPECT_EQ(CPStrInsert(h, U(t), int32(i)), kNoErr);
  }
  return h;
}

class AccessLists : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    qxexectest::StartThreadManagers();  // the network manager's look-ups need occurrences
    PlatSetResolverHook(&Forward);
    PlatSetReverseResolverHook(&Reverse);
    QXSSetAccessStatusProc([](ConstPStr text) { gStatus.emplace_back(reinterpret_cast<const char*>(text + 1), text[0]); });
    SrvTestSetListening(1);
    PrefSet(kPrefServerVICallsEnabled, 1);
    PrefSet(kPrefServerVIPropertiesEnabled, 1);
  }
  void TearDown() override {
    QXSDisposeAccessLists();
    QXSSetAccessStatusProc(nullptr);
    SrvTestSetListening(0);
    PlatSetResolverHook(nullptr);
    PlatSetReverseResolverHook(nullptr);
    gNames.clear();
    gStatus.clear();
    EngineTest::TearDown();
  }
  static MgErr Tcp(const std::vector<std::string>& entries) {
    CPStrHandle h = List(entries);
    const MgErr err = QXSSpecifyTcpAccess(h);
    AZDisposeHandle(reinterpret_cast<UHandle>(h));
    return err;
  }
};

TEST_F(AccessLists, HostsAreDecidedByTheLastMatchingEntryAndDeniedWhenNoneMatches) {
  gNames = {{"example.com", 0x0A000101}, {"a.example.com", 0x0A000102}, {"B.EXAMPLE.COM", 0x0A000103},
            {"host-1.example", 0x0A000009}};
  struct Case {
    std::vector<std::string> list;
    const char* client;
    bool paranoid, allowed;
    int forward, reverse;  // look-ups made by the check
  };
  const Case cases[] = {
      {{"+*", "-10.0.*"}, "10.0.3.4", false, false, 0, 0},
      {{"+*", "-10.0.*"}, "10.1.0.1", false, true, 0, 0},
      {{"-*", "+10.0.0.5"}, "10.0.0.5", false, true, 0, 0},
      {{"-*", "+10.0.0.5"}, "10.0.0.6", false, false, 0, 0},
      {{"+*.example.com"}, "10.0.1.1", false, false, 0, 1},  // example.com itself
      {{"+*.example.com"}, "10.0.1.2", false, true, 0, 1},
      {{"+*.example.COM"}, "10.0.1.3", false, true, 0, 1},  // names compare without case
      {{"+*", "-*.x.org", "-*.example.com"}, "10.0.1.2", false, false, 0, 1},  // one reverse look-up per check
      {{"+*", "-*.example.com"}, "10.9.9.9", true, false, 0, 1},  // no name: undecidable, paranoid denies
      {{"+*", "-*.example.com"}, "10.9.9.9", false, true, 0, 1},
      {{"+*", "-nohost.invalid"}, "10.0.0.1", true, false, 1, 0},
      {{"+*", "-nohost.invalid"}, "10.0.0.1", false, true, 1, 0},
      {{"+nohost.invalid"}, "10.0.0.1", true, false, 1, 0},  // an undecidable allow entry never matches
      {{"+host-1.example", "-a.example.com", "-nohost.invalid"}, "10.0.0.9", false, true, 3, 0},
      {{"+*", "+10.0", "+256.1.1.1", "+123.45", "10.0.0.1"}, "10.0.0.1", true, false, 0, 0},
      {{"+*", "+10.0", "+256.1.1.1", "+123.45", "10.0.0.1"}, "10.0.0.1", false, true, 0, 0},
      {{}, "10.0.0.1", true, false, 0, 0},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Tcp(c.list), kNoErr);
    gForward = gReverse = 0;
    EXPECT_EQ(QXSTcpAccessAllowed(Ip(c.client), c.paranoid), Bool32(c.allowed)) << c.list.back() << " " << c.client;
    EXPECT_EQ(gForward, c.forward) << c.list.back() << " " << c.client;
    EXPECT_EQ(gReverse, c.reverse) << c.list.back() << " " << c.client;
  }
  // The debug lines of a match and of the answer.
  ClearReports();
  ASSERT_EQ(Tcp({"+*", "-10.0.*"}), kNoErr);
  EXPECT_EQ(QXSTcpAccessAllowed(Ip("10.0.3.4"), 0), 0);
  EXPECT_EQ(qxtest::Reports::Get().Count("Address 0x0A000304 10.0.3.4 matched by entry '10.0.*'"), 1) << ReportText();
  EXPECT_EQ(qxtest::Reports::Get().Count("QXSTcpAccessAllowed: 10.0.3.4 returns DENIED"), 1);
  // Not listening, or no table: denied at once.
  SrvTestSetListening(0);
  EXPECT_EQ(QXSTcpAccessAllowed(Ip("10.1.0.1"), 0), 0);
  SrvTestSetListening(1);
  EXPECT_EQ(QXSSpecifyTcpAccess(nullptr), kNoErr);
  EXPECT_EQ(QXSTcpAccessList(), nullptr);
  EXPECT_EQ(QXSTcpAccessAllowed(Ip("10.1.0.1"), 0), 0);
}

TEST_F(AccessLists, ParsingShowsEachEntryAndTheOutcome) {
  ClearReports();
  ASSERT_EQ(Tcp({"+10.0.0.5", "+10.0", "+Host.Example"}), kNoErr);
  EXPECT_EQ(gStatus, (std::vector<std::string>{"Server: Checking access entry \"+10.0.0.5\"...",
                                                "Server: Checking access entry \"+10.0\"...",
                                                "Server: Checking access entry \"+Host.Example\"...",
                                                "Server: Syntax errors!"}));
  const std::string text = ReportText();
  EXPECT_NE(text.find("     0: 0x0500000A:0xFFFFFFFF 0x020003 10.0.0.5"), std::string::npos) << text;
  EXPECT_NE(text.find("     1: 0x00000000:0x00000000 0x000001 +10.0"), std::string::npos) << text;
  EXPECT_NE(text.find("     2: 0x00000000:0x00000000 0x020004 Host.Example"), std::string::npos) << text;
  EXPECT_EQ(qxtest::Reports::Get().Count("Server: Syntax errors!"), 1);
  ASSERT_NE(QXSTcpAccessList(), nullptr);
  EXPECT_EQ((*QXSTcpAccessList())->cnt, 3) << "the list is kept as the current one";
  gStatus.clear();
  CPStrHandle vi = List({"+*", "-Secret*.vi"});
  EXPECT_EQ(QXSSpecifyViAccess(vi), kNoErr);
  EXPECT_EQ(gStatus.back(), "Server: Exported VIs list OK");
  EXPECT_NE(ReportText().find("     1: 0x000005 Secret*.vi"), std::string::npos);
  // Without memory for the table: 2, and no table is left.
  // (60,000 entries of "+*", made at once; the status line and the debug
  // output are left out for them.)
  CPStrHandle big = reinterpret_cast<CPStrHandle>(AZNewHandle(4 + 60000 * 3));
  ASSERT_NE(big, nullptr);
  (*big)->cnt = 60000;
  for (int32 i = 0; i < 60000; ++i) std::memcpy(reinterpret_cast<uChar*>(*big) + 4 + 3 * i, "\x02+*", 3);
  QXSSetAccessStatusProc(nullptr);
  DBSetDebugging(0);
  MemPool* pool = PoolInitDefault();
  const uInt32 old = PoolSetCeiling(pool, PoolSize(pool));
  const MgErr err = QXSSpecifyViAccess(big);
  PoolSetCeiling(pool, old);
  MemFullReset();
  DBSetDebugging(1);
  EXPECT_EQ(err, kMemFullErr);
  EXPECT_EQ(QXSViAccessList(), nullptr);
  EXPECT_EQ(QXSViAccessAllowed(U(P("Main.vi")), nullptr), 0);
  AZDisposeHandle(reinterpret_cast<UHandle>(big));
  AZDisposeHandle(reinterpret_cast<UHandle>(vi));
}

TEST_F(AccessLists, VIsAreDecidedByNameOrPathTextLastEntryFirst) {
  struct Case {
    std::vector<std::string> list;
    const char* name;
    const char* path;  // null: no path
    bool allowed;
  };
  const Case cases[] = {
      {{"+*", "-Secret*.vi"}, "SecretTool.vi", nullptr, false},
      {{"+*", "-Secret*.vi"}, "secrettool.VI", nullptr, false},
      {{"+*", "-Secret*.vi"}, "Main.vi", nullptr, true},
      {{"+Main.vi"}, "main.VI", nullptr, true},
      {{"+Main.vi"}, "Main.vi2", nullptr, false},
      {{"+C:\\VIs\\Main.vi"}, "Main.vi", "C:\\vis\\MAIN.vi", true},
      {{"+C:\\VIs\\Main.vi"}, "Main.vi", nullptr, false},
      {{"+C:\\VIs\\**"}, "A.vi", "C:\\VIs\\sub\\A.vi", true},
      {{"+C:\\VIs\\*"}, "A.vi", "C:\\VIs\\sub\\A.vi", false},  // "*" stops at "\"
      {{"+C:\\VIs\\*"}, "A.vi", "C:\\VIs\\A.vi", true},
      {{"+Star`*.vi"}, "Star*.vi", nullptr, true},
      {{"+Star`*.vi"}, "Starx.vi", nullptr, false},
      {{"+*", "Main.vi"}, "Main.vi", nullptr, false},  // a syntax error matches, and denies
      {{}, "Main.vi", nullptr, false},
  };
  for (const Case& c : cases) {
    CPStrHandle h = List(c.list);
    ASSERT_EQ(QXSSpecifyViAccess(h), kNoErr);
    AZDisposeHandle(reinterpret_cast<UHandle>(h));
    Path path = nullptr;
    if (c.path) {
      ASSERT_EQ(FTextToPath(reinterpret_cast<const uChar*>(c.path), int32(std::strlen(c.path)), &path), kNoErr);
    }
    EXPECT_EQ(QXSViAccessAllowed(U(P(c.name)), path), Bool32(c.allowed)) << c.name << " " << (c.path ? c.path : "");
    if (path) FDisposePath(path);
  }
  EXPECT_EQ(qxtest::Reports::Get().Count("QXSViAccessAllowed: main.VI returns ALLOWED"), 1);
  // With VI calls and VI operations both off, nothing is exported; one is enough.
  CPStrHandle h = List({"+*"});
  ASSERT_EQ(QXSSpecifyViAccess(h), kNoErr);
  AZDisposeHandle(reinterpret_cast<UHandle>(h));
  const std::pair<int32, int32> switches[] = {{0, 0}, {1, 0}, {0, 1}};
  for (const auto& [calls, ops] : switches) {
    PrefSet(kPrefServerVICallsEnabled, calls);
    PrefSet(kPrefServerVIPropertiesEnabled, ops);
    EXPECT_EQ(QXSViAccessAllowed(U(P("Main.vi")), nullptr), Bool32(calls || ops)) << calls << ops;
  }
  EXPECT_EQ(QXSSpecifyViAccess(nullptr), kNoErr);
  EXPECT_EQ(QXSViAccessAllowed(U(P("Main.vi")), nullptr), 0);
}

// Checks in network completions while the user-interface thread replaces
// the lists: each check decides by the table it started with, which stays
// alive until it is done.
TEST_F(AccessLists, ConcurrentChecksWhileTheListsChange) {
  DBSetDebugging(0);
  ASSERT_EQ(Tcp({"+*"}), kNoErr);
  CPStrHandle vi = List({"+*"});
  ASSERT_EQ(QXSSpecifyViAccess(vi), kNoErr);
  const int rounds = qxtest::Scaled(400);
  std::atomic<bool> wrong{false};
  std::vector<std::thread> checkers;
  for (int t = 0; t < 2; ++t)
    checkers.emplace_back([&, t] {
      for (int i = 0; i < rounds; ++i) {
        // Every list allows 10.0.0.1 and Main.vi; only some allow 10.0.0.2.
        if (!QXSTcpAccessAllowed(Ip("10.0.0.1"), t)) wrong = true;
        QXSTcpAccessAllowed(Ip("10.0.0.2"), t);
        if (!QXSViAccessAllowed(U(P("Main.vi")), nullptr)) wrong = true;
      }
    });
  for (int i = 0; i < rounds / 4; ++i) {
    ASSERT_EQ(Tcp(i % 2 ? std::vector<std::string>{"+10.0.0.1"} : std::vector<std::string>{"+*", "-10.0.0.2"}),
              kNoErr);
    ASSERT_EQ(QXSSpecifyViAccess(vi), kNoErr);
  }
  for (auto& c : checkers) c.join();
  AZDisposeHandle(reinterpret_cast<UHandle>(vi));
  DBSetDebugging(1);
  EXPECT_FALSE(wrong);
}

}  // namespace
