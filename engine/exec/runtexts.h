// The texts of the run commands.  The run-time resource file carries them
// (its builder in tools/ writes them from these tables); the run commands
// fall back on the same tables when the file lacks one.
#pragma once
#include "engine/exec/runcmd.h"
#include "mgsource/extcode.h"

// Every text of the run commands' string lists, one entry each: the list's
// id, the entry's 1-based index and its text.  Indexes a list leaves out are
// empty strings in the file.
struct RunText {
  int32 list;
  int32 index;
  const char* text;
};
inline constexpr RunText kRunTexts[] = {
    // The broken-VI alert; entry 5 is formatted with the flag word.
    {kROVIErrorsListId, 1,
     "The VI is not executable.  The full development version of Quenlix is required to fix the errors."},
    {kROVIErrorsListId, 2,
     "A subVI is not executable.  The full development version of Quenlix is required to fix the errors."},
    {kROVIErrorsListId, 3,
     "A subVI, Type Definition, or external subroutine is missing or inconsistent with the current VI."},
    {kROVIErrorsListId, 4, "A subVI is already running. You cannot run this VI until the subVI stops."},
    {kROVIErrorsListId, 5,
     "VI has an error of type %lx.  The full development version of Quenlix is required to fix the errors."},
    // The datalog alerts: entry 2 names the VI, 9 the log path, 5 a failed
    // write; entry 10 says there is no log file; entry 8 asks whether an old
    // datalog may be converted, entry 12 is that question's button; 6 is the
    // log file dialog's prompt, 11 the question for an unsuitable log path, 3
    // the question after a purge emptied the log.
    {kLogAlertListId, 1, "There is no front panel data to log."},
    {kLogAlertListId, 2, "Cannot log front panel of VI \"%p\". "},
    {kLogAlertListId, 3, "VI's log file no longer has any records.  Do you want to delete the VI's log file?"},
    {kLogAlertListId, 4, "Error changing VI's log file to selected log file."},
    {kLogAlertListId, 5, "Error logging front panel data to VI's log file."},
    {kLogAlertListId, 6, "Select a log file for VI %p"},
    {kLogAlertListId, 7, "Cannot log front panel of VI with broken run arrow."},
    {kLogAlertListId, 8,
     "The datalog \"%z\" must be converted to the current format.  This will prevent earlier versions of Quenlix "
     "from reading it."},
    {kLogAlertListId, 9, "Could not open log file \"%z\" associated with the VI."},
    {kLogAlertListId, 10, "There is no log file associated with the VI."},
    {kLogAlertListId, 11,
     "The log file path associated with this VI refers to an existing directory, VI library or non-datalog file.  "
     "Do you want to use this path anyway?"},
    {kLogAlertListId, 12, "Convert"},
    // Retrieval alerts: entries 1 and 2 are formatted with entry 3, 4, 5 or
    // 7; entry 6 asks whether marked records go; entry 4 of the other list
    // reports a log file that could not replace the old one.
    {kLogIncompatibleListId, 1, "Cannot enter interactive retrieval mode.  %p"},
    {kLogIncompatibleListId, 2, "Exiting interactive retrieval mode.  %p"},
    {kLogIncompatibleListId, 3, "Could not retrieve currently selected record from VI %p's log file %z."},
    {kLogIncompatibleListId, 4, "An error occurred while trying to open the VI's log file."},
    {kLogIncompatibleListId, 5, "The VI's log file has no records."},
    {kLogIncompatibleListId, 6,
     "There are records in the VI's log file marked for deletion.  Do you wish to delete them?"},
    {kLogIncompatibleListId, 7, "The data in the VI's log file is incompatible with the VI's front panel."},
    // The first text of the retrieval record-number field.
    {kLogIncompatibleListId, 8, "0"},
    // The range shown after it: the last record's number.
    {kLogIncompatibleListId, 9, " [0..%ld]"},
    // The run-time error report.
    {kErrNotifyListId, 1, "control"},
    {kErrNotifyListId, 2, "node"},
    {kErrNotifyListId, 3, "VI \"%p\" was stopped at %p %p 0x%lx of subVI \"%p\""},
};

// The tip strips of the tool bar's 61 images, entry image + 1 of the list.
constexpr int32 kToolBarTipListId = 11114;
inline constexpr const char kToolBarTipListName[] = "_State Tip Strips";
inline constexpr const char* kToolBarTips[61] = {
    "Run", "Running", "SubVI Waiting to Run", "SubVI Running", "List Errors", "Data Range Error",
    "Run Continuously", "Running Continuously", "List Warnings", "Cancel", "Confirm", "Step Into", "Step Over",
    "Step Out", "Compiling", "Pause", "Do not Pause", "Cancel", "Run", "Run without Pausing",
    "Delete Data Record", "Restore Data Record", "Edit Mode", "Customize Mode", "", "Vertical Layout",
    "Vertical Layout", "Horizontal Layout", "Horizontal Layout", "Include VI Lib", "Include VI Lib",
    "Include Globals", "Include Globals", "Highlight Execution", "Do not Highlight Execution",
    "Highlighting is Off", "Highlighting is On", "Abort Execution", "Display Retrieval Record", "Enter Text",
    "Redo Layout", "Include Type Def.", "Include Type Def.", "", "Invalid Control", "Commit & Exit Retrieval",
    "Pause", "Continue", "Skip to Beginning", "Return to Caller", "Run without Pausing", "eraseRun", "eraseFRun",
    "eraseHilite", "eraseReset", "erasePause", "eraseStepInto", "eraseStepOver", "eraseStepOutOf",
    "eraseEnterText", "eraseWarningButton",
};

// The lists those texts make up, with the resource name a list carries.
struct RunTextList {
  int32 id;
  const char* name;  // null: the list has no name
};
inline constexpr RunTextList kRunTextLists[] = {
    {kROVIErrorsListId, "_RO VI Errors"},
    {kLogAlertListId, nullptr},
    {kLogIncompatibleListId, nullptr},
    {kErrNotifyListId, nullptr},
};

// The text of entry `index` of list `list`, or null when the list has none.
inline const char* RunTextOf(int32 list, int32 index) {
  for (const RunText& t : kRunTexts)
    if (t.list == list && t.index == index) return t.text;
  return nullptr;
}
// The entries list `list` holds: its highest index.
inline int32 RunTextCount(int32 list) {
  int32 n = 0;
  for (const RunText& t : kRunTexts)
    if (t.list == list && t.index > n) n = t.index;
  return n;
}

// 'STR ' 2026, followed by the VI's name in the resetting dialog.
constexpr const char* kResettingText = "Resetting VI: ";
