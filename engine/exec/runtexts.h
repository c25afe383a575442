// The texts of the run commands.  The run-time resource file carries them
// (its builder in tools/ writes them from these tables); the run commands
// fall back on the same tables when the file lacks one.
#pragma once
#include "mgsource/extcode.h"

// "_RO VI Errors": the broken-VI alert, entry 5 formatted with the flag word.
constexpr const char* kROVIErrorsListName = "_RO VI Errors";
constexpr int32 kROVIErrorsCount = 5;
inline constexpr const char* kROVIErrorTexts[kROVIErrorsCount] = {
    "The VI is not executable.  The full development version of Quenlix is required to fix the errors.",
    "A subVI is not executable.  The full development version of Quenlix is required to fix the errors.",
    "A subVI, Type Definition, or external subroutine is missing or inconsistent with the current VI.",
    "A subVI is already running. You cannot run this VI until the subVI stops.",
    "VI has an error of type %lx.  The full development version of Quenlix is required to fix the errors.",
};

// The datalog alerts (list 701): entry 2 names the VI, 9 the log path, 5
// a failed write; entry 10 says there is no log file.
constexpr int32 kLogAlertsCount = 10;
inline constexpr const char* kLogAlertTexts[kLogAlertsCount] = {
    "",
    "Cannot log front panel of VI \"%p\". ",
    "",
    "",
    "Error logging front panel data to VI's log file.",
    "",
    "",
    "",
    "Could not open log file \"%z\" associated with the VI.",
    "There is no log file associated with the VI.",
};
// List 700, entry 7: the log file does not match the panel.
constexpr int32 kLogIncompatibleCount = 7;
inline constexpr const char* kLogIncompatibleTexts[kLogIncompatibleCount] = {
    "", "", "", "", "", "", "The data in the VI's log file is incompatible with the VI's front panel.",
};
// List 313: the run-time error report.
constexpr int32 kErrNotifyCount = 3;
inline constexpr const char* kErrNotifyTexts[kErrNotifyCount] = {
    "control",
    "node",
    "VI \"%p\" was stopped at %p %p 0x%lx of subVI \"%p\"",
};
// 'STR ' 2026, followed by the VI's name in the resetting dialog.
constexpr const char* kResettingText = "Resetting VI: ";
