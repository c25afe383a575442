#include "tools/appbuild.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/link/hierarchy.h"
#include "engine/shellsvc.h"
#include "mgsource/config.h"
#include "mgsource/debug.h"
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

void AddLoadErrorTexts(rsrcw::Writer* writer) {
  static const char* const kTexts[kLoadErrorsCount] = {
      "Quenlix load error code %ld: %p",
      "Could not load front panel link information.",
      "Could not load front panel.",
      "Front panel load detected link error.",
      "Could not load block diagram link information.",
      "Could not load block diagram.",
      "Block diagram load detected link error.",
      "Could not load VI resource.",
      "Version of VI is newer than Quenlix version.",
      "Version of VI is too old to convert to current Quenlix version.",
      "VI cannot be converted to current version because it has no block diagram.",
      "Could not load connector type map.",
      "Could not load icon.",
      "Could not load data space type map.",
      "Could not load default data.",
      "Could not load data space link information.",
      "Could not load VI's link information.",
      "",
      "",
      "",
      "An external subroutine required for execution could not be found.",
      "",
      "There is not enough memory to load this VI.",
      "This VI cannot be loaded because it is broken and has no block diagram.",
      "This VI cannot be loaded because it is from an incompatible alpha, beta, or development system.",
      "This VI cannot be loaded because it contains objects not recognized by Quenlix.",
      "Could not load VI history.",
      "Could not get VI file modification date.",
      "Could not register VI with data type manager.",
      "Could not initialize password.",
      "Could not load run-time menu path.",
  };
  const std::string first = "An error occurred loading VI '%p'.";
  writer->Add(rsrcfmt::kTypeString, kLoadErrorStrId, rsrcw::BytesOf(char(first.size()) + first),
              std::string(kLoadErrorStrName));
  writer->Add(rsrcfmt::kTypeStrList, kLoadErrorsListId, rsrcw::StrList({kTexts, kTexts + kLoadErrorsCount}),
              std::string(kLoadErrorsListName));
}

void AddMgErrTexts(rsrcw::Writer* writer) {
  std::vector<std::string> texts;
  for (MgErr code = 1; code <= kMgErrTextCount; ++code) texts.push_back(DBMgErrText(code));
  writer->Add(rsrcfmt::kTypeStrList, kMgErrTextsListId, rsrcw::StrList(texts), std::string(kMgErrTextsListName));
}

}  // namespace qxbuild
