// Two processes over loopback: the built program (a library of Main.vi,
// which waits with its panel open, Add.vi and SecretTool.vi), its VI server
// enabled by its preferences, serves this test's client through its own
// main loop; its log says what happened.
#include <signal.h>
#include <sys/wait.h>

#include <regex>

#include "app/builtapp.h"
#include "emulation.h"
#include "engine/exec/exec.h"
#include "server/callbyr.h"
#include "server/tcp_fixture.h"
#include "tools/runvi.h"

namespace tcptest {
namespace {

MgErr gOpenError = 0;
int32 gOpens = 0;
void Opened(AsyncRef a) {
  gOpenError = a->error;
  ++gOpens;
}

class TCPAppTest : public TCPTest {
 protected:
  void TearDown() override {
    Stop();
    TCPTest::TearDown();
  }
  // Builds the program and starts it with these host and VI lists, its log
  // in the test's folder; the port it listens on.
  int Start(const std::string& hosts) {
    // A folder of its own: a program killed leaves its instance behind.
    folder_ = dir_.Dir() + "/run" + std::to_string(++runs_);
    std::filesystem::create_directories(folder_);
    const int probe = qxloop::Listen(&port_a_);
    EXPECT_GE(probe, 0);
    close(probe);
    auto vi = [](const char* name, runvi::Clumps kind, uInt32 flags) {
      return vif::WriteWithPanel(runvi::File(name, kind, 1, flags));
    };
    const std::string program = builtapp::Build(
        folder_, "server",
        {{"Main.vi", vi("Main.vi", runvi::Clumps::kWait, kVIFlagRunWhenOpened | kVIFlagOpenPanel), archfmt::kFlagTopLevel},
         {"Add.vi", vi("Add.vi", runvi::Clumps::kAdd, 0), archfmt::kFlagTopLevel},
         // Its panel open keeps it loaded when a reference's proxy changes
         // the hierarchy (which purges the VIs nothing reaches).
         {"SecretTool.vi", vi("SecretTool.vi", runvi::Clumps::kOnce, kVIFlagOpenPanel), archfmt::kFlagTopLevel}});
    std::string log = "C:" + folder_ + "/servrlog.txt";
    for (char& ch : log) ch = ch == '/' ? '\\' : ch;
    std::ofstream(folder_ + "/server.ini")
        << "[Quenlix]\nserver.tcp.enabled=True\nserver.tcp.port=" << port_a_ << "\nserver.tcp.access=" << hosts
        << "\nserver.vi.access=+*;-Secret*.vi\ntcpServer.log=True\ntcpServer.logPath=" << log << "\n";
    const std::string cmd =
        builtapp::Command(folder_, program + " -pref " + folder_ + "/server.ini", "", 60);
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    return port_a_;
  }
  void Stop() {
    if (pid_ <= 0) return;
    qxtest::EndChild(-pid_, SIGTERM);
    pid_ = -1;
  }
  // An application reference to the program once it listens: the open's
  // error.
  MgErr OpenProgram(AppRef* app) {
    MgErr err = kVIRefPeerClosedErr;
    for (int tries = 0; tries < 200 && err; ++tries) {
      AsyncRef async = nullptr;
      const int32 before = gOpens;
      err = OpenAppRefByName(PS("127.0.0.1"), uInt16(port_a_), app, nullptr, &Opened, &async);
      if (err == kVIRefPendingErr) {
        Pump([before] { return gOpens > before; });
        err = gOpenError;
      }
      if (err == 63) usleep(100000);  // refused: not listening yet
      else break;
    }
    return err;
  }
  std::string ProgramLog() {
    std::stringstream s;
    s << std::ifstream(folder_ + "/servrlog.txt").rdbuf();
    return s.str();
  }

