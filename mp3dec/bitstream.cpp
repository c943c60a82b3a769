#include "mp3dec/bitstream.h"

#include <algorithm>
#include <cstring>

namespace mp3dec {

InputBitstream::InputBitstream(size_t requestedBytes) {
  size_ = 1;
  while (size_ < requestedBytes && size_ < 65536) size_ <<= 1;
  buffer_.assign(size_, 0);
}

size_t InputBitstream::Feed(const uint8_t* bytes, size_t count) {
  // The ring holds whole bytes; a partly consumed byte still occupies its slot.
  const size_t take = std::min(count, FreeBytes());
  const size_t head = std::min(take, size_ - writePos_);  // up to the ring's end
  std::memcpy(buffer_.data() + writePos_, bytes, head);
  std::memcpy(buffer_.data(), bytes + head, take - head);
  writePos_ = (writePos_ + take) & (size_ - 1);
  validBits_ += take * 8;
  return take;
}

uint32_t InputBitstream::Peek(size_t offsetBits, int n) const {
  uint64_t window = 0;
  const size_t start = readPos_ + offsetBits;
  const size_t firstByte = start & ~size_t{7};
  for (size_t i = 0; i < 5; ++i) window = (window << 8) | ByteAt(firstByte + i * 8);
  // window holds 40 bits starting at firstByte; take n bits at start.
  const int shift = 40 - static_cast<int>(start & 7) - n;
  uint32_t v = static_cast<uint32_t>((window >> shift) & ((uint64_t{1} << n) - 1));
  // Bits beyond the valid ones are not part of the stream.
  if (offsetBits + static_cast<size_t>(n) > validBits_) {
    const size_t have = offsetBits >= validBits_ ? 0 : validBits_ - offsetBits;
    const int drop = n - static_cast<int>(have);
    v = drop >= 32 ? 0 : (v >> drop) << drop;
  }
  return v;
}

void InputBitstream::Skip(size_t bits) {
  bits = std::min(bits, validBits_);
  readPos_ = (readPos_ + bits) & (size_ * 8 - 1);
  validBits_ -= bits;
}

void InputBitstream::CopyBytes(size_t offsetBits, uint8_t* out, size_t count) const {
  const size_t start = readPos_ + offsetBits;
  if ((start & 7) == 0 && offsetBits + count * 8 <= validBits_) {
    // Byte-aligned and valid: plain copy across the ring's end.
    const size_t first = (start >> 3) & (size_ - 1);
    const size_t head = std::min(count, size_ - first);
    std::memcpy(out, buffer_.data() + first, head);
    std::memcpy(out + head, buffer_.data(), count - head);
    return;
  }
  for (size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(Peek(offsetBits + i * 8, 8));
}

void InputBitstream::Clear() {
  validBits_ = 0;
  writePos_ = 0;
  readPos_ = 0;
  endOfInput = false;
}

}  // namespace mp3dec
