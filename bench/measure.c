/* measure OUT COMMAND [ARGS...]: runs COMMAND and writes "wall cpu maxrss_kib
 * status" to OUT. A small launcher, so that the peak RSS is the command's own
 * and not inherited from a big parent at fork time. */
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc < 3) return 2;
  struct timespec a, b;
  clock_gettime(CLOCK_MONOTONIC, &a);
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) return 2;
  clock_gettime(CLOCK_MONOTONIC, &b);
  FILE *out = fopen(argv[1], "w");
  if (!out) return 2;
  double wall = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
  double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
               usage.ru_stime.tv_usec / 1e6;
  fprintf(out, "%.6f %.6f %ld %d\n", wall, cpu, usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : 128);
  fclose(out);
  return 0;
}
