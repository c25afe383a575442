// The program's entry point.
#include "app/appstart.h"

int main(int argc, char** argv) {
  if (AppStartup(argc, argv) != kNoErr) return 1;
  AppShutdown();
  return 0;
}
