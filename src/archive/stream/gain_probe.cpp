#include "archive/stream/gain_probe.h"

#include <cstring>

namespace vna {

namespace {

uint32_t load32(const uint8_t* p) {
  uint32_t value;
  std::memcpy(&value, p, sizeof value);
  return value;
}

}  // namespace

bool GainProbe::worthDeflating(const uint8_t* piece, std::size_t length, std::size_t before) {
  if (length < kMinJudged) return true;
  // Four tables, so that runs of one byte value do not stall on one counter.
  uint32_t counts[4][256] = {};
  std::size_t i = 0;
  for (; i + 4 <= length; i += 4) {
    ++counts[0][piece[i]];
    ++counts[1][piece[i + 1]];
    ++counts[2][piece[i + 2]];
    ++counts[3][piece[i + 3]];
  }
  for (; i < length; ++i) ++counts[0][piece[i]];
  // Pairs of equal bytes: n(n-1) times the chance that two bytes drawn
  // apart are equal, which is 1/256 for bytes without any skew.
  uint64_t pairs = 0;
  uint32_t most = 0;
  uint8_t anchor = 0;
  for (unsigned b = 0; b < 256; ++b) {
    uint32_t c = counts[0][b] + counts[1][b] + counts[2][b] + counts[3][b];
    if (c > 1) pairs += uint64_t(c) * (c - 1);
    if (c > most) {
      most = c;
      anchor = static_cast<uint8_t>(b);
    }
  }
  const uint64_t n = length;
  if (pairs * 256 * 32 > 33 * n * (n - 1)) return true;
  return repeats(piece, length, before, anchor);
}

bool GainProbe::repeats(const uint8_t* piece, std::size_t length, std::size_t before,
                        uint8_t anchor) {
  // The anchors are the places of the piece's most frequent byte value:
  // chosen by content, so a repeat has its anchors where the original had
  // them, and present in every piece that gets here (its histogram is
  // nearly flat), about one in 256 bytes, a fair sample of its places. The
  // share of them where the 4 bytes that start there occurred up to 32 KiB
  // before (deflate's shortest useful match) is about the share of the
  // piece that deflate can code as matches.
  const uint8_t* base = piece - before;
  const uint8_t* last = piece + length - 4;  // the last place 4 bytes start
  std::memset(table_, 0, sizeof table_);
  std::size_t anchors = 0;
  std::size_t hits = 0;
  for (const uint8_t* at = base; at <= last; ++at) {
    at = static_cast<const uint8_t*>(std::memchr(at, anchor, static_cast<std::size_t>(last + 1 - at)));
    if (at == nullptr) break;
    uint32_t key = load32(at);
    uint32_t slot = (key * 0x9E3779B1u) >> (32 - kTableBits);
    if (at >= piece) {
      ++anchors;
      if (table_[slot] != 0) {
        const uint8_t* earlier = base + (table_[slot] - 1);
        if (load32(earlier) == key && static_cast<std::size_t>(at - earlier) <= kWindow) ++hits;
      }
    }
    table_[slot] = static_cast<uint32_t>(at - base) + 1;
  }
  return hits * 64 >= anchors && hits > 0;
}

}  // namespace vna
