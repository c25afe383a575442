// Helpers the linker's table code and its class methods share.
#pragma once
#include "engine/link/linker.h"

namespace linkint {

// A valid index of a used record.
bool Used(int32 i);
// The VI an owner entry belongs to: the VI of a QXIN or QXCC entry, the VI
// whose panel an FPHP entry is, the VI of a VIDS entry's data space; null
// when there is none.
UHandle OwnerVI(int32 ownerEntry);
// The public QXIN (or QXCC) entry of the same name as `entry`, or 0.
int32 VIEntryOfName(int32 entry);
// The counted lists of the LKHP heap.
int32 ListCount(int32 list);
int32 ListGet(int32 list, int32 i);
// The clone list of a public entry whose class carries one, else 0.
int32 CloneListOf(int32 entry);
// True when ref is in the target's referrers.
bool InReferrers(int32 target, int32 ref);
// The entry of the VIDS item of a VI's name, or 0.
int32 DataSpaceEntryOf(UHandle vi);
// Chains and lists: a public entry pushed at the head of its chain, a
// reference appended at the tail of its chain and to its owner's own list.
void EnterPublicInChain(int32 bucket, int32 entry);
void WaitInChain(int32 bucket, int32 ref);
void AddOwnRef(int32 owner, int32 ref);

// Whether the VI's compiled code names a routine this system does not have.
Bool32 CodeUsesMissingRTEntries(UHandle vi);

// Calls a patch or unpatch for every clone of the reference's owner, the
// owner's object replaced by the clone for each call and restored after.
template <typename Call>
void ForEachCloneOfOwner(int32 ref, Call call) {
  const int32 owner = int32(LE(ref).owner);
  for (int32 k = 0; k < ListCount(CloneListOf(owner)); ++k) {
    const uInt32 clone = uInt32(ListGet(CloneListOf(owner), k));
    const uInt32 saved = LE(owner).owner;
    LE(owner).owner = clone;
    call();
    LE(owner).owner = saved;
  }
}

}  // namespace linkint
