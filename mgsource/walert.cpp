#include "walert.h"

#include <cstring>
#include <mutex>
#include <string>

#include "platform/qx_alert.h"

namespace {
std::mutex gTitleLock;
std::string& Title() {
  static std::string t = "Quenlix";
  return t;
}
}  // namespace

void WSetAlertTitle(const char* title) {
  std::lock_guard<std::mutex> g(gTitleLock);
  Title() = title ? title : "";
}

void WAlert(ConstPStr text, int32 /*unused*/) {
  char buf[256];
  int32 n = text ? text[0] : 0;
  if (n) std::memcpy(buf, text + 1, size_t(n));
  buf[n] = 0;
  std::string title;
  {
    std::lock_guard<std::mutex> g(gTitleLock);
    title = Title();
  }
  PlatAlert(title.c_str(), buf, kPlatOK, kPlatIconWarning);
}

void WBeep() { PlatBeep(); }
