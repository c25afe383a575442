#include "path.h"

#include "byteorder.h"

#include <cstdarg>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "counted_strings.h"
#include "debug.h"
#include "memory.h"
#include "path_internal.h"
#include "textoffset.h"
#include "platform/qx_drives.h"

namespace {

// The largest meaningful body: the most components, each of 255 characters.
constexpr uInt32 kMaxBody = 4u + uInt32(kMaxPathComponents) * 256u;
// Characters are stepped under the system font; every font is single-byte
// until the font manager exists.
constexpr int32 kSystemFont = 0;

uChar gNotAPathText[256] = {12, '<', 'N', 'o', 't', ' ', 'A', ' ', 'P', 'a', 't', 'h', '>'};

inline UHandle H(Path p) { return reinterpret_cast<UHandle>(p); }
inline Path P(UHandle h) { return reinterpret_cast<Path>(h); }

inline int16 Get16(const uChar* p) {
  int16 v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Put16(uChar* p, int16 v) { std::memcpy(p, &v, 2); }
// A path body assembled in ordinary memory before it replaces a handle's
// contents, so that sources inside the target handle stay readable.
class Body {
 public:
  explicit Body(int32 type) {
    ok_ = Grow(4);
    type_ = type;
  }
  void Add(const uChar* s, int32 len) {
    if (!ok_) return;
    if (len > 255) len = 255;
    size_t at = bytes_.size();
    if (!Grow(at + 1 + size_t(len))) return;
    bytes_[at] = uChar(len);
    if (len) std::memcpy(&bytes_[at + 1], s, size_t(len));
    ++count_;
  }
  void AddPStr(const uChar* p) { Add(p + 1, p[0]); }
  void SetType(int32 t) { type_ = t; }
  int32 Type() const { return type_; }
  int32 Count() const { return count_; }
  bool Ok() const { return ok_; }
  int32 Size() const { return int32(bytes_.size()); }
  // The components, for normalisation.
  std::vector<const uChar*> Comps() const {
    std::vector<const uChar*> v;
    for (size_t off = 4; off < bytes_.size(); off += 1 + bytes_[off]) v.push_back(&bytes_[off]);
    return v;
  }
  // Writes type and count and copies the body into h (resized to fit).
  MgErr StoreInto(UHandle h) {
    if (!ok_) return kMemFullErr;
    if (count_ > kMaxPathComponents) return kArgErr;
    if (MgErr err = path_detail::SetSize(h, Size())) return err;
    Finish();
    std::memcpy(*h, bytes_.data(), bytes_.size());
    return kNoErr;
  }
  UHandle NewHandle() {
    if (!ok_ || count_ > kMaxPathComponents) return nullptr;
    UHandle h = AZNewHandle(Size());
    if (!h) return nullptr;
    Finish();
    std::memcpy(*h, bytes_.data(), bytes_.size());
    return h;
  }
  // Into *pp: the given handle, or a new one when it is null.
  MgErr Store(Path* pp) {
    if (*pp) return StoreInto(H(*pp));
    if (!ok_) return kMemFullErr;
    if (count_ > kMaxPathComponents) return kArgErr;
    UHandle h = NewHandle();
    if (!h) return kMemFullErr;
    *pp = P(h);
    return kNoErr;
  }

 private:
  bool Grow(size_t n) {
    try {
      bytes_.resize(n);
      return true;
    } catch (const std::bad_alloc&) {
      MemNoteFailure(int32(n));
      ok_ = false;
      return false;
    }
  }
  void Finish() {
    Put16(&bytes_[0], int16(type_));
    Put16(&bytes_[2], int16(count_));
  }
  std::vector<uChar> bytes_;
  int32 type_ = 0;
  int32 count_ = 0;
  bool ok_ = true;
};

// A checked look at a path handle.
struct View {
  int32 type;
  int32 count;
  int32 used;  // 4 + the components
  int32 size;  // the handle's size
  const uChar* comps;
  // The component at index i (0-based, i < count).
  const uChar* Comp(int32 i) const {
    const uChar* c = comps;
    while (i-- > 0) c += 1 + c[0];
    return c;
  }
  const uChar* Last() const { return Comp(count - 1); }
};

// Reads a handle as a path: a valid handle of either zone, type 0, 1 or 3, a
// count of 0 or more and components inside the handle.  With notAPathToo the
// not-a-path value (type 2, its count ignored) is accepted as count 0.
bool Look(Path p, View* v, bool notAPathToo) {
  int32 size = path_detail::HandleSize(H(p));
  if (size < 4) return false;
  const uChar* d = *H(p);
  int32 type = Get16(d), count = Get16(d + 2);
  if (type == kNotAPath) {
    if (!notAPathToo) return false;
    *v = View{kNotAPath, 0, 4, size, d + 4};
    return true;
  }
  if ((type != kAbsPath && type != kRelPath && type != kNetworkPath) || count < 0) return false;
  int32 off = 4;
  for (int32 i = 0; i < count; ++i) {
    if (off >= size) return false;
    off += 1 + d[off];
    if (off > size) return false;
  }
  *v = View{type, count, off, size, d + 4};
  return true;
}

bool IsUpStep(const uChar* c) { return c[0] == 0; }

// Removes each up-step that follows a named component together with that
// component; an up-step right after the volume of an absolute or network
// path is dropped, since nothing lies above a volume's root.  Then sets the
// type from the first component.
void Normalise(Body* b) {
  std::vector<const uChar*> in = b->Comps();
  bool hasVolume = (b->Type() == kAbsPath || b->Type() == kNetworkPath) && !in.empty() && !IsUpStep(in[0]);
  std::vector<const uChar*> out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const uChar* c = in[i];
    if (IsUpStep(c) && !out.empty() && !IsUpStep(out.back())) {
      if (hasVolume && out.size() == 1) continue;  // stays at the root
      out.pop_back();
      continue;
    }
    out.push_back(c);
  }
  int32 type = b->Type();
  if (type == kAbsPath || type == kNetworkPath) {
    if (!out.empty() && IsUpStep(out[0]))
      type = kRelPath;
    else if (!out.empty())
      type = out[0][1] == '\\' ? kNetworkPath : kAbsPath;
  }
  Body n(type);
  for (const uChar* c : out) n.AddPStr(c);
  *b = n;
}

// Loads a path's components into a body of its type.
void Load(const View& v, Body* b) {
  const uChar* c = v.comps;
  for (int32 i = 0; i < v.count; ++i, c += 1 + c[0]) b->AddPStr(c);
}

// The length of a path's text.
int32 TextLength(const View& v) {
  if (v.type == kNotAPath) return gNotAPathText[0];
  if (v.type == kRelPath && v.count == 0) return 1;
  int32 n = 0;
  const uChar* c = v.comps;
  for (int32 i = 0; i < v.count; ++i, c += 1 + c[0]) {
    if (i > 0) ++n;
    n += IsUpStep(c) ? 2 : c[0];
    if (i == 0 && v.type == kAbsPath) ++n;
  }
  if (v.type == kAbsPath && v.count == 1 && !IsUpStep(v.comps)) ++n;
  return n;
}

// Writes the text (TextLength bytes).
void WriteText(const View& v, uChar* out) {
  if (v.type == kNotAPath) {
    std::memcpy(out, gNotAPathText + 1, gNotAPathText[0]);
    return;
  }
  if (v.type == kRelPath && v.count == 0) {
    out[0] = '.';
    return;
  }
  const uChar* c = v.comps;
  for (int32 i = 0; i < v.count; ++i, c += 1 + c[0]) {
    if (i > 0) *out++ = '\\';
    if (IsUpStep(c)) {
      *out++ = '.';
      *out++ = '.';
    } else {
      std::memcpy(out, c + 1, c[0]);
      out += c[0];
    }
    if (i == 0 && v.type == kAbsPath) *out++ = ':';
  }
  if (v.type == kAbsPath && v.count == 1 && !IsUpStep(v.comps)) *out++ = '\\';
}

bool SameCase(const uChar* a, const uChar* b) { return PStrCaseCmp(a, b) == 0; }

int32 Rank(int32 type) { return type == kRelPath ? 1 : type == kNotAPath ? 2 : 0; }

// Sets a given handle, or a new cleared one, to a path with no components.
Path SetBare(Path p, int32 type) {
  UHandle h = H(p);
  if (!h) {
    h = AZNewHClr(4);
    if (!h) return nullptr;
  } else if (path_detail::HandleSize(h) < 0 || path_detail::SetSize(h, 4) != kNoErr) {
    return nullptr;
  }
  Put16(*h, int16(type));
  Put16(*h + 2, 0);
  return P(h);
}

}  // namespace

