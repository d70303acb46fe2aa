/* The ISA-L bound for extraction: the zlib stream that deflate_bound wrote,
 * inflated with ISA-L's isal_inflate (zlib wrapper and Adler-32 checked by
 * ISA-L) in 1 MiB pieces, with the files written out again as the zlib
 * bound and the program write them: at most 32 KiB per write.
 *
 *   isal_inflate_bound LIST IN OUTDIR     (LIST as for deflate_bound)
 */
#include <errno.h>
#include <fcntl.h>
#include <isa-l/igzip_lib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define INCHUNK (128 * 1024)
#define OUTCHUNK (1024 * 1024)
#define WRITECHUNK 32768

static void die(const char *what) {
  fprintf(stderr, "isal_inflate_bound: %s: %s\n", what, strerror(errno));
  exit(1);
}

static void writeAll(int fd, const unsigned char *p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w <= 0) die("write");
    p += w;
    n -= (size_t)w;
  }
}

static struct inflate_state s;

int main(int argc, char **argv) {
  static unsigned char in[INCHUNK], out[OUTCHUNK];
  if (argc != 4) {
    fprintf(stderr, "usage: isal_inflate_bound LIST IN OUTDIR\n");
    return 2;
  }
  FILE *list = fopen(argv[1], "r");
  if (!list) die(argv[1]);
  char line[8192], path[16400];
  if (!fgets(line, sizeof line, list)) return 2;  /* the corpus root */
  isal_inflate_init(&s);
  s.crc_flag = ISAL_ZLIB;
  int inFd = open(argv[2], O_RDONLY);
  if (inFd < 0) die(argv[2]);
  if (mkdir(argv[3], 0777) != 0 && errno != EEXIST) die(argv[3]);
  while (fgets(line, sizeof line, list)) {
    line[strcspn(line, "\n")] = 0;
    if (line[0] == 'D') {
      snprintf(path, sizeof path, "%s/%s", argv[3], line + 2);
      if (mkdir(path, 0777) != 0 && errno != EEXIST) die(path);
      continue;
    }
    if (line[0] != 'F') continue;
    unsigned long long size = strtoull(line + 2, NULL, 10);
    char *name = strchr(line + 2, ' ') + 1;
    snprintf(path, sizeof path, "%s/%s", argv[3], name);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) die(path);
    while (size > 0) {
      size_t want = size < OUTCHUNK ? (size_t)size : OUTCHUNK;
      s.next_out = out;
      s.avail_out = (uint32_t)want;
      while (s.avail_out > 0) {
        int dry = 0;
        if (s.avail_in == 0) {
          /* ISA-L may have taken all input and still hold output. */
          ssize_t n = read(inFd, in, INCHUNK);
          if (n < 0) die("read");
          dry = n == 0;
          s.next_in = in;
          s.avail_in = (uint32_t)n;
        }
        uint32_t before = s.avail_out;
        if (isal_inflate(&s) < 0) die("isal_inflate");
        if (dry && s.avail_out == before) die("stream ends early");
      }
      for (size_t at = 0; at < want; at += WRITECHUNK)
        writeAll(fd, out + at, want - at < WRITECHUNK ? want - at : WRITECHUNK);
      size -= want;
    }
    close(fd);
  }
  close(inFd);
  return 0;
}
