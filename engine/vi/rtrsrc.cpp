#include "rtrsrc.h"

#include <atomic>

namespace {
std::atomic<RsrcFileRef> gRunTimeFile{0};
}

void SetRunTimeRsrcFile(RsrcFileRef file) { gRunTimeFile.store(file); }
RsrcFileRef RunTimeRsrcFile() { return gRunTimeFile.load(); }