namespace path_detail {

int32 HandleSize(UHandle h) {
  if (!h) return -1;
  if (AZIsHandle(h)) return AZGetHandleSize(h);
  if (MemIsDSHandle(h)) return DSGetHandleSize(h);
  return -1;
}

MgErr SetSize(UHandle h, int32 size) {
  if (AZIsHandle(h)) return AZSetHandleSize(h, size);
  if (MemIsDSHandle(h)) return DSSetHandleSize(h, size);
  return kArgErr;
}

bool Components(Path p, int32* type, int32* count, const uChar** comps) {
  View v;
  if (!Look(p, &v, false)) return false;
  *type = v.type;
  *count = v.count;
  *comps = v.comps;
  return true;
}

}  // namespace path_detail

// ------------------------------------------------------------------ tests

Path FEmptyPath(Path p) { return SetBare(p, kAbsPath); }
Path FNotAPath(Path p) { return SetBare(p, kNotAPath); }

Bool32 FIsAPath(Path p) {
  View v;
  return Look(p, &v, false);
}

Bool32 FIsAPathOrNotAPath(Path p) {
  View v;
  return Look(p, &v, true);
}

Bool32 FIsAPathOfType(Path p, int32 type) {
  View v;
  return Look(p, &v, false) && v.type == type;
}

