#include "server/protocol.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/datamgr.h"
#include "engine/flatten.h"
#include "engine/membertab.h"
#include "engine/stdize.h"
#include "mgsource/byteorder.h"
#include "mgsource/debug.h"
#include "mgsource/memory.h"

const char kSrvErrorText[] = "Error";
const char kSrvBadProtocolText[] = "Bad protocol level";
const char kSrvOutputsErrorText[] = "Error sending back outputs.";

namespace {

struct TypeInfo {
  const char* name;
  int32 flags;
};
constexpr TypeInfo kTypes[kTSMessageTypes] = {
    {"Client Says Hello", 0x08},     {"App Property Request", 0x1A}, {"VI Property Request", 0x1E},
    {"Get VI Ref Request", 0x18},    {"Call VI Request", 0x18},      {"App Method Request", 0x18},
    {"VI Method Request", 0x1C},     {"Release VI Ref", 0x08},       {"Client Says Bye", 0x08},
    {"Reset Down Request", 0x08},    {"Server Says Hello", 0x00},    {"App Property Reply", 0x13},
    {"VI Property Reply", 0x17},     {"Get VI Ref Reply", 0x10},     {"Call VI Reply", 0x10},
    {"App Method Reply", 0x11},      {"VI Method Reply", 0x15},      {"Server Says Bye", 0x00},
    {"Error Stop Notify", 0x00},     {"Reset Down Reply", 0x00},
};

int32 Even(int32 v) { return v + (v & 1); }

bool IsVectorType(int32 type) {
  switch (type) {
    case kTSAppPropRequest: case kTSVIPropRequest: case kTSAppMethodRequest: case kTSVIMethodRequest:
    case kTSAppPropReply: case kTSVIPropReply: case kTSAppMethodReply: case kTSVIMethodReply: return true;
    default: return false;
  }
}

// The shape of a vector message of the type.
struct VectorShape {
  bool reply, property, viRequest, methodRequest, propertyReply;
  int32 cls;
  explicit VectorShape(int32 type) {
    const int32 f = SrvMsgFlags(type);
    reply = f & kTSFlagAsyncReply;
    property = f & kTSFlagProperty;
    viRequest = (f & kTSFlagVILevel) && !reply;
    methodRequest = !reply && !property;
    propertyReply = reply && property;
    cls = (f & kTSFlagVILevel) ? kAutoClassVI : kAutoClassApp;
  }
  // Bytes before the entries, and per entry before its item.
  int32 Fixed() const { return 4 + (viRequest ? 4 : 0) + (methodRequest ? 4 : 0) + (propertyReply ? 8 : 0); }
  int32 PerEntry() const { return property ? 12 : 8; }
};

// The operation of the AsyncRef a request of the type makes.
int32 AsyncOpOf(int32 type) {
  switch (type) {
    case kTSAppPropRequest: case kTSAppPropReply: return kAsyncAppAttrVectOp;
    case kTSVIPropRequest: case kTSVIPropReply: return kAsyncVIAttrVectOp;
    case kTSAppMethodRequest: case kTSAppMethodReply: return kAsyncAppDoMethodOp;
    default: return kAsyncVIDoMethodOp;
  }
}

uInt32 Word(const void* p) { return uInt32(uintptr_t(p)); }
template <typename T>
T* FromWord(uInt32 w) {
  return reinterpret_cast<T*>(uintptr_t(w));
}

// An array of n elements, on the stack while n is small.
template <typename T, size_t kInline>
class SmallArray {
 public:
  explicit SmallArray(size_t n) : p_(n <= kInline ? inline_ : (heap_ = std::make_unique<T[]>(n)).get()), n_(n) {}
  T& operator[](size_t i) { return p_[i]; }
  size_t size() const { return n_; }
  void push_back(const T& v) { p_[n_++] = v; }  // within the capacity given
  T* begin() { return p_; }
  T* end() { return p_ + n_; }
  void resize_empty() { n_ = 0; }

 private:
  T inline_[kInline];
  std::unique_ptr<T[]> heap_;
  T* p_;
  size_t n_;
};

// The file-order bytes of the member tables' descriptors, made once per
// message for each descriptor it uses (the bytes stay where they are while
// the message is built).
class FileOrderTDs {
 public:
  // The bytes of td in file order; null (err set) when it cannot be turned.
  const std::vector<uChar>* Get(const TypeDescriptor* td, MgErr* err) {
    *err = kNoErr;
    if (last_ && last_->td == td) return &last_->bytes;
    for (const auto& s : slots_)
      if (s->td == td) {
        *err = s->err;
        if (!s->err) last_ = s.get();
        return s->err ? nullptr : &s->bytes;
      }
    auto slot = std::make_unique<Slot>(
        Slot{td, std::vector<uChar>(reinterpret_cast<const uChar*>(td), reinterpret_cast<const uChar*>(td) + td->size),
             kNoErr});
    slot->err = TDStandardize(reinterpret_cast<TypeDescriptor*>(slot->bytes.data()), kToFileOrder);
    slots_.push_back(std::move(slot));
    const Slot& made = *slots_.back();
    *err = made.err;
    if (!*err) last_ = &made;
    return *err ? nullptr : &made.bytes;
  }

