// Requests that diagrams post for the user-interface thread: the file
// dialog, alerts, call by reference and the datalog conversion question.
#include <gtest/gtest.h>

#include "engine/vi/virecord.h"
#include "file_test_support.h"
#include "rtlib/postedevt.h"

namespace {

using namespace filetest;

// The requesting VI, and whether the shell still finds it.
bool gValid = true;
Bool32 Valid(UHandle request) { return gValid && request ? 1 : 0; }
MgErr gDialogResult = kNoErr;
std::string gPrompt;
int32 gFlags = 0;
MgErr Dialog(int32, int32, ConstPStr prompt, Path path, PStr, ConstPStr, int32 flags) {
  gPrompt = prompt ? pathtest::Str(prompt) : "";
  gFlags = flags;
  if (gDialogResult) return gDialogResult;
  Path chosen = pathtest::ToPath("F:\\picked.txt");
  FPathCpy(path, chosen);
  FDisposePath(chosen);
  return kNoErr;
}
int32 gHit = 1;
std::string gText;
int32 TwoButtons(int32, const void* message, ConstPStr, ConstPStr, int32, int32, int32) {
  gText = pathtest::Str(static_cast<const uChar*>(message));
  return gHit;
}
int32 gSteps = 0;
int32 Step(int32 kind, void*, void* result) {
  ++gSteps;
  if (result) *static_cast<int32*>(result) = kind;
  return kind == 4 ? 1 : 0;
}

class PostedRequestTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    gValid = true;
    gDialogResult = kNoErr;
    gHit = 1;
    gSteps = 0;
    FileShellHooks s{};
    s.targetValid = &Valid;
    s.fileDialog = &Dialog;
    s.twoButtonAlert = &TwoButtons;
    SetFileShellHooks(&s);
    RefnumKindHooks k{};
    k.callByRefStep = &Step;
    SetRefnumKindHooks(&k);
    vi_ = DSNewHClr(kVIHeaderSize);
    reinterpret_cast<VIRecord*>(*vi_)->dataSpace = reinterpret_cast<UHandle>(0x5000);
  }
  void TearDown() override {
    DSDisposeHandle(vi_);
    FileTest::TearDown();
  }
  UHandle vi_ = nullptr;
};

TEST_F(PostedRequestTest, AFileDialogRequestWritesThePathAndItsResult) {
  Put("picked.txt", "x");
  PS prompt("Pick"), name("default");
  PostedFileDialogIn in{prompt, nullptr, nullptr, name, kFDSelectExisting};
  PostedFileDialogOut out[2] = {};
  UHandle h = NewPostedEvtHandle(vi_, kPostedFileDialog, &in, out, int32(sizeof(PostedFileDialogOut)), nullptr);
  ASSERT_NE(h, nullptr);
  const PostedEvtRec* r = reinterpret_cast<const PostedEvtRec*>(*h);
  EXPECT_EQ(r->owner, vi_);
  EXPECT_EQ(r->dataSpace, reinterpret_cast<UHandle>(0x5000)) << "the data space when the request was made";
  EXPECT_EQ(RunPostedEvt(h), kNoErr);
  EXPECT_EQ(gPrompt, "Pick");
  EXPECT_EQ(gFlags, PostedFileDialogFlags(kFDSelectExisting));
  ASSERT_NE(out[1].chosen, nullptr) << "written at the result slot";
  EXPECT_EQ(pathtest::Text(out[1].chosen), "F:\\picked.txt");
  EXPECT_EQ(out[1].exists, 1);
  EXPECT_EQ(out[1].result, kNoErr);
  EXPECT_EQ(out[0].chosen, nullptr);
  // Cancel gives 43 and not-a-path.
  gDialogResult = kCancelErr;
  EXPECT_EQ(RunPostedEvt(h), kCancelErr);
  EXPECT_EQ(out[1].result, kCancelErr);
  EXPECT_FALSE(FIsAPath(out[1].chosen));
  FDisposePath(out[1].chosen);
  DisposePostedEvt(h);
}

