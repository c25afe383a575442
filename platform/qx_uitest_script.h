// Input scripts of the user-interface test tooling (QX_INPUT_SCRIPT).
//
// A script is text, one step a line:
//   wait                          let the windows work until nothing is left to do
//   click X Y                     left press and release at a screen point
//   key NAME                      a key press and release; NAME may carry
//                                 modifiers: "Shift+Tab", "Ctrl+S", "Alt+F"
//   type "TEXT"                   the characters of TEXT, typed
//   wheel N X Y                   N wheel steps (up positive) at a screen point
//   snapshot FILE                 the screen as a PNG file
//   snapshot-window "TITLE" FILE  the client area of the shown window of that title
//   quit                          ends the run
//   wait-file FILE                let the windows work until FILE exists
//                                 (fails after 60 s without it)
// Words are separated by spaces or tabs; blank lines and lines starting
// with '#' are skipped; a line may end with CR LF.  Quoted texts take the
// escapes \" \\ \n and \t; FILE may be quoted or a word.  Numbers are decimal: points
// -32768..32767, wheel steps -100..100 and not 0.  Lines are at most 4096
// bytes and hold printable ASCII only (tabs aside).
//
// A script is untrusted: the parser checks every line and stops at the
// first bad one with its line number and what is wrong.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum PlatScriptOp : int32_t {
  kScriptWait = 0,
  kScriptClick = 1,
  kScriptKey = 2,
  kScriptType = 3,
  kScriptWheel = 4,
  kScriptSnapshot = 5,
  kScriptSnapshotWindow = 6,
  kScriptQuit = 7,
  kScriptWaitFile = 8,
};

// Modifiers of a key step.
enum : uint32_t { kScriptShift = 1, kScriptCtrl = 2, kScriptAlt = 4 };

constexpr size_t kScriptMaxLine = 4096;
constexpr int32_t kScriptMaxWheel = 100;

struct PlatScriptStep {
  PlatScriptOp op = kScriptWait;
  int32_t line = 0;      // 1-based line of the script
  int32_t x = 0, y = 0;  // click, wheel
  int32_t steps = 0;     // wheel
  uint32_t mods = 0;     // key
  uint32_t key = 0;      // key: the virtual key
  std::string text;      // type: the characters; snapshots, wait-file: the file
  std::string title;     // snapshot-window
  bool operator==(const PlatScriptStep&) const = default;
};

// The virtual key of a key name ("A", "7", "Enter", "F10", "Left", ...,
// any case), 0 for an unknown name; and the canonical name of a key (empty
// for one without a name).
uint32_t PlatScriptKeyOfName(const char* name, size_t len);
std::string PlatScriptNameOfKey(uint32_t key);

// Parses a whole script.  True with the steps; false with the 1-based line
// of the first bad one and a message.
bool PlatScriptParse(const char* text, size_t size, std::vector<PlatScriptStep>* steps, int32_t* badLine,
                     std::string* message);
// One step as a script line (without line end) that parses back to it.
std::string PlatScriptFormat(const PlatScriptStep& step);
