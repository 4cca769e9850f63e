// Linked into every Windows test program. Under wine a test's output goes to a pipe, which the C
// runtime buffers in full (it has no line buffering): a program that dies before it exits would leave
// nothing of what it printed, not even the name of the test that was running. Unbuffered, the log
// keeps everything up to the moment it died.
#include <cstdio>

namespace {

[[maybe_unused]] const int kUnbuffered = [] {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return 0;
}();

}  // namespace
