#include "tools/peaq/mov_average.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace kestrune::peaq {
namespace {

struct Averages {
    double winModDiff1 = 0.0;
    double avgModDiff1 = 0.0;
    double avgModDiff2 = 0.0;
};

// Modulation values from frame `start` on: the 100 ms sliding-window average
// of ModDiff1 (4-frame windows of square roots, fourth power, square root of
// the mean) and the weighted means of ModDiff1 and ModDiff2.
Averages averageModulation(const std::vector<ModDiffFrame>& frames, std::size_t start) {
    constexpr std::size_t kWindow = 4;  // floor(0.1 s * 46.875)
    Averages out;
    const std::size_t n = frames.size() > start ? frames.size() - start : 0;
    if (n >= kWindow) {
        double sum = 0.0;
        for (std::size_t i = start + kWindow - 1; i < frames.size(); ++i) {
            double t = 0.0;
            for (std::size_t m = 0; m < kWindow; ++m) t += std::sqrt(frames[i - m].modDiff1);
            t /= static_cast<double>(kWindow);
            sum += t * t * t * t;
        }
        out.winModDiff1 = std::sqrt(sum / static_cast<double>(n - kWindow + 1));
    }
    double weights = 0.0;
    for (std::size_t i = start; i < frames.size(); ++i) {
        out.avgModDiff1 += frames[i].weight * frames[i].modDiff1;
        out.avgModDiff2 += frames[i].weight * frames[i].modDiff2;
        weights += frames[i].weight;
    }
    if (weights > 0.0) {
        out.avgModDiff1 /= weights;
        out.avgModDiff2 /= weights;
    }
    return out;
}

// First frame where both signals are louder than 0.1 sone.
std::size_t loudnessStart(const ChannelFrames& ch) {
    for (std::size_t i = 0; i < ch.loudnessRef.size(); ++i)
        if (ch.loudnessRef[i] > 0.1 && ch.loudnessTest[i] > 0.1) return i;
    return ch.loudnessRef.size();
}

}  // namespace

std::array<double, kMovCount> averageMovs(const std::vector<ChannelFrames>& channels,
                                          const DetectionFrames& detection, std::size_t warmUpFrames) {
    std::array<double, kMovCount> mov{};
    const double channelCount = static_cast<double>(channels.size());
    const std::size_t settle = static_cast<std::size_t>(std::ceil(0.5 * kFrameRate));
    const std::size_t modStart = settle > warmUpFrames ? settle - warmUpFrames : 0;
    const std::size_t loudDelay = static_cast<std::size_t>(std::ceil(0.05 * kFrameRate));

    std::size_t loudStart = SIZE_MAX;
    for (const ChannelFrames& ch : channels) loudStart = std::min(loudStart, loudnessStart(ch));
    const std::size_t noiseStart = std::max(loudStart + loudDelay, modStart);

    for (const ChannelFrames& ch : channels) {
        // Bandwidths: frames whose reference bandwidth exceeds 8.1 kHz.
        double refSum = 0.0;
        double testSum = 0.0;
        std::size_t bwFrames = 0;
        for (const BandwidthFrame& bw : ch.bandwidth) {
            if (bw.ref < 0) continue;
            refSum += bw.ref;
            testSum += bw.test;
            ++bwFrames;
        }
        if (bwFrames > 0) {
            mov[kBandwidthRef] += refSum / static_cast<double>(bwFrames);
            mov[kBandwidthTest] += testSum / static_cast<double>(bwFrames);
        } else {
            // No frame with a reference bandwidth above 8.1 kHz: undefined.
            mov[kBandwidthRef] = std::numeric_limits<double>::quiet_NaN();
            mov[kBandwidthTest] = std::numeric_limits<double>::quiet_NaN();
        }

        // Noise-to-mask ratio: linear mean in dB; frames with a band 1.5 dB over the mask.
        double nmrSum = 0.0;
        std::size_t disturbed = 0;
        const double disturbedThreshold = std::pow(10.0, 0.15);
        for (const NmrFrame& f : ch.nmr) {
            nmrSum += f.average;
            if (f.maximum > disturbedThreshold) ++disturbed;
        }
        if (!ch.nmr.empty()) {
            mov[kTotalNmr] += 10.0 * std::log10(nmrSum / static_cast<double>(ch.nmr.size()));
            mov[kRelDistFrames] += static_cast<double>(disturbed) / static_cast<double>(ch.nmr.size());
        }

        const Averages mod = averageModulation(ch.modDiff, modStart);
        mov[kWinModDiff1] += mod.winModDiff1;
        mov[kAvgModDiff1] += mod.avgModDiff1;
        mov[kAvgModDiff2] += mod.avgModDiff2;

        double squares = 0.0;
        std::size_t loudFrames = 0;
        for (std::size_t i = noiseStart; i < ch.noiseLoudness.size(); ++i) {
            squares += ch.noiseLoudness[i] * ch.noiseLoudness[i];
            ++loudFrames;
        }
        if (loudFrames > 0) mov[kRmsNoiseLoud] += std::sqrt(squares / static_cast<double>(loudFrames));

        double ehsSum = 0.0;
        std::size_t ehsFrames = 0;
        for (double v : ch.ehs) {
            if (v < 0.0) continue;
            ehsSum += v;
            ++ehsFrames;
        }
        if (ehsFrames > 0) mov[kEhs] += 1000.0 * ehsSum / static_cast<double>(ehsFrames);
    }
    for (std::size_t i : {kBandwidthRef, kBandwidthTest, kTotalNmr, kRelDistFrames, kWinModDiff1, kAvgModDiff1,
                          kAvgModDiff2, kRmsNoiseLoud, kEhs})
        mov[i] /= channelCount;

    // Probability of detection: maximum filtered probability and average
    // distortion of the frames detected with more than 50 %.
    constexpr double c0 = 0.9;
    constexpr double c1 = 1.0;
    double filtered = 0.0;
    double maximum = 0.0;
    double stepSum = 0.0;
    std::size_t detected = 0;
    for (std::size_t i = 0; i < detection.probability.size(); ++i) {
        filtered = c0 * filtered + (1.0 - c0) * detection.probability[i];
        maximum = std::max(c1 * maximum, filtered);
        if (detection.probability[i] > 0.5) {
            ++detected;
            stepSum += detection.steps[i];
        }
    }
    mov[kMfpd] = maximum;
    if (detected == 0)
        mov[kAdb] = 0.0;
    else if (stepSum > 0.0)
        mov[kAdb] = std::log10(stepSum / static_cast<double>(detected));
    else
        mov[kAdb] = -0.5;
    return mov;
}

}  // namespace kestrune::peaq
