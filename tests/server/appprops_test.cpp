// Application properties and methods of the local application: the table's
// values and refusals, the VI-name lists, the access lists replaced entry by
// entry, the remote-client refusal inside a vector, and the conversion of
// flat data between its formats.
#include <gtest/gtest.h>

#include "engine/datamgr.h"
#include "mgsource/counted_strings.h"
#include "mgsource/prefs.h"
#include "server/server_vi_fixture.h"
#include "server/access.h"
#include "server/srvhooks.h"
#include "server/srvstart.h"
#include "server/srvvalues.h"
#include "tools/tdbuilder.h"

namespace appprops_test {

using runvi::Clumps;

std::string Bytes(LStrHandle h) { return h ? std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)) : ""; }
std::vector<std::string> Strings(UHandle array) {
  uChar* e = nullptr;
  int32 n = 0;
  std::vector<std::string> out;
  EXPECT_TRUE(srvval::ArrayElements(array, 4, &e, &n));
  for (int32 i = 0; i < n; ++i) {
    LStrHandle s = nullptr;
    std::memcpy(&s, e + 4 * i, 4);
    out.push_back(Bytes(s));
  }
  return out;
}
// An array of strings the caller owns.
UHandle StringArray(const std::vector<std::string>& items) {
  UHandle h = nullptr;
  MgErr err = kNoErr;
  EXPECT_NE(srvval::SizeArray(&h, StdTDTable[kStdTDString], int32(items.size()), &err), nullptr);
  for (size_t i = 0; i < items.size(); ++i) {
    LStrHandle s = nullptr;
    EXPECT_EQ(srvval::SetString(&s, reinterpret_cast<const uChar*>(items[i].data()), int32(items[i].size())), kNoErr);
    std::memcpy(*h + 4 + 4 * i, &s, 4);
  }
  return h;
}
void Free(UHandle strings) { DisposeData(StdTDTable[25], &strings, &strings + 1); }

std::vector<std::vector<std::string>> gWritten;
MgErr Record(Bool32 tcp, CPStrHandle list) {
  std::vector<std::string> items{tcp ? "tcp" : "vi"};
  for (int32 i = 0; i < (*list)->cnt; ++i) {
    ConstPStr p = CPStrIndex(list, i);
    items.emplace_back(reinterpret_cast<const char*>(p + 1), p[0]);
  }
  gWritten.push_back(items);
  return kNoErr;
}

class AppProps : public srvtest::ServerVITest {
 protected:
  void SetUp() override {
    ServerVITest::SetUp();
    for (int32 w : {kPrefServerVICallsEnabled, kPrefServerVIPropertiesEnabled, kPrefServerAppPropertiesEnabled})
      PrefSet(w, 1);
    ServerUIHooks h{};
    h.writeAccessList = &Record;
    SetServerUIHooks(h);
    gWritten.clear();
  }
  void TearDown() override {
    SetServerUIHooks(ServerUIHooks{});
    SrvDisposeStartState();
    SetMenuLaunchVIName(nullptr);
    ServerVITest::TearDown();
  }
  static MgErr Get(int32 selector, void* value) {
    return AppGetAttribute(kLocalAppRef, selector, value, kVIRefOptTrusted, nullptr, nullptr, nullptr);
  }
  static MgErr Set(int32 selector, void* value) {
    return AppSetAttribute(kLocalAppRef, selector, value, kVIRefOptTrusted, nullptr, nullptr, nullptr);
  }
};

