// A directory of its own for one run of a target that keeps a board file;
// in memory where /dev/shm is writable, so the runs stay fast.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string fuzz_scratch_dir(const char* target) {
  char dir_name[96];
  snprintf(dir_name, sizeof dir_name, "%s/easel-%s-XXXXXX", access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp",
           target);
  if (!mkdtemp(dir_name)) abort();
  return dir_name;
}
