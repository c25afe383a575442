// Operate-mode messages to objects of a panel root: paths of frames pushed
// on the transaction stack, do-it messages, and the key-focus words and text
// records a test leaves behind, all undone at the end.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "mgsource/window/textrec.h"
#include "panel/operate.h"
#include "panel/textparts.h"
#include "panel_test_support.h"

class OperateRootTest : public ptest::PanelRootTest {
 protected:
  void TearDown() override {
    if (UHandle saved = reinterpret_cast<UHandle>(uintptr_t(Ext(kHeapExtSavedFrames)))) AZDisposeHandle(saved);
    Ext(kHeapExtSavedFrames) = Ext(kHeapExtKeyFocus) = Ext(kHeapExtFocusText) = 0;
    for (int32 o : texts_)
      if (TRecord t = PartTextRecord(panel_, o)) TDispose(t);
    if (pushed_) TRSetStackTop(previous_);
    PanelRootTest::TearDown();
  }
  // A fresh path on the transaction stack: the frames given, then the end.
  TransactionFrame* Path(std::initializer_list<TransactionFrame> frames) {
    if (!pushed_) previous_ = TRPushFrame();
    pushed_ = true;
    auto* top = static_cast<TransactionFrame*>(TRStackTop());
    int32 i = 0;
    for (const TransactionFrame& f : frames) top[i++] = f;
    top[i] = TransactionFrame{};
    return top;
  }
  int32 Do(int32 obj, TransactionFrame* f, int32 action, ActionParams* p) {
    return OSendMessage<int32>(kMsgODoit, panel_, obj, f, action, p);
  }
  uInt32& Ext(int32 at) { return *reinterpret_cast<uInt32*>(*panel_ + OHWord(panel_, kOHExtension) + at); }
  void* previous_ = nullptr;
  bool pushed_ = false;
  std::vector<int32> texts_;  // objects whose text records the test made
};
