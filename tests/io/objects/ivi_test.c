/* A test instrument driver: an attribute store per session, a set entry, a
   get entry and the string-get entry, and a count of the loader's look-ups
   (its run-time table hook is called once per entry found).  Attributes by
   their hundreds: 1xx 32-bit integers, 2xx doubles, 3xx strings, 4xx
   booleans (a 16-bit word).  Attribute 399 reports a size of 0. */
#include <stdarg.h>
#include <stdint.h>
#include <string.h>

#define EXPORT __attribute__((visibility("default")))

EXPORT int ivi_test_lookups = 0;
EXPORT char ivi_test_channel[64] = "";

__attribute__((stdcall)) EXPORT void PatchQXRTGlobal(const void* table) {
  (void)table;
  ++ivi_test_lookups;
}

static int32_t ints[100];
static double doubles[100];
static char texts[100][64];
static uint16_t bools[100];

static void Remember(const char* channel) {
  strncpy(ivi_test_channel, channel ? channel : "(null)", sizeof ivi_test_channel - 1);
}

EXPORT int32_t Test_SetAttribute(uint32_t vi, const char* channel, uint32_t attr, int32_t option, ...) {
  (void)vi;
  if (option != 1) return -2;
  Remember(channel);
  va_list ap;
  va_start(ap, option);
  uint32_t kind = attr / 100, i = attr % 100;
  int32_t st = 0;
  if (kind == 1) ints[i] = va_arg(ap, int32_t);
  else if (kind == 2) doubles[i] = va_arg(ap, double);
  else if (kind == 3) strncpy(texts[i], va_arg(ap, const char*), sizeof texts[i] - 1);
  else if (kind == 4) bools[i] = (uint16_t)va_arg(ap, uint32_t);
  else st = -1;
  va_end(ap);
  return st;
}

EXPORT int32_t Test_GetAttribute(uint32_t vi, const char* channel, uint32_t attr, int32_t option, void* value) {
  (void)vi;
  if (option != 1) return -2;
  Remember(channel);
  uint32_t kind = attr / 100, i = attr % 100;
  if (kind == 1) memcpy(value, &ints[i], 4);
  else if (kind == 2) memcpy(value, &doubles[i], 8);
  else if (kind == 4) memcpy(value, &bools[i], 2);
  else return -1;
  return 0;
}

/* With size 0 the size the text needs, its NUL included; else the text cut
   to the size. */
EXPORT int32_t Ivi_GetAttributeViString(uint32_t vi, const char* channel, uint32_t attr, int32_t option, int32_t size,
                                        char* buf) {
  (void)vi;
  if (option != 1 || attr / 100 != 3) return -1;
  Remember(channel);
  if (attr == 399) return 0;
  const char* t = texts[attr % 100];
  int32_t need = (int32_t)strlen(t) + 1;
  if (size <= 0) return need;
  int32_t n = need < size ? need : size;
  memcpy(buf, t, (size_t)(n - 1));
  buf[n - 1] = '\0';
  return 0;
}