Bool32 FIsAbsPath(Path p) {
  View v;
  return Look(p, &v, false) && (v.type == kAbsPath || v.type == kNetworkPath);
}

Bool32 FIsEmptyPath(Path p) {
  View v;
  return Look(p, &v, false) && v.count == 0;
}

MgErr FGetPathType(Path p, int32* type) {
  View v;
  bool ok = Look(p, &v, true);
  if (type) *type = ok ? v.type : kNotAPath;
  if (!ok || !type) return kArgErr;
  return kNoErr;
}

MgErr FSetPathType(Path p, int32 type) {
  View v;
  if (!Look(p, &v, false) || (type != kAbsPath && type != kRelPath)) return kArgErr;
  Put16(*H(p), int16(type));
  return kNoErr;
}

int32 FDepth(Path p) {
  View v;
  return Look(p, &v, false) ? v.count : -1;
}

int32 FPathSize(Path p) {
  View v;
  if (!Look(p, &v, true)) {
    DBAssert(__FILE__, __LINE__, "FPathSize of a handle that is not a path");
    return 0;
  }
  return v.used;
}

MgErr FCanonPath(Path p) {
  View v;
  if (!Look(p, &v, false)) return kArgErr;
  Body b(v.type);
  Load(v, &b);
  Normalise(&b);
  return b.StoreInto(H(p));
}

// ---------------------------------------------------------- components

MgErr FAppendName(Path p, ConstPStr name) {
  View v;
  if (!Look(p, &v, false) || !name) return kArgErr;
  if (name[0] == 0 && v.type != kRelPath) return kArgErr;
  if (v.count >= kMaxPathComponents) return kArgErr;
  uChar copy[256];
  std::memcpy(copy, name, size_t(name[0]) + 1);
  int32 used = v.used;
  if (MgErr err = path_detail::SetSize(H(p), used + 1 + copy[0])) return err;
  uChar* d = *H(p);
  std::memcpy(d + used, copy, size_t(copy[0]) + 1);
  Put16(d + 2, int16(v.count + 1));
  return kNoErr;
}

