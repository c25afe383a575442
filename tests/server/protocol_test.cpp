// The VI server's messages: golden bytes typed from the format (not made by
// the encoder), round trips of vectors, opens and calls between a writer and
// a reader, and malformed blocks, which fail with their error and touch no
// output.  Every block a reader gets is a handle of exactly its length, so
// that the sanitizer sees a read past it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/engine_test_support.h"
#include "engine/membertab.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "server/protocol.h"
#include "tools/tdbuilder.h"

namespace {

// Bytes from hex text; spaces are for reading only.
std::vector<uChar> Bytes(const std::string& hex) {
  std::vector<uChar> out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uChar(std::stoi(digits.substr(i, 2), nullptr, 16)));
  return out;
}
std::string Replace(std::string s, const std::string& from, const std::string& to) {
  return s.replace(s.find(from), from.size(), to);
}
std::vector<uChar> Bytes(UHandle h, int32 n) { return h ? std::vector<uChar>(*h, *h + n) : std::vector<uChar>{}; }
std::vector<uChar> Header(const SrvMsgHeader& h) {
  uChar b[16];
  SrvMsgHeaderWrite(h, b);
  return std::vector<uChar>(b, b + 16);
}
UHandle Block(const std::vector<uChar>& b) {
  UHandle h = AZNewHandle(int32(b.size()));
  if (h && !b.empty()) std::memcpy(*h, b.data(), b.size());
  return h;
}
std::vector<uChar> Text(const char* t) {
  std::vector<uChar> v{uChar(std::strlen(t))};
  v.insert(v.end(), t, t + std::strlen(t));
  return v;
}

// A string datum (a data-zone string handle) and its text.
LStrHandle Str(const std::string& t) {
  auto h = reinterpret_cast<LStrHandle>(DSNewHandle(int32(4 + t.size())));
  (*h)->cnt = int32(t.size());
  std::memcpy((*h)->str, t.data(), t.size());
  return h;
}
std::string Text(LStrHandle h) { return h ? std::string(reinterpret_cast<char*>((*h)->str), size_t((*h)->cnt)) : ""; }

// The connection of the tests: keeps what it is handed.
std::vector<SrvMessage> gSent;
MgErr Keep(void*, SrvMessage* m) {
  gSent.push_back(*m);
  return kNoErr;
}
MgErr Refuse(void*, SrvMessage*) { return kVIRefPeerClosedErr; }

class Protocol : public qxtest::EngineTest {
 protected:
  void TearDown() override {
    for (SrvMessage& m : gSent) SrvDisposeMessage(&m);
    gSent.clear();
    while (app_.asyncList) {
      AsyncRef a = app_.asyncList;
      UnlinkAsyncRef(&app_, a);
      FreeAsyncRef(a);
    }
    EngineTest::TearDown();
  }
  // The last message sent, its data as bytes.
  static std::vector<uChar> SentData() { return Bytes(gSent.back().data, gSent.back().header.dataLength); }
  AppRecord app_{};
};

constexpr VIRef kServerRef = 0xABCD;
// The two-get request of "VI Name" and "Modifications:VI Modifications Bitset".
const char kTwoGets[] = "0000ABCD 00000002  00000001 000001F4 00000008 00080030FFFFFFFF"
                        "  00000001 00000219 00000004 00040007";

