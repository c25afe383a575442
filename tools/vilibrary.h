// A writer of VI libraries for tests and application builds, on the
// resource-file writer and the engine's stored layout (engine/vi/archive_format.h).
//
//   qxbuild::VILibraryWriter lib("demo.qlb");
//   lib.Add(qxbuild::MakeMember("main.vi", kTypeVI, {}, kFlagTopLevel));
//   rsrcw::Bytes file = lib.Write();
//
// Members get the ids 1, 2, ... in the order they are added; the directory
// lists them in that order.  Write gives a whole library file; AddTo puts
// the same resources into another writer (an application file, which is the
// run-time resource file and the application's library at once).
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/vi/archive_format.h"
#include "tools/rsrcwriter.h"

namespace qxbuild {

typedef std::vector<std::pair<uInt32, rsrcw::Bytes>> ResourceList;

struct LibraryMember {
  std::string name;
  uInt32 type = archfmt::kTypeVI;
  rsrcw::Bytes file;       // the member file's bytes, stored compressed
  uInt32 flags = 0;        // archfmt::kFlagTopLevel for a top-level member
  uInt32 version = archfmt::kRunTimeVersion;
  uInt32 modDate = 0, date2 = 0;
  ResourceList copied;     // its own resources of id 0, copied beside it
  std::optional<std::string> paletteText;  // STR# beside it when it is in a palette
};

// A member file: a resource file of the member's type holding a QXIN header
// (452 bytes, the version at 96) unless the type is QXSB, the given
// resources of id 0 and, when padding is not 0, a DATA resource of that
// many bytes of the given pattern (to make large members).
LibraryMember MakeMember(const std::string& name, uInt32 type, const ResourceList& own = {}, uInt32 flags = 0,
                         uInt32 version = 0x05008007, size_t padding = 0, uChar pattern = 0);

// The palette resources.
struct PaletteItem {
  int32 id;
  int32 flags;
  int32 kind;
  std::string text;
};
rsrcw::Bytes PaletteResource(int32 columns, const std::vector<PaletteItem>& items);     // PLM2, markers -1
rsrcw::Bytes PaletteNames(const std::vector<std::string>& names);                       // CPST
rsrcw::Bytes OldPaletteResource(int32 columns, const std::vector<PaletteItem>& items);  // PALM

// CPRF bytes of a file.
rsrcw::Bytes CompressMember(const rsrcw::Bytes& file);
// The ADir bytes of the members, ids from 1.
rsrcw::Bytes Directory(const std::vector<LibraryMember>& members);

// The icon family of the palette images 6001 and 6002 (ICON, icl4, icl8,
// ICN#), which the run-time resource file carries and new libraries copy.
ResourceList PaletteImage(int32 which);

class VILibraryWriter {
 public:
  // title: the name whose part before its first "." titles the palettes.
  explicit VILibraryWriter(const std::string& title) : title_(title) {}
  void Add(const LibraryMember& member) { members_.push_back(member); }
  // Replaces the palette resources of the VI (-1) or control (-2) palette;
  // without a call both are empty.  WithoutPalettes leaves PLM2 and CPST out
  // (a library of an older version, with its PALM).
  void SetPalette(int32 paletteId, const rsrcw::Bytes& entries, const rsrcw::Bytes& names);
  void SetOldPalette(int32 paletteId, const rsrcw::Bytes& palm);
  void WithoutPalettes() { palettes_ = false; }
  const std::vector<LibraryMember>& Members() const { return members_; }

  void AddTo(rsrcw::Writer* writer) const;
  rsrcw::Bytes Write() const;

 private:
  std::string title_;
  std::vector<LibraryMember> members_;
  bool palettes_ = true;
  rsrcw::Bytes entries_[2], names_[2], old_[2];
};

}  // namespace qxbuild