MgErr FDirName(Path p, Path dir) {
  View v;
  if (!Look(p, &v, false) || !dir || v.count == 0 || (v.type == kNetworkPath && v.count < 2)) return kArgErr;
  if (dir != p && path_detail::HandleSize(H(dir)) < 0) return kArgErr;
  int32 keep = int32(v.Last() - *H(p));
  if (dir == p) {
    Put16(*H(p) + 2, int16(v.count - 1));
    return path_detail::SetSize(H(p), keep);
  }
  if (MgErr err = path_detail::SetSize(H(dir), keep)) return err;
  std::memcpy(*H(dir), *H(p), size_t(keep));
  Put16(*H(dir) + 2, int16(v.count - 1));
  return kNoErr;
}

MgErr FName(Path p, UHandle name) {
  View v;
  if (!Look(p, &v, false) || v.count == 0 || path_detail::HandleSize(name) < 0) return kArgErr;
  uChar copy[256];
  const uChar* last = v.Last();
  std::memcpy(copy, last, size_t(last[0]) + 1);
  if (MgErr err = path_detail::SetSize(name, copy[0] + 1)) return err;
  std::memcpy(*name, copy, size_t(copy[0]) + 1);
  return kNoErr;
}

MgErr FNamePtr(Path p, PStr name) {
  View v;
  if (!Look(p, &v, false) || v.count == 0 || !name) return kArgErr;
  const uChar* last = v.Last();
  std::memmove(name, last, size_t(last[0]) + 1);
  return kNoErr;
}

MgErr FNthName(Path p, int32 index, PStr name) {
  View v;
  if (!Look(p, &v, false) || !name || index < 0 || index >= v.count) return kArgErr;
  const uChar* c = v.Comp(index);
  std::memmove(name, c, size_t(c[0]) + 1);
  return kNoErr;
}

MgErr FVolName(Path p, Path vol) {
  View v;
  if (!Look(p, &v, false) || !vol || v.count == 0 || (v.type != kAbsPath && v.type != kNetworkPath))
    return kArgErr;
  if (path_detail::HandleSize(H(vol)) < 0) return kArgErr;
  Body b(v.type);
  b.AddPStr(v.comps);
  return b.StoreInto(H(vol));
}

MgErr FAddPath(Path base, Path rel, Path out) {
  View vb, vr;
  if (!Look(base, &vb, false) || !Look(rel, &vr, false) || vr.type != kRelPath || !out) return kArgErr;
  if (out != base && out != rel && path_detail::HandleSize(H(out)) < 0) return kArgErr;
  Body b(vb.type);
  Load(vb, &b);
  Load(vr, &b);
  Normalise(&b);
  return b.StoreInto(H(out));
}

MgErr FRelPath(Path from, Path to, Path out) {
  View vf, vt;
  if (!Look(from, &vf, false) || !Look(to, &vt, false) || !out) return kArgErr;
  if (vf.type == kRelPath || vt.type == kRelPath) return kArgErr;
  if (out != from && out != to && path_detail::HandleSize(H(out)) < 0) return kArgErr;
  int32 common = 0;
  const uChar* cf = vf.comps;
  const uChar* ct = vt.comps;
  while (common < vf.count && common < vt.count && SameCase(cf, ct)) {
    cf += 1 + cf[0];
    ct += 1 + ct[0];
    ++common;
  }
  Body b(kRelPath);
  for (int32 i = common; i < vf.count; ++i) b.Add(nullptr, 0);
  for (int32 i = common; i < vt.count; ++i, ct += 1 + ct[0]) b.AddPStr(ct);
  return b.StoreInto(H(out));
}

