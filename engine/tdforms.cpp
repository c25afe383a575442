// Rewriting type descriptors: stripping to the data-only form, pad bytes,
// boolean codes, and the old and current forms of string descriptors.
#include <cstring>

#include "datatype.h"
#include "mgsource/memory.h"
#include "td_internal.h"

using namespace td;

namespace {

// The containers whose TDs describe the datum itself, plus the record TD of
// datalog refnums: where string TDs change form together.
constexpr uInt32 kStringSet = kInData | kInDatalogs;
// The containers stripped part by part.
constexpr uInt32 kStripSet = kInArrays | kInClusters | kInUnions | kInFunctions | kInTypedefs | kInDatalogs;

bool StrippedPartwise(const uChar* t) {
  switch (Code(t)) {
    case kTDArray: case kTDArrayView: case kTDCluster: case kTDUnion: case kTDFunction:
    case kTDTypedef:
      return true;
    case kTDRefnum:
      return I16(t + 4) == kRefnumDatalog;
    default:
      return false;
  }
}

int32 Strip(const uChar* s, uChar* d) {
  uChar c = Code(s);
  uChar flags = uChar(Flags(s) & ~kTDFlagName);
  int32 size;
  if (IsEnumCode(c) || IsUnit(c)) {
    size = 4;
    if (d) {
      Put16(d, 4);
      d[2] = uChar(c & ~0x10);
      d[3] = flags;
    }
    return size;
  }
  if (StrippedPartwise(s)) {
    // The parts between the inner TDs are copied; each inner TD is stripped
    // into place.  Writing never overtakes reading, so d may be s; the end of
    // the type part is found before anything is written.
    int32 end = NameOffset(s);
    int32 out = 0, pos = 0;
    ForEachChild(s, kStripSet, [&](int32 off) {
      int32 inner = Size(s + off);
      if (d && off > pos) std::memmove(d + out, s + pos, size_t(off - pos));
      out += off - pos;
      out += Strip(s + off, d ? d + out : nullptr);
      pos = off + inner;
      return true;
    });
    // The rest of the type part (all of it for a TD without inner TDs).
    if (end > pos) {
      if (d) std::memmove(d + out, s + pos, size_t(end - pos));
      out += end - pos;
    }
    size = out;
  } else {
    size = NameOffset(s);
    if (size < 0) {
      TD_ASSERT("unexpected TD code");
      size = Size(s);
    }
    if (d) std::memmove(d, s, size_t(size));
  }
  if (d) {
    Put16(d, size >= 0xFFFF ? kTDSizeInHolder : uInt16(size));
    d[3] = flags;
  }
  return size;
}

bool Normalize(uChar* t) {
  bool changed = false;
  int32 limit = Size(t);
  auto clear = [&](int32 pad) {
    if (pad < limit && t[pad] != 0) {
      t[pad] = 0;
      changed = true;
    }
  };
  uChar c = Code(t);
  if (IsEnumCode(c)) {
    int32 n = I16(t + 4);
    int32 off = 6;
    for (int32 i = 0; i < n && off < limit; ++i) off += 1 + t[off];
    if ((off - 6) & 1) clear(off);
  } else if (c == kTDTypedef) {
    if ((t[8] & 1) == 0) clear(9 + t[8]);
  } else if (c == kTDRefnum) {
    int32 kind = I16(t + 4);
    if ((kind == kRefnumNamed6 || kind == kRefnumAutomation || kind == kRefnumNamed10) && (t[6] & 1) == 0)
      clear(7 + t[6]);
  }
  ForEachChild(t, kInAll, [&](int32 off) {
    if (Normalize(t + off)) changed = true;
    return true;
  });
  if (Flags(t) & kTDFlagName) {
    int32 off = NameOffset(t);
    if (off >= 0 && off < limit && (t[off] & 1) == 0) clear(off + 1 + t[off]);
  }
  return changed;
}

template <typename Pred>
bool Contains(const uChar* t, uInt32 set, Pred&& pred) {
  if (pred(t)) return true;
  bool found = false;
  ForEachChild(t, set, [&](int32 off) {
    found = Contains(t + off, set, pred);
    return !found;
  });
  return found;
}

bool SetBooleans(uChar* t, uChar code) {
  bool found = false;
  if (Code(t) == kTDBooleanOld || Code(t) == kTDBoolean) {
    t[2] = code;
    found = true;
  }
  ForEachChild(t, kInData, [&](int32 off) {
    if (SetBooleans(t + off, code)) found = true;
    return true;
  });
  return found;
}

int32 CountStrings(const uChar* t) {
  int32 n = IsStringLike(Code(t)) ? 1 : 0;
  ForEachChild(t, kStringSet, [&](int32 off) {
    n += CountStrings(t + off);
    return true;
  });
  return n;
}

// Rewrites the TD at s (slen bytes) with every string-like TD in the other
// form, into d when given; returns the new length, or -1 when a nested TD
// would reach 0xFFFF bytes or a current-form string TD lacks its bound.
int32 ConvertForm(const uChar* s, int32 slen, uChar* d, bool toCurrent, bool top) {
  int32 len;
  if (slen < 4) return -1;
  if (IsStringLike(Code(s))) {
    if (toCurrent) {
      len = slen + 4;
      if (d) {
        std::memcpy(d, s, 4);
        Put32(d + 4, kTDVariable);
        std::memcpy(d + 8, s + 4, size_t(slen - 4));
      }
    } else {
      if (slen < 8) return -1;
      len = slen - 4;
      if (d) {
        std::memcpy(d, s, 4);
        std::memcpy(d + 4, s + 8, size_t(slen - 8));
      }
    }
  } else {
    int32 out = 0, pos = 0;
    bool ok = ForEachChild(s, kStringSet, [&](int32 off) {
      int32 inner = Size(s + off);
      if (off < pos || off + inner > slen) return false;
      if (d) std::memcpy(d + out, s + pos, size_t(off - pos));
      out += off - pos;
      int32 n = ConvertForm(s + off, inner, d ? d + out : nullptr, toCurrent, false);
      if (n < 0) return false;
      out += n;
      pos = off + inner;
      return true;
    });
    if (!ok || pos > slen) return -1;
    if (d) std::memcpy(d + out, s + pos, size_t(slen - pos));
    len = out + slen - pos;
  }
  if (len >= 0xFFFF && !top) return -1;  // only the top level may carry the marker
  if (d) Put16(d, len >= 0xFFFF ? kTDSizeInHolder : uInt16(len));
  return len;
}

// Converts the TD held in h after `base` bytes (the int32 word count, when
// counted) to the current or the old string form.
MgErr RewriteStringForm(UHandle h, bool counted, bool toCurrent) {
  if (!h || !*h) return kArgErr;
  bool ds = MemIsDSHandle(h);
  int32 hsize = ds ? DSGetHandleSize(h) : AZGetHandleSize(h);
  int32 base = counted ? 4 : 0;
  if (hsize < base + 4) return kArgErr;
  uInt16 field = Size(*h + base);
  int32 tdlen = field == kTDSizeInHolder ? hsize - base : field;
  bool mismatch = !counted && field != kTDSizeInHolder && field != hsize;
  if (tdlen < 4 || tdlen > hsize - base) {
    // The TD claims more than its handle holds: nothing can be walked.
    if (mismatch)
      DBPrintf("MutateStringTDsInTM: handle size (0x%lx) does not match TD size (0x%lx)", hsize, int32(field));
    return kArgErr;
  }
  int32 n = CountStrings(*h + base);
  if (n == 0) return kNoErr;
  if (mismatch)
    DBPrintf("MutateStringTDsInTM: handle size (0x%lx) does not match TD size (0x%lx)", hsize, int32(field));

  // The new sizes are computed before anything changes.
  int32 newlen = ConvertForm(*h + base, tdlen, nullptr, toCurrent, true);
  if (newlen < 0) return kArgErr;
  int32 tail = hsize - base - tdlen;
  int32 newsize = base + newlen + tail;
  UPtr tmp = AZNewPtr(newsize);
  if (!tmp) return kMemFullErr;
  const uChar* src = *h;
  if (counted) Put32(tmp, int32(uInt32(I32(src)) + uInt32(toCurrent ? 2 * n : -2 * n)));
  ConvertForm(src + base, tdlen, tmp + base, toCurrent, true);
  std::memcpy(tmp + base + newlen, src + base + tdlen, size_t(tail));
  MgErr err = ds ? DSSetHandleSize(h, newsize) : AZSetHandleSize(h, newsize);
  if (err == kNoErr) std::memcpy(*h, tmp, size_t(newsize));
  AZDisposePtr(tmp);
  return err == kNoErr ? kNoErr : kMemFullErr;
}

// ----------------------------------------------------------- classifying

enum StringForm { kFormNone = 0, kFormOld = 1, kFormCurrent = 2, kFormUndecided = 3, kFormBad = 4 };

// A string-like TD of `size` bytes: the form its size and name length fit.
// In the word form the name bytes lie swapped in pairs, so the old layout's
// length byte may stand at offset 4 or 5 and the current one's at 9.
int32 StringTDForm(const uChar* t, int32 size, uChar flags, bool wordForm) {
  if (!(flags & kTDFlagName)) return size == 4 ? kFormOld : size == 8 ? kFormCurrent : kFormBad;
  if (size < 10) return kFormOld;
  bool old = PaddedStr(t[4]) + 4 == size || (wordForm && PaddedStr(t[5]) + 4 == size);
  bool current = PaddedStr(t[wordForm ? 9 : 8]) + 8 == size;
  if (old && current) return kFormBad;
  if (old) return kFormOld;
  if (current) return kFormCurrent;
  return kFormUndecided;
}

// Reads 16-bit fields of the word form (host order) or of file order.
inline uInt16 Rd16(const uChar* p, bool wordForm) { return wordForm ? U16(p) : GetBE16(p); }

// The size of the TD at t given avail bytes, or 0 when it does not fit.
int32 FittingSize(const uChar* t, int32 avail, bool top, bool wordForm) {
  if (avail < 4) return 0;
  int32 size = Rd16(t, wordForm);
  if (top && size == kTDSizeInHolder) size = avail;
  return (size < 4 || size > avail) ? 0 : size;
}

int32 ClassifyWord(const uChar* t, int32 avail, bool top, int32 depth) {
  int32 size = FittingSize(t, avail, top, true);
  if (size == 0 || depth > kTDMaxDepth) return kFormBad;
  uInt16 word = U16(t + 2);
  uChar code = uChar(word & 0xFF);
  switch (code) {
    case kTDBooleanOld:
      return kFormOld;
    case kTDBoolean:
    case kTDTypedef:
      return kFormCurrent;
    case kTDString: case kTDPath: case kTDString33: case kTDString37:
      return StringTDForm(t, size, uChar(word >> 8), true);
    case kTDArray:
    case kTDArrayView: {
      if (size < 6) return kFormBad;
      int32 n = I16(t + 4);
      if (n < 0 || 6 + 4 * n > size - 4) return kFormBad;
      return ClassifyWord(t + 6 + 4 * n, size - 6 - 4 * n, false, depth + 1);
    }
    case kTDCluster:
    case kTDUnion:
    case kTDFunction: {
      if (size < 6) return kFormBad;
      int32 n = I16(t + 4);
      if (n < 0) return kFormBad;
      int32 off = code == kTDFunction ? 8 + 2 * n : 6;
      bool undecided = false;
      for (int32 i = 0; i < n; ++i) {
        int32 r = ClassifyWord(t + off, size - off, false, depth + 1);
        if (r == kFormOld || r == kFormCurrent || r == kFormBad) return r;
        if (r == kFormUndecided) undecided = true;
        off += U16(t + off);
      }
      return undecided ? kFormUndecided : kFormNone;
    }
    case kTDWrapper:
    case kTDTypeOnly:
      return ClassifyWord(t + 4, size - 4, false, depth + 1);
    case kTDRefnum: {
      if (size < 6) return kFormBad;
      int32 kind = I16(t + 4);
      if (kind == kRefnumDatalog) return ClassifyWord(t + 6, size - 6, false, depth + 1);
      return (kind >= kRefnumAutomation && kind <= kRefnumNamed10) ? kFormCurrent : kFormNone;
    }
    default:
      return kFormNone;
  }
}

// File order: true as soon as an old-form string TD is found; notes string
// TDs (and structure) that cannot be decided.
bool FindOldInFile(const uChar* t, int32 avail, bool top, int32 depth, bool* undecided) {
  int32 size = FittingSize(t, avail, top, false);
  if (size == 0 || depth > kTDMaxDepth) {
    *undecided = true;
    return false;
  }
  uInt16 word = GetBE16(t + 2);
  uChar code = uChar(word & 0xFF);
  auto inner = [&](int32 off) { return FindOldInFile(t + off, size - off, false, depth + 1, undecided); };
  switch (code) {
    case kTDString: case kTDPath: case kTDString33: case kTDString37: {
      int32 r = StringTDForm(t, size, uChar(word >> 8), false);
      if (r == kFormOld) return true;
      if (r != kFormCurrent) *undecided = true;
      return false;
    }
    case kTDArray:
    case kTDArrayView: {
      int32 n = size >= 6 ? int16(GetBE16(t + 4)) : -1;
      if (n < 0 || 6 + 4 * n > size - 4) {
        *undecided = true;
        return false;
      }
      return inner(6 + 4 * n);
    }
    case kTDCluster:
    case kTDUnion:
    case kTDFunction: {
      int32 n = size >= 6 ? int16(GetBE16(t + 4)) : -1;
      if (n < 0) {
        *undecided = true;
        return false;
      }
      int32 off = code == kTDFunction ? 8 + 2 * n : 6;
      for (int32 i = 0; i < n; ++i) {
        if (off > size - 4) {
          *undecided = true;
          return false;
        }
        if (inner(off)) return true;
        int32 step = GetBE16(t + off);
        if (step < 4) return false;  // already noted as undecided
        off += step;
      }
      return false;
    }
    case kTDWrapper:
    case kTDTypeOnly:
      return inner(4);
    case kTDRefnum:
      if (size >= 6 && int16(GetBE16(t + 4)) == kRefnumDatalog) return inner(6);
      return false;
    default:
      return false;
  }
}

}  // namespace

