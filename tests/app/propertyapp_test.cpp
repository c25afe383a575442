// A built application runs a property node from compiled code: the VI's
// clump fills the node's call record (panel heap and type handle from its
// data space) and calls the transfer through the run-time table; the node
// writes "Left" of a numeric on the panel past the panel's limit and reads
// it back, clamped.  The clump shows the clamped read with an alert.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "builtapp.h"
#include "engine/objswap.h"
#include "engine/vi/virecord.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "tools/runvi.h"
#include "tools/vibuilder.h"
#include "tools/vifile.h"

namespace {

constexpr int32 kBounds = 16;  // an object's bounds rectangle (top, left, bottom, right)
constexpr int32 kNumericSize = 52, kCosmeticSize = 36;
constexpr int16 kBodyPart = 41;

void Place(ObjHeap heap, int32 o, int16 top, int16 left, int16 bottom, int16 right) {
  for (int16 v : {top, left, bottom, right}) {
    PutNative16(*heap + o + kBounds, uInt16(v));
    o += 2;
  }
}

// The VI's file: a numeric with its body on the panel; `object` gets the
// numeric's offset in the heap the panel loads as it is written.
rsrcw::Bytes PropertyVI(vif::VIFile v, int32* object) {
  return vif::WriteWithPanel(v, 0, nullptr, [object](ObjHeap heap, int32 root) {
    const int32 numeric = vib::NewObject(heap, kClsNumeric, kNumericSize, root);
    const int32 body = numeric ? vib::NewObject(heap, kClsCosmetic, kCosmeticSize, numeric, kBodyPart) : 0;
    if (!body) return;
    Place(heap, numeric, 20, 30, 40, 90);
    Place(heap, body, 20, 30, 40, 90);
    *object = numeric;
  });
}

TEST(PropertyApp, CompiledCodeWritesAndReadsAControlsPositionThroughTheProgram) {
  ASSERT_EQ(MemInit(), kNoErr);
  vif::VIFile v = runvi::File("Node.vi", runvi::Clumps::kProperty, 1, kVIFlagRunWhenOpened | kVIFlagOpenPanel);
  int32 numeric = 0;
  // The heap is built the same way each time: the first writing tells where
  // the numeric lies, the second stores that in the node's object word.
  ASSERT_FALSE(PropertyVI(v, &numeric).empty());
  ASSERT_GT(numeric, 0);
  v.defaultWords.push_back({runvi::kPropObject, numeric});
  int32 again = 0;
  const rsrcw::Bytes file = PropertyVI(v, &again);
  ASSERT_EQ(again, numeric);
  TempFolder tmp("qxpropapp");
  const std::string program = builtapp::Build(tmp.Dir(), "node", {{"Node.vi", file, archfmt::kFlagTopLevel}});
  const auto [status, ms] = builtapp::Run(builtapp::Command(tmp.Dir(), program, "", 30));
  const std::string err = builtapp::Err(tmp.Dir());
  EXPECT_EQ(status, 0) << err;
  EXPECT_NE(err.find("A CIN tried to load a 16-bit DLL."), std::string::npos) << "no clamped read\n" << err;
  EXPECT_EQ(err.find("off the user-interface thread"), std::string::npos) << err;
}

}  // namespace