Path FMakePath(Path p, int32 type, ...) {
  if (type < kAbsPath || type > kNetworkPath) return nullptr;
  if (p && path_detail::HandleSize(H(p)) < 0) return nullptr;
  Body b(type);
  if (type != kNotAPath) {
    va_list ap;
    va_start(ap, type);
    int32 i = 0;
    for (ConstPStr c = va_arg(ap, ConstPStr); c; c = va_arg(ap, ConstPStr), ++i) {
      if (c[0] == 0 && type != kRelPath) {
        va_end(ap);
        return nullptr;
      }
      b.AddPStr(c);
    }
    va_end(ap);
  }
  if (p) return b.StoreInto(H(p)) == kNoErr ? p : nullptr;
  return P(b.NewHandle());
}

int32 FPathCmp(Path a, Path b) {
  View va, vb;
  if (!Look(a, &va, true) || !Look(b, &vb, true) || va.type != vb.type) return -1;
  const uChar* ca = va.comps;
  const uChar* cb = vb.comps;
  int32 n = va.count < vb.count ? va.count : vb.count;
  for (int32 i = 0; i < n; ++i, ca += 1 + ca[0], cb += 1 + cb[0])
    if (!SameCase(ca, cb)) return i + 1;
  return va.count == vb.count ? 0 : n + 1;
}

int32 FPathCmpLexical(Path a, Path b) {
  if (a == b) return 0;
  View va, vb;
  bool ha = Look(a, &va, true), hb = Look(b, &vb, true);
  if (!ha || !hb) return ha ? 1 : hb ? -1 : 0;
  if (Rank(va.type) != Rank(vb.type)) return Rank(va.type) - Rank(vb.type);
  if (va.type == kNotAPath) return 0;
  const uChar* ca = va.comps;
  const uChar* cb = vb.comps;
  int32 n = va.count < vb.count ? va.count : vb.count;
  for (int32 i = 0; i < n; ++i, ca += 1 + ca[0], cb += 1 + cb[0])
    if (int32 d = PStrCaseCmp(ca, cb)) return d;
  return va.count - vb.count;
}

MgErr FPathToPath(Path* p) {
  View v;
  if (!p || !Look(*p, &v, true)) return kArgErr;
  UHandle h = AZNewHandle(v.used);
  if (!h) return kMemFullErr;
  std::memcpy(*h, *H(*p), size_t(v.used));
  *p = P(h);
  return kNoErr;
}

MgErr FPathCpy(Path dst, Path src) {
  View v;
  if (!Look(src, &v, true) || path_detail::HandleSize(H(dst)) < 0) return kArgErr;
  if (dst == src) return kNoErr;
  int32 used = v.used;
  if (MgErr err = path_detail::SetSize(H(dst), used)) return err;
  std::memcpy(*H(dst), *H(src), size_t(used));
  if (v.type == kNotAPath) Put16(*H(dst) + 2, 0);
  return kNoErr;
}

MgErr FDisposePath(Path p) {
  if (!p) return kNoErr;
  if (AZIsHandle(H(p))) return AZDisposeHandle(H(p));
  if (MemIsDSHandle(H(p))) return DSDisposeHandle(H(p));
  return kArgErr;
}

// ------------------------------------------------------------ flattening

int32 FFlattenPath(Path p, UPtr flat) {
  View v;
  bool have = p && Look(p, &v, true);
  if (p && !have) DBAssert(__FILE__, __LINE__, "flattening a handle that is not a path");
  uInt32 size = have ? uInt32(v.size) : 0;
  if (flat) {
    std::memcpy(flat, "PTH0", 4);
    PutBE32(flat + 4, size);
    if (have) {
      const uChar* d = *H(p);
      PutBE16(flat + 8, int16(v.type));
      PutBE16(flat + 10, Get16(d + 2));
      std::memcpy(flat + 12, d + 4, size - 4);
    } else {
      std::memset(flat + 8, 0, 4);
    }
  }
  return have ? int32(8 + size) : 12;
}

