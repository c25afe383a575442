// The runtime folder, the single-instance lock and its frame mark, the
// conversations over the runtime folder's sockets, and the registry file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/qx_dde.h"
#include "platform/qx_instance.h"
#include "platform/qx_msgqueue.h"
#include "platform/qx_registry.h"
#include "platform/qx_time.h"
#include "platform/qx_window.h"
#include "temp_folder.h"

namespace {

// Each test gets a runtime folder of its own (tests run in parallel).
class RuntimeDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.Dir() + "/run";
    setenv("QX_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override { unsetenv("QX_RUNTIME_DIR"); }
  TempFolder tmp_{"qx_inst"};
  std::string dir_;
};

TEST_F(RuntimeDir, AFolderOthersMayWriteOrAnotherUserOwnsIsRefused) {
  struct Case {
    mode_t mode;
    bool otherOwner;
    bool accepted;
  } const kCases[] = {{0700, false, true}, {0777, false, false}, {0720, false, false}, {0700, true, false}};
  for (const Case& c : kCases) {
    if (c.otherOwner && geteuid() != 0) continue;  // only root can give a folder away
    std::string got;
    ASSERT_TRUE(PlatRuntimeFolder(&got));
    ASSERT_EQ(chmod(dir_.c_str(), c.mode), 0);
    if (c.otherOwner) {
      ASSERT_EQ(chown(dir_.c_str(), 12345, 12345), 0);
    }
    EXPECT_EQ(PlatRuntimeFolder(&got), c.accepted) << std::oct << c.mode;
    // Without the folder every start is the first.
    if (!c.accepted) {
      EXPECT_EQ(PlatInstanceLock("app"), 0);
    }
    PlatInstanceUnlock();
    if (c.otherOwner) {
      ASSERT_EQ(chown(dir_.c_str(), 0, 0), 0);
    }
    ASSERT_EQ(chmod(dir_.c_str(), 0700), 0);
  }
}

TEST_F(RuntimeDir, TheLockIsHeldByOneProcessAndDiesWithIt) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    const bool ok = PlatInstanceLock("app") == 0 && PlatInstanceSetFrame(77);
    if (write(ready[1], ok ? "y" : "n", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);
  EXPECT_EQ(answer, 'y');
  EXPECT_EQ(PlatInstanceLock("app"), 1);
  EXPECT_EQ(PlatInstanceFrame("app"), 77u);
  EXPECT_EQ(PlatInstanceLock("other"), 0);  // another program's name is free
  PlatInstanceUnlock();
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(PlatInstanceLock("app"), 0) << "a killed holder releases the lock";
  EXPECT_EQ(PlatInstanceFrame("app"), 0u) << "its mark is no frame of a running instance";
  PlatInstanceUnlock();
  close(ready[0]);
  close(ready[1]);
}

std::atomic<int> gExecutes{0};
std::string gLastExec;

uint32_t ServerCallback(uint32_t type, uint32_t, PlatDdeConv, PlatDdeStr s1, PlatDdeStr, PlatDdeData data, uint32_t,
                        uint32_t) {
  char text[64];
  if (type == kPlatXtypConnect) return PlatDdeQueryString(0, s1, text, sizeof text) >= 0 && std::string(text) == "System";
  if (type != kPlatXtypExecute) return 0;
  std::string bytes(PlatDdeGetData(data, nullptr, 0, 0), '\0');
  PlatDdeGetData(data, bytes.data(), uint32_t(bytes.size()), 0);
  gLastExec = bytes;
  ++gExecutes;
  return kPlatDdeFack;
}

uint32_t NoCallback(uint32_t, uint32_t, PlatDdeConv, PlatDdeStr, PlatDdeStr, PlatDdeData, uint32_t, uint32_t) { return 0; }

uint32_t OtherUid(uint32_t uid) { return uid + 1; }

// Raw bytes to the service socket: the 4-byte answer, or "closed".
std::string Raw(const std::string& path, const std::string& bytes) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return "no connect";
  if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
  }
  shutdown(fd, SHUT_WR);
  std::string got;
  char b[8];
  for (ssize_t n; (n = recv(fd, b, sizeof b, 0)) > 0;) got.append(b, size_t(n));
  close(fd);
  return got.empty() ? "closed" : got;
}

