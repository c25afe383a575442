// A locale whose decimal separator is ",", built for a test in a folder of
// its own and named by the environment while the object lives; the system's
// default decimal point is then read again from it.
#pragma once
#include <stdlib.h>

#include <cstdlib>
#include <string>

#include "mgsource/cfgwords.h"
#include "mgsource/config_test_file.h"
#include "mgsource/numconv.h"
#include "temp_folder.h"

class CommaLocale {
 public:
  CommaLocale() : folder_("qxloc") {
    std::string cmd = "localedef -i de_DE -f UTF-8 " + folder_.Dir() + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (folder_.Dir().empty() || std::system(cmd.c_str()) != 0) return;
    setenv("LOCPATH", folder_.Dir().c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    CfgTestSetValue("useLocaleDecimalPt", "true");
    NumInitDecimalPt();
    made_ = true;
  }
  ~CommaLocale() {
    if (!made_) return;
    CfgTestRemoveValue("useLocaleDecimalPt");
    CfgLoadDefaultWords();  // the key's default again, as at a new start-up
    setenv("LC_ALL", "C", 1);
    unsetenv("LOCPATH");
    NumInitDecimalPt();
  }
  // False when this host cannot build the locale.
  bool Made() const { return made_; }

 private:
  TempFolder folder_;
  bool made_ = false;
};