TEST_F(Protocol, MessagesAreTheBytesOfTheFormat) {
  EXPECT_EQ(Header({0, kTSClientHello, kSrvProtocolLevel, 0}), Bytes("00000000 00000000 00000005 00000000"));
  EXPECT_EQ(SrvMsgHeaderRead(Bytes("0000040D 0000000A 00000005 00000013").data()).error, 1037);
  // A refused Hello.
  SrvMessage m{};
  Str255 text;
  std::memcpy(text, Text(kSrvBadProtocolText).data(), 19);
  ASSERT_EQ(SrvMakeErrorReply(SrvErrorReplyType(kTSClientHello), 5, kVIRefProtocolErr, text, &m), kNoErr);
  EXPECT_EQ(Header(m.header), Bytes("0000040D 0000000A 00000005 00000013"));
  EXPECT_EQ(Bytes(m.data, 19), Bytes("12 426164 2070726F746F636F6C 206C6576656C"));
  SrvDisposeMessage(&m);
  // A failed VI property request's "Error".
  std::memcpy(text, Text(kSrvErrorText).data(), 6);
  ASSERT_EQ(SrvMakeErrorReply(SrvErrorReplyType(kTSVIPropRequest), 0x1234, 1, text, &m), kNoErr);
  EXPECT_EQ(Header(m.header), Bytes("00000001 0000000C 00001234 00000006"));
  EXPECT_EQ(Bytes(m.data, 6), Bytes("05 4572726F72"));
  SrvDisposeMessage(&m);
  ASSERT_EQ(SrvMakeErrorReply(kTSErrorStopSend, 9, 7, nullptr, &m), kNoErr);
  EXPECT_EQ(Bytes(m.data, m.header.dataLength), Bytes("00"));
  SrvDisposeMessage(&m);

  // The get of "VI Name" through R: 28 bytes, the AsyncRef as unique id.
  LStrHandle name = nullptr;
  AttrEntry get{1, 500, &name};
  ParamVectorMsg pm{kTSVIPropRequest, 0, kServerRef, 0, 1, &get, 0, 0};
  AsyncRef async = nullptr;
  ASSERT_EQ(SendParamVector(SrvSender{&Keep, this}, &app_, &pm, 77, nullptr, &async), kNoErr);
  ASSERT_EQ(gSent.size(), 1u);
  EXPECT_EQ(Header(gSent[0].header), Header({0, kTSVIPropRequest, uInt32(uintptr_t(async)), 28}));
  EXPECT_EQ(SentData(), Bytes("0000ABCD 00000001 00000001 000001F4 00000008 00080030 FFFFFFFF"));
  EXPECT_EQ(async->op, kAsyncVIAttrVectOp);
  EXPECT_EQ(app_.asyncList, async);
  // A connection that refuses keeps no AsyncRef behind.
  EXPECT_EQ(SendParamVector(SrvSender{&Refuse, this}, &app_, &pm, 77, nullptr, &async), kVIRefPeerClosedErr);
  EXPECT_EQ(async, nullptr);
  EXPECT_EQ(app_.asyncList->next, nullptr);

  // Open requests: by name, no type; with a descriptor and a password.
  const char kByName[] = "00000001 00000000 07 4D61696E2E7669 0000";
  ASSERT_EQ(SrvWriteOpenRequest(3, 1, Text("Main.vi").data(), nullptr, nullptr, nullptr, &m), kNoErr);
  EXPECT_EQ(Bytes(m.data, m.header.dataLength), Bytes(kByName));
  SrvDisposeMessage(&m);
  const auto pane = tdb::Function(0, {}, {}).Bytes();
  ASSERT_EQ(SrvWriteOpenRequest(3, 2, Text("Main.vi").data(), nullptr, tdb::AsTD(pane), Text("x").data(), &m), kNoErr);
  EXPECT_EQ(Bytes(m.data, m.header.dataLength),
            Bytes("00000002 00000000 07 4D61696E2E7669  0008 00F0 0000 0000  00000001 78 00"));
  SrvDisposeMessage(&m);
  // Exactly the descriptor: no password; five bytes more: a password.
  struct Open {
    std::string hex;
    bool typed, password;
  };
  for (const Open& o : {Open{kByName, false, false},
                        Open{"00000001 00000000 07 4D61696E2E7669 0008 00F0 0000 0000", true, false},
                        Open{"00000001 00000000 07 4D61696E2E7669 0008 00F0 0000 0000 00000001 78", true, true}}) {
    UHandle h = Block(Bytes(o.hex));
    OpenRequest r{};
    ASSERT_EQ(SrvReadOpenRequest(h, AZGetHandleSize(h), &r), kNoErr) << o.hex;
    EXPECT_EQ(r.options, 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(r.name + 1), r.name[0]), "Main.vi");
    EXPECT_EQ(r.connType != nullptr, o.typed);
    if (r.connType) {
      EXPECT_EQ(TDCompare(r.connType, tdb::AsTD(pane)), 0);
    }
    EXPECT_EQ(r.hasPassword != 0, o.password);
    SrvDisposeOpenRequest(&r);
    AZDisposeHandle(h);
  }
  ASSERT_EQ(SrvWriteOpenReply(3, 0x55AA, 1, &m), kNoErr);
  EXPECT_EQ(Bytes(m.data, 8), Bytes("000055AA 00000001"));
  SrvDisposeMessage(&m);
}