 private:
  struct Slot {
    const TypeDescriptor* td;
    std::vector<uChar> bytes;
    MgErr err;
  };
  std::vector<std::unique_ptr<Slot>> slots_;  // each slot stays where it is
  const Slot* last_ = nullptr;
};

// The descriptors of a vector message's entries, with their file-order
// bytes: a property's by its selector, the last few remembered (replies
// repeat a handful of selectors); a method's by its parameter index.
struct EntryType {
  const TypeDescriptor* td;          // null: untyped
  const std::vector<uChar>* file;    // null when td cannot be turned to file order
  MgErr err;
};
class EntryTypes {
 public:
  EntryTypes(int32 type, int32 method)
      : type_(type), method_(method), property_((SrvMsgFlags(type) & kTSFlagProperty) != 0) {}
  const EntryType& Of(int32 index, int32 selector) {
    if (!property_) return method_type_ = Make(ParamVectorEntryTD(type_, method_, index, selector));
    Slot& s = slots_[uInt32(selector) % kSlots];
    if (!s.filled || s.selector != selector) {
      s.filled = true;
      s.selector = selector;
      s.type = Make(ParamVectorEntryTD(type_, method_, index, selector));
    }
    return s.type;
  }

 private:
  EntryType Make(const TypeDescriptor* td) {
    EntryType t{td, nullptr, kNoErr};
    if (td) t.file = tds_.Get(td, &t.err);
    return t;
  }
  static constexpr uInt32 kSlots = 16;
  struct Slot {
    bool filled;
    int32 selector;
    EntryType type;
  };
  int32 type_, method_;
  bool property_;
  EntryType method_type_{};
  FileOrderTDs tds_;
  Slot slots_[kSlots] = {};
};

// The flat size of the plain numerics I8 to DBL, by code; 0 for others.
int32 NumericFlatSize(uChar code) {
  static constexpr uChar kSizes[16] = {0, 1, 2, 4, 8, 1, 2, 4, 8, 4, 8, 0, 0, 0, 0, 0};
  return kSizes[code & 15] && code <= kTDDBL ? kSizes[code] : 0;
}
bool IsPlainString(const TypeDescriptor* td) {
  return td->code == kTDString && td->size >= 8 &&
         int32(GetNative32(reinterpret_cast<const uChar*>(td) + 4)) == kTDVariable;
}

// The flat size of a value: read off plain numerics and strings without a
// bound, else FlatSize's.
int32 ValueFlatSize(const TypeDescriptor* td, const void* value) {
  if (const int32 n = NumericFlatSize(td->code)) return n;
  if (IsPlainString(td)) {
    LStrHandle h;
    std::memcpy(&h, value, sizeof h);
    return h && *h ? 4 + (*h)->cnt : 4;
  }
  return FlatSize(td, value);
}

// Writes a value's flat form at `at` and answers the address after it: plain
// numerics and strings without a bound directly (they fill most replies),
// anything else through FlattenData.
uChar* PutValue(const TypeDescriptor* td, const void* value, uChar* at) {
  switch (NumericFlatSize(td->code)) {
    case 1: *at = *static_cast<const uChar*>(value); return at + 1;
    case 2: PutBE16(at, GetNative16(value)); return at + 2;
    case 4: PutBE32(at, GetNative32(value)); return at + 4;
    case 8: {
      uInt64 v;
      std::memcpy(&v, value, 8);
      PutBE64(at, v);
      return at + 8;
    }
    default: break;
  }
  if (IsPlainString(td)) {
    LStrHandle h;
    std::memcpy(&h, value, sizeof h);
    const int32 n = h && *h ? (*h)->cnt : 0;
    PutBE32(at, uInt32(n));
    if (n) std::memcpy(at + 4, (*h)->str, size_t(n));
    return at + 4 + n;
  }
  return FlattenData(td, value, at);
}

// Reads a value that MeasureValue found to fit into the datum at value: the
// bytes consumed, more than available when memory runs short.  Plain
// numerics and strings without a bound directly, as UnFlattenData reads them.
int32 GetValue(UHandle data, int32 offset, const TypeDescriptor* td, void* value, int32 available) {
  const uChar* at = *data + offset;
  switch (NumericFlatSize(td->code)) {
    case 1: *static_cast<uChar*>(value) = *at; return 1;
    case 2: PutNative16(value, GetBE16(at)); return 2;
    case 4: PutNative32(value, GetBE32(at)); return 4;
    case 8: {
      const uInt64 v = GetBE64(at);
      std::memcpy(value, &v, 8);
      return 8;
    }
    default: break;
  }
  if (IsPlainString(td)) {
    const int32 n = int32(GetBE32(at));
    UHandle h;
    std::memcpy(&h, value, sizeof h);
    if (!h) {
      if (!(h = DSNewHandle(4 + n))) return available + 1;
      std::memcpy(value, &h, sizeof h);
    } else if (DSSetHandleSize(h, 4 + n) != kNoErr) {
      return available + 1;
    }
    auto s = reinterpret_cast<LStrHandle>(h);
    if (n) std::memcpy((*s)->str, *data + offset + 4, size_t(n));
    (*s)->cnt = n;
    return 4 + n;
  }
  return UnFlattenData(data, offset, td, value, available, 0);
}

// What the value at the block's offset would take: for plain numerics,
// Booleans, enumerations and strings without a bound, read from the value
// itself; otherwise measured by unflattening into nothing.  More than
// available when it does not fit.
int32 MeasureValue(UHandle data, int32 offset, const TypeDescriptor* td, int32 available) {
  const uChar code = td->code;
  int32 fixed = NumericFlatSize(code);
  if (code == kTDEnumU8 || code == kTDBoolean) fixed = 1;
  else if (code == kTDEnumU16) fixed = 2;
  else if (code == kTDEnumU32) fixed = 4;
  if (fixed > 0) return fixed;
  if (IsPlainString(td)) {
    if (available < 4) return available + 1;
    const uInt32 n = GetBE32(*data + offset);
    return n > uInt32(available - 4) ? available + 1 : 4 + int32(n);
  }
  return UnFlattenData(data, offset, td, nullptr, available, 0);
}

// A received descriptor of tdSize bytes at the block's offset against the
// expected one: 0 when equal, 42 when it differs, bad when it is no
// complete descriptor of that size.
MgErr CompareTD(UHandle data, int32 off, int32 tdSize, const TypeDescriptor* expected, MgErr bad);
inline MgErr CheckTD(UHandle data, int32 off, int32 tdSize, const TypeDescriptor* expected,
                     const std::vector<uChar>& want, MgErr bad) {
  if (int32(want.size()) == tdSize) {
    const uChar* got = *data + off;
    const uChar* w = want.data();
    int32 i = 0;
    while (i < tdSize && got[i] == w[i]) ++i;
    if (i == tdSize) return kNoErr;
  }
  return CompareTD(data, off, tdSize, expected, bad);
}
MgErr CompareTD(UHandle data, int32 off, int32 tdSize, const TypeDescriptor* expected, MgErr bad) {
  const uChar* got = *data + off;
  // Another spelling may still be the same type: compare it in memory order.
  std::vector<uChar> copy(got, got + tdSize);
  if (StandardizeTDBounded(copy.data(), kToMemoryOrder, 0, tdSize) != kNoErr ||
      TDCheckBounds(copy.data(), tdSize) != kNoErr)
    return bad;
  const auto* td = reinterpret_cast<const TypeDescriptor*>(copy.data());
  if (td->size != 0xFFFF && td->size != tdSize) return bad;
  return TDCompare(td, expected) == 0 ? kNoErr : MgErr(kVIRefGenericErr);
}

// A block as a reader sees it: its handle and length, with checked reads.
class Block {
 public:
  Block(UHandle data, int32 length) : data_(data), length_(length) {}
  bool Has(int32 n) const { return n >= 0 && at_ <= length_ && n <= length_ - at_; }
  int32 Left() const { return at_ <= length_ ? length_ - at_ : 0; }
  int32 At() const { return at_; }
  const uChar* Ptr() const { return *data_ + at_; }
  // A big-endian word, or false when fewer than four bytes are left.
  bool Word32(int32* v) {
    if (!Has(4)) return false;
    *v = int32(GetBE32(Ptr()));
    at_ += 4;
    return true;
  }
  bool Word16(int32* v) {
    if (!Has(2)) return false;
    *v = GetBE16(Ptr());
    at_ += 2;
    return true;
  }
  void Skip(int32 n) { at_ += n; }
  void AlignEven() { at_ = Even(at_); }

