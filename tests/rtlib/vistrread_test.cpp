// The readers of VI string files: text rules, tags, attribute values and
// typed values, each failure with its code.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_test_support.h"
#include "mgsource/byteorder.h"
#include "mgsource/memory.h"
#include "rtlib/vistrread.h"

namespace {

class VIStringReaderTest : public qxtest::EngineTest {
 protected:
  void TearDown() override {
    for (UHandle h : handles_) DSDisposeHandle(h);
    EngineTest::TearDown();
  }
  ImportStringsRequest* Request(const std::string& s) {
    UHandle h = DSNewHandle(int32(4 + s.size()));
    PutNative32(*h, uInt32(s.size()));
    std::memcpy(*h + 4, s.data(), s.size());
    handles_.push_back(h);
    InitImportContext(&context_);
    rq_ = ImportStringsRequest{};
    rq_.text = h;
    rq_.context = &context_;
    return &rq_;
  }
  static std::string Text(LStrHandle h) {
    return h ? std::string(reinterpret_cast<const char*>(VSLStrBytes(reinterpret_cast<UHandle>(h))),
                           size_t(VSLStrLen(reinterpret_cast<UHandle>(h))))
             : std::string();
  }
  ImportStringsContext context_;
  ImportStringsRequest rq_;
  std::vector<UHandle> handles_;
};

// Each case reads the text with one reader: the code and what it read.
TEST_F(VIStringReaderTest, TextTagsAndValuesFollowTheLexicalRules) {
  using Reader = std::function<int32(ImportStringsRequest*, std::string*)>;
  const Reader element = [](ImportStringsRequest* rq, std::string* out) {
    LStrHandle h = nullptr;
    const int32 r = ReadElementText(rq, &h);
    *out = Text(h);
    if (h) DSDisposeHandle(reinterpret_cast<UHandle>(h));
    return r;
  };
  const Reader quoted = [](ImportStringsRequest* rq, std::string* out) {
    LStrHandle h = nullptr;
    const int32 r = ReadQuotedValue(rq, &h);
    *out = Text(h);
    if (h) DSDisposeHandle(reinterpret_cast<UHandle>(h));
    return r;
  };
  const Reader title = [](ImportStringsRequest* rq, std::string*) { return ExpectTag(rq, kTagTITLE, false); };
  const Reader font = [](ImportStringsRequest* rq, std::string* out) {
    VSFont f;
    VSAppFontSettings(&f);
    const int32 r = ReadFontTag(rq, &f, 0);
    *out = std::to_string(f.weight) + "/" + std::to_string(f.style) + "/" + std::to_string(f.colour) + "/" +
           std::string(reinterpret_cast<const char*>(f.name + 1), f.name[0]);
    return r;
  };
  const Reader part = [](ImportStringsRequest* rq, std::string* out) {
    VSPartAttrs a;
    const int32 r = ReadPartAttrs(rq, &a, 0);
    *out = std::to_string(a.id) + "," + std::to_string(a.order) + " w" + std::to_string(rq->context->warnCount);
    return r;
  };
  const Reader cell = [](ImportStringsRequest* rq, std::string* out) {
    int32 row = 0, column = 0;
    const int32 r = ReadCellPosition(rq, &row, &column);
    *out = std::to_string(row) + "," + std::to_string(column);
    return r;
  };
  const Reader path = [](ImportStringsRequest* rq, std::string* out) {
    ::Path p = nullptr;
    const int32 r = ReadPathElement(rq, &p, 0);
    if (p) {
      int32 type = -1;
      FGetPathType(p, &type);
      *out = std::to_string(type) + ":" + std::to_string(FDepth(p));
      FDisposePath(p);
    }
    return r;
  };
  struct Case {
    const char* text;
    const Reader* reader;
    int32 code;
    const char* read;
  } cases[] = {
      {"a<<b>>c\"\"d<CRLF>e\r\nf<LF>g<CR></TITLE>", &element, 0, "a<b>c\"d\r\nef\ng\r"},
      {"ab>c</TITLE>", &element, kVSSyntax, ""},
      {"ab\"c</TITLE>", &element, kVSSyntax, ""},
      {"ab<WHAT>", &element, kVSUnknownTag, ""},
      {"no end", &element, kVSEndOfFile, ""},
      {"\"x <CR>y\"\"z\" ", &quoted, 0, "x \ry\"z"},
      {"\"a>b\"", &quoted, kVSSyntax, ""},
      {"\"a<TITLE>\"", &quoted, kVSSyntax, ""},
      {"\"a</TITLE>\"", &quoted, kVSUnknownTag, ""},
      {"< TITLE>", &title, 0, ""},
      {"<TITLE >", &title, kVSSyntax, ""},
      {"</TITLE>", &title, kVSUnexpectedTag, ""},
      {"<FONT style='BI' color=ff00A0>", &font, 0, "1000/2/16711840/0"},
      {"<FONT style='X'>", &font, kVSBadValue, ""},
      {"<FONT color=1234567>", &font, kVSBadValue, ""},
      {"<FONT predef=BIGFONT>", &font, kVSBadValue, ""},
      {"<FONT name=\"No Such Face 17\">", &font, 0, "0/0/0/0"},
      {"<PART ID=12 order=3 type=\"any thing\">", &part, 0, "12,3 w-1"},
      {"<PART ID=12 colour=red order=3>", &part, 0, "12,3 w1"},
      {"<PART ID=12345678901234567890>", &part, kVSBadValue, ""},
      {"<PART ID 12>", &part, kVSBadValue, ""},
      {" [ -1  2]", &cell, 0, "-1,2"},
      {"[1 2", &cell, kVSEndOfFile, ""},
      {"<PATH type=\"relative\">a<SEP>b<SEP></PATH>", &path, 0, "1:2"},
      {"<PATH></PATH>", &path, 0, "0:0"},
      {"<PATH type=\"sideways\"></PATH>", &path, kVSBadValue, ""},
  };
  for (const Case& c : cases) {
    ImportStringsRequest* rq = Request(c.text);
    std::string read;
    const int32 code = (*c.reader)(rq, &read);
    EXPECT_EQ(code, c.code) << c.text;
    if (code == 0) {
      EXPECT_EQ(read, c.read) << c.text;
    } else {
      EXPECT_EQ(rq->position, 0u) << c.text;  // a failed reader leaves the position
    }
  }
}

// A cluster's and an array's counts must match the data; a count too wide
// for its word is a bad value, not a wrapped one.
TEST_F(VIStringReaderTest, TypedValuesMatchTheDataTheyReplace) {
  const uChar cluster[] = {6, 0, kTDCluster, 0, 0, 0};  // no elements (sizes in memory order)
  const auto* td = reinterpret_cast<const TypeDescriptor*>(cluster);
  uChar data[4] = {};
  struct Case {
    const char* text;
    int32 code;
  } cases[] = {
      {"<CLUSTER nElems=0></CLUSTER>", 0},
      {"<CLUSTER nElems=1></CLUSTER>", kVSStructure},
      {"<STRING>x</STRING>", kVSStructure},
      {"<BLOB>", kVSUnknownTag},
      {"<CLUSTER nElems=12345678901234567890></CLUSTER>", kVSBadValue},
  };
  for (const Case& c : cases) {
    Bool32 changed = 0;
    EXPECT_EQ(ReadTypedValue(Request(c.text), td, data, &changed, 0), c.code) << c.text;
    EXPECT_FALSE(changed);
  }
}

}  // namespace
