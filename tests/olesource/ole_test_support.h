// Shared pieces of the automation tests: type handles made from the type
// builder, variants made and read back, and a started client with the test
// dispatch class registered.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/datamgr.h"
#include "engine/datasupp.h"
#include "engine/engine_test_support.h"
#include "mgsource/memory.h"
#include "mgsource/prefs.h"
#include "olesource/oleautomgr.h"
#include "olesource/olestart.h"
#include "olesource/olevar.h"
#include "tools/tdbuilder.h"
#include "tools/testdispatch.h"

namespace oletest {

// A type descriptor in a handle of its own, as compiled code passes types.
class TypeHandle {
 public:
  explicit TypeHandle(const tdb::TD& td) {
    const std::vector<uChar> b = td.Bytes();
    h_ = DSNewHandle(int32(b.size()));
    std::memcpy(*h_, b.data(), b.size());
  }
  ~TypeHandle() { DSDisposeHandle(h_); }
  TypeHandle(const TypeHandle&) = delete;
  TypeHandle& operator=(const TypeHandle&) = delete;
  UHandle h() const { return h_; }
  const TypeDescriptor* td() const { return reinterpret_cast<const TypeDescriptor*>(*h_); }

 private:
  UHandle h_;
};

// A datum of the type, initialised, disposed at the end.
class Data {
 public:
  explicit Data(const TypeHandle& t) : t_(t), bytes_(size_t(DataSize(t.td())) + 1, 0) {
    EXPECT_EQ(InitEmptyData(t.td(), p()), kNoErr);
  }
  ~Data() { DisposeData(t_.td(), p(), p() + DataSize(t_.td())); }
  uChar* p() { return bytes_.data(); }
  template <typename V>
  V Get(int32 off = 0) const {
    V v;
    std::memcpy(&v, bytes_.data() + off, sizeof v);
    return v;
  }
  template <typename V>
  void Set(V v, int32 off = 0) {
    std::memcpy(bytes_.data() + off, &v, sizeof v);
  }

 private:
  const TypeHandle& t_;
  std::vector<uChar> bytes_;
};

inline PlatVariant Var(uInt16 vt) {
  PlatVariant v;
  PlatVariantInit(&v);
  v.vt = vt;
  return v;
}
inline PlatVariant VarI4(int32 x) {
  PlatVariant v = Var(kPlatVtI4);
  v.i4 = x;
  return v;
}
inline PlatVariant VarText(const std::string& s) {
  PlatVariant v = Var(kPlatVtBstr);
  v.bstr = PlatBstrFromText(s.data(), uInt32(s.size()));
  return v;
}
inline std::string BstrString(const uInt16* s) {
  std::string t(PlatBstrLength(s), '\0');
  PlatBstrToText(s, uInt32(t.size()), t.data(), uInt32(t.size()));
  return t;
}
inline std::string LStrString(LStrHandle h) {
  return h && *h ? std::string(reinterpret_cast<const char*>((*h)->str), size_t((*h)->cnt)) : std::string();
}

// The client started (single-threaded unless asked), the variant type's
// procedures and the refnum type hooks installed, the test classes
// registered; everything put back at the end.
class ClientTest : public qxtest::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    OleInstallEngineHooks();
    TestDispatchRegister();
    strings_ = PlatBstrLiveCount();
    arrays_ = PlatSafeArrayLiveCount();
  }
  void TearDown() override {
    AutomationExit();
    PrefSet(kPrefActiveXFreeThreaded, 0);
    TestDispatchRevoke();
    EXPECT_EQ(TestDispatchCountsNow().live, 0) << "every object made was given back";
    EXPECT_EQ(PlatBstrLiveCount(), strings_);
    EXPECT_EQ(PlatSafeArrayLiveCount(), arrays_);
    SetVariantDataProcs(nullptr);
    EngineTest::TearDown();
  }
  static tdb::TD ClassType() {
    return tdb::AutoRefnum({{kAutoRecClass, kTestDispatchClass.data1, kTestDispatchClass.data2, kTestDispatchClass.data3,
                             std::vector<uChar>(kTestDispatchClass.data4, kTestDispatchClass.data4 + 8)}});
  }
  static tdb::TD TwinType() {
    const PlatGuid& g = kTestDispatchTwinClass;
    return tdb::AutoRefnum({{kAutoRecClass, g.data1, g.data2, g.data3, std::vector<uChar>(g.data4, g.data4 + 8)}});
  }

 private:
  int32 strings_ = 0, arrays_ = 0;
};

}  // namespace oletest
