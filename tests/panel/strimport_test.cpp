// The panel classes' string import: objects read in reverse list order,
// their checks, and what a differing string does to its object.
#include <cstring>
#include <string>

#include "mgsource/counted_strings.h"
#include "panel/panel_test_support.h"
#include "panel/strimport.h"
#include "panel/vistring_fixture.h"

namespace {

class StringImportTest : public ptest::PanelRootTest {
 protected:
  // Sends the panel the file's CONTENT element; the reply.
  int32 Import(const std::string& file, bool enumRing = false) {
    p_ = vsfix::Build(panel_, root_, enumRing);
    text_ = file;
    UHandle h = Keep(DSNewHandle(int32(4 + text_.size())));
    PutNative32(*h, uInt32(text_.size()));
    std::memcpy(*h + 4, text_.data(), text_.size());
    InitImportContext(&context_);
    ImportStringsRequest rq{};
    rq.text = h;
    rq.position = uInt32(text_.find("<CONTENT>"));
    rq.syntaxVersion = 2;
    rq.context = &context_;
    ClearReports();
    return FPImportStrings(panel_, &rq);
  }
  std::string Item(int32 i) {
    CPStrHandle items = reinterpret_cast<CPStrHandle>(uintptr_t(uInt32(W(p_.items, 11))));
    ConstPStr s = CPStrIndex(items, i);
    return std::string(reinterpret_cast<const char*>(s + 1), s[0]);
  }
  vsfix::Panel p_{};
  std::string text_;
  ImportStringsContext context_;
};

TEST_F(StringImportTest, ObjectsAreCheckedAndDifferingStringsReplaced) {
  struct Case {
    vsfix::File file;
    bool enumRing;
    int32 error;            // -1: none
    bool changed;           // the reply says an object changed
    const char* label;      // the free label's text afterwards
    const char* lastItem;   // the ring's fourth item afterwards
  } cases[] = {
      {{}, false, -1, false, "Hello", "d"},
      {{.name = "name"}, false, kVSControlName, false, "Hello", "d"},  // names compare exactly
      {{.ringItems = "abc"}, false, kVSItemCount, false, "Hello", "d"},
      {{.ringItems = "abc"}, true, -1, false, "Hello", "d"},  // an enumeration's items are its type's
      {{.ringItems = "abcx"}, false, -1, true, "Hello", "x"},
      {{.label = "Bye<CR>now"}, false, -1, true, "Bye\rnow", "d"},
  };
  for (const Case& c : cases) {
    const int32 reply = Import(vsfix::Section(c.file), c.enumRing);
    EXPECT_EQ(context_.errCode, c.error) << text_;
    EXPECT_EQ((reply & kImportStop) != 0, c.error != -1) << text_;
    EXPECT_EQ((reply & kImportChanged) != 0, c.changed) << text_;
    EXPECT_EQ(vsfix::TextOf(panel_, p_.label), c.label) << text_;
    EXPECT_EQ(Item(3), c.lastItem) << text_;
    // Only a change is reported as a modification.
    EXPECT_EQ(Reports("Doc Mod") > 0, c.changed) << text_;
    if (c.error == kVSControlName) {
      EXPECT_EQ(context_.errObject, uInt32(p_.string));
    }
  }
}

}  // namespace
