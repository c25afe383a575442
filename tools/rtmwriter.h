// A writer of run-time menu descriptions, files and 'RTMN' resources, and
// the run-time resource file's run-time menu resources.
#pragma once
#include <string>
#include <vector>

#include "engine/exec/rtmtexts.h"
#include "tools/rsrcwriter.h"

namespace rtmw {

struct Item {
  uInt32 level;
  std::string name, tag;
  uInt32 flags;
  std::string shortcut;
};
std::vector<Item> FromTexts(const rtmtexts::MenuItemText* items, size_t count);

// A description of the version: the current layout (format word, three
// header words, items with their tag hash) or the old one (items alone,
// without the hash).
rsrcw::Bytes Description(const std::vector<Item>& items, uInt32 version = 0x01010000);
// A file: the signature's length byte, the signature, the version, the
// description.
rsrcw::Bytes File(const std::vector<Item>& items, uInt32 version = 0x01010000);
// An 'RTMN' body: the version, then the description.
rsrcw::Bytes Rsrc(const std::vector<Item>& items, uInt32 version = 0x01010000);

// 'RTMN' 100 "Application Menu" and 101 "Minimal Menu", 'STR ' 2021 and the
// lists 18200 to 18202.
void AddRunTimeMenus(rsrcw::Writer* writer);

}  // namespace rtmw