TEST_F(PostedRequestTest, NothingIsWrittenOnceTheVIIsGone) {
  PostedFileDialogIn in{nullptr, nullptr, nullptr, nullptr, kFDSelectNew};
  PostedFileDialogOut out{};
  out.result = 77;
  UHandle h = NewPostedEvtHandle(vi_, kPostedFileDialog, &in, &out, 0, nullptr);
  gValid = false;
  EXPECT_EQ(RunPostedEvt(h), kNoErr);
  EXPECT_EQ(out.chosen, nullptr);
  EXPECT_EQ(out.result, 77);
  DisposePostedEvt(h);
  PS msg("sure?");
  PostedAlertIn alert{msg, nullptr, nullptr};
  PostedAlertOut aout{7};
  h = NewPostedEvtHandle(vi_, kPostedTwoButton, &alert, &aout, 0, nullptr);
  EXPECT_EQ(RunPostedEvt(h), kNoErr);
  EXPECT_EQ(aout.firstButton, 7);
  DisposePostedEvt(h);
  int32 stepOut = -1;
  h = NewPostedEvtHandle(vi_, 5, nullptr, &stepOut, 0, nullptr);
  EXPECT_EQ(RunPostedEvt(h), kNoErr);
  EXPECT_EQ(gSteps, 0) << "no step runs for a VI that is gone";
  EXPECT_EQ(stepOut, -1);
  DisposePostedEvt(h);
}

TEST_F(PostedRequestTest, AlertsCallByReferenceAndTheConversionQuestion) {
  PS msg("sure?");
  PostedAlertIn alert{msg, nullptr, nullptr};
  PostedAlertOut out{9};
  UHandle h = NewPostedEvtHandle(vi_, kPostedTwoButton, &alert, &out, 0, nullptr);
  EXPECT_EQ(RunPostedEvt(h), kNoErr);
  EXPECT_EQ(out.firstButton, 1);
  EXPECT_EQ(gText, "sure?");
  gHit = 2;
  EXPECT_EQ(RunPostedEvt(h), kNoErr);
  EXPECT_EQ(out.firstButton, 0);
  DisposePostedEvt(h);
  // The one-button alert goes to the engine's alert.
  ClearReports();
  h = NewPostedEvtHandle(vi_, kPostedOneButton, &alert, nullptr, 0, nullptr);
  EXPECT_EQ(RunPostedEvt(h), kNoErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("sure?"), 1);
  DisposePostedEvt(h);
  // Call by reference, kinds 3 to 7.
  for (int32 kind = 3; kind <= 7; ++kind) {
    int32 stepOut = 0;
    h = NewPostedEvtHandle(vi_, kind, nullptr, &stepOut, 0, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(RunPostedEvt(h), kind == 4 ? 1 : 0) << "a pending step";
    EXPECT_EQ(stepOut, kind);
    DisposePostedEvt(h);
  }
  EXPECT_EQ(gSteps, 5);
  // The conversion question.
  Owned p(P("old.log"));
  PostedConvertIn conv{p};
  gHit = 1;
  h = NewPostedEvtHandle(vi_, kPostedConvertDatalog, &conv, &out, 0, nullptr);
  EXPECT_EQ(RunPostedEvt(h), kNoErr);
  EXPECT_EQ(out.firstButton, 1);
  EXPECT_EQ(gText.rfind("The datalog \"F:\\old.log\" must be converted", 0), 0u) << gText;
  DisposePostedEvt(h);
}

TEST_F(PostedRequestTest, KindsOutsideZeroToEightAreAssertionsAndNoRecord) {
  for (int32 kind : {9, -1, 100}) {
    ClearReports();
    EXPECT_EQ(NewPostedEvtHandle(vi_, kind, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(qxtest::Reports::Get().Count("NewPostedEvtHandle"), 1) << kind;
  }
  EXPECT_EQ(RunPostedEvt(nullptr), kArgErr);
  // Without the shell nothing is valid and the dialog is cancelled.
  SetFileShellHooks(nullptr);
  PostedFileDialogIn in{nullptr, nullptr, nullptr, nullptr, kFDSelectFolder};
  PostedFileDialogOut out{};
  UHandle h = NewPostedEvtHandle(vi_, kPostedFileDialog, &in, &out, 0, nullptr);
  EXPECT_EQ(RunPostedEvt(h), kCancelErr);
  EXPECT_EQ(out.chosen, nullptr);
  DisposePostedEvt(h);
}

}  // namespace
