// Source: ITU-R BS.1387-1, Annex 2, section 6 (neural network of the basic
// version: scaling of the model output variables, weights of the input and
// output layers) and section 4.7 (detection threshold of the probability of
// detection).
#include "tools/peaq/peaq_tables.h"

namespace kestrune::peaq {

const std::array<const char*, kMovCount> kMovNames = {
    "BandwidthRefB", "BandwidthTestB", "Total NMRB",   "WinModDiff1B",  "ADBB",          "EHSB",
    "AvgModDiff1B",  "AvgModDiff2B",   "RmsNoiseLoudB", "MFPDB",        "RelDistFramesB",
};

namespace {

constexpr NeuralNetTables kNetwork = {
    {393.916656, 361.965332, -24.045116, 1.110661, -0.206623, 0.074318, 1.113683, 0.950345,
     0.029985, 0.000101, 0.0},
    {921.0, 881.131226, 16.212030, 107.137772, 2.886017, 13.933351, 63.257874, 1145.018555,
     14.819740, 1.0, 1.0},
    {{
        {-0.502657, 0.436333, 1.219602},
        {4.307481, 3.246017, 1.123743},
        {4.984241, -2.211189, -0.192096},
        {0.051056, -1.762424, 4.331315},
        {2.321580, 1.789971, -0.754560},
        {-5.303901, -3.452257, -10.814982},
        {2.730991, -6.111805, 1.519223},
        {0.624950, -1.331523, -5.955151},
        {3.102889, 0.871260, -5.922878},
        {-1.051468, -0.939882, -0.142913},
        {-1.804679, -0.503610, -0.620456},
    }},
    {-2.518254, 0.654841, -2.207228},
    {-3.817048, 4.107138, 4.629582},
    -0.307594,
    -3.98,
    0.22,
};

static_assert(kNetwork.inputMin[kBandwidthRef] == 393.916656);
static_assert(kNetwork.inputMax[kAvgModDiff2] == 1145.018555);
static_assert(kNetwork.inputWeights[kEhs][2] == -10.814982);
static_assert(kNetwork.outputWeights[1] == 4.107138);
static_assert(kNetwork.odgMax - kNetwork.odgMin == 0.22 + 3.98);

constexpr DetectionTables kDetectionTables = {
    5.95072, 6.39468, 1.71332, {-0.198719, 0.0550197, -0.00102438, 5.05622e-6, 9.01033e-11}};

static_assert(kDetectionTables.c[4] == 9.01033e-11);

}  // namespace

const NeuralNetTables kBasicNetwork = kNetwork;
const DetectionTables kDetection = kDetectionTables;

}  // namespace kestrune::peaq
