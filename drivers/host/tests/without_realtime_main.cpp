// Starts a program without the right to real-time scheduling or locked
// memory, as an ordinary user's program runs: the two capabilities leave the
// bounding set (so the started program cannot have them even as root) and
// the real-time priority limit is 0.
//
// Usage: without_realtime <program> [arguments...]
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: without_realtime <program> [arguments...]\n", stderr);
    return 2;
  }
  for (const int capability : {CAP_SYS_NICE, CAP_IPC_LOCK}) {
    if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0) {
      std::perror("without_realtime: dropping a capability");
      return 1;
    }
  }
  const rlimit none{0, 0};
  if (::setrlimit(RLIMIT_RTPRIO, &none) != 0) {
    std::perror("without_realtime: real-time limit");
    return 1;
  }
  ::execv(argv[1], argv + 1);
  std::perror("without_realtime: exec");
  return 127;
}
