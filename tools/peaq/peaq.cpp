#include "tools/peaq/peaq.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "tools/peaq/ear_model.h"
#include "tools/peaq/frame_movs.h"
#include "tools/peaq/mov_average.h"
#include "tools/peaq/patterns.h"

namespace kestrune::peaq {
namespace {

// Data boundary (BS.1387-1, 5.2.4.4): data start where five consecutive
// samples of the reference have an absolute sum above 200 (16-bit units), in
// any channel; data end likewise from the end. Returns false for silence.
bool dataBoundary(std::span<const std::vector<float>> ref, std::size_t& first, std::size_t& last) {
    constexpr double kThreshold = 200.0 / 32768.0;
    constexpr std::size_t kRun = 5;
    const std::size_t length = ref[0].size();
    if (length < kRun) return false;
    bool found = false;
    first = length;
    last = 0;
    for (const std::vector<float>& ch : ref) {
        double sum = 0.0;
        for (std::size_t i = 0; i < kRun; ++i) sum += std::abs(ch[i]);
        for (std::size_t i = 0;; ++i) {  // window ch[i .. i+4]
            if (sum > kThreshold) {
                first = std::min(first, i);
                found = true;
                break;
            }
            if (i + kRun >= length) break;
            sum += std::abs(ch[i + kRun]) - std::abs(ch[i]);
        }
        sum = 0.0;
        for (std::size_t i = length - kRun; i < length; ++i) sum += std::abs(ch[i]);
        for (std::size_t i = length - 1;; --i) {  // window ch[i-4 .. i]
            if (sum > kThreshold) {
                last = std::max(last, i);
                break;
            }
            if (i < kRun) break;
            sum += std::abs(ch[i - kRun]) - std::abs(ch[i]);
        }
    }
    return found;
}

// The models of one channel: ear models of both signals and the stateful
// pattern stages.
struct ChannelModel {
    EarModel earRef;
    EarModel earTest;
    LevelAdapter adapter;
    ModulationMeter modRef;
    ModulationMeter modTest;
    HarmonicStructure harmonic;
    EarFrame ref;
    EarFrame test;
    std::vector<double> frameRef = std::vector<double>(kFrameSize);
    std::vector<double> frameTest = std::vector<double>(kFrameSize);
};

void loadFrame(const std::vector<float>& samples, std::size_t start, std::vector<double>& frame) {
    for (std::size_t n = 0; n < kFrameSize; ++n) {
        std::size_t i = start + n;
        frame[n] = i < samples.size() ? static_cast<double>(samples[i]) : 0.0;
    }
}

}  // namespace

Result evaluate(std::span<const std::vector<float>> reference, std::span<const std::vector<float>> test) {
    if (reference.empty() || reference.size() > 2 || reference.size() != test.size())
        throw std::invalid_argument("reference and test need the same number of channels (one or two)");
    for (std::size_t c = 0; c < reference.size(); ++c)
        if (reference[c].size() != reference[0].size() || test[c].size() != reference[0].size())
            throw std::invalid_argument("reference and test need the same length");

    const std::size_t channelCount = reference.size();
    std::size_t first = 0;
    std::size_t last = 0;
    long startFrame = 0;
    long endFrame = -1;
    if (dataBoundary(reference, first, last)) {
        // Frames count from the first one that reaches into the data, up to
        // the last one holding at least half a frame of data.
        startFrame = first < kFrameSize ? 0 : static_cast<long>((first - kFrameSize) / kHop + 1);
        endFrame = (static_cast<long>(last) + 1 - static_cast<long>(kHop)) / static_cast<long>(kHop);
        if (static_cast<long>(last) + 1 < static_cast<long>(kHop)) endFrame = -1;
    }

    std::vector<std::unique_ptr<ChannelModel>> models;
    for (std::size_t c = 0; c < channelCount; ++c) models.push_back(std::make_unique<ChannelModel>());
    std::vector<ChannelFrames> frames(channelCount);
    DetectionFrames detectionFrames;

    BandArray noiseBands{};
    BinArray noiseBins{};
    BandArray adaptedRef{};
    BandArray adaptedTest{};
    BandArray modRef{};
    BandArray modTest{};
    std::array<BandArray, 2> probability{};
    std::array<BandArray, 2> steps{};

    for (long frame = 0; frame <= endFrame; ++frame) {
        const std::size_t start = static_cast<std::size_t>(frame) * kHop;
        const bool counts = frame >= startFrame;
        for (std::size_t c = 0; c < channelCount; ++c) {
            ChannelModel& m = *models[c];
            loadFrame(reference[c], start, m.frameRef);
            loadFrame(test[c], start, m.frameTest);
            m.earRef.process(m.frameRef.data(), m.ref);
            m.earTest.process(m.frameTest.data(), m.test);
            m.adapter.process(m.ref.excitation, m.test.excitation, adaptedRef, adaptedTest);
            m.modRef.process(m.ref.unsmeared, modRef);
            m.modTest.process(m.test.unsmeared, modTest);
            if (!counts) continue;

            // Error signal: difference of the weighted magnitude spectra.
            for (std::size_t k = 0; k < kBins; ++k) {
                const double d = std::sqrt(m.ref.weighted[k]) - std::sqrt(m.test.weighted[k]);
                noiseBins[k] = d * d;
            }
            EarModel::group(noiseBins, noiseBands);

            ChannelFrames& out = frames[c];
            out.modDiff.push_back(modulationDifference(modRef, modTest, m.modRef.average()));
            out.noiseLoudness.push_back(noiseLoudness(modRef, modTest, adaptedRef, adaptedTest));
            out.loudnessRef.push_back(totalLoudness(m.ref.excitation));
            out.loudnessTest.push_back(totalLoudness(m.test.excitation));
            out.bandwidth.push_back(bandwidth(m.ref.power, m.test.power));
            out.nmr.push_back(noiseToMask(noiseBands, m.ref.excitation));
            out.ehs.push_back(m.harmonic.process(m.frameRef.data(), m.frameTest.data(), m.ref.power, m.test.power));
            detection(m.ref.excitation, m.test.excitation, probability[c], steps[c]);
        }
        if (!counts) continue;
        // Channels combine band by band by their maximum.
        double miss = 1.0;
        double stepSum = 0.0;
        for (std::size_t k = 0; k < kBandCount; ++k) {
            double p = probability[0][k];
            double q = steps[0][k];
            if (channelCount > 1) {
                p = std::max(p, probability[1][k]);
                q = std::max(q, steps[1][k]);
            }
            miss *= 1.0 - p;
            stepSum += q;
        }
        detectionFrames.probability.push_back(1.0 - miss);
        detectionFrames.steps.push_back(stepSum);
    }

    Result result;
    result.movs = averageMovs(frames, detectionFrames, static_cast<std::size_t>(startFrame));
    applyNeuralNetwork(result);
    return result;
}

void applyNeuralNetwork(Result& result) {
    const NeuralNetTables& net = kBasicNetwork;
    auto sigmoid = [](double x) { return 1.0 / (1.0 + std::exp(-x)); };
    double di = net.outputBias;
    for (std::size_t j = 0; j < 3; ++j) {
        double act = net.hiddenBias[j];
        for (std::size_t i = 0; i < kMovCount; ++i) {
            const double scaled = (result.movs[i] - net.inputMin[i]) / (net.inputMax[i] - net.inputMin[i]);
            act += net.inputWeights[i][j] * scaled;
        }
        di += net.outputWeights[j] * sigmoid(act);
    }
    result.distortionIndex = di;
    result.odg = net.odgMin + (net.odgMax - net.odgMin) * sigmoid(di);
}

}  // namespace kestrune::peaq