 private:
  UHandle data_;
  int32 length_;
  int32 at_ = 0;
};

bool ValidBlock(UHandle data, int32 length) {
  if (length < 0) return false;
  if (length == 0) return true;
  return data && *data && AZGetHandleSize(data) >= length;
}

// A buffer for a value of the type: its data size, at least a word, so that
// a void value still has an address of its own.
int32 ValueBytes(const TypeDescriptor* td) {
  const int32 n = DataSize(td);
  return n < 4 ? 4 : n;
}

void FreeValue(const TypeDescriptor* td, void* value) {
  if (!value) return;
  if (td) DisposeData(td, value, static_cast<uChar*>(value) + ValueBytes(td));
  DSDisposePtr(static_cast<UPtr>(value));
}

// A value that ends one byte short of its item is followed by the item's pad.
inline void Diagnose(int32 consumed, int32 available, const TypeDescriptor* td) {
  if (consumed == available || consumed == available - 1) return;
  DBPrintf("RcvParamVector: UnFlattenData returned %ld; expected %ld; TypeCode=0x%04lx", long(consumed),
           long(available), long(td->code | (td->flags << 8)));
}

// A connector pane: its terminal count, or -1 for a descriptor that is none.
int32 PaneTerminals(const TypeDescriptor* pane) {
  if (!pane || pane->code != kTDFunction || pane->size < 8) return -1;
  return GetNative16(reinterpret_cast<const uChar*>(pane) + 4);
}
uInt16 TermFlags(const TypeDescriptor* pane, int32 i) {
  return GetNative16(reinterpret_cast<const uChar*>(pane) + 8 + 2 * i);
}

MgErr NewBlock(int64_t total, SrvMessage* out, int32 type, uInt32 uniqueId) {
  if (total > 0x7FFFFFFF) return kArgErr;
  out->header = SrvMsgHeader{0, type, uniqueId, int32(total)};
  out->data = nullptr;
  if (total == 0) return kNoErr;
  out->data = AZNewHandle(int32(total));
  return out->data ? kNoErr : kMemFullErr;
}

}  // namespace