int32 FUnFlattenPath(const uChar* flat, Path* p) { return FUnFlattenPathData(flat, p, 0x7FFFFFFE); }

namespace {

// Checks a body of the current form: type 0, 1 or 3 with a count of 0 to
// 32,767 whose components lie inside the body, or type 2 (read as the
// not-a-path value whatever its count).
bool BodyIsValid(const uChar* body, uInt32 len) {
  int16 type = GetBE16(body);
  if (type == kNotAPath) return true;
  if (type != kAbsPath && type != kRelPath && type != kNetworkPath) return false;
  int16 count = GetBE16(body + 2);
  if (count < 0) return false;
  uInt32 off = 4;
  for (int32 i = 0; i < count; ++i) {
    if (off >= len) return false;
    off += 1u + body[off];
    if (off > len) return false;
  }
  return true;
}

// The old form after its length word: a 32-bit count, then the components
// padded to even sizes.  Fills b and returns the padded bytes, -1 when bad.
int64_t ReadOldForm(const uChar* flat, uInt32 end, Body* b) {
  if (end < 8) return -1;
  uInt32 count = GetBE32(flat + 4);
  if (count > uInt32(kMaxPathComponents)) return -1;
  uInt32 off = 8;
  for (uInt32 i = 0; i < count; ++i) {
    if (off >= end) return -1;
    uInt32 len = flat[off];
    uInt32 padded = (len + 2) & ~1u;
    if (padded > end - off) return -1;
    b->Add(flat + off + 1, int32(len));
    off += padded;
  }
  return int64_t(off - 8);
}

}  // namespace

int32 FUnFlattenPathData(const uChar* flat, Path* p, int32 available) {
  uInt32 avail = available < 0 ? 0 : available > 0x7FFFFFFE ? 0x7FFFFFFEu : uInt32(available);
  const int32 fail = int32(avail + 1);
  if (!flat || avail < 4) return fail;
  bool given = p && *p;
  if (given && path_detail::HandleSize(H(*p)) < 0) return fail;

  if (std::memcmp(flat, "PTH0", 4) != 0) {
    DBPrintf("unflattening oldstyle flattened path");
    uInt32 t = GetBE32(flat);
    if (t < 4) {
      if (avail < 8 || given) return fail;
      return 8;
    }
    uInt32 end = uInt64(t) + 4 < avail ? t + 4 : avail;
    Body b(kAbsPath);
    int64_t padded = ReadOldForm(flat, end, &b);
    if (padded < 0) return fail;
    if (!b.Ok()) return fail;
    // An empty first component marks a relative path and is dropped.
    std::vector<const uChar*> comps = b.Comps();
    Body out(kAbsPath);
    size_t first = 0;
    if (!comps.empty() && comps[0][0] == 0) {
      out.SetType(kRelPath);
      first = 1;
    }
    for (size_t i = first; i < comps.size(); ++i) out.AddPStr(comps[i]);
    if (p && out.Store(p) != kNoErr) return fail;
    return int32(8 + padded);
  }

  if (avail < 8) return fail;
  uInt32 len = GetBE32(flat + 4);
  if (len > avail - 8) return fail;
  if (len < 4) {
    if (len == 0 && avail < 12) return fail;
    if (given) return fail;
    return len == 0 ? 12 : int32(len + 8);
  }
  if (len > kMaxBody) return fail;
  const uChar* body = flat + 8;
  if (!BodyIsValid(body, len)) return fail;
  if (p) {
    UHandle h = given ? H(*p) : AZNewHClr(int32(len));
    if (!h) return fail;
    if (given) {
      if (path_detail::SetSize(h, int32(len)) != kNoErr) return fail;
    }
    uChar* d = *h;
    std::memcpy(d, body, len);
    int16 type = GetBE16(body);
    Put16(d, type);
    Put16(d + 2, type == kNotAPath ? int16(0) : GetBE16(body + 2));
    *p = P(h);
  }
  return int32(len + 8);
}

