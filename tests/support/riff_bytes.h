// RIFF byte images built by hand: little-endian fields, chunks with their
// pad byte, the PCM format body and the RIFF/WAVE form around chunks.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace kestrune::testing {

class Bytes {
 public:
  Bytes& Text(const std::string& s) {
    data += s;
    return *this;
  }
  Bytes& U8(uint8_t v) {
    data.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& U16(uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
  Bytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Bytes& U64(uint64_t v) { return U32(static_cast<uint32_t>(v)).U32(static_cast<uint32_t>(v >> 32)); }
  Bytes& I16(int16_t v) { return U16(static_cast<uint16_t>(v)); }
  Bytes& I24(int32_t v) { return U8(v & 0xFF).U8((v >> 8) & 0xFF).U8((v >> 16) & 0xFF); }
  Bytes& F32(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return U32(u);
  }
  Bytes& Append(const Bytes& other) { return Text(other.data); }
  // A chunk: id, size of body, body, pad byte when odd.
  Bytes& Chunk(const std::string& id, const Bytes& body) {
    Text(id).U32(static_cast<uint32_t>(body.size())).Append(body);
    return body.size() & 1 ? U8(0) : *this;
  }
  size_t size() const { return data.size(); }

  std::string data;
};

// The 16-byte PCM fmt body (tag 1 integer, 3 float).
inline Bytes FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  return Bytes().U16(tag).U16(channels).U32(rate).U32(rate * align).U16(align).U16(bits);
}

// RIFF/WAVE around the given chunks, with the form size filled in.
inline Bytes RiffWave(const Bytes& chunks) {
  return Bytes().Text("RIFF").U32(static_cast<uint32_t>(chunks.size() + 4)).Text("WAVE").Append(chunks);
}

// A RIFF/WAVE file of a PCM fmt chunk (with cbSize 0 when asked) and a data
// chunk.
inline Bytes PcmFile(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data,
                     bool withCbSize = false) {
  Bytes fmt = FmtBody(tag, channels, rate, bits);
  if (withCbSize) fmt.U16(0);
  return RiffWave(Bytes().Chunk("fmt ", fmt).Chunk("data", data));
}

}  // namespace kestrune::testing
