// Most-significant-bit-first bit writer over a growing byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mp3enc {

class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    // Bits are appended one byte piece at a time; at most 32 per call.
    while (bits > 0) {
      if (bitPos_ == 0) bytes_.push_back(0);
      const int room = 8 - bitPos_;
      const int take = bits < room ? bits : room;
      const uint32_t piece = (value >> (bits - take)) & ((1u << take) - 1u);
      bytes_.back() = static_cast<uint8_t>(bytes_.back() | (piece << (room - take)));
      bitPos_ = (bitPos_ + take) & 7;
      bits -= take;
    }
  }
  void PutZeros(int64_t bits) {
    while (bits >= 32) {
      Put(0, 32);
      bits -= 32;
    }
    if (bits > 0) Put(0, static_cast<int>(bits));
  }
  // Copies whole bytes and a trailing partial byte of another buffer.
  void PutBits(const uint8_t* data, int bits) {
    int i = 0;
    for (; bits >= 8; bits -= 8) Put(data[i++], 8);
    if (bits > 0) Put(static_cast<uint32_t>(data[i] >> (8 - bits)), bits);
  }
  int64_t BitCount() const {
    return static_cast<int64_t>(bytes_.size()) * 8 - (bitPos_ ? 8 - bitPos_ : 0);
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  // Drops the first n bytes (already released).
  void Consume(size_t n) {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
  }
  void Clear() {
    bytes_.clear();
    bitPos_ = 0;
  }

 private:
  std::vector<uint8_t> bytes_;
  int bitPos_ = 0;  // bits used in the last byte, 0 when it is full
};

// Fixed-capacity writer for one granule's main data (at most 4095 bits).
class GranuleBits {
 public:
  void Put(uint32_t value, int bits) {
    if (bits <= 0) return;
    // Fewer than 32 bits wait in acc_ between calls; they leave as whole
    // 32-bit words.
    acc_ = (acc_ << bits) | (value & ((bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1u)));
    accBits_ += bits;
    total_ += bits;
    if (accBits_ >= 32) {
      accBits_ -= 32;
      const uint32_t word = static_cast<uint32_t>(acc_ >> accBits_);
      if (size_ + 4 <= sizeof(data_)) {
        data_[size_] = static_cast<uint8_t>(word >> 24);
        data_[size_ + 1] = static_cast<uint8_t>(word >> 16);
        data_[size_ + 2] = static_cast<uint8_t>(word >> 8);
        data_[size_ + 3] = static_cast<uint8_t>(word);
        size_ += 4;
      }
    }
  }
  void Reset() {
    size_ = 0;
    acc_ = 0;
    accBits_ = 0;
    total_ = 0;
  }
  // Writes the waiting bits (the last byte left-aligned); call once before
  // reading.
  const uint8_t* Data() {
    int pending = accBits_;
    size_t at = size_;
    while (pending >= 8 && at < sizeof(data_)) {
      pending -= 8;
      data_[at++] = static_cast<uint8_t>(acc_ >> pending);
    }
    if (pending > 0 && at < sizeof(data_)) {
      data_[at] = static_cast<uint8_t>(acc_ << (8 - pending));
    }
    return data_;
  }
  int BitCount() const { return total_; }

 private:
  uint8_t data_[1024] = {};
  size_t size_ = 0;
  uint64_t acc_ = 0;
  int accBits_ = 0;
  int total_ = 0;
};

}  // namespace mp3enc
