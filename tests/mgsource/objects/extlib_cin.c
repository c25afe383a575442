/* A code library as a code resource carries it: GetQXSBHeader answers its
   header; it also takes the run-time table's address through
   PatchQXRTGlobal and exports procedures by ordinal and with a leading
   underscore only.  QXSB_TEST_HEADER chooses a faulty header: "null", "version5"
   or "readonly". */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

struct Header {
  unsigned char jump[8];
  uint32_t reserved8, version, entry, reserved20, zero24, module, word1, word2, entryData;
};

static struct Header header = {{0}, 0, 3, 0, 0, 0x55555555u, 0x66666666u, 0, 0, 0};
static const struct Header readOnlyHeader = {{0}, 0, 3, 0, 0, 0, 0, 0, 0, 0};

struct Header* GetQXSBHeader(void) {
  const char* mode = getenv("QXSB_TEST_HEADER");
  if (mode && strcmp(mode, "null") == 0) return 0;
  if (mode && strcmp(mode, "readonly") == 0) return (struct Header*)&readOnlyHeader;
  header.version = mode && strcmp(mode, "version5") == 0 ? 5 : 3;
  return &header;
}

static int patchCalls;
static const void* patchedTable;
__attribute__((stdcall)) void PatchQXRTGlobal(const void* table) {
  ++patchCalls;
  patchedTable = table;
}
int PatchCalls(void) { return patchCalls; }
const void* PatchedTable(void) { return patchedTable; }

int CinAnswer(void) { return 4242; }
static int Twelve(void) { return 1212; }
static int Seven(void) { return 707; }
int _UnderscoreOnly(void) { return 99; }

const uint32_t QXOrdinals[] = {7, (uint32_t)(uintptr_t)&Seven, 12, (uint32_t)(uintptr_t)&Twelve, 0, 0};