std::string Frame(char kind, const std::string& body) {
  const uint32_t n = uint32_t(body.size());
  return std::string(1, kind) + char(n >> 24) + char(n >> 16) + char(n >> 8) + char(n) + body;
}

TEST_F(RuntimeDir, AServerAnswersClientsOnOtherThreadsAndClosesOnlyConnectionsThatBreakTheRules) {
  PlatWindowsReset();
  PlatDdeInst server = 0;
  ASSERT_EQ(PlatDdeInitialize(&server, &ServerCallback, 0), kPlatDdeOk);
  const PlatDdeStr service = PlatDdeCreateString(server, "QXRT");
  ASSERT_TRUE(PlatDdeNameService(server, service, kPlatDdeNsRegister));
  const std::string sock = dir_ + "/QXRT.dde";
  const std::string connect = Frame(1, std::string("QXRT\0System\0", 12));
  const std::string fack("\0\0\x80\0", 4), one("\0\0\0\1", 4), zero("\0\0\0\0", 4);
  struct Case {
    const char* what;
    std::string bytes;
    std::string answer;
    bool otherUid;
  } const kCases[] = {
      {"execute", connect + Frame(2, "open(x)"), one + fack, false},
      {"another topic", Frame(1, std::string("QXRT\0Other\0", 11)), zero, false},
      {"execute before connect", Frame(2, "open(x)"), "closed", false},
      {"oversized", connect + Frame(2, "") .substr(0, 1) + std::string("\0\1\0\1", 4), one, false},
      {"truncated", connect + Frame(2, "open(x)").substr(0, 8), one, false},
      {"unknown kind", connect + Frame(9, "x"), one, false},
      {"connect without the topic's NUL", Frame(1, std::string("QXRT\0System", 11)), "closed", false},
      {"another user", connect, "closed", true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    PlatDdeSetPeerUidHook(c.otherUid ? &OtherUid : nullptr);
    std::string got;
    std::atomic<bool> done{false};
    std::thread client([&] {
      got = Raw(sock, c.bytes);
      done = true;
    });
    PlatMsg m;
    for (int i = 0; i < 2000 && !done; ++i) {
      while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
      PlatSleepMs(1);
    }
    client.join();
    EXPECT_EQ(got, c.answer);
  }
  PlatDdeSetPeerUidHook(nullptr);
  // The server outlived them all: a client of the layer still gets through.
  PlatDdeInst client = 0;
  ASSERT_EQ(PlatDdeInitialize(&client, &NoCallback, kPlatDdeClientOnly), kPlatDdeOk);
  uint32_t result = 0, ok = 0;
  std::thread t([&] {
    const PlatDdeConv conv =
        PlatDdeConnect(client, PlatDdeCreateString(client, "qxrt"), PlatDdeCreateString(client, "System"));
    ok = conv && PlatDdeClientTransaction("activate", 9, conv, 0, 0, kPlatXtypExecute, 5000, &result);
    PlatDdeDisconnect(conv);
  });
  PlatMsg m;
  for (int i = 0; i < 2000 && gExecutes < 2; ++i) {
    while (PlatPeekMessage(&m, 0, 0, 0, kPlatPeekRemove)) PlatDispatchMessage(&m);
    PlatSleepMs(1);
  }
  t.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(result, kPlatDdeFack);
  EXPECT_EQ(gLastExec, std::string("activate\0", 9));
  EXPECT_TRUE(PlatDdeUninitialize(client));
  EXPECT_TRUE(PlatDdeUninitialize(server));
  EXPECT_NE(access(sock.c_str(), F_OK), 0) << "unregistering unlinks the socket";
  PlatWindowsReset();
}

TEST_F(RuntimeDir, RegistryValuesKeepTheirBlanksAndNestUnderTheirKeys) {
  setenv("QX_REGISTRY_FILE", (tmp_.Dir() + "/reg.ini").c_str(), 1);
  PlatRegKey cls = 0;
  ASSERT_EQ(PlatRegCreateKey(kPlatRegClassesRoot, "QuenlixInstrument", &cls), kPlatRegOk);
  ASSERT_EQ(PlatRegSetValue(cls, "shell\\open\\ddeexec\\ifexec", " "), kPlatRegOk);
  ASSERT_EQ(PlatRegSetValue(kPlatRegClassesRoot, ".VI", "QuenlixInstrument"), kPlatRegOk);
  char text[32];
  EXPECT_EQ(PlatRegQueryValue(kPlatRegClassesRoot, "QuenlixInstrument\\shell\\open\\ddeexec\\ifexec", text, 32), 0);
  EXPECT_STREQ(text, " ");
  EXPECT_EQ(PlatRegQueryValue(kPlatRegClassesRoot, ".vi", text, 32), 0) << "key names ignore case";
  EXPECT_STREQ(text, "QuenlixInstrument");
  EXPECT_EQ(PlatRegQueryValue(cls, "missing", text, 32), 2);
  EXPECT_EQ(PlatRegCloseKey(cls), kPlatRegOk);
  EXPECT_EQ(PlatRegSetValue(cls, nullptr, "x"), kPlatRegBadKey) << "a closed key takes no value";
  unsetenv("QX_REGISTRY_FILE");
}

// Keys that exist only through keys below them, enumeration in the order
// the keys were made, deletion refused while sub-keys remain, named values.
TEST_F(RuntimeDir, RegistryKeysEnumerateAndDeleteFromTheLeaves) {
  setenv("QX_REGISTRY_FILE", (tmp_.Dir() + "/reg.ini").c_str(), 1);
  ASSERT_EQ(PlatRegSetValue(kPlatRegClassesRoot, "A\\B\\C", "c"), kPlatRegOk);
  ASSERT_EQ(PlatRegSetValue(kPlatRegClassesRoot, "A\\D", "d"), kPlatRegOk);
  PlatRegKey a = 0, gone = 0;
  ASSERT_EQ(PlatRegOpenKey(kPlatRegClassesRoot, "a", &a), kPlatRegOk) << "a key above a value exists";
  EXPECT_EQ(PlatRegOpenKey(kPlatRegClassesRoot, "A\\X", &gone), kPlatRegNotFound);
  char name[2];
  char wide[8];
  const struct {
    uint32_t index;
    int32_t size;
    int32_t result;
    const char* name;
  } rows[] = {{0, 8, kPlatRegOk, "B"}, {1, 8, kPlatRegOk, "D"}, {2, 8, kPlatRegNoMoreItems, nullptr},
              {0, 1, kPlatRegMoreData, nullptr}};
  for (const auto& r : rows) {
    EXPECT_EQ(PlatRegEnumKey(a, r.index, r.size == 1 ? name : wide, r.size), r.result) << r.index;
    if (r.name) { EXPECT_STREQ(wide, r.name); }
  }
  EXPECT_EQ(PlatRegSetNamedValue(a, "Version", "5.0"), kPlatRegOk);
  EXPECT_EQ(PlatRegSetNamedValue(a, "@", "x"), kPlatRegBadKey) << "the default value's own line";
  EXPECT_EQ(PlatRegQueryNamedValue(a, "version", wide, 8), kPlatRegOk);
  EXPECT_STREQ(wide, "5.0");
  EXPECT_EQ(PlatRegDeleteKey(a, "B"), kPlatRegAccessDenied) << "C is below it";
  EXPECT_EQ(PlatRegDeleteKey(a, "B\\C"), kPlatRegOk);
  EXPECT_EQ(PlatRegDeleteKey(a, "B"), kPlatRegNotFound) << "B existed only through C";
  EXPECT_EQ(PlatRegDeleteKey(a, "D"), kPlatRegOk);
  EXPECT_EQ(PlatRegEnumKey(a, 0, wide, 8), kPlatRegNoMoreItems);
  EXPECT_EQ(PlatRegDeleteKey(kPlatRegClassesRoot, "A"), kPlatRegOk) << "its own section with the named value";
  EXPECT_EQ(PlatRegOpenKey(kPlatRegClassesRoot, "A", &gone), kPlatRegNotFound);
  PlatRegCloseKey(a);
  unsetenv("QX_REGISTRY_FILE");
}

}  // namespace
