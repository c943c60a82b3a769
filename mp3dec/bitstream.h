// The two bit-level views of the input: InputBitstream, the ring buffer that
// the caller's bytes are pushed into and that the sync search walks bit by
// bit, and BitReader, the one bounds-safe reader over a linear byte range
// (frame headers, side information, main data).
#pragma once

#include <cstddef>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace mp3dec {

// Reads bits most significant first. Reads past the end give zero bits and
// set a sticky overrun flag that the caller checks once per granule.
class BitReader {
 public:
  BitReader() = default;
  BitReader(const uint8_t* data, size_t sizeBytes)
      : data_(data), size_(sizeBytes), limitBits_(sizeBytes * 8) {}

  // The next 32 bits without consuming them (zeros beyond the end).
  uint32_t Peek32() const { return static_cast<uint32_t>(Peek57() >> 32); }
  // The next 57 bits in the top of the word (zeros beyond the end; the
  // lowest 7 bits may be zeros that are not the stream's).
  uint64_t Peek57() const {
    const size_t byte = pos_ >> 3;
    uint64_t v = 0;
    if (byte + 8 <= size_) {
      std::memcpy(&v, data_ + byte, 8);
      v = FromBigEndian(v);
    } else {
      for (size_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < size_ ? data_[byte + i] : 0u);
    }
    return v << (pos_ & 7);
  }
  // n from 0 to 32.
  uint32_t Read(int n) {
    if (n == 0) return 0;
    const uint32_t v = Peek32() >> (32 - n);
    pos_ += static_cast<size_t>(n);
    return v;
  }
  bool ReadBit() { return Read(1) != 0; }
  void Skip(size_t bits) { pos_ += bits; }
  size_t Position() const { return pos_; }
  void SetPosition(size_t bits) { pos_ = bits; }
  size_t LimitBits() const { return limitBits_; }
  bool Overrun() const { return pos_ > limitBits_; }

 private:
  static uint64_t FromBigEndian(uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
#if defined(__GNUC__) || defined(__clang__)
      return __builtin_bswap64(v);
#else
      uint64_t r = 0;
      for (int i = 0; i < 8; ++i) r = (r << 8) | ((v >> (8 * i)) & 0xFF);
      return r;
#endif
    }
    return v;
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t limitBits_ = 0;
  size_t pos_ = 0;
};

// Ring buffer of bytes read bit by bit across its end. Its size is a power
// of two; bits are consumed at the read position and bytes appended at the
// write position.
class InputBitstream {
 public:
  // requestedBytes is rounded up to a power of two, at most 65536.
  explicit InputBitstream(size_t requestedBytes);

  // Copies what fits; returns the bytes taken.
  size_t Feed(const uint8_t* bytes, size_t count);
  size_t ValidBits() const { return validBits_; }
  size_t FreeBytes() const { return size_ - (validBits_ + 7) / 8; }
  size_t SizeBytes() const { return size_; }
  // n from 1 to 32 bits starting offsetBits after the read position; bits
  // beyond the valid ones read as zero.
  uint32_t Peek(size_t offsetBits, int n) const;
  void Skip(size_t bits);
  // count whole bytes starting offsetBits after the read position.
  void CopyBytes(size_t offsetBits, uint8_t* out, size_t count) const;
  void Clear();

  bool endOfInput = false;

 private:
  uint8_t ByteAt(size_t bitPos) const { return buffer_[(bitPos >> 3) & (size_ - 1)]; }

  std::vector<uint8_t> buffer_;
  size_t size_ = 0;
  size_t validBits_ = 0;
  size_t writePos_ = 0;  // bytes
  size_t readPos_ = 0;   // bits
};

}  // namespace mp3dec