// ---- The header --------------------------------------------------------------------------
void SrvMsgHeaderWrite(const SrvMsgHeader& h, uChar out[kSrvMsgHeaderSize]) {
  PutBE32(out, uInt32(h.error));
  PutBE32(out + 4, uInt32(h.type));
  PutBE32(out + 8, h.uniqueId);
  PutBE32(out + 12, uInt32(h.dataLength));
}

SrvMsgHeader SrvMsgHeaderRead(const uChar in[kSrvMsgHeaderSize]) {
  return SrvMsgHeader{MgErr(GetBE32(in)), int32(GetBE32(in + 4)), GetBE32(in + 8), int32(GetBE32(in + 12))};
}

int32 SrvMsgFlags(int32 type) { return type >= 0 && type < kTSMessageTypes ? kTypes[type].flags : 0; }
const char* SrvMsgName(int32 type) { return type >= 0 && type < kTSMessageTypes ? kTypes[type].name : "unknown"; }

Bool32 SrvMsgHasData(const SrvMsgHeader& h) {
  if (h.error) return h.dataLength > 0;
  return (SrvMsgFlags(h.type) & kTSFlagData) ? 1 : 0;
}

int32 SrvErrorReplyType(int32 requestType) {
  if (requestType == kTSClientHello) return kTSServerHello;
  if (requestType >= kTSAppPropRequest && requestType <= kTSVIMethodRequest) return requestType + 10;
  return -1;
}

void SrvDisposeMessage(SrvMessage* m) {
  if (!m) return;
  if (m->data) AZDisposeHandle(m->data);
  m->data = nullptr;
}

SrvMessage SrvPlainMessage(int32 type, uInt32 uniqueId, MgErr error) {
  return SrvMessage{SrvMsgHeader{error, type, uniqueId, 0}, nullptr};
}

MgErr SrvMakeErrorReply(int32 type, uInt32 uniqueId, MgErr error, ConstPStr text, SrvMessage* out) {
  if (!out) return kArgErr;
  const int32 n = text ? text[0] : 0;
  MgErr err = NewBlock(1 + n, out, type, uniqueId);
  if (err) return err;
  out->header.error = error;
  (*out->data)[0] = uChar(n);
  if (n) std::memcpy(*out->data + 1, text + 1, size_t(n));
  return kNoErr;
}

MgErr SrvReadErrorText(const uChar* data, int32 length, Str255 text) {
  text[0] = 0;
  if (!data || length < 1 || data[0] > length - 1) return kArgErr;
  std::memcpy(text, data, size_t(data[0]) + 1);
  return kNoErr;
}

// ---- Parameter vectors ---------------------------------------------------------------------
const TypeDescriptor* ParamVectorEntryTD(int32 type, int32 method, int32 index, int32 selector) {
  const VectorShape s(type);
  return s.property ? PropInfoTypeDesc(s.cls, selector) : MethodParamTypeDesc(s.cls, method, index);
}

