#include <gtest/gtest.h>

#include <thread>

#include "platform/qx_com.h"

// The first initialisation of a thread answers 0, every later one 1; each is
// undone once, and the first call's model stays.
TEST(PlatformCom, FirstInitDoneRepeatedAlreadyPerThread) {
  ASSERT_EQ(PlatComInitCount(), 0);
  EXPECT_EQ(PlatComInit(false), kPlatComDone);
  EXPECT_EQ(PlatComInit(true), kPlatComAlready);
  EXPECT_EQ(PlatComInit(false), kPlatComAlready);
  EXPECT_EQ(PlatComInitCount(), 3);
  EXPECT_FALSE(PlatComMultithreaded()) << "the first call chose the apartment model";

  // Another thread starts uninitialised.
  int32_t other[3] = {-1, -1, -1};
  std::thread t([&] {
    other[0] = PlatComInitCount();
    other[1] = PlatComInit(true);
    other[2] = PlatComMultithreaded() ? 1 : 0;
    PlatComUninit();
  });
  t.join();
  EXPECT_EQ(other[0], 0);
  EXPECT_EQ(other[1], kPlatComDone);
  EXPECT_EQ(other[2], 1);

  PlatComUninit();
  PlatComUninit();
  EXPECT_EQ(PlatComInitCount(), 1);
  PlatComUninit();
  EXPECT_EQ(PlatComInitCount(), 0);
  PlatComUninit();  // one too many: nothing
  EXPECT_EQ(PlatComInitCount(), 0);
  EXPECT_EQ(PlatComInit(true), kPlatComDone) << "undone completely, the next call is a first one";
  EXPECT_TRUE(PlatComMultithreaded());
  PlatComUninit();
}

// Initialisations that a thread leaves behind end with the thread; undoing
// on another thread cannot reach them.
TEST(PlatformCom, AThreadsInitialisationsEndWithIt) {
  const int32_t before = PlatComProcessCount();
  std::thread t([] {
    PlatComInit(false);
    PlatComInit(false);
    PlatComInit(true);
  });
  t.join();
  EXPECT_EQ(PlatComProcessCount(), before) << "the ended thread gave back its three";
  EXPECT_EQ(PlatComInit(false), kPlatComDone);
  EXPECT_EQ(PlatComProcessCount(), before + 1);
  PlatComUninit();
  PlatComUninit();  // one too many: nothing
  EXPECT_EQ(PlatComProcessCount(), before);
}

// Identifier texts: the exact form reads either case and writes upper case;
// anything else is refused with the target untouched.
TEST(PlatformCom, GuidTextForms) {
  const PlatGuid g{0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  char text[kPlatGuidTextLength + 1];
  PlatGuidToText(g, text);
  EXPECT_STREQ(text, "{0123ABCD-4567-89EF-FEDC-BA9876543210}");
  const struct {
    const char* text;
    bool ok;
  } rows[] = {{"{0123abcd-4567-89ef-fedc-ba9876543210}", true}, {"0123ABCD-4567-89EF-FEDC-BA9876543210", false},
              {"{0123ABCD-4567-89EF-FEDC-BA9876543210", false}, {"{0123ABCD-4567-89EF-FEDCBA9876543210}}", false},
              {"{0123ABCD+4567-89EF-FEDC-BA9876543210}", false}, {"{0123ABCG-4567-89EF-FEDC-BA9876543210}", false},
              {"", false}};
  for (const auto& r : rows) {
    PlatGuid out = kPlatGuidNull;
    EXPECT_EQ(PlatGuidFromText(r.text, &out), r.ok ? kPlatOk : kPlatClassString) << r.text;
    EXPECT_TRUE(PlatGuidEqual(out, r.ok ? g : kPlatGuidNull)) << r.text;
  }
}