TEST_F(Protocol, VectorsOpensAndCallsGoAndComeBack) {
  // Two gets: the request carries descriptors only...
  LStrHandle name = nullptr;
  uInt32 mods = 0xDEAD;
  AttrEntry gets[2] = {{1, 500, &name}, {1, 537, &mods}};
  ParamVectorMsg pm{kTSVIPropRequest, 0, kServerRef, 0, 2, gets, 0, 0};
  AsyncRef async = nullptr;
  ASSERT_EQ(SendParamVector(SrvSender{&Keep, this}, &app_, &pm, 77, nullptr, &async), kNoErr);
  EXPECT_EQ(SentData(), Bytes(kTwoGets));
  UHandle h = Block(SentData());
  ParamVectorMsg req{};
  ASSERT_EQ(RcvParamVector(h, AZGetHandleSize(h), kTSVIPropRequest, nullptr, &req), kNoErr);
  AZDisposeHandle(h);
  ASSERT_EQ(req.count, 2);
  EXPECT_EQ(req.ref, kServerRef);
  ASSERT_TRUE(req.vector[0].value && req.vector[1].value);
  // ...the reply the values, with the index after the last entry.
  *static_cast<LStrHandle*>(req.vector[0].value) = Str("Main.vi");
  *static_cast<uInt32*>(req.vector[1].value) = 0x10000001;
  ParamVectorMsg reply{kTSVIPropReply, uInt32(uintptr_t(async)), 0, 0, 2, req.vector, 3, 0};
  SrvMessage m{};
  ASSERT_EQ(SrvWriteParamVector(reply, &m), kNoErr);
  DisposeParamVector(kTSVIPropRequest, 0, req.count, req.vector);
  EXPECT_EQ(Bytes(m.data, m.header.dataLength),
            Bytes("00000002 00000003 00000000  00000001 000001F4 00000014 00080030FFFFFFFF 00000007 4D61696E2E7669 00"
                  "  00000001 00000219 00000008 00040007 10000001"));
  ParamVectorMsg got{};
  ASSERT_EQ(RcvParamVector(m.data, m.header.dataLength, kTSVIPropReply, async, &got), kNoErr);
  SrvDisposeMessage(&m);
  EXPECT_EQ(Text(name), "Main.vi");
  EXPECT_EQ(mods, 0x10000001u);
  EXPECT_EQ(got.failIndex, 3);
  EXPECT_EQ(got.vector, gets);

  // A reply with another selector is 42 and leaves the outputs alone.
  AttrEntry other[2] = {{1, 502, nullptr}, {1, 537, &mods}};
  LStrHandle description = Str("text");
  other[0].value = &description;
  ASSERT_EQ(SrvWriteParamVector(ParamVectorMsg{kTSVIPropReply, 0, 0, 0, 2, other, 3, 0}, &m), kNoErr);
  mods = 7;
  EXPECT_EQ(RcvParamVector(m.data, m.header.dataLength, kTSVIPropReply, async, &got), kVIRefGenericErr);
  EXPECT_EQ(Text(name), "Main.vi");
  EXPECT_EQ(mods, 7u);
  SrvDisposeMessage(&m);
  DSDisposeHandle(reinterpret_cast<UHandle>(description));
  DSDisposeHandle(reinterpret_cast<UHandle>(name));

  // A set without a value pointer, and an untyped selector, travel with
  // length 0 and come back without values.
  AttrEntry bare[2] = {{0, 500, nullptr}, {1, 504, &mods}};
  ASSERT_EQ(SrvWriteParamVector(ParamVectorMsg{kTSVIPropRequest, 0, kServerRef, 0, 2, bare, 0, 0}, &m), kNoErr);
  EXPECT_EQ(Bytes(m.data, m.header.dataLength),
            Bytes("0000ABCD 00000002 00000000 000001F4 00000000 00000001 000001F8 00000000"));
  ASSERT_EQ(RcvParamVector(m.data, m.header.dataLength, kTSVIPropRequest, nullptr, &req), kNoErr);
  EXPECT_EQ(req.vector[0].value, nullptr);
  EXPECT_EQ(req.vector[1].value, nullptr);
  DisposeParamVector(kTSVIPropRequest, 0, req.count, req.vector);
  SrvDisposeMessage(&m);

  // A method: "Run VI" with its Boolean; the reply comes back by parameter.
  uChar wait = 1;
  AttrEntry run[2] = {{1, 0, nullptr}, {0, 0, &wait}};
  ParamVectorMsg rm{kTSVIMethodRequest, 0, kServerRef, 1003, 2, run, 0, 0};
  ASSERT_EQ(SendParamVector(SrvSender{&Keep, this}, &app_, &rm, 77, nullptr, &async), kNoErr);
  EXPECT_EQ(SentData(), Bytes("0000ABCD 000003EB 00000002  00000001 00000000  00000000 00000006 00040021 01 00"));
  h = Block(SentData());
  ASSERT_EQ(RcvParamVector(h, AZGetHandleSize(h), kTSVIMethodRequest, nullptr, &req), kNoErr);
  AZDisposeHandle(h);
  EXPECT_EQ(req.method, 1003);
  EXPECT_EQ(*static_cast<uChar*>(req.vector[1].value), 1);
  *static_cast<uChar*>(req.vector[1].value) = 0;
  ASSERT_EQ(SrvWriteParamVector(ParamVectorMsg{kTSVIMethodReply, 0, 0, 1003, 2, req.vector, 0, 0}, &m), kNoErr);
  DisposeParamVector(kTSVIMethodRequest, 1003, req.count, req.vector);
  ASSERT_EQ(RcvParamVector(m.data, m.header.dataLength, kTSVIMethodReply, async, &got), kNoErr);
  EXPECT_EQ(wait, 0);
  SrvDisposeMessage(&m);

  // A call: a string input, an absent I32 input and an asked-for double.
  const auto pane = tdb::Function(0, {0, 0, kConnTermOutput}, {tdb::String(), tdb::I32(), tdb::DBL()}).Bytes();
  LStrHandle in = Str("abc");
  int32 absent = 5;
  double out = 0;
  CallTermSlot client[3] = {{&in, 1}, {&absent, 0}, {&out, 1}};
  ASSERT_EQ(SrvWriteCallParams(kTSCallVIRequest, 77, kServerRef, tdb::AsTD(pane), client, 3, &m), kNoErr);
  EXPECT_EQ(Bytes(m.data, m.header.dataLength),
            Bytes("0000ABCD  0000000F 00080030FFFFFFFF 00000003 616263 00  00000000  00000001"));
  LStrHandle serverIn = nullptr;
  int32 serverAbsent = 0;
  double serverOut = 0;
  CallTermSlot server[3] = {{&serverIn, 9}, {&serverAbsent, 9}, {&serverOut, 9}};
  VIRef ref = 0;
  ASSERT_EQ(RcvCallParams(m.data, m.header.dataLength, kTSCallVIRequest, tdb::AsTD(pane), server, 3, &ref), kNoErr);
  SrvDisposeMessage(&m);
  EXPECT_EQ(ref, kServerRef);
  EXPECT_EQ(Text(serverIn), "abc");
  EXPECT_EQ(server[0].present + 2 * server[1].present + 4 * server[2].present, 5);
  serverOut = 2.5;
  ASSERT_EQ(SrvWriteCallParams(kTSCallVIReply, 77, 0, tdb::AsTD(pane), server, 3, &m), kNoErr);
  EXPECT_EQ(Bytes(m.data, m.header.dataLength), Bytes("00000000 00000000 0000000C 0004000A 4004000000000000"));
  client[1].present = 1;  // the caller's inputs are its own
  ASSERT_EQ(RcvCallParams(m.data, m.header.dataLength, kTSCallVIReply, tdb::AsTD(pane), client, 3, nullptr), kNoErr);
  SrvDisposeMessage(&m);
  EXPECT_EQ(out, 2.5);
  EXPECT_EQ(client[1].present, 1);
  for (LStrHandle s : {in, serverIn}) DSDisposeHandle(reinterpret_cast<UHandle>(s));
}

