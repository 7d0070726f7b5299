// The command line: help, bad options, a port that is taken.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "harness.h"

static int run(const std::string& arguments, std::string* output) {
  std::string command = std::string(EASEL_SERVER_PATH) + " " + arguments + " 2>&1";
  FILE* p = popen(command.c_str(), "r");
  char buffer[4096];
  size_t n;
  output->clear();
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) output->append(buffer, n);
  int status = pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CommandLine, HelpNamesEveryOption) {
  std::string out;
  EXPECT_EQ(run("--help", &out), 0);
  for (const char* option :
       {"--port", "--bind", "--board", "--motd-password", "--max-output", "--rate", "--burst",
        "--max-connections", "--login-timeout", "--sync", "--help"})
    EXPECT_NE(out.find(option), std::string::npos) << option;
  EXPECT_EQ(run("--colour blue", &out), 2);
  EXPECT_NE(out.find("unknown option '--colour'"), std::string::npos);
  EXPECT_EQ(run("--port", &out), 2);
}

TEST(CommandLine, ATakenPortOrAnUnwritableBoardIsAnError) {
  TestServer first;
  ASSERT_TRUE(first.start({"--bind", "127.0.0.1"}));
  std::string out;
  EXPECT_EQ(run("--bind 127.0.0.1 --port " + std::to_string(first.port) + " --board " + first.dir +
                    "/other.easel",
                &out),
            1);
  EXPECT_NE(out.find("error: cannot listen on 127.0.0.1 port"), std::string::npos) << out;
  EXPECT_EQ(run("--port 0 --board /nonexistent-dir/board.easel", &out), 1);
  EXPECT_NE(out.find("error: cannot open the board file"), std::string::npos) << out;
}
