/* The bound for this archive format: one zlib stream (level 6, window 15,
 * memory level 8) over all the bytes of a corpus, and its inflate with the
 * files written out again. No records, no check value, no names.
 *
 *   deflate_bound deflate LIST OUT        LIST: lines "F size path" / "D path"
 *   deflate_bound inflate LIST IN OUTDIR  (paths relative to the list's root)
 *
 * LIST's first line is the root folder of the corpus.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#define CHUNK 65536
#define OUTCHUNK 32768

static void die(const char *what) {
  fprintf(stderr, "deflate_bound: %s: %s\n", what, strerror(errno));
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

static int deflateCorpus(FILE *list, const char *root, const char *outPath) {
  static unsigned char in[CHUNK], out[OUTCHUNK];
  z_stream s;
  memset(&s, 0, sizeof s);
  if (deflateInit2(&s, 6, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 1;
  int outFd = open(outPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (outFd < 0) die(outPath);
  s.next_out = out;
  s.avail_out = OUTCHUNK;
  char line[8192], path[16400];
  while (fgets(line, sizeof line, list)) {
    if (line[0] != 'F') continue;
    char *name = strchr(line + 2, ' ') + 1;
    name[strcspn(name, "\n")] = 0;
    snprintf(path, sizeof path, "%s/%s", root, name);
    int fd = open(path, O_RDONLY);
    if (fd < 0) die(path);
    ssize_t n;
    while ((n = read(fd, in, CHUNK)) > 0) {
      s.next_in = in;
      s.avail_in = (uInt)n;
      do {
        if (s.avail_out == 0) {
          writeAll(outFd, out, OUTCHUNK);
          s.next_out = out;
          s.avail_out = OUTCHUNK;
        }
        deflate(&s, Z_NO_FLUSH);
      } while (s.avail_in > 0 || s.avail_out == 0);
    }
    close(fd);
  }
  int r;
  do {
    if (s.avail_out == 0) {
      writeAll(outFd, out, OUTCHUNK);
      s.next_out = out;
      s.avail_out = OUTCHUNK;
    }
    r = deflate(&s, Z_FINISH);
  } while (r != Z_STREAM_END);
  writeAll(outFd, out, OUTCHUNK - s.avail_out);
  deflateEnd(&s);
  close(outFd);
  return 0;
}

static int inflateCorpus(FILE *list, const char *inPath, const char *outDir) {
  static unsigned char in[OUTCHUNK], out[OUTCHUNK];
  z_stream s;
  memset(&s, 0, sizeof s);
  if (inflateInit(&s) != Z_OK) return 1;
  int inFd = open(inPath, O_RDONLY);
  if (inFd < 0) die(inPath);
  if (mkdir(outDir, 0777) != 0 && errno != EEXIST) die(outDir);
  char line[8192], path[16400];
  while (fgets(line, sizeof line, list)) {
    line[strcspn(line, "\n")] = 0;
    if (line[0] == 'D') {
      snprintf(path, sizeof path, "%s/%s", outDir, line + 2);
      if (mkdir(path, 0777) != 0 && errno != EEXIST) die(path);
      continue;
    }
    if (line[0] != 'F') continue;
    unsigned long long size = strtoull(line + 2, NULL, 10);
    char *name = strchr(line + 2, ' ') + 1;
    snprintf(path, sizeof path, "%s/%s", outDir, name);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) die(path);
    while (size > 0) {
      size_t want = size < OUTCHUNK ? (size_t)size : OUTCHUNK;
      s.next_out = out;
      s.avail_out = (uInt)want;
      while (s.avail_out > 0) {
        if (s.avail_in == 0) {
          ssize_t n = read(inFd, in, OUTCHUNK);
          if (n <= 0) die("stream ends early");
          s.next_in = in;
          s.avail_in = (uInt)n;
        }
        int r = inflate(&s, Z_SYNC_FLUSH);
        if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) die("inflate");
      }
      writeAll(fd, out, want);
      size -= want;
    }
    close(fd);
  }
  inflateEnd(&s);
  close(inFd);
  return 0;
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: deflate_bound deflate LIST OUT | inflate LIST IN OUTDIR\n");
    return 2;
  }
  FILE *list = fopen(argv[2], "r");
  if (!list) die(argv[2]);
  char root[8192];
  if (!fgets(root, sizeof root, list)) return 2;
  root[strcspn(root, "\n")] = 0;
  if (strcmp(argv[1], "deflate") == 0) return deflateCorpus(list, root, argv[3]);
  if (strcmp(argv[1], "inflate") == 0 && argc >= 5) return inflateCorpus(list, argv[3], argv[4]);
  return 2;
}