// Every parameter of every method and every named property travels with a
// descriptor a reader can check, bar the application kind, whose item names
// are unknown.
TEST_F(Protocol, EveryMemberHasADescriptorToTravelWith) {
  for (int32 cls : {kAutoClassApp, kAutoClassVI}) {
    for (int32 id = cls ? 1000 : 2000; const AutoMethodInfo* m = MethodInfoLookup(cls, id); ++id)
      for (int32 p = 0; p < m->paramCount; ++p) {
        const TypeDescriptor* td = MethodParamTypeDesc(cls, id, p);
        ASSERT_NE(td, nullptr) << id << " parameter " << p;
        EXPECT_EQ(TDCheckBounds(td, td->size), kNoErr) << id << " parameter " << p;
      }
    for (int32 id = cls ? 500 : 0; const AutoPropInfo* p = PropInfoLookup(cls, id); ++id)
      if (p->helpId >= 0 && !(cls == kAutoClassApp && id == 3)) {
        EXPECT_NE(PropInfoTypeDesc(cls, id), nullptr) << id;
      }
  }
  EXPECT_EQ(EnumItemIndex(reinterpret_cast<ConstPStr>("\024Locked (No Password)"), MethodParamTypeDesc(1, 1021, 0)),
            2);
}

// Blocks from a peer that break the format, each against the reader of its
// kind: the error, and for a reply its outputs as they were.
TEST_F(Protocol, MalformedBlocksFailWithTheirErrorAndTouchNothing) {
  LStrHandle name = Str("kept");
  uInt32 mods = 7;
  AttrEntry gets[2] = {{1, 500, &name}, {1, 537, &mods}};
  AsyncRef async = NewAsyncRef(kAsyncVIAttrVectOp, &app_);
  AppendAsyncRef(&app_, async);
  async->param[0] = 2;
  async->param[1] = uInt32(uintptr_t(gets));
  const auto pane = tdb::Function(0, {0}, {tdb::String()}).Bytes();
  enum Kind { kRequest, kReply, kMethod, kOpen, kCall };
  struct Case {
    Kind kind;
    const char* what;
    std::string hex;
    MgErr err;
  };
  const std::string reply = "00000002 00000003 00000000  00000001 000001F4 00000010 00080030FFFFFFFF 00000004 6E657721"
                            "  00000001 00000219 00000008 00040007 10000001";
  const Case cases[] = {
      {kRequest, "item past the end", "0000ABCD 00000002 00000001 000001F4 00000008 00080030FFFFFFFF"
                                      " 00000001 00000219 00000006 00040007", kArgErr},
      {kRequest, "descriptor larger than its item", "0000ABCD 00000001 00000001 000001F4 00000008 000C0030FFFFFFFF",
       kArgErr},
      {kRequest, "descriptor smaller than a header", "0000ABCD 00000001 00000001 000001F4 00000002 0002", kArgErr},
      {kRequest, "count too large", "0000ABCD 7FFFFFFF 00000001 000001F4 00000008 00080030FFFFFFFF", kArgErr},
      {kRequest, "count past the entries", "0000ABCD 00000002 00000001 000001F4 00000008 00080030FFFFFFFF", kArgErr},
      {kRequest, "truncated", "0000ABCD 000000", kArgErr},
      {kRequest, "a type other than the table's", "0000ABCD 00000001 00000001 00000219 00000004 00040003", 42},
      {kRequest, "an untyped selector with an item", "0000ABCD 00000001 00000001 000001F8 00000004 00040003", kArgErr},
      {kRequest, "a set value past its item", "0000ABCD 00000001 00000000 000001F4 0000000C 00080030FFFFFFFF 000000FF",
       kArgErr},
      {kReply, "a good reply, for the cases below", reply, kNoErr},
      {kReply, "a value past its item", Replace(reply, "00000004 6E657721", "00000009 6E657721"), 42},
      {kReply, "another entry count", "00000001 00000002 00000000 00000001 000001F4 00000000", 42},
      {kReply, "a get flag that differs", "00000002 00000003 00000000 00000000 000001F4 00000000"
                                          " 00000001 00000219 00000000", 42},
      {kReply, "truncated", reply.substr(0, 40), 42},
      {kMethod, "an unknown method", "0000ABCD 000003E7 00000000", kArgErr},
      {kMethod, "more entries than parameters", "0000ABCD 000003EC 00000002 00000000 00000000 00000000 00000000",
       kArgErr},
      {kOpen, "truncated", "00000001 0000", kArgErr},
      {kOpen, "a name past the end", "00000001 00000000 09 4D61696E2E7669 00", kArgErr},
      {kOpen, "a path length past the end", "00000001 00000064 50544830 00000000", kArgErr},
      {kOpen, "a flat path longer than its length", "00000001 00000008 50544830 00000064 0000", kArgErr},
      {kOpen, "a descriptor past the end", "00000001 00000000 01 41 0010 00F0 0000", kArgErr},
      {kOpen, "a password past the end", "00000001 00000000 01 41 0000 00000009 414243", kArgErr},
      {kCall, "an input past the end", "0000ABCD 0000000F 00080030FFFFFFFF 00000003 6162", kArgErr},
      {kCall, "an input of another type", "0000ABCD 00000008 00040003 00000001", 42},
      {kCall, "no slot for the terminal", "0000ABCD", kArgErr},
  };
  for (const Case& c : cases) {
    const std::vector<uChar> bytes = Bytes(c.hex);
    UHandle h = Block(bytes);
    const int32 n = int32(bytes.size());
    ParamVectorMsg got{};
    OpenRequest open{};
    LStrHandle slotText = nullptr;
    CallTermSlot slot{&slotText, 3};
    VIRef ref = 1;
    MgErr err = kNoErr;
    switch (c.kind) {
      case kRequest: err = RcvParamVector(h, n, kTSVIPropRequest, nullptr, &got); break;
      case kReply: err = RcvParamVector(h, n, kTSVIPropReply, async, &got); break;
      case kMethod: err = RcvParamVector(h, n, kTSVIMethodRequest, nullptr, &got); break;
      case kOpen: err = SrvReadOpenRequest(h, n, &open); break;
      case kCall: err = RcvCallParams(h, n, kTSCallVIRequest, tdb::AsTD(pane), &slot, 1, &ref); break;
    }
    EXPECT_EQ(err, c.err) << c.what;
    if (c.kind == kReply && err) {
      EXPECT_EQ(Text(name), "new!") << c.what << ": the good reply's values stay";
      EXPECT_EQ(mods, 0x10000001u) << c.what;
    }
    if (err) {
      EXPECT_EQ(got.count, 0) << c.what;
      EXPECT_EQ(got.vector, nullptr) << c.what;
      EXPECT_EQ(open.path, nullptr) << c.what;
      EXPECT_EQ(open.connType, nullptr) << c.what;
      EXPECT_EQ(slot.present, 3) << c.what;
      EXPECT_EQ(slotText, nullptr) << c.what;
      EXPECT_EQ(ref, 1) << c.what;
    }
    SrvDisposeOpenRequest(&open);
    if (c.kind != kReply && !err) DisposeParamVector(kTSVIPropRequest, 0, got.count, got.vector);
    AZDisposeHandle(h);
  }
  DSDisposeHandle(reinterpret_cast<UHandle>(name));
}

}  // namespace