MgErr SrvWriteParamVector(const ParamVectorMsg& m, SrvMessage* out) {
  if (!out) return kArgErr;
  *out = SrvMessage{};
  if (!IsVectorType(m.type) || m.count < 0 || (m.count && !m.vector)) return kArgErr;
  const VectorShape s(m.type);
  // The item of each entry: its descriptor (file order) and the flat size of
  // the value that travels (-1: none).
  struct Item {
    const std::vector<uChar>* td;
    const TypeDescriptor* type;
    int32 flat, length;
  };
  SmallArray<Item, 128> items(static_cast<size_t>(m.count));
  EntryTypes types(m.type, m.method);
  int64_t total = s.Fixed() + int64_t(m.count) * s.PerEntry();
  for (int32 i = 0; i < m.count; ++i) {
    const AttrEntry& e = m.vector[i];
    Item& it = items[size_t(i)];
    const EntryType& t = types.Of(i, e.selector);
    it = Item{t.file, t.td, -1, 0};
    if (!it.type || !e.value) continue;
    if (!it.td) return t.err;
    int64_t item = int64_t(it.td->size());
    if (s.reply || !e.get) {
      it.flat = ValueFlatSize(it.type, e.value);
      if (it.flat < 0) return kArgErr;
      item += it.flat;
    }
    if (item > 0x7FFFFFF0) return kArgErr;
    it.length = Even(int32(item));
    total += it.length;
  }
  MgErr err = NewBlock(total, out, m.type, m.uniqueId);
  if (err) return err;
  uChar* p = *out->data;  // nothing below allocates: the block stays where it is
  int32 at = 0;
  auto put = [&](uInt32 v) {
    PutBE32(p + at, v);
    at += 4;
  };
  if (s.viRequest) put(uInt32(m.ref));
  if (s.methodRequest) put(uInt32(m.method));
  put(uInt32(m.count));
  if (s.propertyReply) {
    put(uInt32(m.failIndex));
    put(uInt32(m.failError));
  }
  for (int32 i = 0; i < m.count; ++i) {
    const AttrEntry& e = m.vector[i];
    const Item& it = items[size_t(i)];
    put(e.get ? 1 : 0);
    if (s.property) put(uInt32(e.selector));
    put(uInt32(it.length));
    if (!it.length) continue;
    const int32 tdSize = int32(it.td->size());
    std::memcpy(p + at, it.td->data(), size_t(tdSize));
    int32 end = at + tdSize;
    if (it.flat >= 0) end = int32(PutValue(it.type, e.value, p + end) - p);
    if (end & 1) p[end++] = 0;
    at = end;
  }
  return kNoErr;
}

MgErr SendParamVector(const SrvSender& to, AppRecord* app, ParamVectorMsg* m, VIRef localRef,
                      AsyncCompletion completion, AsyncRef* out) {
  if (out) *out = nullptr;
  if (!m || !to.send || !IsVectorType(m->type)) return kArgErr;
  const VectorShape s(m->type);
  AsyncRef a = nullptr;
  if (!s.reply) {
    if (!app) return kArgErr;
    a = NewAsyncRef(AsyncOpOf(m->type), app);
    if (!a) return kMemFullErr;
    a->connection = to.connection;
    a->completion = completion;
    a->ref = localRef;
    if (s.property) {
      a->param[0] = uInt32(m->count);
      a->param[1] = Word(m->vector);
    } else {
      a->param[0] = uInt32(m->method);
      a->param[1] = uInt32(m->count);
      a->param[2] = Word(m->vector);
    }
    m->uniqueId = Word(a);
  }
  SrvMessage msg{};
  MgErr err = SrvWriteParamVector(*m, &msg);
  if (!err && a) AppendAsyncRef(app, a);
  if (!err) err = to.send(to.connection, &msg);
  if (err) {
    SrvDisposeMessage(&msg);
    if (a) {
      UnlinkAsyncRef(app, a);
      FreeAsyncRef(a);
    }
    return err;
  }
  if (out) *out = a;
  return kNoErr;
}

void DisposeParamVector(int32 type, int32 method, int32 count, AttrEntry* vector) {
  if (!vector) return;
  for (int32 i = 0; i < count; ++i)
    FreeValue(ParamVectorEntryTD(type, method, i, vector[i].selector), vector[i].value);
  DSDisposePtr(reinterpret_cast<UPtr>(vector));
}

