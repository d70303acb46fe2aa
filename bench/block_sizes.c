/* The table behind the compressor's block size: one input file deflated at
 * level 6 as one serial stream, then cut into blocks of each size, each
 * primed with the previous block's last 32 KiB and ended with a sync flush,
 * as the program does. Prints, per block size, the output against the
 * serial stream's and the CPU time of all blocks against the serial time
 * (what the workers spend together; divide by the workers for the wall).
 *
 *   block_sizes FILE
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

static double cpuSeconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static size_t deflateBlocks(const unsigned char *in, size_t n, size_t block, unsigned char *out,
                            size_t room) {
  z_stream s;
  memset(&s, 0, sizeof s);
  if (deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) exit(1);
  size_t total = 0;
  for (size_t at = 0;; at += block) {
    size_t len = n - at < block ? n - at : block;
    int last = at + len >= n;
    deflateReset(&s);
    if (at > 0) deflateSetDictionary(&s, in + at - 32768, 32768);
    s.next_in = (unsigned char *)in + at;
    s.avail_in = (uInt)len;
    s.next_out = out + total;
    s.avail_out = (uInt)(room - total);
    if (deflate(&s, last ? Z_FINISH : Z_SYNC_FLUSH) == Z_STREAM_ERROR) exit(1);
    total = (size_t)(s.next_out - out);
    if (last) break;
  }
  deflateEnd(&s);
  return total;
}

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  FILE *f = fopen(argv[1], "rb");
  if (!f) return 1;
  fseek(f, 0, SEEK_END);
  size_t n = (size_t)ftell(f);
  fseek(f, 0, SEEK_SET);
  unsigned char *in = malloc(n), *out = malloc(n + n / 100 + 65536);
  if (fread(in, 1, n, f) != n) return 1;
  fclose(f);
  uLongf serial = (uLongf)(n + n / 100 + 65536);
  double t0 = cpuSeconds();
  if (compress2(out, &serial, in, n, 6) != Z_OK) return 1;
  double serialTime = cpuSeconds() - t0;
  printf("| block KiB | output / serial | CPU / serial |\n|---|---|---|\n");
  size_t sizes[] = {32768, 65536, 131072, 262144, 524288, 1048576};
  for (int i = 0; i < 6; ++i) {
    t0 = cpuSeconds();
    size_t got = deflateBlocks(in, n, sizes[i], out, n + n / 100 + 65536);
    double t = cpuSeconds() - t0;
    printf("| %zu | %.4f | %.3f |\n", sizes[i] / 1024, (double)(got + 6) / serial, t / serialTime);
  }
  return 0;
}
