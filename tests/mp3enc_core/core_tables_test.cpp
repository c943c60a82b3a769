// Tables of the encoder core against the standard's properties, and the
// filter bank and MDCT against slow reference formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "mp3enc/fft.h"
#include "mp3enc/granule_info.h"
#include "mp3enc/huffman_tables.h"
#include "mp3enc/kernels.h"
#include "mp3enc/layer3_tables.h"
#include "mp3enc/mdct.h"
#include "mp3enc/polyphase.h"

namespace mp3enc {
namespace {

// Every code table is a complete prefix code (Kraft sum exactly 1, no code a
// prefix of another): a mistyped entry breaks one or the other.
void CheckCode(const HuffmanTable& t, int entries, const std::string& name) {
  std::vector<std::string> codes;
  uint64_t kraft = 0;
  for (int i = 0; i < entries; ++i) {
    const int len = t.lengths[i];
    ASSERT_GE(len, 1) << name;
    ASSERT_LE(len, 19) << name;
    ASSERT_LT(t.codes[i], 1u << len) << name << " entry " << i;
    std::string bits;
    for (int b = len - 1; b >= 0; --b) bits += ((t.codes[i] >> b) & 1) ? '1' : '0';
    codes.push_back(bits);
    kraft += uint64_t{1} << (19 - len);
  }
  EXPECT_EQ(kraft, uint64_t{1} << 19) << name;
  for (size_t a = 0; a < codes.size(); ++a) {
    for (size_t b = 0; b < codes.size(); ++b) {
      if (a != b) {
        EXPECT_NE(codes[b].rfind(codes[a], 0), 0u) << name << " " << a << " " << b;
      }
    }
  }
}

TEST(Mp3EncCoreTables, HuffmanTablesAreCompletePrefixCodes) {
  for (int t = 0; t < 32; ++t) {
    const HuffmanTable& h = kHuffmanTables[t];
    if (t == 0 || t == 4 || t == 14) {
      EXPECT_EQ(h.codes, nullptr);
      continue;
    }
    CheckCode(h, h.dim * h.dim, "table " + std::to_string(t));
  }
  CheckCode(kCount1Tables[0], 16, "count1 A");
  CheckCode(kCount1Tables[1], 16, "count1 B");
  // Linbits of the escape tables (ISO/IEC 11172-3, Table B.7).
  const int linbits[16] = {1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
  for (int t = 16; t < 32; ++t) EXPECT_EQ(kHuffmanTables[t].linbits, linbits[t - 16]) << t;
  const int dims[16] = {0, 2, 3, 3, 0, 4, 4, 6, 6, 6, 8, 8, 8, 16, 0, 16};
  for (int t = 0; t < 16; ++t) EXPECT_EQ(kHuffmanTables[t].dim, dims[t]) << t;
}

TEST(Mp3EncCoreTables, BandEdgesCoverTheGranule) {
  for (int r = 0; r < 9; ++r) {
    const BandEdges& e = kBandEdges[r];
    EXPECT_EQ(e.longEdge[0], 0);
    EXPECT_EQ(e.longEdge[22], 576) << r;
    EXPECT_EQ(e.shortEdge[13], 192) << r;
    for (int b = 0; b < 22; ++b) EXPECT_LT(e.longEdge[b], e.longEdge[b + 1]) << r;
    for (int b = 0; b < 13; ++b) EXPECT_LT(e.shortEdge[b], e.shortEdge[b + 1]) << r;
    // Scale-factor bands are whole line pairs and short bands fit the windows.
    for (int b = 0; b <= 22; ++b) EXPECT_EQ(e.longEdge[b] % 2, 0) << r;
  }
  // Widths of the first 44.1 kHz long bands: 4 lines (Table B.8).
  EXPECT_EQ(kBandEdges[0].longEdge[1], 4);
  EXPECT_EQ(kBandEdges[8].longEdge[1], 12);
}

TEST(Mp3EncCoreTables, AnalysisWindowIsTheStandardPrototype) {
  // |C[i]| == |C[512 - i]|, and the window's largest tap is C[256].
  for (int i = 1; i < 512; ++i) {
    EXPECT_EQ(std::abs(kAnalysisWindow[i]), std::abs(kAnalysisWindow[512 - i])) << i;
  }
  int peak = 0;
  for (int i = 0; i < 512; ++i) peak = std::max(peak, std::abs(kAnalysisWindow[i]));
  EXPECT_EQ(peak, kAnalysisWindow[256]);
  EXPECT_NEAR(kAnalysisWindow[256] / 2097152.0, 0.035780907, 1e-9);
}

// Polyphase filter bank against the standard's formulas in double
// precision (ISO/IEC 11172-3, C.1.3).
TEST(Mp3EncCoreTables, PolyphaseMatchesTheDirectFormula) {
  for (const Kernels* k : {&PlainKernels(), &VectorKernels()}) {
    PolyphaseAnalysis fast(*k);
    std::vector<double> x(576 * 3);
    uint32_t seed = 12345;
    for (double& v : x) {
      seed = seed * 1664525u + 1013904223u;
      v = (static_cast<double>(seed >> 8) / (1u << 24) - 0.5) * 1.5;
    }
    std::vector<float> in(x.begin(), x.end());
    float out[3][18][32];
    for (int g = 0; g < 3; ++g) fast.Process(in.data() + 576 * g, 1, out[g]);
    double se = 0.0;
    double ne = 0.0;
    for (int g = 0; g < 3; ++g) {
      for (int t = 0; t < 18; ++t) {
        const long newest = 576L * g + 32L * t + 31;
        double y[64] = {};
        for (int i = 0; i < 512; ++i) {
          const long idx = newest - i;
          const double xi = idx >= 0 ? x[static_cast<size_t>(idx)] : 0.0;
          y[i % 64] += kAnalysisWindow[i] / 2097152.0 * xi;
        }
        for (int sb = 0; sb < 32; ++sb) {
          double s = 0.0;
          for (int kk = 0; kk < 64; ++kk) s += std::cos((2 * sb + 1) * (kk - 16) * M_PI / 64.0) * y[kk];
          se += s * s;
          ne += (s - out[g][t][sb]) * (s - out[g][t][sb]);
        }
      }
    }
    EXPECT_GT(10.0 * std::log10(se / ne), 100.0);
  }
}

// The count1 quadruple sums of both paths count each pattern exactly: a
// table that is 1 at one pattern and 0 elsewhere sums to that pattern's
// count, for every length including the eight-quad steps' remainders.
TEST(Mp3EncCoreTables, QuadSumCountsEachPattern) {
  uint32_t seed = 777;
  std::vector<int> ix(4 * 144);
  for (int& v : ix) {
    seed = seed * 1664525u + 1013904223u;
    v = static_cast<int>(seed >> 31);
  }
  for (const Kernels* k : {&PlainKernels(), &VectorKernels()}) {
    for (int quads : {0, 1, 7, 8, 9, 17, 143, 144}) {
      for (int pattern = 0; pattern < 16; ++pattern) {
        uint32_t table[16] = {};
        table[pattern] = 1;
        uint32_t expected = 0;
        for (int q = 0; q < quads; ++q) {
          const int* v = &ix[4 * q];
          expected += (v[0] * 8 + v[1] * 4 + v[2] * 2 + v[3]) == pattern;
        }
        EXPECT_EQ(k->quadSum(ix.data(), quads, table), expected) << quads << " " << pattern;
      }
    }
  }
}

// The model's spectra against a direct DFT of the Hann-windowed block, at
// both analysis sizes: bins, powers and the real and imaginary parts.
TEST(Mp3EncCoreTables, PowerSpectrumMatchesTheDirectTransform) {
  for (int size : {256, 1024}) {
    PowerSpectrum fft(size);
    std::vector<float> in(size);
    uint32_t seed = 7;
    for (int i = 0; i < size; ++i) {
      seed = seed * 1103515245u + 12345u;
      in[i] = static_cast<float>(std::sin(0.37 * i) + 0.25 * ((seed >> 9) / double(1u << 23) - 0.5));
    }
    std::vector<float> power(size / 2 + 1), re(size / 2 + 1), im(size / 2 + 1), powerOnly(size / 2 + 1);
    fft.Transform(in.data(), power.data(), re.data(), im.data());
    fft.Transform(in.data(), powerOnly.data());
    double worst = 0.0, peak = 0.0;
    for (int k = 0; k <= size / 2; ++k) {
      double xr = 0.0, xi = 0.0;
      for (int i = 0; i < size; ++i) {
        const double v = in[i] * (0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / size));
        xr += v * std::cos(2 * M_PI * k * i / size);
        xi -= v * std::sin(2 * M_PI * k * i / size);
      }
      peak = std::max(peak, xr * xr + xi * xi);
      worst = std::max({worst, std::abs(re[k] - xr), std::abs(im[k] - xi)});
      EXPECT_NEAR(power[k], xr * xr + xi * xi, 1e-4 * (xr * xr + xi * xi) + 1e-3) << size << " bin " << k;
      EXPECT_EQ(power[k], powerOnly[k]) << size << " bin " << k;
    }
    EXPECT_LT(worst, 1e-5 * std::sqrt(peak)) << size;
  }
}

// MDCT plus the decoder's IMDCT and overlap-add reconstructs the subband
// signal (the 1/9 and 1/3 normalisation), for every legal window sequence.
TEST(Mp3EncCoreTables, MdctWithDecoderInverseReconstructs) {
  Mdct mdct(PlainKernels());
  const int types[6] = {kNormalBlock, kStartBlock, kShortBlock, kShortBlock, kStopBlock,
                        kNormalBlock};
  float sub[7][18][32];
  uint32_t seed = 99;
  for (auto& g : sub) {
    for (auto& t : g) {
      for (float& v : t) {
        seed = seed * 1103515245u + 12345u;
        v = static_cast<float>(seed >> 9) / (1u << 23) - 0.5f;
      }
    }
  }
  auto window = [](int type, int i) {
    const double l = std::sin(M_PI / 36 * (i + 0.5));
    if (type == kStartBlock) return i < 18 ? l : i < 24 ? 1.0 : i < 30 ? std::sin(M_PI / 12 * (i - 18 + 0.5)) : 0.0;
    if (type == kStopBlock) return i < 6 ? 0.0 : i < 12 ? std::sin(M_PI / 12 * (i - 6 + 0.5)) : i < 18 ? 1.0 : l;
    return l;
  };
  std::vector<double> overlap(32 * 18, 0.0);
  double se = 0.0;
  double ne = 0.0;
  for (int g = 0; g < 6; ++g) {
    float xr[576];
    mdct.Transform(sub[g], sub[g + 1], types[g], xr);
    if (types[g] != kShortBlock) {
      // Decoder alias reduction.
      const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
      for (int sb = 1; sb < 32; ++sb) {
        for (int i = 0; i < 8; ++i) {
          const double cs = 1 / std::sqrt(1 + c[i] * c[i]);
          const double ca = c[i] * cs;
          const double a = xr[18 * sb - 1 - i];
          const double b = xr[18 * sb + i];
          xr[18 * sb - 1 - i] = static_cast<float>(a * cs - b * ca);
          xr[18 * sb + i] = static_cast<float>(b * cs + a * ca);
        }
      }
    }
    for (int sb = 0; sb < 32; ++sb) {
      double y[36] = {};
      if (types[g] == kShortBlock) {
        for (int w = 0; w < 3; ++w) {
          for (int i = 0; i < 12; ++i) {
            double s = 0.0;
            for (int k = 0; k < 6; ++k) s += xr[192 * w + 6 * sb + k] * std::cos(M_PI / 24 * (2 * i + 7) * (2 * k + 1));
            y[6 + 6 * w + i] += s * std::sin(M_PI / 12 * (i + 0.5));
          }
        }
      } else {
        for (int i = 0; i < 36; ++i) {
          double s = 0.0;
          for (int k = 0; k < 18; ++k) s += xr[18 * sb + k] * std::cos(M_PI / 72 * (2 * i + 19) * (2 * k + 1));
          y[i] = s * window(types[g], i);
        }
      }
      for (int t = 0; t < 18; ++t) {
        const double rec = overlap[sb * 18 + t] + y[t];
        overlap[sb * 18 + t] = y[18 + t];
        if (g == 0) continue;  // the first half needs the granule before
        const float sign = ((sb & 1) && (t & 1)) ? -1.0f : 1.0f;
        const double want = sub[g][t][sb] * sign;
        se += want * want;
        ne += (rec - want) * (rec - want);
      }
    }
  }
  EXPECT_GT(10.0 * std::log10(se / ne), 100.0);
}

}  // namespace
}  // namespace mp3enc
