#include "qx_typeinfo.h"

#include <atomic>
#include "qx_file.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace {

struct Param {
  uint16_t vt;
  uint16_t flags;
  std::string name;
};
struct Member {
  int32_t id;
  uint16_t kind;
  uint16_t resultVt;
  std::string name;
  std::vector<Param> params;
};
struct Interface {
  PlatGuid iid;
  std::string name;
  std::vector<Member> members;
};

// Reads the bytes front to back; any read past the end fails the reader.
class Reader {
 public:
  Reader(const uint8_t* p, uint32_t n) : p_(p), n_(n) {}
  bool ok() const { return ok_; }
  bool done() const { return ok_ && at_ == n_; }
  uint32_t U32() {
    if (!Need(4)) return 0;
    const uint32_t v = uint32_t(p_[at_]) << 24 | uint32_t(p_[at_ + 1]) << 16 | uint32_t(p_[at_ + 2]) << 8 | p_[at_ + 3];
    at_ += 4;
    return v;
  }
  uint16_t U16() {
    if (!Need(2)) return 0;
    const uint16_t v = uint16_t(p_[at_] << 8 | p_[at_ + 1]);
    at_ += 2;
    return v;
  }
  std::string Name() {
    if (!Need(1)) return {};
    const uint32_t len = p_[at_++];
    if (!Need(len)) return {};
    std::string s(reinterpret_cast<const char*>(p_ + at_), len);
    at_ += len;
    return s;
  }
  PlatGuid Guid() {
    PlatGuid g{};
    g.data1 = U32();
    g.data2 = U16();
    g.data3 = U16();
    if (Need(8)) {
      for (int i = 0; i < 8; ++i) g.data4[i] = p_[at_ + uint32_t(i)];
      at_ += 8;
    }
    return g;
  }
  void Fail() { ok_ = false; }

 private:
  bool Need(uint32_t k) {
    if (!ok_ || n_ - at_ < k) ok_ = false;
    return ok_;
  }
  const uint8_t* p_;
  uint32_t n_;
  uint32_t at_ = 0;
  bool ok_ = true;
};

bool KnownKind(uint16_t k) { return k == kPlatMemberMethod || k == kPlatMemberGet || k == kPlatMemberPut; }

// The type information of one interface: an object of the unknown
// interface that holds the library.
struct Info {
  PlatComUnknown face;
  std::atomic<uint32_t> refs{1};
  PlatTypeLib* lib;
  const Interface* iface;
};

}  // namespace

struct PlatTypeLib {
  std::atomic<uint32_t> refs{1};
  uint16_t major = 0, minor = 0;
  uint32_t lcid = 0;
  PlatGuid id{};
  std::vector<Interface> interfaces;
};

namespace {

PlatHResult InfoQuery(PlatComUnknown* self, const PlatGuid* iid, void** out) {
  if (!out) return kPlatPointer;
  *out = nullptr;
  if (!iid || !PlatGuidEqual(*iid, kPlatIidUnknownRecord)) return kPlatNoInterface;
  reinterpret_cast<Info*>(self)->refs.fetch_add(1);
  *out = self;
  return kPlatOk;
}
uint32_t InfoAddRef(PlatComUnknown* self) { return reinterpret_cast<Info*>(self)->refs.fetch_add(1) + 1; }
uint32_t InfoRelease(PlatComUnknown* self) {
  Info* i = reinterpret_cast<Info*>(self);
  const uint32_t left = i->refs.fetch_sub(1) - 1;
  if (left == 0) {
    PlatTypeLibRelease(i->lib);
    delete i;
  }
  return left;
}
const PlatComUnknownSlots kInfoSlots{&InfoQuery, &InfoAddRef, &InfoRelease};

const Interface* IfaceOf(const void* info) { return info ? static_cast<const Info*>(info)->iface : nullptr; }

bool SameName(const std::string& a, const uint16_t* w) {
  uint32_t n = 0;
  for (; w[n]; ++n) {
    if (n >= a.size()) return false;
    const uint16_t x = w[n] < 128 ? uint16_t(w[n] | (w[n] >= 'A' && w[n] <= 'Z' ? 0x20 : 0)) : w[n];
    const unsigned char c = static_cast<unsigned char>(a[n]);
    const uint16_t y = uint16_t(c >= 'A' && c <= 'Z' ? c | 0x20 : c);
    if (x != y) return false;
  }
  return n == a.size();
}

bool KindMatches(uint16_t kind, uint16_t flags) {
  if ((flags & kPlatDispatchMethod) && (kind == kPlatMemberMethod || kind == kPlatMemberGet)) return true;
  if ((flags & kPlatDispatchPropertyGet) && kind == kPlatMemberGet) return true;
  if ((flags & (kPlatDispatchPropertyPut | kPlatDispatchPropertyPutRef)) && kind == kPlatMemberPut) return true;
  return false;
}

}  // namespace

