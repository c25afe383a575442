// Makes the demo application: a copy of the program with the run-time
// resources and a VI library holding Demo.vi appended (app/demovi.h).
//   qxdemobuild <program> <output> [x [log]]
//   qxdemobuild <program> <output> menu
//   qxdemobuild <program> <output> graph
// x: the default of the control "x" (20 when not given); log: a host path
// Demo.vi then logs to at completion.  "menu": the library holds the test
// VI of the minimal run-time menu instead (demo::BuildMenuTest); "graph": GraphDemo.vi
// (demo::BuildGraphDemo).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/demovi.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) {
    std::fprintf(stderr, "usage: qxdemobuild program output [x [log] | menu | graph]\n");
    return 2;
  }
  std::string error;
  if (argc == 4 && std::string(argv[3]) == "menu") {
    if (!demo::BuildMenuTest(argv[1], argv[2], &error)) {
      std::fprintf(stderr, "qxdemobuild: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", argv[2]);
    return 0;
  }
  if (argc == 4 && std::string(argv[3]) == "graph") {
    if (!demo::BuildGraphDemo(argv[1], argv[2], &error)) {
      std::fprintf(stderr, "qxdemobuild: %s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", argv[2]);
    return 0;
  }
  char* end = nullptr;
  const long x = argc >= 4 ? std::strtol(argv[3], &end, 10) : 20;
  if (argc >= 4 && (*end || end == argv[3] || x < -0x20000000L || x > 0x1FFFFFFFL)) {
    std::fprintf(stderr, "qxdemobuild: x must be a whole number of 30 bits\n");
    return 2;
  }
  if (!demo::BuildDemo(argv[1], argv[2], int32(x), argc == 5 ? argv[4] : "", &error)) {
    std::fprintf(stderr, "qxdemobuild: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", argv[2]);
  return 0;
}
