// Posted callbacks: work that another thread hands to the user-interface
// thread with user event 3, whose first word is the record's handle.  The
// event owns the record; the user-interface thread runs it once and frees it.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/occur.h"

typedef int32 (*PostedCallbackProc)(int32 arg);

struct PostedCallbackRec {
  PostedCallbackProc proc;
  int32 arg;
  Occurrence done;                 // fired once the call is over, 0 for none
  UHandle vi;                      // the VI the work is for, or null
  UHandle dataSpace;               // its data space when posted, or null
  int32 generation;                // the counter's value when posted
  const int32* generationCounter;  // null: the call is never skipped
};
static_assert(sizeof(PostedCallbackRec) == 28 && offsetof(PostedCallbackRec, done) == 8 &&
                  offsetof(PostedCallbackRec, generationCounter) == 24,
              "posted callback record");

// Makes the record (an application-zone handle) and posts it: 0, 2 when
// memory is short, or the post's error (the record is then freed).
MgErr PostCallback(const PostedCallbackRec& callback);
