// QuarrinSrvc: the agent, installer of its service and the service process.
#include <cstdio>

int main() {
  std::fputs("QuarrinSrvc: service host not built yet\n", stderr);
  return 1;
}
