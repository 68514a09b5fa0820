#include "toolkit/inflate.h"

#include <array>

namespace toolkit {
namespace {

constexpr int kMaxBits = 15;
constexpr int kLiteralCodes = 288;
constexpr int kDistanceCodes = 30;

class BitReader {
 public:
  explicit BitReader(std::span<const std::uint8_t> in) noexcept : in_(in) {}

  // The next `count` bits (up to 16), least significant first; past the end they
  // read as zero and the reader is marked overrun.
  std::uint32_t Bits(int count) noexcept {
    while (held_ < count) {
      std::uint32_t byte = 0;
      if (next_ < in_.size()) {
        byte = in_[next_++];
      } else {
        overrun_ = true;
      }
      buffer_ |= byte << held_;
      held_ += 8;
    }
    const std::uint32_t value = buffer_ & ((1u << count) - 1);
    buffer_ >>= count;
    held_ -= count;
    return value;
  }

  void SkipToByte() noexcept {
    buffer_ = 0;
    held_ = 0;
  }

  [[nodiscard]] bool Overrun() const noexcept { return overrun_; }

 private:
  std::span<const std::uint8_t> in_;
  std::size_t next_ = 0;
  std::uint32_t buffer_ = 0;
  int held_ = 0;
  bool overrun_ = false;
};

// A canonical Huffman code: how many codes have each length, and the symbols in
// code order.
struct Huffman {
  std::array<std::uint16_t, kMaxBits + 1> counts{};
  std::array<std::uint16_t, kLiteralCodes> symbols{};
};

// False for a set of lengths that over-subscribes the code space. An incomplete set
// is allowed (a single distance code is one).
bool Build(Huffman& code, const std::uint8_t* lengths, int n) noexcept {
  code.counts.fill(0);
  for (int symbol = 0; symbol < n; ++symbol) ++code.counts[lengths[symbol]];
  code.counts[0] = 0;
  int left = 1;
  for (int length = 1; length <= kMaxBits; ++length) {
    left = left * 2 - code.counts[length];
    if (left < 0) return false;
  }
  std::array<std::uint16_t, kMaxBits + 2> offsets{};
  for (int length = 1; length <= kMaxBits; ++length)
    offsets[length + 1] = static_cast<std::uint16_t>(offsets[length] + code.counts[length]);
  for (int symbol = 0; symbol < n; ++symbol)
    if (lengths[symbol] != 0) code.symbols[offsets[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
  return true;
}

// The next symbol, or -1 for a bit pattern the code does not have.
int Decode(BitReader& in, const Huffman& code) noexcept {
  int value = 0;  // the bits read so far, first bit most significant
  int first = 0;  // the first code of the current length
  int index = 0;  // where the current length's symbols start
  for (int length = 1; length <= kMaxBits; ++length) {
    value |= static_cast<int>(in.Bits(1));
    const int count = code.counts[length];
    if (value - first < count) return code.symbols[index + value - first];
    index += count;
    first = (first + count) << 1;
    value <<= 1;
  }
  return -1;
}

constexpr std::array<std::uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint16_t, 30> kDistanceBase = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                                         33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

class Inflater {
 public:
  Inflater(std::span<const std::uint8_t> in, std::span<std::uint8_t> out) noexcept : in_(in), out_(out) {}

  bool Run() noexcept {
    const std::uint32_t method = in_.Bits(8);
    const std::uint32_t flags = in_.Bits(8);
    // Deflate with a window of at most 32 KiB, no preset dictionary, header check.
    if ((method & 0x0F) != 8 || (method >> 4) > 7 || (flags & 0x20) || ((method << 8) | flags) % 31 != 0) return false;
    bool last = false;
    while (!last) {
      last = in_.Bits(1) != 0;
      const std::uint32_t type = in_.Bits(2);
      bool ok = false;
      if (type == 0) ok = Stored();
      if (type == 1) ok = Fixed();
      if (type == 2) ok = Dynamic();
      if (!ok || in_.Overrun()) return false;
    }
    in_.SkipToByte();
    std::uint32_t expected = 0;
    for (int i = 0; i < 4; ++i) expected = (expected << 8) | in_.Bits(8);
    return !in_.Overrun() && written_ == out_.size() && Adler32() == expected;
  }

 private:
  bool Stored() noexcept {
    in_.SkipToByte();
    const std::uint32_t length = in_.Bits(16);
    if ((in_.Bits(16) ^ 0xFFFF) != length || length > out_.size() - written_) return false;
    for (std::uint32_t i = 0; i < length; ++i) out_[written_++] = static_cast<std::uint8_t>(in_.Bits(8));
    return true;
  }

  bool Fixed() noexcept {
    std::array<std::uint8_t, kLiteralCodes + kDistanceCodes> lengths{};
    for (int symbol = 0; symbol < kLiteralCodes; ++symbol)
      lengths[symbol] = symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
    for (int symbol = 0; symbol < kDistanceCodes; ++symbol) lengths[kLiteralCodes + symbol] = 5;
    Huffman literals;
    Huffman distances;
    return Build(literals, lengths.data(), kLiteralCodes) &&
           Build(distances, lengths.data() + kLiteralCodes, kDistanceCodes) && Codes(literals, distances);
  }

  bool Dynamic() noexcept {
    static constexpr std::array<std::uint8_t, 19> kOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                            11, 4,  12, 3, 13, 2, 14, 1, 15};
    const int literal_count = static_cast<int>(in_.Bits(5)) + 257;
    const int distance_count = static_cast<int>(in_.Bits(5)) + 1;
    const int length_count = static_cast<int>(in_.Bits(4)) + 4;
    if (literal_count > 286 || distance_count > kDistanceCodes) return false;

    std::array<std::uint8_t, 19> length_lengths{};
    for (int i = 0; i < length_count; ++i) length_lengths[kOrder[i]] = static_cast<std::uint8_t>(in_.Bits(3));
    Huffman length_code;
    if (!Build(length_code, length_lengths.data(), 19)) return false;

    std::array<std::uint8_t, kLiteralCodes + kDistanceCodes> lengths{};
    int filled = 0;
    while (filled < literal_count + distance_count) {
      const int symbol = Decode(in_, length_code);
      if (symbol < 0 || in_.Overrun()) return false;
      if (symbol < 16) {
        lengths[filled++] = static_cast<std::uint8_t>(symbol);
        continue;
      }
      std::uint8_t value = 0;
      int repeat = 0;
      if (symbol == 16) {
        if (filled == 0) return false;
        value = lengths[filled - 1];
        repeat = 3 + static_cast<int>(in_.Bits(2));
      } else if (symbol == 17) {
        repeat = 3 + static_cast<int>(in_.Bits(3));
      } else {
        repeat = 11 + static_cast<int>(in_.Bits(7));
      }
      if (filled + repeat > literal_count + distance_count) return false;
      while (repeat-- > 0) lengths[filled++] = value;
    }
    if (lengths[256] == 0) return false;  // a block needs its end code
    Huffman literals;
    Huffman distances;
    return Build(literals, lengths.data(), literal_count) &&
           Build(distances, lengths.data() + literal_count, distance_count) && Codes(literals, distances);
  }

  bool Codes(const Huffman& literals, const Huffman& distances) noexcept {
    for (;;) {
      int symbol = Decode(in_, literals);
      if (symbol < 0 || in_.Overrun()) return false;
      if (symbol < 256) {
        if (written_ == out_.size()) return false;
        out_[written_++] = static_cast<std::uint8_t>(symbol);
        continue;
      }
      if (symbol == 256) return true;
      symbol -= 257;
      if (symbol >= static_cast<int>(kLengthBase.size())) return false;
      const std::size_t length = kLengthBase[symbol] + in_.Bits(kLengthExtra[symbol]);
      const int distance_symbol = Decode(in_, distances);
      if (distance_symbol < 0 || distance_symbol >= kDistanceCodes) return false;
      const std::size_t distance = kDistanceBase[distance_symbol] + in_.Bits(kDistanceExtra[distance_symbol]);
      if (in_.Overrun() || distance > written_ || length > out_.size() - written_) return false;
      for (std::size_t i = 0; i < length; ++i, ++written_) out_[written_] = out_[written_ - distance];
    }
  }

  [[nodiscard]] std::uint32_t Adler32() const noexcept {
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (std::size_t i = 0; i < written_; ++i) {
      a = (a + out_[i]) % 65521;
      b = (b + a) % 65521;
    }
    return (b << 16) | a;
  }

  BitReader in_;
  std::span<std::uint8_t> out_;
  std::size_t written_ = 0;
};

}  // namespace

bool Inflate(std::span<const std::uint8_t> packed, std::span<std::uint8_t> out) noexcept {
  return Inflater(packed, out).Run();
}

}  // namespace toolkit
