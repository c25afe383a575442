#include "qx_locale.h"

#include <langinfo.h>
#include <locale.h>

char PlatLocaleDecimalPoint() {
  // A locale object of its own: setlocale would change the whole process.
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", locale_t(0));
  if (loc == locale_t(0)) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  char c = (radix && radix[0]) ? radix[0] : '.';
  freelocale(loc);
  return c;
}
