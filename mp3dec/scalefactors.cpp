#include "mp3dec/scalefactors.h"

#include <cstring>

#include "mp3dec/tables.h"

namespace mp3dec {

void ReadScaleFactorsMpeg1(BitReader& r, const GranuleInfo& g, const uint8_t scfsi[4], int granule,
                           ScaleFactors& sf) {
  const int slen1 = kSlen[0][g.scalefacCompress];
  const int slen2 = kSlen[1][g.scalefacCompress];
  std::memset(sf.illegalLong, 7, sizeof sf.illegalLong);
  std::memset(sf.illegalShort, 7, sizeof sf.illegalShort);
  if (g.IsShort()) {
    int sfb = 0;
    if (g.mixedBlock) {
      for (; sfb < 8; ++sfb) sf.longBands[sfb] = static_cast<uint8_t>(r.Read(slen1));
      sfb = 3;
    }
    for (; sfb < 12; ++sfb) {
      const int bits = sfb < 6 ? slen1 : slen2;
      for (int w = 0; w < 3; ++w) sf.shortBands[sfb][w] = static_cast<uint8_t>(r.Read(bits));
    }
    for (int w = 0; w < 3; ++w) sf.shortBands[12][w] = 0;
    return;
  }
  // Band groups 0-5, 6-10, 11-15, 16-20 (ISO/IEC 11172-3 2.4.2.7, scfsi_band).
  static constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
  for (int group = 0; group < 4; ++group) {
    if (granule == 1 && scfsi[group]) continue;  // keep granule 0's factors
    const int bits = group < 2 ? slen1 : slen2;
    for (int sfb = kGroupStart[group]; sfb < kGroupStart[group + 1]; ++sfb) {
      sf.longBands[sfb] = static_cast<uint8_t>(r.Read(bits));
    }
  }
  sf.longBands[21] = 0;
}

void ReadScaleFactorsMpeg2(BitReader& r, GranuleInfo& g, bool intensityRight, ScaleFactors& sf) {
  int slen[4] = {0, 0, 0, 0};
  int table = 0;
  uint32_t sfc = g.scalefacCompress;
  g.preflag = false;
  if (!intensityRight) {
    if (sfc < 400) {
      slen[0] = static_cast<int>((sfc >> 4) / 5);
      slen[1] = static_cast<int>((sfc >> 4) % 5);
      slen[2] = static_cast<int>((sfc & 15) >> 2);
      slen[3] = static_cast<int>(sfc & 3);
      table = 0;
    } else if (sfc < 500) {
      sfc -= 400;
      slen[0] = static_cast<int>((sfc >> 2) / 5);
      slen[1] = static_cast<int>((sfc >> 2) % 5);
      slen[2] = static_cast<int>(sfc & 3);
      table = 1;
    } else {
      sfc -= 500;
      slen[0] = static_cast<int>(sfc / 3);
      slen[1] = static_cast<int>(sfc % 3);
      table = 2;
      g.preflag = true;
    }
  } else {
    uint32_t isc = sfc >> 1;
    if (isc < 180) {
      slen[0] = static_cast<int>(isc / 36);
      slen[1] = static_cast<int>((isc % 36) / 6);
      slen[2] = static_cast<int>(isc % 6);
      table = 3;
    } else if (isc < 244) {
      isc -= 180;
      slen[0] = static_cast<int>((isc & 63) >> 4);
      slen[1] = static_cast<int>((isc & 15) >> 2);
      slen[2] = static_cast<int>(isc & 3);
      table = 4;
    } else {
      isc -= 244;
      slen[0] = static_cast<int>(isc / 3);
      slen[1] = static_cast<int>(isc % 3);
      table = 5;
    }
  }
  const int kind = g.IsShort() ? (g.mixedBlock ? 2 : 1) : 0;
  uint8_t values[39] = {};
  uint8_t illegal[39] = {};
  int n = 0;
  for (int part = 0; part < 4; ++part) {
    const int count = kLsfPartitionBands[table][kind][part];
    // A partition coded with 0 bits has no illegal position.
    const uint8_t maxValue = slen[part] == 0 ? 0xFF : static_cast<uint8_t>((1 << slen[part]) - 1);
    for (int i = 0; i < count && n < 39; ++i, ++n) {
      values[n] = static_cast<uint8_t>(r.Read(slen[part]));
      illegal[n] = intensityRight ? maxValue : 7;
    }
  }
  std::memset(sf.longBands, 0, sizeof sf.longBands);
  std::memset(sf.shortBands, 0, sizeof sf.shortBands);
  std::memset(sf.illegalLong, 7, sizeof sf.illegalLong);
  std::memset(sf.illegalShort, 7, sizeof sf.illegalShort);
  int k = 0;
  if (kind == 0) {
    for (int sfb = 0; sfb < 21 && k < n; ++sfb, ++k) {
      sf.longBands[sfb] = values[k];
      sf.illegalLong[sfb] = illegal[k];
    }
    return;
  }
  int sfb = 0;
  if (kind == 2) {
    for (; sfb < 6; ++sfb, ++k) {
      sf.longBands[sfb] = values[k];
      sf.illegalLong[sfb] = illegal[k];
    }
    sfb = 3;
  }
  for (; sfb < 12 && k + 2 < 39; ++sfb) {
    for (int w = 0; w < 3; ++w, ++k) sf.shortBands[sfb][w] = values[k];
    sf.illegalShort[sfb] = illegal[k - 1];
  }
}

}  // namespace mp3dec
