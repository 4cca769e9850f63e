// One scratch file per fuzzing process, rewritten for every input of a parser that only reads files.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

struct ScratchFile {
  std::string path;
  explicit ScratchFile(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/orvane-" + name + "-fuzz-" +
           std::to_string(getpid()) + ".bin";
  }
  ~ScratchFile() { std::remove(path.c_str()); }
};
