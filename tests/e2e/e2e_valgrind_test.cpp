// Leaks end to end: the real kranzel under valgrind's leak check, through
// unixODBC and the stand-in, on imports that insert, update, sweep, retry
// after a failed statement, and end early after the connect (no source
// file, an unknown file type). Every kind of leak counts, "still reachable"
// too, except the driver manager's, loader's and stand-in's own blocks kept
// until exit (valgrind.supp). Runs only where valgrind is installed and the
// build is not sanitized (the two do not mix); it says so when it skips.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "support/files.h"

#if defined(__SANITIZE_ADDRESS__)
#define KRANZEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KRANZEL_SANITIZED 1
#endif
#endif

namespace {

constexpr int kValgrindError = 97;

bool HaveValgrind() { return std::system("valgrind --version >/dev/null 2>&1") == 0; }

// Runs kranzel under valgrind from the installation's working directory and
// returns its exit code; valgrind's report goes to `report`. Under the fake
// clock, as the other end-to-end runs, so a retry's pause passes quickly; the
// library preloaded directly, as the harness does (see harness.cpp: the
// faketime wrapper fails when a killed wrapper left its pair in /dev/shm).
int RunUnderValgrind(const e2e::Installation& inst, const std::vector<std::string>& args,
                     const std::string& report) {
  std::vector<std::string> argv = {
#ifdef FAKETIME_LIB
      "env",
      std::string("LD_PRELOAD=") + FAKETIME_LIB,
      "FAKETIME=+0 x1000",
#else
      "faketime",
      "-f",
      "+0 x1000",
#endif
      "valgrind",
      "--quiet",
      "--leak-check=full",
      "--show-leak-kinds=all",
      "--errors-for-leak-kinds=all",
      "--error-exitcode=" + std::to_string(kValgrindError),
      std::string("--suppressions=") + KRANZEL_SOURCE_DIR + "/tests/e2e/valgrind.supp",
      "--log-file=" + report,
      KRANZEL_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(inst.workDir.c_str()) != 0) _exit(127);
    setenv("ODBCSYSINI", inst.odbcDir.c_str(), 1);
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    execvp(cargv[0], cargv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using support::Slurp;

std::string Line20P(const std::string& trm, const std::string& zz2, const std::string& ofb) {
  return e2e::Record({{trm, 255}, {"01", 2}, {"1", 1}, {zz2, 5}, {"0600", 4}, {ofb, 4}});
}

}  // namespace

TEST(Valgrind, ImportsLeakNothing) {
#ifdef KRANZEL_SANITIZED
  GTEST_SKIP() << "sanitizer build: the valgrind leak check runs in the normal build only";
#endif
  if (!HaveValgrind()) GTEST_SKIP() << "valgrind is not installed: the leak check is skipped";
  e2e::Installation inst;
  const std::string report = inst.root + "/valgrind.txt";

  // First delivery inserts, the second updates, inserts and sweeps.
  inst.WriteFile("in/20P.txt",
                 Line20P("TERM'01", "00001", "2200") + Line20P("TERM02", "00002", "1400"));
  ASSERT_EQ(RunUnderValgrind(inst, {"in/20P.txt", "20P"}, report), 0) << Slurp(report);
  inst.WriteFile("in/20P.txt",
                 Line20P("TERM'01", "00001", "2300") + Line20P("TERM03", "00003", "0900"));
  ASSERT_EQ(RunUnderValgrind(inst, {"in/20P.txt", "20P"}, report), 0) << Slurp(report);
  EXPECT_EQ(inst.Query("SELECT M20Trm, M20Ofb FROM QVSYSTEM.MGSST20P ORDER BY M20Trm"),
            (std::vector<e2e::Row>{{"TERM'01", "2300"}, {"TERM03", "0900"}}));

  // A failed INSERT: the run logs it, reconnects and imports at the second
  // attempt.
  inst.SetControl("fail_statement 2627 1 INSERT INTO QvSystem.MGSST20P\n");
  inst.WriteFile("in/20P.txt", Line20P("TERM04", "00004", "0100"));
  EXPECT_EQ(RunUnderValgrind(inst, {"in/20P.txt", "20P", "UPD"}, report), 0) << Slurp(report);
  EXPECT_EQ(inst.Query("SELECT COUNT(*) FROM QVSYSTEM.MGSST20P").at(0).at(0), "3");

  // The two exits with 90 after the connection was made, no source file and
  // an unknown file type: the session closes the connection there too, so
  // nothing of it is left behind.
  EXPECT_EQ(RunUnderValgrind(inst, {"in/missing.txt", "20P"}, report), 90) << Slurp(report);
  inst.WriteFile("in/XYZ.txt", Line20P("TERM05", "00005", "0200"));
  EXPECT_EQ(RunUnderValgrind(inst, {"in/XYZ.txt", "XYZ"}, report), 90) << Slurp(report);
}
