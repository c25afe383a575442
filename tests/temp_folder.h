// A fresh folder under the host's temporary folder, removed with all it
// holds when the object goes.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    std::string t = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (mkdtemp(t.data())) dir_ = t;
    else ADD_FAILURE() << "no temporary folder " << t;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};
