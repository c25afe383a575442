// Shared set-up of the format and scan tests: the managers and the unit table
// started, long strings made and read, and argument lists of every class
// built in C++ as compiled code lays them out.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/data_test_util.h"
#include "engine/engine_test_support.h"
#include "mgsource/memory.h"
#include "mgsource/path.h"
#include "rtlib/fmtitems.h"
#include "rtlib/units.h"
#include "tools/tdbuilder.h"

namespace fmttest {

class FormatTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(UnitsInit(), kNoErr);
  }
};

// A data-zone string handle holding the text, and the text of a handle.
using dtest::NewLStr;
inline LStrHandle NewStr(const std::string& s) { return NewLStr(s); }
inline std::string Text(LStrHandle h) { return dtest::Str(h); }
inline void Dispose(LStrHandle h) {
  if (h) DSDisposeHandle(reinterpret_cast<UHandle>(h));
}
inline Path NewPath(const std::string& text) {
  Path p = nullptr;
  FTextToPath(reinterpret_cast<const uChar*>(text.data()), int32(text.size()), &p);
  return p;
}
inline std::string PathText(Path p) {
  LStr len;
  len.cnt = -1;
  if (!p || FPathToText(p, &len) != kNoErr) return "<bad path>";
  std::vector<uChar> buf(size_t(len.cnt) + 4);
  LStr* b = reinterpret_cast<LStr*>(buf.data());
  b->cnt = 0;
  FPathToText(p, b);
  return std::string(reinterpret_cast<const char*>(b->str), size_t(b->cnt));
}

// Argument lists: each value with its own descriptor and data block, kept at
// fixed addresses; handles are disposed with the list.
class Args {
 public:
  Args() = default;
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  ~Args() {
    for (size_t i = 0; i < tds_.size(); ++i) {
      int32 code = tds_[i]->size() >= 4 ? (*tds_[i])[2] : 0;
      void* d = data_[i].get();
      if (code == kTDString || code == kTDString37) Dispose(*static_cast<LStrHandle*>(d));
      if (code == kTDPath && *static_cast<Path*>(d)) FDisposePath(*static_cast<Path*>(d));
    }
  }

  template <class T>
  Args& Num(const tdb::TD& td, T v) {
    return Add(td, &v, sizeof v);
  }
  Args& I8(int8 v) { return Num(tdb::I8(), v); }
  Args& I16(int16 v) { return Num(tdb::I16(), v); }
  Args& I32(int32 v) { return Num(tdb::I32(), v); }
  Args& I64(int64 v) { return Num(tdb::I64(), v); }
  Args& U8(uInt8 v) { return Num(tdb::U8(), v); }
  Args& U16(uInt16 v) { return Num(tdb::U16(), v); }
  Args& U32(uInt32 v) { return Num(tdb::U32(), v); }
  Args& U64(uInt64 v) { return Num(tdb::U64(), v); }
  Args& SGL(float32 v) { return Num(tdb::SGL(), v); }
  Args& DBL(float64 v) { return Num(tdb::DBL(), v); }
  Args& EXT(long double v) { return Add(tdb::EXT(), &v, 10); }
  Args& CSG(float32 re, float32 im) {
    float32 v[2] = {re, im};
    return Add(tdb::CSG(), v, sizeof v);
  }
  Args& CDB(float64 re, float64 im) {
    float64 v[2] = {re, im};
    return Add(tdb::CDB(), v, sizeof v);
  }
  Args& CXT(long double re, long double im) {
    uChar v[20];
    std::memcpy(v, &re, 10);
    std::memcpy(v + 10, &im, 10);
    return Add(tdb::CXT(), v, sizeof v);
  }
  Args& Bool(bool b) {
    uChar v = b;
    return Add(tdb::Boolean(), &v, 1);
  }
  Args& Str(const std::string& s, uChar code = kTDString) {
    LStrHandle h = NewStr(s);
    return Add(tdb::StringOf(code), &h, sizeof h);
  }
  Args& NullStr() {
    LStrHandle h = nullptr;
    return Add(tdb::String(), &h, sizeof h);
  }
  Args& PathArg(const std::string& text) {
    Path p = NewPath(text);
    return Add(tdb::Path(), &p, sizeof p);
  }
  Args& PathHandle(Path p) { return Add(tdb::Path(), &p, sizeof p); }
  // An enum of the code (0x15 to 0x17) with the items, holding value.
  Args& Enum(uChar code, const std::vector<std::string>& items, uInt32 value) {
    int32 size = code == kTDEnumU8 ? 1 : code == kTDEnumU16 ? 2 : 4;
    return Add(tdb::Enum(code, items), &value, size);
  }
  // A numeric with a unit: code 0x19 to 0x1E, the pairs of its dimension
  // list, the value's bytes.
  Args& Unit(uChar code, std::vector<std::pair<int16, int16>> dims, const void* value, int32 size) {
    return Add(tdb::Unit(code, std::move(dims)), value, size);
  }
  Args& UnitDBL(std::vector<std::pair<int16, int16>> dims, float64 v) {
    return Unit(kTDUnitDBL, std::move(dims), &v, sizeof v);
  }
  Args& UnitCDB(std::vector<std::pair<int16, int16>> dims, float64 re, float64 im) {
    float64 v[2] = {re, im};
    return Unit(kTDUnitCDB, std::move(dims), v, sizeof v);
  }
  // Any descriptor with a block of data of the given size.
  Args& Raw(const tdb::TD& td, const void* value, int32 size) { return Add(td, value, size); }

  int32 Count() const { return int32(tds_.size()); }
  const TypeDescriptor* TD(int32 i) const { return tdb::AsTD(*tds_[size_t(i)]); }
  void* Data(int32 i) const { return data_[size_t(i)].get(); }
  // The list as compiled code passes it.
  FmtArgList* List() {
    list_.assign(4 + 8 * tds_.size() + 8, 0);
    FmtArgList* l = reinterpret_cast<FmtArgList*>(list_.data());
    l->errIndex = -7;
    for (size_t i = 0; i < tds_.size(); ++i) {
      l->args[i].type = TD(int32(i));
      l->args[i].data = Data(int32(i));
    }
    return l;
  }
  int32 ErrIndex() const { return reinterpret_cast<const FmtArgList*>(list_.data())->errIndex; }

  template <class T>
  T Get(int32 i) const {
    T v;
    std::memcpy(&v, Data(i), sizeof v);
    return v;
  }
  LStrHandle StrAt(int32 i) const { return *static_cast<LStrHandle*>(Data(i)); }
  Path PathAt(int32 i) const { return *static_cast<Path*>(Data(i)); }

 private:
  Args& Add(const tdb::TD& td, const void* value, size_t size) {
    tds_.push_back(std::make_unique<std::vector<uChar>>(td.Bytes()));
    // Exactly the value's size, so that reads and writes past it are seen.
    data_.emplace_back(new uChar[size]);
    std::memcpy(data_.back().get(), value, size);
    return *this;
  }
  std::vector<std::unique_ptr<std::vector<uChar>>> tds_;
  std::vector<std::unique_ptr<uChar[]>> data_;
  std::vector<uChar> list_;
};

}  // namespace fmttest