  TempFolder dir_{"qxtcpserver"};
  std::string folder_;
  int runs_ = 0;
  int port_a_ = 0;
  pid_t pid_ = -1;
};

// The client calls the program's Add.vi through a strictly typed remote
// reference and reads its name; the program's log shows the connection,
// the call and the Bye, each line in its format.
TEST_F(TCPAppTest, AClientCallsTheProgramsVIAndTheLogSaysSo) {
  Start("+127.0.0.1");
  AppRef app = 0;
  ASSERT_EQ(OpenProgram(&app), kNoErr) << builtapp::Err(folder_);
  const std::vector<uChar> pane = AddPane();
  VIRef ref = 0;
  AsyncRef async = nullptr;
  int32 before = gOpens;
  ASSERT_EQ(AppOpenVIRefByName(app, PS("Add.vi"), reinterpret_cast<const TypeDescriptor*>(pane.data()), 0, nullptr,
                               &ref, nullptr, &Opened, &async),
            kVIRefPendingErr);
  ASSERT_TRUE(Pump([before] { return gOpens > before; }));
  ASSERT_EQ(gOpenError, kNoErr);
  LStrHandle name = nullptr;
  before = gOpens;
  ASSERT_EQ(VIRefGetAttributes(ref, 500, &name, 0, nullptr, &Opened, &async), kVIRefPendingErr);
  ASSERT_TRUE(Pump([before] { return gOpens > before; }));
  ASSERT_EQ(gOpenError, kNoErr);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>((*name)->str), (*name)->cnt), "Add.vi");
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
  // The call: the proxy callee's parameter table holds the inputs.
  AddCall call(2, 3);
  DataSpace callee = ResolveVIRef(ref)->callDS;
  ASSERT_NE(callee, nullptr);
  (*callee)->callTable = &call.table;
  ASSERT_EQ(TSSendCall(ref, callee), kNoErr);
  EXPECT_TRUE(Pump([&] { return !(*callee)->pxCallAsync; }));
  EXPECT_EQ(call.sum, 5);
  (*callee)->callTable = nullptr;
  MgErr secret = 0;
  VIRef denied = 0;
  before = gOpens;
  ASSERT_EQ(AppOpenVIRefByName(app, PS("SecretTool.vi"), nullptr, 0, nullptr, &denied, nullptr, &Opened, &async),
            kVIRefPendingErr);
  ASSERT_TRUE(Pump([before] { return gOpens > before; }));
  secret = gOpenError;
  EXPECT_EQ(secret, kVIRefAccessErr);
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(QXAppRefRelease(app), kNoErr);
  EXPECT_TRUE(Pump([] { return TCPServerConnCount() == 0; }));
  // The program logs the farewell when it reads it, which a loaded machine
  // may put off: its log is watched for it before the program is stopped.
  Pump([this] { return ProgramLog().find("Client Says Bye") != std::string::npos; });
  Stop();
  const std::string log = ProgramLog();
  const std::string stamp = "\\d{4}\\.\\d{2}\\.\\d{2} - \\d{2}:\\d{2}:\\d{2};  ## ";
  for (const std::string& line :
       {stamp + "New incoming connection\r\n\t\tCONNECTION ACCEPTED; client=\"[^\"]*\" \\(127\\.0\\.0\\.1\\)\r\n",
        stamp + "Starting VI call\r\n\t\tviRef=0x[0-9A-F]{8}; ds=0x[0-9A-F]+: \"Add\\.vi\"\r\n",
        stamp + "Finishing VI call\r\n\t\tviRef=0x[0-9A-F]{8}; ds=0x[0-9A-F]+: \"Add\\.vi\"\r\n",
        stamp + "Receiving message \\(no data\\)\r\n\t\thdr=\\{err= 0; uID=0x00000000; len=  0; msg=\"Client Says Bye\"\\}"})
    EXPECT_TRUE(std::regex_search(log, std::regex(line))) << line << "\n" << log;
}

// A Caller VI of this process calls the program's Add.vi through its
// strictly typed reference as its compiled code does: the prepare hands it
// the proxy callee of the remote VI, whose run sends the call; the reply
// brings the sum back through the caller's table.
TEST_F(TCPAppTest, ACallerVICallsTheProgramsAddThroughItsReference) {
  Start("+127.0.0.1");
  AppRef app = 0;
  ASSERT_EQ(OpenProgram(&app), kNoErr) << builtapp::Err(folder_);
  const std::vector<uChar> pane = AddPane();
  VIRef ref = 0;
  AsyncRef async = nullptr;
  const int32 before = gOpens;
  ASSERT_EQ(AppOpenVIRefByName(app, PS("Add.vi"), reinterpret_cast<const TypeDescriptor*>(pane.data()), 0, nullptr,
                               &ref, nullptr, &Opened, &async),
            kVIRefPendingErr);
  ASSERT_TRUE(Pump([before] { return gOpens > before; }));
  ASSERT_EQ(gOpenError, kNoErr);
  UHandle caller = Load("Caller.vi", runvi::Clumps::kCaller);
  ASSERT_NE(caller, nullptr);
  DataSpace ds = reinterpret_cast<DataSpace>(VIRec(caller)->dataSpace);
  const int32 words[4] = {ref, 2, 3, -1};
  std::memcpy(reinterpret_cast<uChar*>(*ds) + runvi::kCallRef, words, sizeof words);
  ASSERT_EQ(StartVIRun(ds), 0);
  EXPECT_TRUE(Pump([&] {
    ExecUserInterfaceSlice(0);
    return (VIRec(caller)->eState & kVIStateMask) == kVIStateIdle;
  }));
  int32 result = -1, sum = -1;
  std::memcpy(&result, reinterpret_cast<uChar*>(*ds) + runvi::kCallResult, 4);
  std::memcpy(&sum, reinterpret_cast<uChar*>(*ds) + runvi::kCallSum, 4);
  EXPECT_EQ(result, kNoErr);
  EXPECT_EQ(sum, 5);
  EXPECT_EQ(VIRefNativeCalls(ref), 0);
  EXPECT_EQ(VIRefRelease(ref), kNoErr);
  EXPECT_EQ(QXAppRefRelease(app), kNoErr);
  EXPECT_TRUE(Pump([] { return TCPServerConnCount() == 0; }));
  Pump([] { return false; }, 300);
  Stop();
  EXPECT_NE(ProgramLog().find("Starting VI call"), std::string::npos) << "the program ran the call";
}

// The program's host list decides: a denied client's open fails, and the
// log says why; an allowed one is served.
TEST_F(TCPAppTest, TheProgramsHostListDecidesWhoConnects) {
  const struct {
    const char* hosts;
    bool served;
  } cases[] = {{"-127.0.0.1", false}, {"+*", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hosts);
    Start(c.hosts);
    AppRef app = 0;
    const MgErr err = OpenProgram(&app);
    EXPECT_EQ(err == kNoErr, c.served) << err;
    if (!err) {
      EXPECT_EQ(QXAppRefRelease(app), kNoErr);
    }
    Pump([] { return TCPServerConnCount() == 0; });
    Stop();
    EXPECT_EQ(ProgramLog().find("CONNECTION FAILED; err=1032") != std::string::npos, !c.served) << ProgramLog();
  }
}

}  // namespace
}  // namespace tcptest
