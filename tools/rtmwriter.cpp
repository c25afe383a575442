#include "tools/rtmwriter.h"

#include <cstring>

#include "mgsource/byteorder.h"
#include "mgsource/fourcc.h"
#include "mgsource/window/textrec.h"

namespace rtmw {
namespace {

void Put32(rsrcw::Bytes* b, uInt32 v) {
  uChar w[4];
  PutBE32(w, v);
  b->insert(b->end(), w, w + 4);
}
void PutStr(rsrcw::Bytes* b, const std::string& s) {
  Put32(b, uInt32(s.size()));
  b->insert(b->end(), s.begin(), s.end());
}
uInt32 Hash(const std::string& tag) {
  uChar p[256];
  p[0] = uChar(tag.size() > 255 ? 255 : tag.size());
  std::memcpy(p + 1, tag.data(), p[0]);
  return PStrHash(p, 1);
}

}  // namespace

std::vector<Item> FromTexts(const rtmtexts::MenuItemText* items, size_t count) {
  std::vector<Item> out;
  for (size_t i = 0; i < count; ++i)
    out.push_back(Item{items[i].level, items[i].name, items[i].tag, items[i].flags, items[i].shortcut});
  return out;
}

rsrcw::Bytes Description(const std::vector<Item>& items, uInt32 version) {
  rsrcw::Bytes b;
  const bool current = version == 0x01010000;
  if (current) {
    Put32(&b, 0x00010000);
    Put32(&b, 0);
    Put32(&b, 2);
    Put32(&b, 1);
  }
  Put32(&b, uInt32(items.size()));
  for (const Item& it : items) {
    Put32(&b, it.level);
    PutStr(&b, it.name);
    PutStr(&b, it.tag);
    if (current) Put32(&b, Hash(it.tag));
    Put32(&b, it.flags);
    PutStr(&b, it.shortcut);
  }
  return b;
}

rsrcw::Bytes File(const std::vector<Item>& items, uInt32 version) {
  // The signature, a counted string.
  static constexpr uChar kSignature[] = "\x0D" "Run-Time Menu";
  rsrcw::Bytes b(kSignature, kSignature + sizeof kSignature - 1);
  Put32(&b, version);
  const rsrcw::Bytes d = Description(items, version);
  b.insert(b.end(), d.begin(), d.end());
  return b;
}

rsrcw::Bytes Rsrc(const std::vector<Item>& items, uInt32 version) {
  rsrcw::Bytes b;
  Put32(&b, version);
  const rsrcw::Bytes d = Description(items, version);
  b.insert(b.end(), d.begin(), d.end());
  return b;
}

void AddRunTimeMenus(rsrcw::Writer* writer) {
  using namespace rtmtexts;
  writer->Add(FourCC("RTMN"), 100, Rsrc(FromTexts(kAppMenu, std::size(kAppMenu))), std::string("Application Menu"));
  writer->Add(FourCC("RTMN"), 101, Rsrc(FromTexts(kMinimalMenu, std::size(kMinimalMenu))),
              std::string("Minimal Menu"));
  const std::string missing(kMissingRsrcText);
  writer->Add(FourCC("STR "), 2021, rsrcw::BytesOf(char(missing.size()) + missing));
  writer->Add(FourCC("STR#"), 18200, rsrcw::StrList({std::begin(kSpecialTags), std::end(kSpecialTags)}));
  writer->Add(FourCC("STR#"), 18201, rsrcw::StrList({std::begin(kKeyNames), std::end(kKeyNames)}));
  writer->Add(FourCC("STR#"), 18202, rsrcw::StrList({std::begin(kMenuErrors), std::end(kMenuErrors)}));
}

}  // namespace rtmw
