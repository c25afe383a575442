// Makes the runnable program: a copy of the executable with the run-time's
// own resource file appended (the start-up opens it through the trailer).
// The automation server's type-information file goes into the output's
// folder, the application folder, where the server looks for it.
//   qxrtappend <program> <output>
#include <cstdio>
#include <string>

#include "mgsource/fourcc.h"
#include "tools/appbuild.h"
#include "tools/rsrcwriter.h"
#include "tools/typeinfowriter.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qxrtappend program output\n");
    return 2;
  }
  rsrcw::Writer w(FourCC("QXRS"), FourCC("QNLX"));
  qxbuild::AddRunTimeResources(&w);
  std::string error;
  if (!qxbuild::AppendToProgram(argv[1], w.Write(), argv[2], &error, 0)) {
    std::fprintf(stderr, "qxrtappend: %s\n", error.c_str());
    return 1;
  }
  const std::string out = argv[2];
  const std::string folder = out.substr(0, out.rfind('/') + 1);
  if (!tiw::WriteServerLibrary(folder + qxbuild::kAutomationTypeLibName)) {
    std::fprintf(stderr, "qxrtappend: cannot write the type information file\n");
    return 1;
  }
  return 0;
}