// ------------------------------------------------------------------- text

namespace {

struct Span {
  int32 start;
  int32 len;
};

inline int32 Next(const uChar* text, int32 i, int32 length) {
  int32 n = TNextCharOffset(text, i, kSystemFont);
  if (n <= i) n = i + 1;
  return n > length ? length : n;
}

// The end of the run of characters that are none of the stop characters.
int32 RunEnd(const uChar* text, int32 i, int32 length, bool colonStops) {
  while (i < length && text[i] != '\\' && !(colonStops && text[i] == ':')) i = Next(text, i, length);
  return i;
}

int32 SkipAll(const uChar* text, int32 i, int32 length, uChar c) {
  while (i < length && text[i] == c) i = Next(text, i, length);
  return i;
}

// Adds a component of the text with the "." and ".." rules.
void AddTextComp(Body* b, const uChar* s, int32 len) {
  if (len == 1 && s[0] == '.') return;
  if (len == 2 && s[0] == '.' && s[1] == '.') {
    b->Add(nullptr, 0);
    return;
  }
  b->Add(s, len > 255 ? 255 : len);
}

}  // namespace

MgErr FTextToPath(const uChar* text, int32 length, Path* p) {
  if (!p || length < 0 || (length > 0 && !text)) return kArgErr;
  if (*p && path_detail::HandleSize(H(*p)) < 0) return kArgErr;
  Body b(kAbsPath);
  int32 i = 0;
  if (length > 0) {
    int32 end = RunEnd(text, 0, length, true);
    if (end == 0 && length >= 2 && text[0] == '\\' && text[1] == '\\') {
      b.SetType(kNetworkPath);
      int32 s = SkipAll(text, 0, length, '\\');
      int32 se = RunEnd(text, s, length, true);
      int32 h = SkipAll(text, se, length, '\\');
      int32 he = RunEnd(text, h, length, true);
      int32 serverLen = se - s > 251 ? 251 : se - s;
      int32 shareLen = he - h > 252 - serverLen ? 252 - serverLen : he - h;
      uChar comp[256];
      comp[1] = comp[2] = '\\';
      std::memcpy(comp + 3, text + s, size_t(serverLen));
      comp[3 + serverLen] = '\\';
      std::memcpy(comp + 4 + serverLen, text + h, size_t(shareLen));
      comp[0] = uChar(3 + serverLen + shareLen);
      b.AddPStr(comp);
      i = he;
    } else if (end > 0 && (end == length || text[end] == '\\')) {
      b.SetType(kRelPath);
      AddTextComp(&b, text, end);
      i = end;
    } else if (end > 0) {
      b.Add(text, end > 255 ? 255 : end);
      i = end;
    } else {
      uChar drive = uChar(ToUpper(uChar(PlatCurrentDrive())));
      b.Add(&drive, 1);
    }
    i = SkipAll(text, i, length, ':');
    for (;;) {
      i = SkipAll(text, i, length, '\\');
      if (i >= length) break;
      int32 e = RunEnd(text, i, length, false);
      AddTextComp(&b, text + i, e - i);
      i = e;
    }
  }
  Normalise(&b);
  return b.Store(p);
}

MgErr FStringToPath(LStrHandle text, Path* p) {
  if (!text) return FTextToPath(nullptr, 0, p);
  int32 size = path_detail::HandleSize(reinterpret_cast<UHandle>(text));
  if (size < 4) return kArgErr;
  int32 n = (*text)->cnt;
  if (n < 0 || n > size - 4) return kArgErr;
  // The text is copied first: the path may be made in a handle that moves it.
  std::vector<uChar> copy;
  try {
    copy.assign((*text)->str, (*text)->str + n);
  } catch (const std::bad_alloc&) {
    return kMemFullErr;
  }
  return FTextToPath(copy.data(), n, p);
}

