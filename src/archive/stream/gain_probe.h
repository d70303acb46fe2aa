// Whether level-6 deflate can make a piece of input smaller, judged from the
// piece's own bytes and the 32 KiB before it, far faster than deflating it.
//
// Deflate gains from two things: a skewed byte distribution (Huffman codes)
// and repeats within 32 KiB (matches). A piece is judged not worth deflating
// only when both are absent:
//   - its order-2 (collision) entropy, an unbiased estimate from the byte
//     histogram, is at least 8 - log2(1 + 1/32), about 7.956 bits per byte.
//     It never exceeds the order-0 entropy that bounds what Huffman coding
//     can reach, so such a piece could gain at most about half a percent;
//   - and fewer than 1 in 64 of its anchors (content-chosen places: those
//     of the piece's most frequent byte value) begin 4 bytes that also
//     begin at an anchor up to 32 KiB before: deflate finds few matches.
//     Repeated incompressible data (the same photo twice in one folder) is
//     still deflated.
// Every step is integer arithmetic on the bytes alone: the verdict is the
// same on every build and whatever thread asks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vna {

class GainProbe {
 public:
  // The unit of the verdict: fine enough that a file's text is not stored
  // for the compressed data beside it, coarse enough that the histogram of
  // random bytes lies far from the threshold.
  static constexpr std::size_t kPieceSize = 32 * 1024;
  // Shorter pieces are always deflated: their histograms say too little,
  // and they are at most the tail of the stream.
  static constexpr std::size_t kMinJudged = 4096;
  // How far back deflate, and so the probe, looks.
  static constexpr std::size_t kWindow = 32 * 1024;

  // True unless deflate cannot gain on the `length` bytes at `piece` (at
  // most kPieceSize), whose `before` bytes before it (at most kWindow) are
  // readable and precede it in the stream.
  bool worthDeflating(const uint8_t* piece, std::size_t length, std::size_t before);

 private:
  // True when enough places of `anchor` in the piece start a match.
  bool repeats(const uint8_t* piece, std::size_t length, std::size_t before, uint8_t anchor);

  static constexpr unsigned kTableBits = 10;
  // Per anchor hash: 1 + the anchor's offset from the window's start, or 0.
  uint32_t table_[1u << kTableBits];
};

}  // namespace vna
