#include "qx_process.h"

#include <locale.h>
#include <unistd.h>

#include <initializer_list>

int32_t PlatProcessId() { return int32_t(getpid()); }

void PlatSetLocaleFromEnvironment() {
  // A category that names no installed locale makes the whole call fail:
  // then the categories are tried one by one.
  if (!setlocale(LC_ALL, "")) {
    for (int cat : {LC_CTYPE, LC_COLLATE, LC_MONETARY, LC_TIME, LC_MESSAGES}) setlocale(cat, "");
  }
  setlocale(LC_NUMERIC, "C");
}