// The values of the table, the reading that clears the menu-launch name, the
// three lists of VI names and the selectors answered with 1028 and 1043.
TEST_F(AppProps, PropertiesAnswerTheTable) {
  UHandle sys = Load("Sys.vi", vif::WriteWithPanel(runvi::File("Sys.vi", Clumps::kAdd))), ctl = Load("Ctl.vi", vif::WriteWithPanel(runvi::File("Ctl.vi", Clumps::kAdd))), add = Load("Add.vi", vif::WriteWithPanel(runvi::File("Add.vi", Clumps::kAdd)));
  ASSERT_TRUE(sys && ctl && add);
  VIRec(sys)->marks |= kVIMarkSystemVI;
  VIRec(ctl)->viKind = kVIKindControl;
  LStrHandle name = nullptr;
  ASSERT_EQ(Get(0, &name), kNoErr);
  EXPECT_EQ(Bytes(name), "test_server");
  for (const auto& [selector, want] : {std::pair{3, 2}, {4, 3}, {5, 3}}) {
    int32 item = -1;
    EXPECT_EQ(Get(selector, &item), kNoErr);
    EXPECT_EQ(item, want) << selector;
  }
  SetMenuLaunchVIName(srvtest::PS("Menu.vi"));
  EXPECT_EQ(Get(29, &name), kNoErr);
  EXPECT_EQ(Bytes(name), "Menu.vi");
  EXPECT_EQ(Get(29, &name), kNoErr);
  EXPECT_EQ(Bytes(name), "");
  const struct {
    int32 selector;
    std::vector<std::string> names;
  } kLists[] = {{28, {"Add.vi", "Ctl.vi"}}, {30, {"Sys.vi"}}};
  for (const auto& l : kLists) {
    UHandle names = nullptr;
    EXPECT_EQ(Get(l.selector, &names), kNoErr);
    EXPECT_EQ(Strings(names), l.names) << l.selector;
    Free(names);
  }
  // The exported names: those of the other list the exported-VI list lets out.
  UHandle only = StringArray({"+Ctl.vi", "+Sys.vi"});
  ASSERT_EQ(Set(26, &only), kNoErr);
  UHandle names = nullptr;
  EXPECT_EQ(Get(8, &names), kNoErr);
  EXPECT_EQ(Strings(names), std::vector<std::string>{"Ctl.vi"});
  Free(names);
  Free(only);
  ClearReports();
  EXPECT_EQ(Set(0, &name), kVIRefSelectorErr);
  EXPECT_EQ(Get(46, &name), kVIRefSelectorErr);
  EXPECT_EQ(Get(35, &name), kVIRefSelectorErr);
  EXPECT_EQ(qxtest::Reports::Get().Count("ThisApp_SetAttribute: bad selector: 0"), 1);
  EXPECT_EQ(qxtest::Reports::Get().Count("AproGetAttribute: bad selector: 46"), 1);
  EXPECT_EQ(Get(1, &name), kVIRefUnsupportedErr);
  EXPECT_EQ(Set(1, &name), kVIRefUnsupportedErr);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
}

// A new access list is taken only whole: an entry that does not parse, or
// of 256 characters, changes nothing; the current list writes nothing; a
// new one becomes the server's list and goes to the preferences.
TEST_F(AppProps, AccessListsAreReplacedWholeAndWrittenWhenNew) {
  UHandle got = nullptr;
  EXPECT_EQ(Get(27, &got), kMemFullErr) << "no TCP list yet";
  UHandle star = StringArray({"+*"});
  ASSERT_EQ(Set(26, &star), kNoErr);
  gWritten.clear();
  const struct {
    std::vector<std::string> list;
    MgErr code;
    bool written;
  } kSets[] = {
      {{"+x", "y"}, kArgErr, false},
      {{"+x", "+" + std::string(255, 'v')}, kArgErr, false},
      {{"+*"}, kNoErr, false},
      {{"+Add.vi", "-Sys*"}, kNoErr, true},
  };
  for (const auto& s : kSets) {
    UHandle list = StringArray(s.list);
    EXPECT_EQ(Set(26, &list), s.code) << s.list[0];
    EXPECT_EQ(gWritten.size(), size_t(s.written));
    gWritten.clear();
    Free(list);
  }
  ASSERT_EQ(Get(26, &got), kNoErr);
  EXPECT_EQ(Strings(got), (std::vector<std::string>{"+Add.vi", "-Sys*"}));
  UHandle hosts = StringArray({"+127.0.0.1", "-*.example.org"});
  EXPECT_EQ(Set(27, &hosts), kNoErr);
  EXPECT_EQ(gWritten, (std::vector<std::vector<std::string>>{{"tcp", "+127.0.0.1", "-*.example.org"}}));
  for (UHandle h : {got, star, hosts}) Free(h);
}

