/* A device driver as a code library: GetQXSBHeader answers its 52-byte
   block header, "DRVR" in the third word and the entry-table function in the
   fifth.  A request stays in progress for QXDRV_PRODS periodic calls (0:
   done at once, with result 0); QXDRV_FAIL ("open" or "close") makes that
   entry fail; QXDRV_HEADER "badmagic" or "nulltable" spoils the block.  The
   open entry sets the device's notify id to 0x100 + unit.  An abort forgets
   the unit's requests without ending them.  TestDrvCount answers how often
   each entry ran. */
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

struct Header {
  unsigned char jump[8];
  uint32_t magic, version;
  const void* entryProc;
  uint32_t w20, zero24, module, word1, word2, entryData, table, useCount;
};

struct Entries {
  int (*open)(void** device, int32_t frame, int32_t message, int32_t unit);
  void (*io)(unsigned char* pb);
  int (*periodic)(int32_t unit);
  int (*close)(void** device, int32_t unit);
};

enum { kOpen, kIO, kPeriodic, kClose, kAbort, kCounts };
enum { kMaxRequests = 64 };

struct Request {
  unsigned char* pb;
  int32_t unit;
  int left;
};

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static struct Request requests[kMaxRequests];
static int counts[kCounts];

static int Env(const char* name, const char* value) {
  const char* v = getenv(name);
  return v && strcmp(v, value) == 0;
}

static void Count(int which) {
  pthread_mutex_lock(&lock);
  ++counts[which];
  pthread_mutex_unlock(&lock);
}

static void SetResult(unsigned char* pb, unsigned v) {
  pb[20] = (unsigned char)v;
  pb[21] = (unsigned char)(v >> 8);
}

static int Open(void** device, int32_t frame, int32_t message, int32_t unit) {
  (void)frame;
  (void)message;
  Count(kOpen);
  if (Env("QXDRV_FAIL", "open")) return 1;
  uint16_t id = (uint16_t)(0x100 + unit);
  memcpy((unsigned char*)*device + 258, &id, 2);
  return 0;
}

static void Forget(int32_t unit) {
  for (int i = 0; i < kMaxRequests; ++i)
    if (requests[i].pb && requests[i].unit == unit) requests[i].pb = 0;
}

static void IO(unsigned char* pb) {
  int32_t unit = (int16_t)(pb[4] | (pb[5] << 8));
  uint32_t selector = pb[16] | (pb[17] << 8) | ((uint32_t)pb[18] << 16) | ((uint32_t)pb[19] << 24);
  const char* p = getenv("QXDRV_PRODS");
  int prods = p ? atoi(p) : 0;
  pthread_mutex_lock(&lock);
  ++counts[kIO];
  if (selector == 0) {
    ++counts[kAbort];
    Forget(unit);
    prods = 0;
  }
  int i = 0;
  while (prods > 0 && i < kMaxRequests && requests[i].pb) ++i;
  if (prods > 0 && i < kMaxRequests) {
    requests[i].pb = pb;
    requests[i].unit = unit;
    requests[i].left = prods;
    SetResult(pb, 1);
  } else {
    SetResult(pb, 0);
  }
  pthread_mutex_unlock(&lock);
}

static int Periodic(int32_t unit) {
  int ended = 0;
  pthread_mutex_lock(&lock);
  ++counts[kPeriodic];
  for (int i = 0; i < kMaxRequests; ++i) {
    if (!requests[i].pb || requests[i].unit != unit || --requests[i].left > 0) continue;
    SetResult(requests[i].pb, 0);
    requests[i].pb = 0;
    ended = 1;
  }
  pthread_mutex_unlock(&lock);
  return ended;
}

static int Close(void** device, int32_t unit) {
  (void)device;
  pthread_mutex_lock(&lock);
  ++counts[kClose];
  Forget(unit);
  pthread_mutex_unlock(&lock);
  return Env("QXDRV_FAIL", "close") ? 1 : 0;
}

static const struct Entries entries = {Open, IO, Periodic, Close};

static const struct Entries* EntryTable(void) { return Env("QXDRV_HEADER", "nulltable") ? 0 : &entries; }

static struct Header header = {{0}, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};

struct Header* GetQXSBHeader(void) {
  memcpy(&header.magic, Env("QXDRV_HEADER", "badmagic") ? "DRVX" : "DRVR", 4);
  header.entryProc = (const void*)EntryTable;
  return &header;
}

int TestDrvCount(int which) {
  pthread_mutex_lock(&lock);
  int n = which >= 0 && which < kCounts ? counts[which] : -1;
  pthread_mutex_unlock(&lock);
  return n;
}
