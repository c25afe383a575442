// The configuration record of the execution systems: the thread counts in
// force or in the configuration file, and their writing back.
#include "exec_internal.h"
#include "mgsource/config.h"
#include "mgsource/memory.h"

using namespace qxexec;

namespace {

constexpr int32 kStdNWord = 25;
constexpr int32 kProcessorsWord = 26;

int32* Words(UHandle h) { return reinterpret_cast<int32*>(*h) + 1; }

int32 ReadKey(ConstPStr key) {
  int32 value = kConfigExecUnset;
  if (CfgGetDefault(kCfgInt, key, &value) != kNoErr) return kConfigExecUnset;
  return value;
}

MgErr WriteKey(ConstPStr key, int32 value, bool remove) {
  return remove ? CfgRemove(kCfgInt, key) : CfgWrite(kCfgInt, key, &value);
}

}  // namespace

MgErr ConfigExec(UHandle record, int32 mode) {
  if (!record || mode < 0 || mode > 2) return kArgErr;
  // Only a live handle of either zone is written.
  bool ds = MemIsDSHandle(record) != 0;
  if (!ds && !AZIsHandle(record)) return kArgErr;
  int32 size = ds ? DSGetHandleSize(record) : AZGetHandleSize(record);
  bool holds = size >= kConfigExecSize && reinterpret_cast<int32*>(*record)[0] == kConfigExecWords;

  if (mode == 2) {
    if (!holds) return kArgErr;
    int32 words[kConfigExecWords];
    for (int32 i = 0; i < kConfigExecWords; ++i) words[i] = Words(record)[i];
    MgErr first = kNoErr;
    Bool32 written = 0;
    for (int32 s = 1; s < kExecSlots; ++s) {
      bool write = words[kStdNWord] == -1 && words[s - 1] != kConfigExecUnset;
      MgErr err = WriteKey(kSlotKeys[s], words[s - 1], !write);
      if (write && !err) written = 1;
      if (err && !first) first = err;
    }
    SetConfigDiffers(written);
    MgErr err = WriteKey(kStdNParallelKey, words[kStdNWord], words[kStdNWord] == kConfigExecUnset);
    return first ? first : err;
  }

  if (!holds) {
    MgErr err = ds ? DSSetHandleSize(record, kConfigExecSize) : AZSetHandleSize(record, kConfigExecSize);
    if (err) return err;
    reinterpret_cast<int32*>(*record)[0] = kConfigExecWords;
  }
  int32 words[kConfigExecWords];
  if (mode == 0) {
    const ExecSlot* slots = ExecSlotTable();
    for (int32 s = 1; s < kExecSlots; ++s) words[s - 1] = slots[s].threads;
    words[kStdNWord] = ExecStdNParallel();
  } else {
    for (int32 s = 1; s < kExecSlots; ++s) words[s - 1] = ReadKey(kSlotKeys[s]);
    words[kStdNWord] = ReadKey(kStdNParallelKey);
  }
  words[kProcessorsWord] = ThProcessorCount();
  for (int32 i = 0; i < kConfigExecWords; ++i) Words(record)[i] = words[i];
  return kNoErr;
}