MgErr RcvParamVector(UHandle data, int32 length, int32 type, AsyncRef request, ParamVectorMsg* out) {
  if (!out || !IsVectorType(type)) return kArgErr;
  const VectorShape s(type);
  if (s.reply != (request != nullptr)) return kArgErr;
  const MgErr bad = s.reply ? MgErr(kVIRefGenericErr) : kArgErr;
  if (!s.reply) *out = ParamVectorMsg{type, out->uniqueId, 0, 0, 0, nullptr, 0, 0};
  if (!ValidBlock(data, length)) return bad;
  // What a reply must answer: its request's vector.
  int32 method = 0, expectedCount = 0;
  AttrEntry* expected = nullptr;
  if (s.reply) {
    if (request->op != AsyncOpOf(type)) return bad;
    if (s.property) {
      expectedCount = int32(request->param[0]);
      expected = FromWord<AttrEntry>(request->param[1]);
    } else {
      method = int32(request->param[0]);
      expectedCount = int32(request->param[1]);
      expected = FromWord<AttrEntry>(request->param[2]);
    }
  }
  Block b(data, length);
  VIRef ref = 0;
  int32 count = 0, failIndex = 0, failError = 0;
  if (s.viRequest && !b.Word32(&ref)) return bad;
  if (s.methodRequest) {
    if (!b.Word32(&method)) return bad;
    if (!MethodInfoLookup(s.cls, method)) return kArgErr;
  }
  if (!b.Word32(&count)) return bad;
  if (s.propertyReply && (!b.Word32(&failIndex) || !b.Word32(&failError))) return bad;
  if (count < 0 || count > b.Left() / s.PerEntry()) return bad;
  if (s.methodRequest && count > MethodInfoLookup(s.cls, method)->paramCount) return kArgErr;
  if (s.reply && (count != expectedCount || (count && !expected))) return kVIRefGenericErr;

  AttrEntry* vector = nullptr;
  if (!s.reply && count) {
    vector = reinterpret_cast<AttrEntry*>(DSNewPClr(int32(count * sizeof(AttrEntry))));
    if (!vector) return kMemFullErr;
  }
  // A reply's values wait until the whole block has passed.
  struct Pending {
    int32 index, offset, available;
    const TypeDescriptor* td;
  };
  SmallArray<Pending, 128> pending(s.reply ? size_t(count) : 0);
  pending.resize_empty();
  EntryTypes types(type, method);
  MgErr err = kNoErr;
  for (int32 i = 0; i < count && !err; ++i) {
    const int32 head = s.property ? 12 : 8;
    if (!b.Has(head)) {
      err = bad;
      break;
    }
    const uChar* q = b.Ptr();
    const int32 get = int32(GetBE32(q)), selector = s.property ? int32(GetBE32(q + 4)) : 0;
    const int32 itemLength = int32(GetBE32(q + head - 4));
    b.Skip(head);
    if (itemLength < 0 || !b.Has(itemLength)) {
      err = bad;
      break;
    }
    if (s.reply && ((get != 0) != (expected[i].get != 0) || (s.property && selector != expected[i].selector))) {
      err = kVIRefGenericErr;
      break;
    }
    if (vector) vector[i] = AttrEntry{get, selector, nullptr};
    if (itemLength == 0) continue;
    const EntryType& t = types.Of(i, selector);
    const TypeDescriptor* td = t.td;
    // An untyped selector travels without an item: a peer must not size the
    // buffer a property writes into.
    int32 tdSize = 0;
    if (!td || !b.Has(2) || (tdSize = GetBE16(b.Ptr())) < 4 || tdSize > itemLength) {
      err = bad;
      break;
    }
    const int32 at = b.At();
    err = t.file ? CheckTD(data, at, tdSize, td, *t.file, bad) : t.err;
    if (err) break;
    const int32 available = itemLength - tdSize;
    if (!s.reply) {
      void* value = DSNewPClr(ValueBytes(td));
      if (!value) {
        err = kMemFullErr;
        break;
      }
      vector[i].value = value;
      if (!get) {
        const int32 used = UnFlattenFromMem(data, at + tdSize, td, value, available, 0);
        if (used > available) {
          err = bad;
          break;
        }
        Diagnose(used, available, td);
      }
    } else {
      const int32 used = MeasureValue(data, at + tdSize, td, available);
      if (used > available) {
        err = bad;
        break;
      }
      Diagnose(used, available, td);
      if (expected[i].value) pending.push_back(Pending{i, at + tdSize, available, td});
    }
    b.Skip(itemLength);
    b.AlignEven();
  }
  if (err) {
    if (vector) DisposeParamVector(type, method, count, vector);
    if (!s.reply) out->count = 0;
    return err;
  }
  if (!s.reply) {
    out->ref = ref;
    out->method = method;
    out->count = count;
    out->vector = vector;
    return kNoErr;
  }
  for (const Pending& p : pending)
    if (GetValue(data, p.offset, p.td, expected[p.index].value, p.available) > p.available)
      return kMemFullErr;  // the block passed: only memory can fail here
  out->type = type;
  out->method = method;
  out->count = count;
  out->vector = expected;
  out->failIndex = failIndex;
  out->failError = failError;
  return kNoErr;
}

