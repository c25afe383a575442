#include "tools/typeinfowriter.h"

#include <unistd.h>

#include <cstdio>

#include "engine/membertab.h"
#include "platform/qx_comvar.h"
#include "tools/appbuild.h"

namespace tiw {

namespace {

void U32(std::vector<uint8_t>* b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b->push_back(uint8_t(v >> s));
}
void U16(std::vector<uint8_t>* b, uint16_t v) {
  b->push_back(uint8_t(v >> 8));
  b->push_back(uint8_t(v));
}
void Name(std::vector<uint8_t>* b, const std::string& s) {
  const size_t n = s.size() > 255 ? 255 : s.size();
  b->push_back(uint8_t(n));
  b->insert(b->end(), s.begin(), s.begin() + long(n));
}
void Guid(std::vector<uint8_t>* b, const PlatGuid& g) {
  U32(b, g.data1);
  U16(b, g.data2);
  U16(b, g.data3);
  b->insert(b->end(), g.data4, g.data4 + 8);
}

PlatGuid ServerGuid(int item) {
  PlatGuid g{};
  PlatGuidFromText(qxbuild::kAutomationServerGuids[item - 1], &g);
  return g;
}

// The variant type a property's value travels as: Booleans, strings and
// 32-bit numbers as themselves, anything else as a variant.
uint16_t VtOf(int32_t typeIndex) {
  switch (typeIndex) {
    case kStdTDBoolean: return kPlatVtBool;
    case kStdTDString: return kPlatVtBstr;
    case 3: return kPlatVtI4;
    case 7: return kPlatVtUI4;
    default: return kPlatVtVariant;
  }
}

Member Get(int32_t id, const AutoPropInfo& p) { return {id, 2, VtOf(p.typeIndex), p.name, {}}; }
Member Put(int32_t id, const AutoPropInfo& p) { return {id, 4, 0, p.name, {{VtOf(p.typeIndex), 1, "value"}}}; }

Interface Application() {
  Interface f{ServerGuid(2), "_Application", {}};
  for (int32_t id = 0; id <= 45; ++id) {
    if (id == 35) {
      f.members.push_back({35, 2, kPlatVtBool, "AutoQuit", {}});
      f.members.push_back({35, 4, 0, "AutoQuit", {{kPlatVtBool, 1, "value"}}});
      continue;
    }
    f.members.push_back(Get(id, *PropInfoLookup(kAutoClassApp, id)));
  }
  f.members.push_back({2004, 1, kPlatVtDispatch, "GetVIReference",
                       {{kPlatVtBstr, 1, "viPath"}, {kPlatVtVariant, 1 | 0x10, "password"}}});
  f.members.push_back({2013, 1, 0, "Quit", {}});
  f.members.push_back({2014, 1, 0, MethodInfoLookup(kAutoClassApp, 2014)->name, {}});
  return f;
}

Interface VirtualInstrument() {
  Interface f{ServerGuid(6), "VirtualInstrument", {}};
  std::vector<Member> gets, puts;
  for (int32_t id = 500; const AutoPropInfo* p = PropInfoLookup(kAutoClassVI, id); ++id) {
    if (p->helpId == -1) continue;
    gets.push_back(Get(id, *p));
    if (p->access == 1) puts.push_back(Put(id, *p));
  }
  std::vector<Member> methods;
  for (int32_t id = 1000; const AutoMethodInfo* m = MethodInfoLookup(kAutoClassVI, id); ++id) {
    if (m->helpId != -1) {
      methods.push_back({id, 1, kPlatVtVariant, m->name, {}});
      for (int32_t p = 1; p < m->paramCount; ++p)
        methods.back().params.push_back({kPlatVtVariant, uint16_t(m->params[p].direction | (p > m->requiredCount ? 0x10 : 0)),
                                         "p" + std::to_string(p)});
      continue;
    }
    if (id == 1013) methods.push_back({1013, 1, kPlatVtVariant, "GetControlValue", {{kPlatVtBstr, 1, "controlName"}}});
    if (id == 1014)
      methods.push_back({1014, 1, 0, "SetControlValue", {{kPlatVtBstr, 1, "controlName"}, {kPlatVtVariant, 1, "value"}}});
    if (id == 1015)
      methods.push_back({1015, 1, 0, "Call",
                         {{kPlatVtVariant, 1 | 2 | 0x10, "paramNames"}, {kPlatVtVariant, 1 | 2 | 0x10, "paramVals"}}});
    if (id == 1017) methods.push_back({1017, 1, 0, "Run", {{kPlatVtVariant, 1 | 0x10, "async"}}});
  }
  // Puts of the Boolean options after the settable properties, while room
  // is left.
  for (int32_t id = 500; const AutoPropInfo* p = PropInfoLookup(kAutoClassVI, id); ++id)
    if (p->helpId != -1 && p->access != 1 && p->typeIndex == kStdTDBoolean &&
        gets.size() + puts.size() + methods.size() < kVIMembers)
      puts.push_back(Put(id, *p));
  // Dispatch-id order: each property's get before its put, then the methods.
  for (const Member& g : gets) {
    f.members.push_back(g);
    for (const Member& p : puts)
      if (p.id == g.id) f.members.push_back(p);
  }
  f.members.insert(f.members.end(), methods.begin(), methods.end());
  return f;
}

}  // namespace

std::vector<uint8_t> Write(const Library& lib) {
  std::vector<uint8_t> b{'Q', 'X', 'T', 'I'};
  U16(&b, lib.major);
  U16(&b, lib.minor);
  U32(&b, lib.lcid);
  Guid(&b, lib.id);
  U32(&b, uint32_t(lib.interfaces.size()));
  for (const Interface& f : lib.interfaces) {
    Guid(&b, f.iid);
    Name(&b, f.name);
    U32(&b, uint32_t(f.members.size()));
    for (const Member& m : f.members) {
      U32(&b, uint32_t(m.id));
      U16(&b, m.kind);
      U16(&b, m.resultVt);
      Name(&b, m.name);
      U16(&b, uint16_t(m.params.size()));
      for (const Param& p : m.params) {
        U16(&b, p.vt);
        U16(&b, p.flags);
        Name(&b, p.name);
      }
    }
  }
  return b;
}

Library ServerLibrary(uint32_t lcid) {
  Library lib;
  lib.lcid = lcid;
  lib.id = ServerGuid(4);
  lib.interfaces = {Application(), VirtualInstrument()};
  return lib;
}

bool WriteServerLibrary(const std::string& hostPath, uint32_t lcid) {
  const std::vector<uint8_t> bytes = Write(ServerLibrary(lcid));
  // Written beside and renamed into place: a reader never sees half a file.
  const std::string part = hostPath + ".part" + std::to_string(getpid());
  FILE* f = std::fopen(part.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) {
    std::remove(part.c_str());
    return false;
  }
  return std::rename(part.c_str(), hostPath.c_str()) == 0;
}

}  // namespace tiw
