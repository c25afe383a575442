// Writes type-information files in the format platform/qx_typeinfo.h
// reads, and the automation server's own: the Application interface (50
// members) and the VirtualInstrument interface (118 members), version 5.0,
// under the server's library identifier.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qx_com.h"

namespace tiw {

struct Param {
  uint16_t vt;
  uint16_t flags;  // 1 in, 2 out, 0x10 optional
  std::string name;
};
struct Member {
  int32_t id;
  uint16_t kind;      // 1 method, 2 property get, 4 property put
  uint16_t resultVt;  // 0 none
  std::string name;
  std::vector<Param> params;
};
struct Interface {
  PlatGuid iid;
  std::string name;
  std::vector<Member> members;
};
struct Library {
  uint16_t major = 5, minor = 0;
  uint32_t lcid = 9;
  PlatGuid id{};
  std::vector<Interface> interfaces;
};

std::vector<uint8_t> Write(const Library& lib);

// The server's library in the language lcid: "_Application" under the
// Application object's type-information identifier and "VirtualInstrument"
// under the VI object's, members in slot order.
//   _Application: the gets of properties 0-45 (the automatic-quit property
//   35 as "AutoQuit", with its put), then GetVIReference, Quit and
//   "Bring To Front".
//   VirtualInstrument, in dispatch-id order: each property's get, a put for
//   the settable properties and the Boolean ones (in id order, as many as
//   the interface's count leaves room for), then the methods 1000-1022
//   with the object's own GetControlValue, SetControlValue, Call and Run.
Library ServerLibrary(uint32_t lcid = 9);
constexpr uint32_t kAppMembers = 50, kVIMembers = 118;
// Writes the server's library to the host path: false when it cannot.
bool WriteServerLibrary(const std::string& hostPath, uint32_t lcid = 9);

}  // namespace tiw
