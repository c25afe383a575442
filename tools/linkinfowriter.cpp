#include "tools/linkinfowriter.h"

#include <cstring>

#include "engine/stdize.h"
#include "mgsource/byteorder.h"

namespace liw {

namespace {

void Put16(std::vector<uChar>* out, uInt32 v) {
  const size_t at = out->size();
  out->resize(at + 2);
  PutBE16(out->data() + at, uInt16(v));
}
void Put32(std::vector<uChar>* out, uInt32 v) {
  const size_t at = out->size();
  out->resize(at + 4);
  PutBE32(out->data() + at, v);
}
void PutCode(std::vector<uChar>* out, uInt32 code) {
  const uChar* c = reinterpret_cast<const uChar*>(&code);  // the characters in reading order
  out->insert(out->end(), c, c + 4);
}
bool PutName(std::vector<uChar>* out, const std::string& name) {
  if (name.size() > 255) return false;
  out->push_back(uChar(name.size()));
  out->insert(out->end(), name.begin(), name.end());
  if ((1 + name.size()) & 1) out->push_back(0);
  return true;
}
// The count word and the block's words in file order.
bool PutTypeBlock(std::vector<uChar>* out, uInt32 refClass, const std::vector<uChar>& block) {
  if (block.empty()) {
    Put16(out, 0);
    return true;
  }
  const size_t len = block.size();
  if (len < 4 || (len & 1) || len / 2 - 1 > size_t(kLinkInfoMaxWords) || GetNative16(block.data()) != len)
    return false;
  std::vector<uChar> file(block);
  if (refClass == kLinkClassCodes[kLinkClassGenH]) {
    if (len != size_t(kGenhBlockSize)) return false;
    PutBE32(file.data() + kGenhBlockId, GetNative32(block.data() + kGenhBlockId));
  } else if (StandardizeTDBounded(file.data(), kToFileOrder, 0, int32(len)) != kNoErr) {
    return false;
  }
  Put16(out, uInt32(len / 2 - 1));
  out->insert(out->end(), file.begin() + 2, file.end());
  return true;
}

}  // namespace

std::vector<uChar> Write(const LinkInfoRecords& info, Layout* layout) {
  Layout lay;
  std::vector<uChar> out;
  Put16(&out, kLinkInfoItemTag);
  PutCode(&out, info.classCode);
  if (!PutName(&out, info.name) || (info.itemWords.size() & 1) || info.itemWords.size() / 2 > 0xFFFF) return {};
  Put16(&out, uInt32(info.itemWords.size() / 2));
  out.insert(out.end(), info.itemWords.begin(), info.itemWords.end());
  lay.countAt = int32(out.size());
  Put32(&out, uInt32(info.refs.size()));
  for (const LinkInfoRef& ref : info.refs) {
    lay.refAt.push_back(int32(out.size()));
    Put16(&out, kLinkInfoRefTag);
    PutCode(&out, ref.classCode);
    if (!PutName(&out, ref.name)) return {};
    Put32(&out, uInt32(ref.sites.size()));
    for (int32 s : ref.sites) Put32(&out, uInt32(s));
    if (!PutTypeBlock(&out, ref.classCode, ref.typeBlock)) return {};
    lay.pathAt.push_back(int32(out.size()));
    out.insert(out.end(), ref.flatPath.begin(), ref.flatPath.end());
    if (out.size() & 1) out.push_back(0);
  }
  lay.endAt = int32(out.size());
  Put16(&out, kLinkInfoEndTag);
  if (layout) *layout = lay;
  return out;
}

std::vector<uChar> GenhBlock(uInt32 rsrcType, int32 id) {
  std::vector<uChar> block(kGenhBlockSize);
  PutNative16(block.data(), kGenhBlockSize);
  std::memcpy(block.data() + kGenhBlockType, &rsrcType, 4);
  PutNative32(block.data() + kGenhBlockId, uInt32(id));
  return block;
}

std::vector<uChar> FlatPath(Path p) {
  const int32 n = FFlattenPath(p, nullptr);
  if (n <= 0) return {};
  std::vector<uChar> out(static_cast<size_t>(n));
  FFlattenPath(p, out.data());
  return out;
}

}  // namespace liw
