// Ends by an access violation: the test run's Wine must report that as a
// failure, or a test program that crashes would count as passed.
#include <cstdio>

int main() {
  std::puts("crashing on purpose");
  std::fflush(stdout);
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}
