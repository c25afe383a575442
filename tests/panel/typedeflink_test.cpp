// What the linker asks of the object system: class ids by name and the link
// of a type-definition object to its VI.
#include <gtest/gtest.h>

#include <string>

#include "engine/link/linker.h"
#include "mgsource/path_test_util.h"
#include "panel_test_support.h"

namespace {

using pathtest::PS;

class Boundary : public ptest::PanelTest {};

TEST_F(Boundary, ClassIdsAreFoundByTheirExactName) {
  struct Case {
    const char* name;
    int32 id;
  } cases[] = {{"Knob", 89}, {"Type Definition", 100}, {"SubVIFromSel Backup", 177},
               {"knob", 0},  {"BadProc", 0},           {"", 0},
               {"Knob ", 0}};
  for (const Case& c : cases) EXPECT_EQ(ClassIdByName(PS(c.name)), c.id) << c.name;
  EXPECT_EQ(ClassIdByName(nullptr), 0);
  // Every class maps back to its own id.
  const ObjClassRecord* const* t = ClassIdTable();
  for (int32 id = 1; id < kClassIdCount; ++id)
    if (t[id]->methodCount) { EXPECT_EQ(ClassIdByName(t[id]->name), id); }
  // The linker asks the object system first.
  uInt32 out = 0;
  EXPECT_EQ(FindOrLoadLinkItem(PS("Knob"), FourCC("QXCC"), &out), 1);
  EXPECT_EQ(out, 89u);
}

TEST_F(Boundary, ATypeDefinitionIsLinkedToAViAndItsStaleMarkCleared) {
  const int32 td = vib::NewObject(panel_, kClassTypeDef, 52, 0, 0, 0);
  ASSERT_NE(td, 0);
  ObjSetWord(panel_, td, 0, int32(kTypeDefLinkStale | 0x8));
  EXPECT_EQ(TypeDefGetLink(panel_, td), nullptr) << "a stale link reads as none";
  ASSERT_NE(LinkPanel().typeDefSetLink, nullptr);
  LinkPanel().typeDefSetLink(panel_, td, vi_);
  EXPECT_EQ(uInt32(ObjWord(panel_, td, kTypeDefLinkWord)), uInt32(uintptr_t(vi_)));
  EXPECT_EQ(uInt32(ObjWord(panel_, td, 0)), 0x8u);
  EXPECT_EQ(TypeDefGetLink(panel_, td), vi_);
  TypeDefSetLink(panel_, td, nullptr);
  EXPECT_EQ(TypeDefGetLink(panel_, td), nullptr);
  // The flag bits the linker sets and clears.
  EXPECT_EQ(LinkPanel().objectFlags(panel_, td, 0x40000, 0), 0x8u);
  EXPECT_EQ(LinkPanel().objectFlags(panel_, td, 0, 0x40008), 0x40008u);
  EXPECT_EQ(uInt32(ObjWord(panel_, td, 0)), 0u);
}

TEST_F(Boundary, AnObjectOfAnotherClassIsRefused) {
  const int32 knob = vib::NewObject(panel_, 89, 68, 0, 0, 0);
  ASSERT_NE(knob, 0);
  ObjSetWord(panel_, knob, kTypeDefLinkWord, 1234);
  ClearReports();
  TypeDefSetLink(panel_, knob, vi_);
  EXPECT_EQ(TypeDefGetLink(panel_, knob), nullptr);
  EXPECT_EQ(ObjWord(panel_, knob, kTypeDefLinkWord), 1234);
  EXPECT_EQ(qxtest::Reports::Get().Count("type-definition link of an object of another class"), 2);
}

}  // namespace
