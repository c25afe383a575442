// The server's type-information file, as the tools write it, in the
// application folder where the objects look for it.
#pragma once
#include <string>

#include "platform/qx_file.h"
#include "tools/appbuild.h"
#include "tools/typeinfowriter.h"

namespace oletest {

// The host path of a file in the application folder (the program's).
inline std::string AppFolderFile(const std::string& name) {
  std::string program;
  if (!PlatProgramFile(&program)) return std::string();
  return program.substr(0, program.rfind('/') + 1) + name;
}
inline bool WriteAppTypeLibrary(uint32_t lcid = 9) {
  const std::string at = AppFolderFile(qxbuild::kAutomationTypeLibName);
  return !at.empty() && tiw::WriteServerLibrary(at, lcid);
}

}  // namespace oletest
