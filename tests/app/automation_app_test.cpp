// The automation server's registration in the built program: started with
// "/Unregister", the program removes exactly the keys the server's start
// writes, named by the texts of its own run-time file, and keeps the rest.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/demovi.h"
#include "temp_folder.h"
#include "tools/appbuild.h"

namespace {

std::string Slurp(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

TEST(AutomationApp, UnregisterRemovesTheServersKeysOnly) {
  TempFolder tmp("qx_oleapp");
  const std::string app = tmp.Dir() + "/demo", reg = tmp.Dir() + "/reg.ini";
  std::string error;
  ASSERT_TRUE(demo::BuildDemo(QX_QUENLIX, app, 20, "", &error)) << error;
  const std::string clsid = qxbuild::kAutomationServerGuids[0], lib = qxbuild::kAutomationServerGuids[3];
  const std::string app3 = qxbuild::kAutomationServerGuids[2], vi5 = qxbuild::kAutomationServerGuids[4];
  std::ofstream(reg) << "[HKEY_CLASSES_ROOT\\Quenlix.Application\\ClassId]\n@=\"" << clsid << "\"\n"
                     << "[HKEY_CLASSES_ROOT\\Quenlix.Application.5]\n@=\"x\"\n"
                     << "[HKEY_CLASSES_ROOT\\Classes\\" << clsid << "\\Server]\n@=\"x\"\n"
                     << "[HKEY_CLASSES_ROOT\\Classes\\{00000000-0000-0000-0000-000000000001}]\n@=\"other\"\n"
                     << "[HKEY_CLASSES_ROOT\\TypeInfo\\" << lib << "\\5.0\\0\\file2]\n@=\"x\"\n"
                     << "[HKEY_CLASSES_ROOT\\Interfaces\\" << app3 << "\\TypeInfo]\nVersion=\"5.0\"\n"
                     << "[HKEY_CLASSES_ROOT\\Interfaces\\" << vi5 << "]\n@=\"VirtualInstrument\"\n"
                     << "[HKEY_CLASSES_ROOT\\.vi]\n@=\"kept\"\n";
  const std::string cmd = "cd " + tmp.Dir() + " && QX_UI=headless QX_RUNTIME_DIR=" + tmp.Dir() +
                          "/run QX_REGISTRY_FILE=" + reg + " timeout 60 " + app + " /Unregister >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(Slurp(reg), "[HKEY_CLASSES_ROOT\\Classes\\{00000000-0000-0000-0000-000000000001}]\n@=\"other\"\n"
                        "[HKEY_CLASSES_ROOT\\.vi]\n@=\"kept\"\n");
}

}  // namespace
