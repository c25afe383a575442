// A builder of type descriptors for tests and fixtures.
//
//   auto bytes = tdb::Cluster({tdb::I8(), tdb::String().Named("text")}).Bytes();
//   DataSize(tdb::AsTD(bytes));
//
// A TD is kept as a tree of typed fields, so the same TD can be laid out in
// memory order (the default), in file order (big-endian) or in the word form
// of a flattened type (host-order 16-bit words of the big-endian TD).  Sizes
// are computed; a size of 65,535 or more is written as 0xFFFF.  Bad TDs for
// tests are made with WithSize or Raw, or from parts by hand.
#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/datatype.h"

namespace tdb {

enum class Order { kMemory, kFile, kWord };

class TD {
 public:
  // The bytes of the TD in the given order.
  std::vector<uChar> Bytes(Order order = Order::kMemory) const;
  // Its length in bytes (the true size, also beyond 0xFFFF).
  int32 Length() const;

  // A copy that carries the name (flag 0x40); pad is the value of the pad
  // byte written after a name of even length.
  TD Named(const std::string& name, uChar pad = 0) const;
  // A copy with these flag bits set besides the name flag.
  TD WithFlags(uChar flags) const;
  // A copy whose size field holds this value instead of the computed size.
  TD WithSize(uInt16 size) const;

  // The parts of a TD after its header.
  struct Part {
    enum Kind { kI16, kI32, kBytes, kChild } kind;
    int32 value = 0;
    std::vector<uChar> bytes;
    std::shared_ptr<const TD> child;
  };
  TD(uChar code, std::vector<Part> parts) : code_(code), parts_(std::move(parts)) {}

 private:
  friend TD Raw(std::vector<uChar> memoryBytes);
  void Emit(std::vector<uChar>& out, Order order) const;

  uChar code_;
  uChar flags_ = 0;
  std::vector<Part> parts_;
  bool named_ = false;
  std::string name_;
  uChar pad_ = 0;
  bool sizeOverride_ = false;
  uInt16 size_ = 0;
  bool raw_ = false;  // parts_ hold the whole TD in memory order
};

// Field parts, for TDs built by hand.
TD::Part I16Part(int32 v);
TD::Part I32Part(int32 v);
TD::Part BytesPart(std::vector<uChar> bytes);
TD::Part PStrPart(const std::string& s, bool padToEven = true);
TD::Part ChildPart(const TD& td);

// Header-only TDs of any code (numerics, booleans, void, 0x34 to 0x36 ...).
TD Header(uChar code);
TD Void();
TD I8();
TD I16();
TD I32();
TD I64();
TD U8();
TD U16();
TD U32();
TD U64();
TD SGL();
TD DBL();
TD EXT();
TD CSG();
TD CDB();
TD CXT();
TD Boolean();
TD OldBoolean();

// Strings, paths and their variants: current form with a bound field
// (kTDVariable, TDFixed(n) or a bound n), or the old 4-byte form.
TD String(int32 bound = kTDVariable);
TD Path(int32 bound = kTDVariable);
TD StringOf(uChar code, int32 bound = kTDVariable);
TD OldString(uChar code = kTDString);
TD StringView(int32 bound = kTDVariable);
TD Handle(int16 kind = 0);

// Arrays with one dimension field per dimension.
TD Array(const TD& elem, std::vector<int32> dims = {kTDVariable});
TD ArrayView(const TD& elem, std::vector<int32> dims = {kTDVariable});
TD Cluster(std::vector<TD> elems);
TD Union(std::vector<TD> elems);

// Enumerations of U8, U16 or U32 (code 0x15, 0x16, 0x17) and numerics with units.
TD Enum(uChar code, std::vector<std::string> items);
TD Unit(uChar code, std::vector<std::pair<int16, int16>> entries);

TD Block(int32 bytes);
TD Wrapper(const TD& inner);   // 0x61
TD TypeOnly(const TD& inner);  // 0x62
TD TypedRef(const TD& inner);  // 0x83
TD Variant(int16 kind = kVariantOle);
TD Function(int16 paneWord, std::vector<uInt16> flagWords, std::vector<TD> connectors);
TD Typedef(const std::string& name, const TD& wrapped, int32 word = 0);

// Refnums: a kind without further part, a datalog refnum with its record TD,
// kinds 6, 7 and 10 with their string, kind 8 with a subclass (and its int16)
// or with subclass 2 and a TD.
TD Refnum(int16 kind);
TD DatalogRefnum(const TD& record);
TD NamedRefnum(int16 kind, const std::string& name);
TD ObjectRefnum(int16 subclass, int16 value = 0);
TD ObjectRefnum(const TD& type);
// An automation refnum (kind 7) of records after its count byte: a class
// record {2, class id} or an interface record {1, interface id, value,
// major and minor version}, each field in the TD's byte order.
struct AutoRecord {
  int32 kind;  // 2 class, 1 interface
  uInt32 d1;
  uInt16 d2, d3;
  std::vector<uChar> d4;  // 8 bytes
  uInt32 value = 0;
  uInt16 major = 0, minor = 0;
};
TD AutoRefnum(const std::vector<AutoRecord>& records);

// Bytes taken as they are (memory order only).
TD Raw(std::vector<uChar> memoryBytes);

// The bytes seen as a TD.
inline TypeDescriptor* AsTD(std::vector<uChar>& bytes) {
  return reinterpret_cast<TypeDescriptor*>(bytes.data());
}
inline const TypeDescriptor* AsTD(const std::vector<uChar>& bytes) {
  return reinterpret_cast<const TypeDescriptor*>(bytes.data());
}

}  // namespace tdb