Bool32 TDHasBoolean(const TypeDescriptor* t) {
  if (!t) return 0;
  return Contains(B(t), kInData, [](const uChar* p) { return Code(p) == kTDBoolean; });
}

Bool32 TDHasExtended(const TypeDescriptor* t) {
  if (!t) return 0;
  return Contains(B(t), kInArrays | kInClusters | kInWrappers | kInFunctions | kInTypedefs, [](const uChar* p) {
    uChar c = Code(p);
    return c == kTDEXT || c == kTDCXT || c == kTDUnitEXT || c == kTDUnitCXT;
  });
}

Bool32 SetBooleanTDCode(TypeDescriptor* t, int32 code) {
  if (!t) return 0;
  return SetBooleans(B(t), uChar(code));
}

Bool32 NormalizeTDPadding(TypeDescriptor* t) {
  if (!t) return 0;
  return Normalize(B(t));
}

int32 StripTD(const TypeDescriptor* src, TypeDescriptor* dst) {
  if (!src) {
    TD_ASSERT("null TD");
    return 0;
  }
  return Strip(B(src), dst ? B(dst) : nullptr);
}

int32 CountStringTDs(const TypeDescriptor* t) {
  if (!t) return 0;
  return CountStrings(B(t));
}

MgErr MutateStringTDsInTM(UHandle tdHandle) { return RewriteStringForm(tdHandle, false, true); }

MgErr ConvertStringTDsInHandle(UHandle h, int32 direction) {
  return RewriteStringForm(h, true, direction == 0);
}

int32 ClassifyStringTDForm(const void* t, int32 length) {
  if (!t) return kFormBad;
  return ClassifyWord(static_cast<const uChar*>(t), length, true, 0);
}

int32 ClassifyFileStringTDs(const void* t, int32 length) {
  if (!t) return -1;
  bool undecided = false;
  if (FindOldInFile(static_cast<const uChar*>(t), length, true, 0, &undecided)) return 1;
  return undecided ? -1 : 0;
}
