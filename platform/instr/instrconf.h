// The device file of the simulated GPIB bus: one item per line, "#" starts a
// comment outside quotes.
//   board <n> [controller=0|1] [async=0|1]
//   device <b>:<p>[+<s>] [idn="<text>"] [eos=lf|cr|crlf|none] [delay=<ms>]
//          [poll=<byte>] [srq-after="<command>"] [listen=0|1]
//          [fail=none|system|timeout] [vxi=<hex bytes>]
//   answer <b>:<p>[+<s>] "<query>" "<reply>"
// Boards 0-999, primary and secondary addresses 0-30; quoted texts know the
// escapes \r \n \" \\ and \xHH.  The text is untrusted: a bad line is
// refused with its reason and nothing else is taken from it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace qxinstr {

constexpr size_t kMaxLine = 4096;       // bytes of one line, its end excluded
constexpr uint32_t kMaxBoard = 999;
constexpr uint32_t kMaxAddress = 30;
constexpr uint32_t kMaxDelay = 1000000;  // ms, the longest time limit
constexpr size_t kMaxVxiBytes = 64;

enum ItemKind : int32_t { kItemBoard = 0, kItemDevice = 1, kItemAnswer = 2 };
enum Terminator : int32_t { kEosNone = 0, kEosLF = 1, kEosCR = 2, kEosCRLF = 3 };
enum FailMode : int32_t { kFailNone = 0, kFailSystem = 1, kFailTimeout = 2 };

struct Item {
  int32_t kind = kItemBoard;
  uint32_t board = 0;
  uint32_t primary = 0;
  int32_t secondary = -1;  // -1 none, else 0-30
  // board
  int32_t controller = 1, async = 1;
  // device
  std::string idn;
  int32_t eos = kEosLF;
  uint32_t delay = 0;
  uint32_t poll = 0;
  bool hasSrqAfter = false;
  std::string srqAfter;
  int32_t listen = 1;
  int32_t fail = kFailNone;
  std::string vxi;
  // answer
  std::string query, reply;
};

enum ParseResult : int32_t { kLineBad = -1, kLineEmpty = 0, kLineItem = 1 };
// Parses the len bytes at text (one line without its end; a trailing CR is
// dropped).  kLineItem with *item filled, kLineEmpty for a blank or comment
// line, kLineBad with the reason in *why.  Nothing past text + len is read.
int32_t ParseLine(const char* text, size_t len, Item* item, std::string* why);

// Reads a device file: each line is parsed and passed to take; a bad
// line is reported through report(line number, reason) and skipped.  A file
// that cannot be opened is an empty bus (false).
// take may refuse an item (false, with the reason), which is then reported
// as a bad line.
typedef bool (*ItemProc)(void* ctx, const Item& item, std::string* why);
typedef void (*ReportProc)(void* ctx, uint32_t line, const std::string& why);
bool ReadFile(const char* path, ItemProc take, ReportProc report, void* ctx);
// The same over text already in memory.
void ReadText(const char* text, size_t size, ItemProc take, ReportProc report, void* ctx);

}  // namespace qxinstr