// ---- Opening a reference -----------------------------------------------------------------------
MgErr SrvWriteOpenRequest(uInt32 uniqueId, int32 options, ConstPStr name, Path path, const TypeDescriptor* connType,
                          ConstPStr password, SrvMessage* out) {
  if (!out) return kArgErr;
  *out = SrvMessage{};
  static const uChar kEmpty[1] = {0};
  if (!name) name = kEmpty;
  const int32 pathSize = path ? FFlattenPath(path, nullptr) : 0;
  if (pathSize < 0) return kArgErr;
  std::vector<uChar> td;
  if (connType) {
    td.assign(reinterpret_cast<const uChar*>(connType), reinterpret_cast<const uChar*>(connType) + connType->size);
    MgErr err = TDStandardize(reinterpret_cast<TypeDescriptor*>(td.data()), kToFileOrder);
    if (err) return err;
  }
  const int32 head = Even(8 + (path ? pathSize : 1 + name[0]));
  const int32 typePart = connType ? int32(td.size()) : 2;
  // An empty password reads as none: it is left out.
  if (password && password[0] == 0) password = nullptr;
  const int32 pass = password ? Even(4 + password[0]) : 0;
  MgErr err = NewBlock(int64_t(head) + typePart + pass, out, kTSGetVIRefRequest, uniqueId);
  if (err) return err;
  uChar* p = *out->data;
  std::memset(p, 0, size_t(out->header.dataLength));
  PutBE32(p, uInt32(options));
  PutBE32(p + 4, uInt32(path ? pathSize : 0));
  if (path) FFlattenPath(path, p + 8);
  else std::memcpy(p + 8, name, size_t(name[0]) + 1);
  if (connType) std::memcpy(p + head, td.data(), td.size());
  if (password) {
    PutBE32(p + head + typePart, password[0]);
    std::memcpy(p + head + typePart + 4, password + 1, password[0]);
  }
  return kNoErr;
}

void SrvDisposeOpenRequest(OpenRequest* r) {
  if (!r) return;
  if (r->path) FDisposePath(r->path);
  if (r->connType) DSDisposePtr(reinterpret_cast<UPtr>(r->connType));
  r->path = nullptr;
  r->connType = nullptr;
}

MgErr SrvReadOpenRequest(UHandle data, int32 length, OpenRequest* out) {
  if (!out) return kArgErr;
  *out = OpenRequest{};
  if (!ValidBlock(data, length)) return kArgErr;
  Block b(data, length);
  int32 options = 0, pathLength = 0;
  if (!b.Word32(&options) || !b.Word32(&pathLength) || pathLength < 0) return kArgErr;
  OpenRequest r{};
  r.options = options;
  if (pathLength == 0) {
    if (!b.Has(1) || !b.Has(1 + b.Ptr()[0])) return kArgErr;
    std::memcpy(r.name, b.Ptr(), size_t(b.Ptr()[0]) + 1);
    b.Skip(1 + r.name[0]);
  } else {
    if (!b.Has(pathLength)) return kArgErr;
    if (FUnFlattenPathData(b.Ptr(), &r.path, pathLength) > pathLength) return kArgErr;
    b.Skip(pathLength);
  }
  b.AlignEven();
  int32 tdSize = 0;
  MgErr err = kNoErr;
  if (!b.Has(2)) err = kArgErr;
  else if ((tdSize = GetBE16(b.Ptr())) == 0) b.Skip(2);
  else if (tdSize < 4 || !b.Has(tdSize)) err = kArgErr;
  else if (!(r.connType = reinterpret_cast<TypeDescriptor*>(DSNewPtr(tdSize)))) err = kMemFullErr;
  else {
    std::memcpy(r.connType, b.Ptr(), size_t(tdSize));
    if (StandardizeTDBounded(r.connType, kToMemoryOrder, 0, tdSize) != kNoErr ||
        TDCheckBounds(r.connType, tdSize) != kNoErr || (r.connType->size != 0xFFFF && r.connType->size != tdSize))
      err = kArgErr;
    b.Skip(tdSize);
  }
  if (!err && b.Left() > 4) {
    int32 n = 0;
    b.Word32(&n);
    if (n < 0 || n > 255 || !b.Has(n)) err = kArgErr;
    else {
      r.hasPassword = 1;
      r.password[0] = uChar(n);
      std::memcpy(r.password + 1, b.Ptr(), size_t(n));
    }
  }
  if (err) {
    SrvDisposeOpenRequest(&r);
    return err;
  }
  *out = r;
  return kNoErr;
}

MgErr SrvWriteOpenReply(uInt32 uniqueId, VIRef ref, Bool32 reentrant, SrvMessage* out) {
  if (!out) return kArgErr;
  MgErr err = NewBlock(8, out, kTSGetVIRefReply, uniqueId);
  if (err) return err;
  PutBE32(*out->data, uInt32(ref));
  PutBE32(*out->data + 4, reentrant ? 1 : 0);
  return kNoErr;
}

MgErr SrvReadOpenReply(const uChar* data, int32 length, VIRef* ref, Bool32* reentrant) {
  if (!data || length < 8) return kVIRefGenericErr;
  if (ref) *ref = VIRef(GetBE32(data));
  if (reentrant) *reentrant = GetBE32(data + 4) ? 1 : 0;
  return kNoErr;
}