// An untrusted vector meets the property of flag 0x08 with 1032 at its
// place; the entry before it is fetched and kept, and the result is 0.
TEST_F(AppProps, AnUntrustedVectorStopsAtAForbiddenProperty) {
  LStrHandle name = nullptr;
  UHandle list = nullptr;
  AttrEntry v[] = {{1, 0, &name}, {1, 26, &list}};
  MgErr error = 0;
  int32 index = 0;
  EXPECT_EQ(AppAttrVector(kLocalAppRef, 2, v, 0, &error, &index, nullptr, nullptr, nullptr), kNoErr);
  EXPECT_EQ(index, 2);
  EXPECT_EQ(error, kVIRefAccessErr);
  EXPECT_EQ(Bytes(name), "test_server");
  EXPECT_EQ(list, nullptr);
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
}

// Convert Type and Data between the current and the previous format; the
// outputs change only when the conversion succeeds.
TEST_F(AppProps, ConvertTypeAndDataNeedsItsInputsAndLeavesOutputsOnFailure) {
  const vif::Bytes words = tdb::Cluster({tdb::Boolean(), tdb::String()}).Bytes(tdb::Order::kWord);
  std::vector<int16> w(words.size() / 2);
  std::memcpy(w.data(), words.data(), words.size());
  UHandle type = nullptr, outType = nullptr, bad = nullptr;
  ASSERT_EQ(srvval::SetWords(&type, w), kNoErr);
  ASSERT_EQ(srvval::SetWords(&bad, {3}), kNoErr);
  LStrHandle data = nullptr, outData = nullptr;
  const uChar flat[] = {1, 0, 0, 0, 1, 'x'};
  ASSERT_EQ(srvval::SetString(&data, flat, 6), kNoErr);
  uInt8 previous = 1;
  const auto convert = [&](UHandle* t, AttrEntry out4, AttrEntry out5, int32 count = 6) {
    AttrEntry p[] = {{0, 0, nullptr}, {0, 0, &previous}, {0, 0, t}, {0, 0, &data}, out4, out5};
    return AppDoMethod(kLocalAppRef, 2018, count, p, kVIRefOptTrusted, nullptr, nullptr, nullptr);
  };
  EXPECT_EQ(convert(&type, {1, 0, &outType}, {1, 0, &outData}, 3), kArgErr) << "the data is missing";
  EXPECT_EQ(convert(&type, {1, 0, nullptr}, {1, 0, nullptr}), kNoErr);
  EXPECT_EQ(convert(&bad, {1, 0, &outType}, {1, 0, &outData}), kArgErr);
  EXPECT_EQ(outType, nullptr);
  EXPECT_EQ(outData, nullptr);
  EXPECT_EQ(convert(&type, {1, 0, &outType}, {1, 0, &outData}), kNoErr);
  EXPECT_EQ(Bytes(outData), std::string("\x80\0\0\0\0\1x", 7));
  EXPECT_EQ(AppDoMethod(kLocalAppRef, 2014, 1, nullptr, kVIRefOptTrusted, nullptr, nullptr, nullptr), kArgErr);
  EXPECT_EQ(AppDoMethod(kLocalAppRef, 2014, 0, nullptr, kVIRefOptTrusted, nullptr, nullptr, nullptr), kNoErr);
  EXPECT_EQ(AppDoMethod(kLocalAppRef, 2013, 0, nullptr, kVIRefOptTrusted, nullptr, nullptr, nullptr), kVIRefMethodErr);
  for (UHandle h : {type, outType, bad, reinterpret_cast<UHandle>(data), reinterpret_cast<UHandle>(outData)})
    DSDisposeHandle(h);
}

}  // namespace appprops_test