PlatHResult PlatTypeLibRead(const uint8_t* bytes, uint32_t size, PlatTypeLib** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  if (!bytes) return kPlatTypeLibLoadFailed;
  Reader r(bytes, size);
  const uint32_t magic = r.U32();
  auto* lib = new (std::nothrow) PlatTypeLib;
  if (!lib) return kPlatOutOfMemory;
  lib->major = r.U16();
  lib->minor = r.U16();
  lib->lcid = r.U32();
  lib->id = r.Guid();
  const uint32_t count = r.U32();
  if (magic != 0x51585449u || count > kPlatTypeLibMaxInterfaces) r.Fail();
  for (uint32_t i = 0; i < count && r.ok(); ++i) {
    Interface f;
    f.iid = r.Guid();
    f.name = r.Name();
    const uint32_t members = r.U32();
    if (members > kPlatTypeLibMaxMembers) r.Fail();
    for (uint32_t m = 0; m < members && r.ok(); ++m) {
      Member mb;
      mb.id = int32_t(r.U32());
      mb.kind = r.U16();
      mb.resultVt = r.U16();
      mb.name = r.Name();
      const uint16_t params = r.U16();
      if (!KnownKind(mb.kind) || params > kPlatTypeLibMaxParams) r.Fail();
      for (uint16_t p = 0; p < params && r.ok(); ++p) {
        Param pa;
        pa.vt = r.U16();
        pa.flags = r.U16();
        pa.name = r.Name();
        mb.params.push_back(std::move(pa));
      }
      f.members.push_back(std::move(mb));
    }
    lib->interfaces.push_back(std::move(f));
  }
  if (!r.done()) {
    delete lib;
    return kPlatTypeLibLoadFailed;
  }
  *out = lib;
  return kPlatOk;
}

PlatHResult PlatTypeLibLoad(const char* fileText, PlatTypeLib** out) {
  if (!out) return kPlatInvalidArg;
  *out = nullptr;
  PlatFile* f = nullptr;
  if (!fileText || PlatFileOpen(fileText, kPlatOpenExisting, kPlatRead, kPlatDenyWrite, &f) != 0) return kPlatTypeLibLoadFailed;
  int64_t size = 0;
  std::vector<uint8_t> bytes;
  uint32_t done = 0;
  // A type-information file is small: one far past any real one is refused.
  bool ok = PlatFileGetSize(f, &size) == 0 && size >= 0 && size <= (16 << 20);
  if (ok) bytes.resize(size_t(size));
  if (ok && size) ok = PlatFileRead(f, bytes.data(), uint32_t(size), &done) == 0 && done == uint32_t(size);
  PlatFileClose(f);
  if (!ok) return kPlatTypeLibLoadFailed;
  return PlatTypeLibRead(bytes.data(), uint32_t(bytes.size()), out);
}

void PlatTypeLibRelease(PlatTypeLib* lib) {
  if (lib && lib->refs.fetch_sub(1) == 1) delete lib;
}
uint32_t PlatTypeLibLanguage(const PlatTypeLib* lib) { return lib ? lib->lcid : 0; }
const PlatGuid& PlatTypeLibId(const PlatTypeLib* lib) { return lib ? lib->id : kPlatGuidNull; }

PlatHResult PlatTypeLibInfoOfGuid(PlatTypeLib* lib, const PlatGuid& iid, void** info) {
  if (!info) return kPlatInvalidArg;
  *info = nullptr;
  if (!lib) return kPlatInvalidArg;
  for (const Interface& f : lib->interfaces)
    if (PlatGuidEqual(f.iid, iid)) {
      auto* i = new (std::nothrow) Info;
      if (!i) return kPlatOutOfMemory;
      i->face.slots = &kInfoSlots;
      i->lib = lib;
      i->iface = &f;
      lib->refs.fetch_add(1);
      *info = i;
      return kPlatOk;
    }
  return kPlatTypeElementNotFound;
}

uint32_t PlatTypeInfoMemberCount(const void* info) {
  const Interface* f = IfaceOf(info);
  return f ? uint32_t(f->members.size()) : 0;
}

