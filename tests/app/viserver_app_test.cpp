// The VI server's methods and application properties in the built program:
// a copy of the runner with the demo's library starts up as the program
// does, runs Demo.vi, and then works its panel's control "x" and indicator
// "y" through references, with every hook the start-up fills.  The
// exported-VI list it is given persists in the preferences file: written
// when new, untouched when current, its key removed when it is the default.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/demovi.h"
#include "temp_folder.h"

namespace {

std::string Slurp(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path).rdbuf();
  return s.str();
}

TEST(VIServerApp, MethodsAndPropertiesWorkTheDemoThroughTheProgramsHooks) {
  TempFolder tmp("qx_visrv");
  const std::string app = tmp.Dir() + "/demo", cfg = tmp.Dir() + "/cfg.ini", out = tmp.Dir() + "/out";
  std::string error;
  ASSERT_TRUE(demo::BuildDemo(QX_BUILT_VI_RUNNER, app, 20, "", &error)) << error;
  std::ofstream(cfg) << "[Quenlix]\n";
  const auto run = [&](const std::string& access) {
    const std::string cmd = "timeout 60 " + app + " -methods" + access + " -pref " + cfg + " >" + out + " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << access;
    return Slurp(out);
  };
  const std::string lines = run(" -access '+*'");
  // x is 20 (I32: its type's words), set to 7 and shown; y refuses a value;
  // reinitialised, x shows its default again; the image asked at depth 16
  // comes at depth 8 (a colour table of 256); the run completes with 0.
  for (const char* want :
       {"open=0 get=0 x=20 type=00040003\n", "set=0 x=7 indicator=1 \"\"y\" is an indicator, not a control\"\n",
        "controls=x indicators=y\n", "reinit=0 x=20\n", "image=0 colours=256 ", " lock=0 2 0\n",
        "run=55 heard=0\n", "app=demo kind=2 os=Windows NT 4.0 dir=1 monitors=1 default=1 work=", " vector=0\n",
        "access=0\n"})
    EXPECT_NE(lines.find(want), std::string::npos) << want << "\n" << lines;
  EXPECT_EQ(Slurp(cfg), "[Quenlix]\n") << "the current list writes nothing";
  EXPECT_NE(run(" -access '+Demo.vi' -access '-Other*'").find("access=0\n"), std::string::npos);
  EXPECT_NE(Slurp(cfg).find("server.vi.access=\"+Demo.vi;-Other*\""), std::string::npos) << Slurp(cfg);
  run(" -access '+*'");
  EXPECT_EQ(Slurp(cfg).find("server.vi.access"), std::string::npos) << "the default removes the key";
}

}  // namespace
