#include "rsrc_standin.h"

#include <atomic>

namespace {
std::atomic<RIsResFileProc> gIsResFile{nullptr};
std::atomic<RSetFileTypeCreatorProc> gSetTypeCreator{nullptr};
}  // namespace

MgErr RIsResFile(Path path, uInt32* fileType, uInt32* creator) {
  if (fileType) *fileType = 0;
  if (creator) *creator = 0;
  if (RIsResFileProc proc = gIsResFile.load()) return proc(path, fileType, creator);
  return kRsrcFileNotFoundErr;
}

MgErr RSetFileTypeCreator(Path path, uInt32 fileType, uInt32 creator) {
  if (RSetFileTypeCreatorProc proc = gSetTypeCreator.load()) return proc(path, fileType, creator);
  return kRsrcFileNotFoundErr;
}

void RStandinSetProcs(RIsResFileProc isResFile, RSetFileTypeCreatorProc setTypeCreator) {
  gIsResFile.store(isResFile);
  gSetTypeCreator.store(setTypeCreator);
}