PlatHResult PlatTypeInfoIdsOfNames(const void* info, uint16_t** names, uint32_t count, int32_t* ids) {
  const Interface* f = IfaceOf(info);
  if (!f || (count && (!names || !ids))) return kPlatInvalidArg;
  if (count == 0) return kPlatOk;
  for (uint32_t i = 0; i < count; ++i) ids[i] = -1;
  const Member* found = nullptr;
  for (const Member& m : f->members)
    if (names[0] && SameName(m.name, names[0])) {
      found = &m;
      break;
    }
  if (!found) return kPlatDispUnknownName;
  ids[0] = found->id;
  bool all = true;
  for (uint32_t i = 1; i < count; ++i) {
    for (size_t p = 0; p < found->params.size() && names[i]; ++p)
      if (SameName(found->params[p].name, names[i])) ids[i] = int32_t(p);
    all = all && ids[i] >= 0;
  }
  return all ? kPlatOk : kPlatDispUnknownName;
}

PlatHResult PlatTypeInfoInvoke(const void* info, void* object, int32_t member, uint16_t flags,
                               PlatDispParams* params, PlatVariant* result, PlatExcepInfo* exception,
                               uint32_t* argError) {
  const Interface* f = IfaceOf(info);
  if (!f || !object) return kPlatInvalidArg;
  size_t slot = f->members.size();
  for (size_t i = 0; i < f->members.size() && slot == f->members.size(); ++i)
    if (f->members[i].id == member && KindMatches(f->members[i].kind, flags)) slot = i;
  // A method call reaches a property get only when no method has the id.
  for (size_t i = 0; i < f->members.size(); ++i)
    if (f->members[i].id == member && f->members[i].kind == kPlatMemberMethod && (flags & kPlatDispatchMethod))
      slot = i;
  if (slot == f->members.size()) return kPlatDispMemberNotFound;
  const Member& m = f->members[slot];
  const uint32_t count = params ? params->count : 0;
  const uint32_t named = params ? params->namedCount : 0;
  if (named > count || (count && !params->args) || (named && !params->namedIds)) return kPlatInvalidArg;
  if (count > m.params.size()) return kPlatDispBadParamCount;
  // Where each parameter's argument lies in the call's array.
  std::vector<int64_t> from(m.params.size(), -1);
  for (uint32_t j = 0; j < named; ++j) {
    int32_t p = params->namedIds[j];
    if (p == kPlatDispIdPropertyPut && m.kind == kPlatMemberPut && !m.params.empty()) p = int32_t(m.params.size() - 1);
    if (p < 0 || size_t(p) >= m.params.size() || from[size_t(p)] >= 0) {
      if (argError) *argError = j;
      return kPlatDispParamNotFound;
    }
    from[size_t(p)] = j;
  }
  const uint32_t positional = count - named;
  for (uint32_t k = 0, p = 0; k < positional; ++k, ++p) {
    while (p < m.params.size() && from[p] >= 0) ++p;
    if (p >= m.params.size()) return kPlatDispBadParamCount;
    from[p] = count - 1 - k;
  }
  std::vector<PlatVariant> args(m.params.size());
  std::vector<bool> made(m.params.size(), false);
  PlatHResult r = kPlatOk;
  for (size_t p = 0; p < m.params.size() && r == kPlatOk; ++p) {
    PlatVariantInit(&args[p]);
    const Param& pa = m.params[p];
    if (from[p] < 0) {
      if (!(pa.flags & kPlatParamOptional)) {
        r = kPlatDispParamNotOptional;
        break;
      }
      args[p].vt = kPlatVtError;
      args[p].scode = kPlatDispParamNotFound;
      continue;
    }
    const PlatVariant& given = params->args[from[p]];
    if (pa.vt == kPlatVtVariant || given.vt == pa.vt) {
      args[p] = given;  // the caller's value as it is
      continue;
    }
    r = PlatVariantChangeType(&args[p], &given, 0, pa.vt);
    if (r == kPlatOk) made[p] = true;
    else if (argError) *argError = uint32_t(from[p]);
  }
  if (r == kPlatOk) {
    const auto* const* table = *static_cast<const void* const* const*>(object);
    const auto call = reinterpret_cast<PlatMemberSlot>(const_cast<void*>(table[7 + slot]));
    PlatVariant scratch;
    PlatVariantInit(&scratch);
    r = call(object, args.data(), uint32_t(args.size()), result ? result : &scratch);
    PlatVariantClear(&scratch);
    if (r < 0) {
      if (exception) exception->scode = r;
      r = kPlatDispException;
    }
  }
  for (size_t p = 0; p < args.size(); ++p)
    if (made[p]) PlatVariantClear(&args[p]);
  return r;
}
