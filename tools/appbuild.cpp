#include "tools/appbuild.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "mgsource/config.h"
#include "tools/vilibrary.h"

namespace qxbuild {

void AddConfigTokenStrings(rsrcw::Writer* writer) {
  std::vector<std::string> names;
  for (int32 i = 1; i <= kCfgKeyCount; ++i) names.push_back(CfgKeyTableName(i));
  writer->Add(rsrcfmt::kTypeStrList, kCfgKeyListId, rsrcw::StrList(names), std::string(kCfgKeyListName));
}

void AddLibraryToolResources(rsrcw::Writer* writer) {
  std::vector<std::string> texts(archfmt::kToolTexts, archfmt::kToolTexts + archfmt::kToolTextCount);
  writer->Add(rsrcfmt::kTypeStrList, archfmt::kToolTextsId, rsrcw::StrList(texts), std::string(archfmt::kToolTextsName));
  for (int32 id : {archfmt::kVIPaletteImage, archfmt::kCtlPaletteImage})
    for (const auto& r : PaletteImage(id)) writer->Add(r.first, id, r.second);
}

bool AppendToProgram(const std::string& exeHost, const rsrcw::Bytes& resourceFile, const std::string& outHost,
                     std::string* error, uInt32 flags) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    std::error_code ec;
    std::filesystem::remove(outHost, ec);
    return false;
  };
  rsrcw::Bytes program = rsrcw::ReadHostFile(exeHost);
  if (program.empty()) return fail("can't read " + exeHost);
  if (program.size() + resourceFile.size() > 0xFFFFFFFFu - rsrcfmt::kTrailerSize)
    return fail("the application would pass 4 GB");
  uInt32 offset = uInt32(program.size());
  program.insert(program.end(), resourceFile.begin(), resourceFile.end());
  rsrcw::Bytes trailer = rsrcw::AppTrailer(offset, flags);
  program.insert(program.end(), trailer.begin(), trailer.end());
  if (!rsrcw::WriteHostFile(outHost, program)) return fail("can't write " + outHost);
  struct stat st;
  if (stat(exeHost.c_str(), &st) != 0 || chmod(outHost.c_str(), st.st_mode & 07777) != 0)
    return fail("can't set the permissions of " + outHost + ": " + std::strerror(errno));
  return true;
}

}  // namespace qxbuild
