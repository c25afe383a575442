#include "qx_shortcut.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "qx_drives.h"

bool PlatReadShortcutLink(const char* text, std::string* target) {
  if (!text || !target) return false;
  std::string host;
  if (PlatResolveSysText(text, &host, nullptr) != 0) return false;
  struct stat st;
  if (lstat(host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  std::vector<char> buf(4096);
  ssize_t n = readlink(host.c_str(), buf.data(), buf.size());
  if (n <= 0 || size_t(n) >= buf.size()) return false;
  std::filesystem::path link(std::string(buf.data(), size_t(n)));
  if (link.is_relative()) link = std::filesystem::path(host).parent_path() / link;
  std::string abs = link.lexically_normal().string();
  while (abs.size() > 1 && abs.back() == '/') abs.pop_back();
  return PlatHostToSysText(abs.c_str(), target);
}