MgErr FPathToText(Path p, LStrPtr buffer) {
  View v;
  if (!Look(p, &v, true) || !buffer) return kArgErr;
  int32 n = TextLength(v);
  if (buffer->cnt >= 0) WriteText(v, buffer->str);
  buffer->cnt = n;
  return kNoErr;
}

namespace {

MgErr ToLStr(Path p, LStrHandle* h, bool ds) {
  View v;
  if (!Look(p, &v, true) || !h) return kArgErr;
  int32 n = TextLength(v);
  if (*h) {
    if (MgErr err = path_detail::SetSize(reinterpret_cast<UHandle>(*h), 4 + n)) return err;
  } else {
    UHandle nh = ds ? DSNewHandle(4 + n) : AZNewHandle(4 + n);
    if (!nh) return kMemFullErr;
    *h = reinterpret_cast<LStrHandle>(nh);
  }
  Look(p, &v, true);  // the path's block may have moved
  WriteText(v, (**h)->str);
  (**h)->cnt = n;
  return kNoErr;
}

}  // namespace

MgErr FPathToAZString(Path p, LStrHandle* h) { return ToLStr(p, h, false); }
MgErr FPathToDSString(Path p, LStrHandle* h) { return ToLStr(p, h, true); }

UHandle FPathToCStrHandle(Path p) {
  View v;
  if (!Look(p, &v, true)) return nullptr;
  int32 n = TextLength(v);
  UHandle h = AZNewHandle(n + 1);
  if (!h) return nullptr;
  Look(p, &v, true);
  WriteText(v, *h);
  (*h)[n] = 0;
  return h;
}

MgErr FPathToCStrPtr(Path p, CStr* text) {
  View v;
  if (!text) return kArgErr;
  *text = nullptr;
  if (!Look(p, &v, true)) return kArgErr;
  int32 n = TextLength(v);
  if (n > kMaxPathTextLen) return kMemFullErr;
  UPtr buf = AZNewPtr(kPathTextBufSize);
  if (!buf) return kMemFullErr;
  Look(p, &v, true);
  WriteText(v, buf);
  buf[n] = 0;
  *text = reinterpret_cast<CStr>(buf);
  return kNoErr;
}

void FSetNotAPathText(ConstPStr text) {
  if (!text) return;
  std::memcpy(gNotAPathText, text, size_t(text[0]) + 1);
}

ConstPStr FNotAPathText() { return gNotAPathText; }

namespace {
void SetAbbrev(PStr out, const std::string& s) {
  const size_t n = s.size() < 255 ? s.size() : 255;
  out[0] = uChar(n);
  std::memcpy(out + 1, s.data(), n);
}
}  // namespace

void FPathToAbbrevPStr(Path path, int32 n, PStr out) {
  out[0] = 0;
  if (n <= 0) return;
  if (n > 255) n = 255;
  std::string text;
  if (CStr c = nullptr; FPathToCStrPtr(path, &c) == kNoErr && c) {
    text = reinterpret_cast<const char*>(c);
    AZDisposePtr(reinterpret_cast<UPtr>(c));
  }
  if (int32(text.size()) <= n) return SetAbbrev(out, text);
  const std::string dots = "...";
  Str255 last;
  const int32 nameLen = FNamePtr(path, last) == kNoErr ? last[0] : 0;
  std::string vol;
  if (FDepth(path) > 0) {
    const size_t sep = text.find('\\', text.rfind(':') == std::string::npos ? 2 : 0);
    if (sep != std::string::npos) vol = text.substr(0, sep + 1);
  }
  std::string shown;
  if (n > 3 && int32(vol.size()) + 3 + nameLen <= n) {
    shown = vol + dots + text.substr(text.size() - size_t(n - 3 - int32(vol.size())));
  } else if (n > 3 && 3 + nameLen <= n) {
    shown = dots + text.substr(text.size() - size_t(n - 3));
  } else {
    shown = (n > 3 ? text.substr(0, size_t(n - 3)) : std::string()) + dots;
    shown.resize(size_t(n));
  }
  SetAbbrev(out, shown);
}

