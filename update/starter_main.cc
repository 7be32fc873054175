// TARNStartSrvc: installs a downloaded agent and restarts it.
#include <cstdio>

int main() {
  std::fputs("TARNStartSrvc: not built yet\n", stderr);
  return 1;
}
