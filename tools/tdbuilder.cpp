// The type-descriptor builder for tests and fixtures.
#include "tdbuilder.h"

#include <cstring>

namespace tdb {

namespace {

void Put(std::vector<uChar>& out, uInt32 v, int bytes, Order order) {
  if (order == Order::kMemory) {
    for (int i = 0; i < bytes; ++i) out.push_back(uChar(v >> (8 * i)));
  } else {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(uChar(v >> (8 * i)));
  }
}

void PutAt(std::vector<uChar>& out, size_t at, uInt16 v, Order order) {
  if (order == Order::kMemory) {
    out[at] = uChar(v);
    out[at + 1] = uChar(v >> 8);
  } else {
    out[at] = uChar(v >> 8);
    out[at + 1] = uChar(v);
  }
}

std::vector<uChar> PStrBytes(const std::string& s, bool padToEven, uChar pad) {
  size_t n = 1 + s.size();
  std::vector<uChar> b(padToEven && (n & 1) ? n + 1 : n, pad);
  b[0] = uChar(s.size());
  for (size_t i = 0; i < s.size(); ++i) b[1 + i] = uChar(s[i]);
  return b;
}

TD Make(uChar code, std::vector<TD::Part> parts = {}) { return TD(code, std::move(parts)); }

std::vector<TD::Part> Children(const std::vector<TD>& tds) {
  std::vector<TD::Part> parts;
  for (const TD& t : tds) parts.push_back(ChildPart(t));
  return parts;
}

}  // namespace

TD::Part I16Part(int32 v) { return TD::Part{TD::Part::kI16, v, {}, nullptr}; }
TD::Part I32Part(int32 v) { return TD::Part{TD::Part::kI32, v, {}, nullptr}; }
TD::Part BytesPart(std::vector<uChar> bytes) { return TD::Part{TD::Part::kBytes, 0, std::move(bytes), nullptr}; }
TD::Part PStrPart(const std::string& s, bool padToEven) { return BytesPart(PStrBytes(s, padToEven, 0)); }
TD::Part ChildPart(const TD& td) { return TD::Part{TD::Part::kChild, 0, {}, std::make_shared<const TD>(td)}; }

void TD::Emit(std::vector<uChar>& out, Order order) const {
  size_t start = out.size();
  if (raw_) {
    for (const Part& p : parts_) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    // Flags given to a raw descriptor (a data-space entry's stored mark)
    // go into its flags byte, the high byte of its code-and-flags word.
    if (flags_ && out.size() >= start + 4) out[start + 3] = uChar(out[start + 3] | flags_);
    return;
  }
  out.push_back(0);
  out.push_back(0);
  // The code-and-flags word: code in the low byte.
  Put(out, uInt32(code_) | (uInt32(flags_ | (named_ ? kTDFlagName : 0)) << 8), 2, order);
  for (const Part& p : parts_) {
    switch (p.kind) {
      case Part::kI16: Put(out, uInt32(p.value), 2, order); break;
      case Part::kI32: Put(out, uInt32(p.value), 4, order); break;
      case Part::kBytes: out.insert(out.end(), p.bytes.begin(), p.bytes.end()); break;
      case Part::kChild: p.child->Emit(out, order); break;
    }
  }
  if (named_) {
    std::vector<uChar> n = PStrBytes(name_, true, pad_);
    out.insert(out.end(), n.begin(), n.end());
  }
  size_t len = out.size() - start;
  uInt16 size = sizeOverride_ ? size_ : len >= 0xFFFF ? kTDSizeInHolder : uInt16(len);
  PutAt(out, start, size, order);
}

std::vector<uChar> TD::Bytes(Order order) const {
  std::vector<uChar> out;
  Emit(out, order == Order::kWord ? Order::kFile : order);
  if (order == Order::kWord) {
    // Host-order 16-bit words of the big-endian TD.
    for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  }
  return out;
}

int32 TD::Length() const { return int32(Bytes().size()); }

TD TD::Named(const std::string& name, uChar pad) const {
  TD t = *this;
  t.named_ = true;
  t.name_ = name;
  t.pad_ = pad;
  return t;
}

TD TD::WithFlags(uChar flags) const {
  TD t = *this;
  t.flags_ = uChar(t.flags_ | flags);
  return t;
}

TD TD::WithSize(uInt16 size) const {
  TD t = *this;
  t.sizeOverride_ = true;
  t.size_ = size;
  return t;
}

TD Header(uChar code) { return Make(code); }
TD Void() { return Make(kTDVoid); }
TD I8() { return Make(kTDI8); }
TD I16() { return Make(kTDI16); }
TD I32() { return Make(kTDI32); }
TD I64() { return Make(kTDI64); }
TD U8() { return Make(kTDU8); }
TD U16() { return Make(kTDU16); }
TD U32() { return Make(kTDU32); }
TD U64() { return Make(kTDU64); }
TD SGL() { return Make(kTDSGL); }
TD DBL() { return Make(kTDDBL); }
TD EXT() { return Make(kTDEXT); }
TD CSG() { return Make(kTDCSG); }
TD CDB() { return Make(kTDCDB); }
TD CXT() { return Make(kTDCXT); }
TD Boolean() { return Make(kTDBoolean); }
TD OldBoolean() { return Make(kTDBooleanOld); }

TD StringOf(uChar code, int32 bound) { return Make(code, {I32Part(bound)}); }
TD String(int32 bound) { return StringOf(kTDString, bound); }
TD Path(int32 bound) { return StringOf(kTDPath, bound); }
TD StringView(int32 bound) { return StringOf(kTDStringView, bound); }
TD OldString(uChar code) { return Make(code); }
TD Handle(int16 kind) { return Make(kTDHandle, {I16Part(kind)}); }

static TD ArrayOf(uChar code, const TD& elem, const std::vector<int32>& dims) {
  std::vector<TD::Part> parts{I16Part(int32(dims.size()))};
  for (int32 d : dims) parts.push_back(I32Part(d));
  parts.push_back(ChildPart(elem));
  return Make(code, std::move(parts));
}
TD Array(const TD& elem, std::vector<int32> dims) { return ArrayOf(kTDArray, elem, dims); }
TD ArrayView(const TD& elem, std::vector<int32> dims) { return ArrayOf(kTDArrayView, elem, dims); }

static TD CountedChildren(uChar code, const std::vector<TD>& elems) {
  std::vector<TD::Part> parts{I16Part(int32(elems.size()))};
  for (TD::Part& p : Children(elems)) parts.push_back(std::move(p));
  return Make(code, std::move(parts));
}
TD Cluster(std::vector<TD> elems) { return CountedChildren(kTDCluster, elems); }
TD Union(std::vector<TD> elems) { return CountedChildren(kTDUnion, elems); }

TD Enum(uChar code, std::vector<std::string> items) {
  std::vector<uChar> names;
  for (const std::string& s : items) {
    std::vector<uChar> b = PStrBytes(s, false, 0);
    names.insert(names.end(), b.begin(), b.end());
  }
  if (names.size() & 1) names.push_back(0);
  return Make(code, {I16Part(int32(items.size())), BytesPart(std::move(names))});
}

TD Unit(uChar code, std::vector<std::pair<int16, int16>> entries) {
  std::vector<TD::Part> parts{I16Part(int32(entries.size()))};
  for (auto& e : entries) {
    parts.push_back(I16Part(e.first));
    parts.push_back(I16Part(e.second));
  }
  return Make(code, std::move(parts));
}

TD Block(int32 bytes) { return Make(kTDBlock, {I32Part(bytes)}); }
TD Wrapper(const TD& inner) { return Make(kTDWrapper, {ChildPart(inner)}); }
TD TypeOnly(const TD& inner) { return Make(kTDTypeOnly, {ChildPart(inner)}); }
TD TypedRef(const TD& inner) { return Make(kTDTypedRef, {ChildPart(inner)}); }
TD Variant(int16 kind) { return Make(kTDVariant, {I16Part(kind)}); }

TD Function(int16 paneWord, std::vector<uInt16> flagWords, std::vector<TD> connectors) {
  std::vector<TD::Part> parts{I16Part(int32(connectors.size())), I16Part(paneWord)};
  for (uInt16 w : flagWords) parts.push_back(I16Part(w));
  for (TD::Part& p : Children(connectors)) parts.push_back(std::move(p));
  return Make(kTDFunction, std::move(parts));
}

TD Typedef(const std::string& name, const TD& wrapped, int32 word) {
  return Make(kTDTypedef, {I32Part(word), PStrPart(name), ChildPart(wrapped)});
}

TD Refnum(int16 kind) { return Make(kTDRefnum, {I16Part(kind)}); }
TD DatalogRefnum(const TD& record) { return Make(kTDRefnum, {I16Part(kRefnumDatalog), ChildPart(record)}); }
TD NamedRefnum(int16 kind, const std::string& name) { return Make(kTDRefnum, {I16Part(kind), PStrPart(name)}); }
TD ObjectRefnum(int16 subclass, int16 value) {
  return Make(kTDRefnum, {I16Part(kRefnumObject), I16Part(subclass), I16Part(value)});
}
TD ObjectRefnum(const TD& type) {
  return Make(kTDRefnum, {I16Part(kRefnumObject), I16Part(2), ChildPart(type)});
}

TD AutoRefnum(const std::vector<AutoRecord>& records) {
  std::vector<TD::Part> parts{I16Part(kRefnumAutomation)};
  int32 count = 0;
  for (const AutoRecord& r : records) count += r.kind == 1 ? 28 : 20;
  parts.push_back(BytesPart({uChar(count)}));
  for (const AutoRecord& r : records) {
    parts.push_back(I32Part(r.kind));
    parts.push_back(I32Part(int32(r.d1)));
    parts.push_back(I16Part(r.d2));
    parts.push_back(I16Part(r.d3));
    std::vector<uChar> d4 = r.d4;
    d4.resize(8);
    parts.push_back(BytesPart(d4));
    if (r.kind == 1) {
      parts.push_back(I32Part(int32(r.value)));
      parts.push_back(I16Part(r.major));
      parts.push_back(I16Part(r.minor));
    }
  }
  // The count byte and the records are padded to an even length.
  if ((1 + count) & 1) parts.push_back(BytesPart({0}));
  return Make(kTDRefnum, parts);
}

TD Raw(std::vector<uChar> memoryBytes) {
  TD t(0, {BytesPart(std::move(memoryBytes))});
  t.raw_ = true;
  return t;
}

}  // namespace tdb
