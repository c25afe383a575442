#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/qx_debugout.h"
#include "platform/qx_portio.h"

namespace {

std::mutex gLock;
std::vector<std::string> gLines;
void Collect(const char* text) {
  std::lock_guard<std::mutex> g(gLock);
  gLines.push_back(text);
}

// Every access simulated, whatever the environment says, and the debug
// output collected.
class PortIO : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatPortForceSimulated(true);
    PlatPortResetNotice();
    gLines.clear();
    previous_ = PlatSetDebugSink(Collect);
  }
  void TearDown() override {
    PlatSetDebugSink(previous_);
    PlatPortForceSimulated(false);
  }
  static size_t Lines() {
    std::lock_guard<std::mutex> g(gLock);
    return gLines.size();
  }

 private:
  PlatDebugSink previous_ = nullptr;
};

}  // namespace

TEST_F(PortIO, SimulatedReadsGiveZeroWritesAnswerTheirValueOneLineInAll) {
  EXPECT_FALSE(PlatPortNoticeWritten());
  struct Out {
    unsigned short port;
    int value;
    int answer;
  };
  for (Out o : {Out{0x378, 0x41, 0x41}, Out{0x80, 0x1FF, 0xFF}, Out{0xFFFF, -1, 0xFF}}) {
    EXPECT_EQ(_outp(o.port, o.value), o.answer) << o.port;
  }
  EXPECT_EQ(_outpw(0x3F8, 0xBEEF), 0xBEEF);
  EXPECT_EQ(_outpw(0xCF8, 0), 0);
  for (unsigned short port : {0x0, 0x60, 0x378, 0x3FF, 0x400, 0xFFFE}) {
    EXPECT_EQ(_inp(port), 0) << port;
    EXPECT_EQ(_inpw(port), 0) << port;
  }
  EXPECT_EQ(PlatPortIn8(0x379), 0);
  EXPECT_EQ(PlatPortIn16(0x379), 0);
  PlatPortOut8(0x378, 1);
  PlatPortOut16(0x378, 1);
  EXPECT_TRUE(PlatPortNoticeWritten());
  ASSERT_EQ(Lines(), 1u);
  EXPECT_NE(gLines[0].find("port I/O is simulated"), std::string::npos);
}

TEST_F(PortIO, TheNoticeComesBackOnlyWhenForgotten) {
  _inp(0x378);
  _inp(0x378);
  EXPECT_EQ(Lines(), 1u);
  PlatPortResetNotice();
  _outpw(0x378, 7);
  EXPECT_EQ(Lines(), 2u);
}
