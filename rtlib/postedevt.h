// Requests that a diagram posts for the user-interface thread to run on its
// behalf: the file dialog, alerts, the steps of call by reference and the
// datalog conversion question.
//
// NewPostedEvtHandle builds the record; the user-interface thread runs it
// with RunPostedEvt, which writes the results at result + resultSlot only
// while the requesting VI is still loaded with the data space it had when
// the request was made (the shell's target check), and disposes it with
// DisposePostedEvt.
#pragma once
#include "mgsource/extcode.h"
#include "mgsource/occur.h"
#include "mgsource/path.h"

enum : int32 {
  kPostedFileDialog = 0,
  kPostedOneButton = 1,
  kPostedTwoButton = 2,
  kPostedCallByRefFirst = 3,
  kPostedCallByRefLast = 7,
  kPostedConvertDatalog = 8,
};

struct PostedEvtRec {
  UHandle owner;       // the requesting VI
  UHandle dataSpace;   // its data space when the request was made
  int32 kind;
  void* data;          // the kind's inputs
  void* result;        // results go to result + resultSlot
  int32 resultSlot;
  void* queueElement;  // the element that waits for the request
};
static_assert(sizeof(PostedEvtRec) == 28 && offsetof(PostedEvtRec, resultSlot) == 20, "posted request");

// Inputs and outputs of the kinds.
struct PostedFileDialogIn {
  ConstPStr prompt;
  Path start;
  ConstPStr pattern;
  ConstPStr defaultName;
  int32 selector;  // kFDSelect*
};
struct PostedFileDialogOut {
  Path chosen;     // made when null; not-a-path unless something was chosen
  uChar exists;    // the chosen item, or its folder, exists
  uChar pad[3];
  MgErr result;    // the dialog's result (43 cancelled)
};
static_assert(sizeof(PostedFileDialogOut) == 12, "file dialog results");
struct PostedAlertIn {
  ConstPStr message;
  ConstPStr button1;  // null: the alert's own
  ConstPStr button2;
};
struct PostedAlertOut {
  uChar firstButton;  // two-button alert and conversion question: true for the first button
};
struct PostedConvertIn {
  Path path;
};

// Selectors of the file dialog and the dialog flags they stand for.
enum : int32 { kFDSelectExisting = 0, kFDSelectNew = 1, kFDSelectNewOrExisting = 2, kFDSelectFolder = 3 };
int32 PostedFileDialogFlags(int32 selector);

// The record (an application-zone handle); null, with an assertion, for a
// kind outside 0 to 8, and null when memory is short.
QX_EXTERN_C UHandle NewPostedEvtHandle(UHandle owner, int32 kind, void* data, void* result, int32 resultSlot,
                                       void* queueElement);
// Runs the request: 0, 1 for a call-by-reference step left pending, or the
// kind's error.  Nothing is written once the requester is gone.
MgErr RunPostedEvt(UHandle request);
void DisposePostedEvt(UHandle request);
// Hands the request from any thread to the user-interface thread's event
// loop (a posted callback), which runs and disposes it and then fires done
// (0: none).  0, or the post's error with the request still the caller's.
MgErr PostPostedEvt(UHandle request, Occurrence done);