// ---- Calls --------------------------------------------------------------------------------------
MgErr SrvWriteCallParams(int32 type, uInt32 uniqueId, VIRef serverRef, const TypeDescriptor* connPane,
                         const CallTermSlot* slots, int32 slotCount, SrvMessage* out) {
  if (!out) return kArgErr;
  *out = SrvMessage{};
  const int32 n = PaneTerminals(connPane);
  if ((type != kTSCallVIRequest && type != kTSCallVIReply) || n < 0 || n != slotCount || (n && !slots))
    return kArgErr;
  const bool inputs = type == kTSCallVIRequest;
  struct Item {
    const TypeDescriptor* td;
    const std::vector<uChar>* bytes;
    int32 flat, length;  // length as written; flat -1: no bytes travel
  };
  std::vector<Item> items(static_cast<size_t>(n));
  FileOrderTDs tds;
  int64_t total = (inputs ? 4 : 0) + 4 * int64_t(n);
  for (int32 i = 0; i < n; ++i) {
    const bool output = TermFlags(connPane, i) & kConnTermOutput;
    Item& it = items[size_t(i)];
    it = Item{ElemTD(connPane, i), nullptr, -1, 0};
    if (!slots[i].present) continue;
    if (inputs && output) {
      it.length = 1;  // asks for the output
      continue;
    }
    if (output != !inputs || !slots[i].value) continue;
    MgErr err = kNoErr;
    it.bytes = tds.Get(it.td, &err);
    if (!it.bytes) return err;
    it.flat = FlatSize(it.td, slots[i].value);
    if (it.flat < 0 || int64_t(it.flat) + int64_t(it.bytes->size()) > 0x7FFFFFF0) return kArgErr;
    it.length = int32(it.bytes->size()) + it.flat;
    total += Even(it.length);
  }
  MgErr err = NewBlock(total, out, type, uniqueId);
  if (err) return err;
  uChar* p = *out->data;
  int32 at = 0;
  if (inputs) {
    PutBE32(p, uInt32(serverRef));
    at = 4;
  }
  for (int32 i = 0; i < n; ++i) {
    const Item& it = items[size_t(i)];
    PutBE32(p + at, uInt32(it.length));
    at += 4;
    if (it.flat < 0) continue;
    std::memcpy(p + at, it.bytes->data(), it.bytes->size());
    at = int32(FlattenData(it.td, slots[i].value, p + at + int32(it.bytes->size())) - p);
    if (at & 1) p[at++] = 0;
  }
  return kNoErr;
}

MgErr RcvCallParams(UHandle data, int32 length, int32 type, const TypeDescriptor* connPane, CallTermSlot* slots,
                    int32 slotCount, VIRef* serverRef) {
  const int32 n = PaneTerminals(connPane);
  if ((type != kTSCallVIRequest && type != kTSCallVIReply) || n < 0 || n != slotCount || (n && !slots))
    return kArgErr;
  const bool inputs = type == kTSCallVIRequest;
  const MgErr bad = inputs ? kArgErr : MgErr(kVIRefGenericErr);
  if (!ValidBlock(data, length)) return bad;
  Block b(data, length);
  VIRef ref = 0;
  if (inputs && !b.Word32(&ref)) return bad;
  // First the whole block is checked and the items found...
  struct Item {
    bool present;
    int32 offset, available;  // the value's bytes; offset 0: none
  };
  std::vector<Item> items(static_cast<size_t>(n));
  FileOrderTDs tds;
  for (int32 i = 0; i < n; ++i) {
    int32 itemLength = 0;
    if (!b.Word32(&itemLength) || itemLength < 0) return bad;
    Item& it = items[size_t(i)];
    it = Item{itemLength != 0, 0, 0};
    const bool output = TermFlags(connPane, i) & kConnTermOutput;
    if (!itemLength || output == inputs) continue;  // nothing of this terminal travels this way
    const TypeDescriptor* td = ElemTD(connPane, i);
    int32 tdSize = 0;
    if (!b.Has(itemLength) || !b.Has(2) || (tdSize = GetBE16(b.Ptr())) < 4 || tdSize > itemLength) return bad;
    MgErr err = kNoErr;
    const std::vector<uChar>* want = tds.Get(td, &err);
    if (want) err = CheckTD(data, b.At(), tdSize, td, *want, bad);
    if (err) return err;
    it.offset = b.At() + tdSize;
    it.available = itemLength - tdSize;
    const int32 used = UnFlattenData(data, it.offset, td, nullptr, it.available, 0);
    if (used > it.available) return bad;
    b.Skip(tdSize + used);
    b.AlignEven();
  }
  // ...then the slots and values are written: every terminal's presence in
  // the inputs, the outputs' in the outputs (the caller's inputs stay).
  for (int32 i = 0; i < n; ++i) {
    const Item& it = items[size_t(i)];
    if (inputs || (TermFlags(connPane, i) & kConnTermOutput)) slots[i].present = it.present ? 1 : 0;
    if (it.offset && slots[i].value &&
        UnFlattenFromMem(data, it.offset, ElemTD(connPane, i), slots[i].value, it.available, 0) > it.available)
      return kMemFullErr;  // the block passed: only memory can fail here
  }
  if (serverRef && inputs) *serverRef = ref;
  return kNoErr;
}
