// The VI server's messages from any peer: the input picks a block kind
// (each parameter vector as request and as reply, the open request and
// reply, call inputs and outputs over a tools-built connector pane of
// strings, arrays, a cluster and a path, an error text), builds the
// request a reply answers from its own bytes, and hands the rest to the
// reader as a handle of exactly its length (the sanitizer sees any read
// past it).  Invariants:
//  - a reader that fails leaves every output as it was (flattened before
//    and after: the same bytes), and a request's vector is freed;
//  - an accepted block re-encodes to bytes that read back to the same
//    values and re-encode to themselves;
//  - in "encode first" mode the block is the writer's own output for values
//    taken from the input, and then the reader accepts it and re-encodes it
//    byte for byte;
//  - no handle is left behind.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "engine/membertab.h"
#include "engine/stdize.h"
#include "fuzz_support.h"
#include "mgsource/path.h"
#include "server/protocol.h"
#include "tools/tdbuilder.h"

namespace {

typedef std::vector<uChar> Bytes;

// The typed and untyped selectors the vectors draw from.
constexpr int32 kVIProps[] = {500, 501, 502, 504, 505, 519, 526, 536, 537, 544, 552, 554, 557, 564, 565, 566};
constexpr int32 kAppProps[] = {0, 3, 4, 8, 25, 26, 32, 33, 34, 35};
constexpr int32 kVectorTypes[] = {kTSAppPropRequest,  kTSVIPropRequest,  kTSAppMethodRequest, kTSVIMethodRequest,
                                  kTSAppPropReply,    kTSVIPropReply,    kTSAppMethodReply,   kTSVIMethodReply};

const Bytes& Pane() {
  static const Bytes pane =
      tdb::Function(0, {0, 0, kConnTermOutput, 0, kConnTermOutput},
                    {tdb::String(), tdb::Array(tdb::I32()), tdb::Cluster({tdb::I16(), tdb::String()}), tdb::Path(),
                     tdb::Array(tdb::String())})
          .Bytes();
  return pane;
}

UHandle Block(const uint8_t* p, size_t n) {
  UHandle h = AZNewHandle(int32(n));
  if (h && n) std::memcpy(*h, p, n);
  return h;
}
Bytes Data(const SrvMessage& m) { return m.data ? Bytes(*m.data, *m.data + m.header.dataLength) : Bytes{}; }

// A datum of the type filled from the input's bytes (an empty value when they
// do not make one).
void* NewValue(const TypeDescriptor* td, UHandle source, int32 at, int32 left) {
  const int32 size = DataSize(td) < 4 ? 4 : DataSize(td);
  void* v = DSNewPClr(size);
  if (v && left > 0) UnFlattenFromMem(source, at, td, v, left, 0);
  return v;
}
void FreeValue(const TypeDescriptor* td, void* v) {
  if (!v) return;
  DisposeData(td, v, static_cast<uChar*>(v) + (DataSize(td) < 4 ? 4 : DataSize(td)));
  DSDisposePtr(static_cast<UPtr>(v));
}
Bytes Flat(const TypeDescriptor* td, const void* v) {
  if (!td || !v) return {};
  const int32 n = FlatSize(td, v);
  FUZZ_CHECK(n >= 0);
  Bytes b(size_t(n) + 1);
  FlattenData(td, v, b.data());
  b.pop_back();
  return b;
}

// A vector of up to eight entries drawn from the input.
struct Vector {
  int32 type = 0, method = 0;
  std::vector<AttrEntry> entries;
  std::vector<const TypeDescriptor*> tds;
  void Free() {
    for (size_t i = 0; i < entries.size(); ++i) FreeValue(tds[i], entries[i].value);
    entries.clear();
    tds.clear();
  }
  std::vector<Bytes> Snapshot() const {
    std::vector<Bytes> s;
    for (size_t i = 0; i < entries.size(); ++i) s.push_back(Flat(tds[i], entries[i].value));
    return s;
  }
};

Vector MakeVector(FuzzReader& r, int32 type, UHandle source, int32 sourceLength) {
  Vector v;
  v.type = type;
  const int32 flags = SrvMsgFlags(type);
  const bool vi = flags & kTSFlagVILevel;
  if (!(flags & kTSFlagProperty)) v.method = (vi ? 1000 : 2000) + r.Byte() % (vi ? 23 : 19);
  const AutoMethodInfo* m = v.method ? MethodInfoLookup(vi ? kAutoClassVI : kAutoClassApp, v.method) : nullptr;
  const int32 count = m ? int32(r.Byte() % (m->paramCount + 1)) : int32(r.Byte() % 9);
  for (int32 i = 0; i < count; ++i) {
    const int32 selector = (flags & kTSFlagProperty) ? (vi ? kVIProps[r.Byte() % 16] : kAppProps[r.Byte() % 10]) : 0;
    const TypeDescriptor* td = ParamVectorEntryTD(type, v.method, i, selector);
    const uint8_t how = r.Byte();
    const int32 at = int32(r.Byte()) % (sourceLength + 1);
    void* value = td && !(how & 4) ? NewValue(td, source, at, sourceLength - at) : nullptr;
    v.entries.push_back(AttrEntry{how & 1, selector, value});
    v.tds.push_back(td);
  }
  return v;
}

// The request vector a reader built, as the writer's entries and types.
Vector Adopt(const ParamVectorMsg& m) {
  Vector v;
  v.type = m.type;
  v.method = m.method;
  for (int32 i = 0; i < m.count; ++i) {
    v.entries.push_back(m.vector[i]);
    v.tds.push_back(ParamVectorEntryTD(m.type, m.method, i, m.vector[i].selector));
  }
  DSDisposePtr(reinterpret_cast<UPtr>(m.vector));
  return v;
}

// The block of a vector as the format lays it out, field by field, with
// FlattenData for the values: what the writer must produce.
Bytes Assemble(const Vector& v, VIRef ref, int32 failIndex, MgErr failError) {
  const int32 f = SrvMsgFlags(v.type);
  const bool reply = f & kTSFlagAsyncReply, property = f & kTSFlagProperty;
  Bytes b;
  auto put = [&](uInt32 w) {
    for (int k = 3; k >= 0; --k) b.push_back(uChar(w >> (8 * k)));
  };
  if ((f & kTSFlagVILevel) && !reply) put(uInt32(ref));
  if (!reply && !property) put(uInt32(v.method));
  put(uInt32(v.entries.size()));
  if (reply && property) {
    put(uInt32(failIndex));
    put(uInt32(failError));
  }
  for (size_t i = 0; i < v.entries.size(); ++i) {
    const AttrEntry& e = v.entries[i];
    put(e.get ? 1 : 0);
    if (property) put(uInt32(e.selector));
    const TypeDescriptor* td = v.tds[i];
    if (!td || !e.value) {
      put(0);
      continue;
    }
    Bytes item(reinterpret_cast<const uChar*>(td), reinterpret_cast<const uChar*>(td) + td->size);
    FUZZ_CHECK(TDStandardize(reinterpret_cast<TypeDescriptor*>(item.data()), 1) == kNoErr);
    if (reply || !e.get) {
      const Bytes value = Flat(td, e.value);
      item.insert(item.end(), value.begin(), value.end());
    }
    if (item.size() & 1) item.push_back(0);
    put(uInt32(item.size()));
    b.insert(b.end(), item.begin(), item.end());
  }
  return b;
}

Bytes WriteVector(const Vector& v, VIRef ref) {
  SrvMessage out{};
  ParamVectorMsg m{v.type, 0, ref, v.method, int32(v.entries.size()), const_cast<AttrEntry*>(v.entries.data()), 2, 0};
  FUZZ_CHECK(SrvWriteParamVector(m, &out) == kNoErr);
  Bytes b = Data(out);
  SrvDisposeMessage(&out);
  FUZZ_CHECK(b == Assemble(v, ref, 2, 0));
  return b;
}

// A request read back: accepted, with the same values, and re-encoded.
void CheckRequestRoundTrip(const Bytes& bytes, int32 type, VIRef ref, const Vector* same) {
  UHandle h = Block(bytes.data(), bytes.size());
  ParamVectorMsg m{};
  FUZZ_CHECK(RcvParamVector(h, int32(bytes.size()), type, nullptr, &m) == kNoErr);
  AZDisposeHandle(h);
  Vector v = Adopt(m);
  FUZZ_CHECK(m.ref == ((SrvMsgFlags(type) & kTSFlagVILevel) ? ref : 0));
  FUZZ_CHECK(WriteVector(v, ref) == bytes);
  if (same) {
    FUZZ_CHECK(v.entries.size() == same->entries.size());
    for (size_t i = 0; i < v.entries.size(); ++i)
      if (!same->entries[i].get && same->entries[i].value) FUZZ_CHECK(Flat(v.tds[i], v.entries[i].value) ==
                                                                       Flat(same->tds[i], same->entries[i].value));
  }
  v.Free();
}

void FuzzVector(FuzzReader& r, const uint8_t* rest, size_t n, bool encodeFirst) {
  const int32 type = kVectorTypes[r.Byte() % 8];
  const bool reply = SrvMsgFlags(type) & kTSFlagAsyncReply;
  UHandle source = Block(rest, n);
  if (!source) return;
  const int32 requestType = reply ? type - 10 : type;
  Vector request = MakeVector(r, requestType, source, int32(n));
  const VIRef ref = VIRef(r.Word());
  AppRecord app{};
  AsyncRef async = nullptr;
  if (reply) {
    async = NewAsyncRef(requestType == kTSAppPropRequest    ? kAsyncAppAttrVectOp
                        : requestType == kTSVIPropRequest   ? kAsyncVIAttrVectOp
                        : requestType == kTSAppMethodRequest ? kAsyncAppDoMethodOp
                                                             : kAsyncVIDoMethodOp,
                        &app);
    if (!async) {
      request.Free();
      AZDisposeHandle(source);
      return;
    }
    const int32 count = int32(request.entries.size());
    const uInt32 vec = uInt32(uintptr_t(request.entries.data()));
    if (SrvMsgFlags(type) & kTSFlagProperty) {
      async->param[0] = uInt32(count);
      async->param[1] = vec;
    } else {
      async->param[0] = uInt32(request.method);
      async->param[1] = uInt32(count);
      async->param[2] = vec;
    }
  }
  if (encodeFirst) {
    if (!reply) {
      CheckRequestRoundTrip(WriteVector(request, ref), type, ref, &request);
    } else {
      // A reply of values from the input for the same entries.
      Vector answer;
      answer.type = type;
      answer.method = request.method;
      for (size_t i = 0; i < request.entries.size(); ++i) {
        const TypeDescriptor* td = request.tds[i];
        const int32 at = int32(i) % (int32(n) + 1);
        answer.entries.push_back(AttrEntry{request.entries[i].get, request.entries[i].selector,
                                           td ? NewValue(td, source, at, int32(n) - at) : nullptr});
        answer.tds.push_back(td);
      }
      const Bytes bytes = WriteVector(answer, 0);
      UHandle h = Block(bytes.data(), bytes.size());
      ParamVectorMsg got{};
      FUZZ_CHECK(RcvParamVector(h, int32(bytes.size()), type, async, &got) == kNoErr);
      for (size_t i = 0; i < answer.entries.size(); ++i)
        if (answer.entries[i].value && request.entries[i].value)
          FUZZ_CHECK(Flat(request.tds[i], request.entries[i].value) == Flat(answer.tds[i], answer.entries[i].value));
      if (h) AZDisposeHandle(h);
      answer.Free();
    }
  } else {
    // The rest of the input is the block.
    UHandle h = Block(rest, n);
    const std::vector<Bytes> before = request.Snapshot();
    ParamVectorMsg got{};
    const MgErr err = h ? RcvParamVector(h, int32(n), type, async, &got) : kMemFullErr;
    if (err) {
      FUZZ_CHECK(request.Snapshot() == before);
      if (!reply) FUZZ_CHECK(got.count == 0 && got.vector == nullptr);
    } else if (!reply) {
      Vector v = Adopt(got);
      const Bytes again = WriteVector(v, got.ref);
      v.Free();
      CheckRequestRoundTrip(again, type, got.ref, nullptr);
    }
    if (h) AZDisposeHandle(h);
  }
  if (async) FreeAsyncRef(async);
  request.Free();
  AZDisposeHandle(source);
}

// The pane's slots, with values from the input.
struct Slots {
  std::vector<void*> values;
  std::vector<CallTermSlot> slots;
  explicit Slots(FuzzReader& r, UHandle source, int32 n) {
    const auto* pane = tdb::AsTD(Pane());
    for (int32 i = 0; i < 5; ++i) {
      const int32 at = int32(r.Byte()) % (n + 1);
      values.push_back(NewValue(ElemTD(pane, i), source, at, n - at));
      slots.push_back(CallTermSlot{values.back(), int32(r.Byte() & 1)});
    }
  }
  std::vector<Bytes> Snapshot() const {
    std::vector<Bytes> s;
    for (int32 i = 0; i < 5; ++i) {
      s.push_back(Flat(ElemTD(tdb::AsTD(Pane()), i), values[size_t(i)]));
      s.back().push_back(uChar(slots[size_t(i)].present));
    }
    return s;
  }
  ~Slots() {
    for (int32 i = 0; i < 5; ++i) FreeValue(ElemTD(tdb::AsTD(Pane()), i), values[size_t(i)]);
  }
};

Bytes WriteCall(int32 type, VIRef ref, const Slots& s) {
  SrvMessage out{};
  FUZZ_CHECK(SrvWriteCallParams(type, 0, ref, tdb::AsTD(Pane()), s.slots.data(), 5, &out) == kNoErr);
  Bytes b = Data(out);
  SrvDisposeMessage(&out);
  return b;
}

void FuzzCall(FuzzReader& r, const uint8_t* rest, size_t n, bool encodeFirst) {
  const int32 type = (r.Byte() & 1) ? kTSCallVIReply : kTSCallVIRequest;
  UHandle source = Block(rest, n);
  if (!source) return;
  const auto* pane = tdb::AsTD(Pane());
  Slots mine(r, source, int32(n));
  Bytes bytes;
  if (encodeFirst) bytes = WriteCall(type, 0x1234, mine);
  else bytes.assign(rest, rest + n);
  UHandle h = Block(bytes.data(), bytes.size());
  Slots theirs(r, source, int32(n));
  const std::vector<Bytes> before = theirs.Snapshot();
  VIRef ref = 7;
  const MgErr err = h ? RcvCallParams(h, int32(bytes.size()), type, pane, theirs.slots.data(), 5, &ref) : kMemFullErr;
  if (encodeFirst) FUZZ_CHECK(err == kNoErr);
  if (err) {
    FUZZ_CHECK(theirs.Snapshot() == before && ref == 7);
  } else {
    // What was read re-encodes to itself; the writer's own bytes exactly.
    if (type == kTSCallVIReply)
      for (int32 i = 0; i < 5; ++i)
        if (!(i == 2 || i == 4)) theirs.slots[size_t(i)].present = 0;
    const Bytes again = WriteCall(type, ref, theirs);
    if (encodeFirst) FUZZ_CHECK(again == bytes);
    UHandle h2 = Block(again.data(), again.size());
    Slots third(r, source, int32(n));
    VIRef ref2 = 0;
    FUZZ_CHECK(RcvCallParams(h2, int32(again.size()), type, pane, third.slots.data(), 5, &ref2) == kNoErr);
    if (type == kTSCallVIReply)
      for (int32 i = 0; i < 5; ++i)
        if (!(i == 2 || i == 4)) third.slots[size_t(i)].present = 0;
    FUZZ_CHECK(WriteCall(type, ref2, third) == again);
    AZDisposeHandle(h2);
  }
  if (h) AZDisposeHandle(h);
  AZDisposeHandle(source);
}

Bytes WriteOpen(const OpenRequest& o) {
  SrvMessage out{};
  FUZZ_CHECK(SrvWriteOpenRequest(0, o.options, o.name, o.path, o.connType, o.hasPassword ? o.password : nullptr,
                                 &out) == kNoErr);
  Bytes b = Data(out);
  SrvDisposeMessage(&out);
  return b;
}

void FuzzOpen(FuzzReader& r, const uint8_t* rest, size_t n, bool encodeFirst) {
  Bytes bytes(rest, rest + n);
  OpenRequest mine{};
  if (encodeFirst) {
    mine.options = int32(r.Word());
    mine.name[0] = uChar(r.Byte() % 16);
    r.Bytes(mine.name + 1, mine.name[0]);
    if (r.Byte() & 1) {
      const uChar text[] = "C:\\dir\\a.vi";
      FTextToPath(text, 11, &mine.path);
    }
    if (r.Byte() & 1) {
      mine.connType = reinterpret_cast<TypeDescriptor*>(DSNewPtr(int32(Pane().size())));
      if (mine.connType) std::memcpy(mine.connType, Pane().data(), Pane().size());
    }
    mine.hasPassword = r.Byte() & 1;
    mine.password[0] = uChar(r.Byte() % 8);
    r.Bytes(mine.password + 1, mine.password[0]);
    bytes = WriteOpen(mine);
  }
  UHandle h = Block(bytes.data(), bytes.size());
  OpenRequest got{};
  const MgErr err = h ? SrvReadOpenRequest(h, int32(bytes.size()), &got) : kMemFullErr;
  if (encodeFirst) FUZZ_CHECK(err == kNoErr);
  if (err) {
    FUZZ_CHECK(!got.path && !got.connType);
  } else {
    const Bytes again = WriteOpen(got);
    if (encodeFirst) FUZZ_CHECK(again == bytes);
    UHandle h2 = Block(again.data(), again.size());
    OpenRequest third{};
    FUZZ_CHECK(SrvReadOpenRequest(h2, int32(again.size()), &third) == kNoErr);
    FUZZ_CHECK(WriteOpen(third) == again);
    SrvDisposeOpenRequest(&third);
    AZDisposeHandle(h2);
  }
  SrvDisposeOpenRequest(&got);
  SrvDisposeOpenRequest(&mine);
  if (h) AZDisposeHandle(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = FuzzStartManagers(FuzzAbortWhenArmed);
  (void)started;
  if (size < 2 || size > 1 << 14) return 0;
  const int32 live = FuzzLiveHandles();
  FuzzArmed() = true;
  const uint8_t mode = data[0];
  const bool encodeFirst = mode & 0x80;
  // The first bytes steer; the block is what follows the steering bytes.
  const size_t steer = size < 24 ? size : 24;
  FuzzReader r{data + 1, steer - 1};
  const uint8_t* rest = data + steer;
  const size_t n = size - steer;
  switch (mode % 5) {
    case 0: FuzzVector(r, rest, n, encodeFirst); break;
    case 1: FuzzCall(r, rest, n, encodeFirst); break;
    case 2: FuzzOpen(r, rest, n, encodeFirst); break;
    case 3: {
      Str255 text;
      const MgErr err = SrvReadErrorText(rest, int32(n), text);
      FUZZ_CHECK(err ? text[0] == 0 : n >= size_t(text[0]) + 1);
      VIRef ref = 5;
      Bool32 reentrant = 3;
      if (SrvReadOpenReply(rest, int32(n), &ref, &reentrant)) FUZZ_CHECK(ref == 5 && reentrant == 3);
      break;
    }
    default: {
      uChar h[kSrvMsgHeaderSize] = {};
      std::memcpy(h, rest, n < sizeof h ? n : sizeof h);
      uChar back[kSrvMsgHeaderSize];
      SrvMsgHeaderWrite(SrvMsgHeaderRead(h), back);
      FUZZ_CHECK(std::memcmp(h, back, sizeof h) == 0);
      SrvMsgHasData(SrvMsgHeaderRead(h));
      FUZZ_CHECK(SrvMsgName(SrvMsgHeaderRead(h).type) != nullptr);
      break;
    }
  }
  FuzzArmed() = false;
  FUZZ_CHECK(FuzzLiveHandles() == live);
  return 0;
}
