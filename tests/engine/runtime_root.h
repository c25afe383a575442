// A test's own drive L: over a fresh temporary folder, holding the run-time
// resource file that the tools write (every text and image of the run-time),
// opened and installed for the engine.
#pragma once
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "engine/vi/archive.h"
#include "engine/vi/rtrsrc.h"
#include "mgsource/filemgr.h"
#include "mgsource/path_test_util.h"
#include "mgsource/rsrc.h"
#include "platform/qx_drives.h"
#include "tools/appbuild.h"

namespace qxtest {

class RuntimeRoot {
 public:
  // Call from SetUp after the managers run; false (with a failure) when
  // anything could not be made.
  bool Make(const char* prefix) {
    std::string t = (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (!mkdtemp(t.data())) return false;
    root_ = t;
    if (PlatDriveMap('L', root_.c_str(), kPlatDriveFixed) != 0) return false;
    rsrcw::Writer w(FourCC("APPL"), FourCC("QNLX"));
    qxbuild::AddRunTimeResources(&w);
    if (!rsrcw::WriteHostFile(root_ + "/runtime.rsc", w.Write())) return false;
    pathtest::Owned rt(pathtest::ToPath("L:\\runtime.rsc"));
    if (ROpenFile(rt.p, kRsrcReadOnly, &runtime_, nullptr, nullptr) != kNoErr) return false;
    SetRunTimeRsrcFile(runtime_);
    return true;
  }
  // Call from TearDown: closes the libraries and the file, removes the folder.
  void Remove() {
    CleanUpArchive();
    SetRunTimeRsrcFile(0);
    if (runtime_) RCloseFile(runtime_);
    runtime_ = 0;
    PlatDriveMap('L', nullptr, 0);
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  // The host path of a file under the folder.
  std::string Host(const std::string& rel) const { return root_ + "/" + rel; }
  const std::string& root() const { return root_; }
  RsrcFileRef runtime() const { return runtime_; }

 private:
  std::string root_;
  RsrcFileRef runtime_ = 0;
};

}  // namespace qxtest
