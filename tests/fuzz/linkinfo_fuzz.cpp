// Link information from files: the first byte picks the resource type, the
// rest is the resource.  The check must read it without a report; what it
// accepts must write out again to the same records, and the bytes it read
// may differ from the written ones only in pad bytes.  Reading it into the
// link table (loads answer from a fixed table and load nothing) either
// refuses it, leaving the table as it was with the type's load error, or
// enters the item and at most one reference per name and class; removing
// the item then leaves an empty table and no handle behind.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/link/linkinfo.h"
#include "engine/vi/dataspace.h"
#include "engine/vi/loaderr.h"
#include "engine/vi/virecord.h"
#include "fuzz_support.h"
#include "tests/engine/link_check.h"
#include "tools/linkinfowriter.h"

namespace {

const uInt32 kTypes[] = {kLinkInfoVI, kLinkInfoPanel, kLinkInfoDataSpace, kLinkInfoSubr};

int gAlerts = 0;
int32_t CountingAlert(const char* title, const char* text, int32_t buttons, int32_t icon) {
  ++gAlerts;
  return FuzzAbortWhenArmed(title, text, buttons, icon);
}

// The loads: answers by the name's first character, nothing entered.
std::vector<int32> gAnswers;
int32 FixedLoad(ConstPStr name, Path, Path, uInt32, const void*, int32) {
  static const int32 kAnswer[8] = {0, 1, 2, 5, 6, 0, 0, 1};
  const int32 a = kAnswer[(name[0] ? name[1] : 0) & 7];
  gAnswers.push_back(a);
  return a;
}

int32 NameChainBlocks() {
  int32 n = 0;
  const int32 ext = int32(OHWord(gLinkNameHeap, kOHExtension));
  for (int32 b = 0; b < kLinkBucketCount; ++b)
    for (int32 at = int32(GetNative32(*gLinkNameHeap + ext + 4 * b)); at;
         at = int32(GetNative32(*gLinkNameHeap + at + kNameBlockNext)))
      ++n;
  return n;
}

std::string Folded(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return out;
}

void CheckRoundTrip(const uint8_t* data, int32 size, uInt32 type, const LinkInfoRecords& recs, int32 used) {
  FUZZ_CHECK(used > 0 && used <= size && used % 2 == 0);
  const std::vector<uChar> out = liw::Write(recs);
  FUZZ_CHECK(int32(out.size()) == used);
  for (int32 i = 0; i < used; ++i) FUZZ_CHECK(out[size_t(i)] == data[i] || out[size_t(i)] == 0);
  LinkInfoRecords again;
  int32 used2 = 0;
  FUZZ_CHECK(ParseLinkInfo(out.data(), int32(out.size()), type, &again, &used2) == kNoErr);
  FUZZ_CHECK(used2 == used && again == recs);
}

void RunOne(uInt32 type, const uint8_t* res, int32 n) {
  LinkInfoRecords recs;
  int32 used = 0;
  FuzzArmed() = true;
  const MgErr parsed = ParseLinkInfo(res, n, type, &recs, &used);
  FuzzArmed() = false;
  if (parsed == kNoErr) CheckRoundTrip(res, n, type, recs, used);
  else FUZZ_CHECK(parsed == kArgErr);

  if (!linkcheck::StartLinker() || !gLinkHeap || !gLinkNameHeap) return;  // (never: memory is plenty)
  LinkLoadMethods m{};
  for (auto& l : m.load) l = &FixedLoad;
  SetLinkLoadMethods(&m);
  gAnswers.clear();

  linkcheck::TestVIs vis;
  UHandle vi = vis.New("Item");
  if (!vi) return;
  UHandle ds = VIRec(vi)->dataSpace;
  ObjHeap panel = OHNewHeap(256, FourCC("FPHP"), 0, 0);
  static uint8_t subr[64];
  const void* item = type == kLinkInfoVI ? static_cast<const void*>(vi)
                     : type == kLinkInfoPanel ? static_cast<const void*>(panel)
                     : type == kLinkInfoDataSpace ? static_cast<const void*>(ds)
                                                  : static_cast<const void*>(subr);
  UHandle h = AZNewHandle(n);
  if (h && n) std::memcpy(*h, res, size_t(n));

  gQXLoadErrorCode = 0;
  gAlerts = 0;
  MgErr err = 1;
  const int32 result = h ? ReadLinkInfo(item, h, nullptr, type, &err) : 0;
  FUZZ_CHECK(linkcheck::Walk().empty());
  if (h && parsed != kNoErr) {
    FUZZ_CHECK(err == kArgErr && result == 0);
    FUZZ_CHECK(gQXLoadErrorCode == LinkInfoLoadError(type));
    FUZZ_CHECK(gAnswers.empty() && gAlerts == 0);
    FUZZ_CHECK(reinterpret_cast<uInt32*>(*gLinkTable)[kLinkHdrFreeCount] == uInt32(kLinkTableInitial - 1));
    FUZZ_CHECK(NameChainBlocks() == 0);
  } else if (h && err == kNoErr) {
    Str255 name;
    name[0] = uChar(recs.name.size());
    std::memcpy(name + 1, recs.name.data(), recs.name.size());
    int32 entry = 0;
    FUZZ_CHECK(LookupLinkItem(name, recs.classCode, &entry) == 1);
    // One reference per name and class, each site from a record of its own.
    std::set<std::pair<std::string, uInt32>> distinct;
    for (const LinkInfoRef& r : recs.refs) distinct.insert({Folded(r.name), r.classCode});
    std::set<std::pair<std::string, uInt32>> seen;
    int32 refs = 0;
    for (int32 r = LE(entry).ownRefs; r; r = LE(r).ownRefs) {
      ++refs;
      ConstPStr rn = LinkNameOf(LE(r).name);
      const std::string key = Folded(std::string(reinterpret_cast<const char*>(rn + 1), rn[0]));
      const uInt32 code = kLinkClassCodes[LinkEntryClass(LE(r))];
      FUZZ_CHECK(seen.insert({key, code}).second);
      // The first record's sites as stored, then the others' new ones.
      std::set<int32> sites;
      size_t stored = 0;
      for (const LinkInfoRef& rec : recs.refs) {
        if (Folded(rec.name) != key || rec.classCode != code) continue;
        stored += stored ? 0 : rec.sites.size();
        sites.insert(rec.sites.begin(), rec.sites.end());
      }
      const int32 count = ObjListCount(gLinkHeap, LE(r).sites);
      FUZZ_CHECK(size_t(count) <= stored + sites.size());
      for (int32 i = 0; i < count; ++i) FUZZ_CHECK(sites.count(ObjListGet(gLinkHeap, LE(r).sites, i)) == 1);
    }
    FUZZ_CHECK(refs <= int32(distinct.size()));
    // No load after a 6 or a 5; the result is the rule's.
    for (size_t i = 0; i + 1 < gAnswers.size(); ++i) FUZZ_CHECK(gAnswers[i] != 6 && gAnswers[i] != 5);
    if (!gAnswers.empty() && (gAnswers.back() == 5 || gAnswers.back() == 6)) FUZZ_CHECK(result == gAnswers.back());
    FUZZ_CHECK(result == 0 || result == 1 || result == 2 || result == 5 || result == 6);
    UnlinkItemByName(name, recs.classCode);
    FUZZ_CHECK(linkcheck::Walk().empty());
    FUZZ_CHECK(reinterpret_cast<uInt32*>(*gLinkTable)[kLinkHdrFreeCount] == uInt32(kLinkTableInitial - 1));
    FUZZ_CHECK(NameChainBlocks() == 0);
  }
  if (h) AZDisposeHandle(h);
  OHDisposeHeap(panel);
  vis.Clear();
  linkcheck::DisposeTables();
  SetLinkLoadMethods(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool init = FuzzStartManagers(&CountingAlert);
  if (!init || size < 1 || size > 8192) return 0;
  const uInt32 type = kTypes[data[0] & 3];
  const uint8_t* res = data + 1;
  const int32 n = int32(size - 1);

  // The first run makes the blocks that live for the whole process.
  static const bool warm = [] {
    LinkInfoRecords w;
    w.classCode = FourCC("VIDS");
    w.name = "Item";
    w.refs.resize(2);
    for (LinkInfoRef& r : w.refs) {
      r.classCode = FourCC("GENH");
      r.name = "Res";
      r.flatPath = liw::FlatPath(nullptr);
    }
    const std::vector<uChar> bytes = liw::Write(w);
    RunOne(kLinkInfoDataSpace, bytes.data(), int32(bytes.size()));
    return true;
  }();
  if (!warm) return 0;
  const int32 live = FuzzLiveHandles();
  RunOne(type, res, n);
  FUZZ_CHECK(FuzzLiveHandles() == live);  // nothing left behind
  return 0;
}
