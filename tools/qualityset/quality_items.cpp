#include "tools/qualityset/quality_items.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <numbers>
#include <random>
#include <utility>

#include "tools/peaq/wav_input.h"

namespace kestrune::quality {
namespace {

constexpr double kRate = kItemRate;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr std::size_t kGeneratedFrames = 8 * kItemRate;  // 8 s per generated item

// Uniform and Gaussian values from mt19937's raw output, which the C++
// standard fixes bit for bit (the library's distributions are not portable).
class Noise {
public:
    explicit Noise(uint32_t seed) : rng_(seed) {}
    double Uniform() { return (static_cast<double>(rng_()) + 0.5) / 4294967296.0; }  // (0, 1)
    double Signed() { return 2.0 * Uniform() - 1.0; }
    double Gauss() {  // Box-Muller
        return std::sqrt(-2.0 * std::log(Uniform())) * std::cos(kTwoPi * Uniform());
    }

private:
    std::mt19937 rng_;
};

// Two-pole resonator at f Hz with bandwidth bw Hz, unity gain near f.
class Resonator {
public:
    Resonator(double f, double bw) { Tune(f, bw); }
    void Tune(double f, double bw) {
        const double r = std::exp(-std::numbers::pi * bw / kRate);
        a1_ = 2.0 * r * std::cos(kTwoPi * f / kRate);
        a2_ = -r * r;
        // The peak gain of the two poles is 1 / ((1 - r) |1 - r e^(-2iw)|).
        const double w = kTwoPi * f / kRate;
        gain_ = (1.0 - r) * std::sqrt(1.0 - 2.0 * r * std::cos(2.0 * w) + r * r);
    }
    double operator()(double x) {
        const double y = gain_ * x + a1_ * y1_ + a2_ * y2_;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double a1_ = 0, a2_ = 0, gain_ = 1, y1_ = 0, y2_ = 0;
};

// First-order high-pass (one pole, one zero at DC).
class HighPass {
public:
    explicit HighPass(double f) : a_(std::exp(-kTwoPi * f / kRate)) {}
    double operator()(double x) {
        const double y = a_ * (y1_ + x - x1_);
        x1_ = x;
        y1_ = y;
        return y;
    }

private:
    double a_, x1_ = 0, y1_ = 0;
};

using Buffer = std::vector<double>;

// Constant-power panning gains for a position from -1 (left) to 1 (right).
struct Pan {
    explicit Pan(double position)
        : l(std::cos((position + 1.0) * std::numbers::pi / 4.0)),
          r(std::sin((position + 1.0) * std::numbers::pi / 4.0)) {}
    double l, r;
};

struct Stereo {
    Buffer l = Buffer(kGeneratedFrames, 0.0);
    Buffer r = Buffer(kGeneratedFrames, 0.0);
    void Add(std::size_t at, double v, const Pan& pan) {
        if (at >= l.size()) return;
        l[at] += v * pan.l;
        r[at] += v * pan.r;
    }
};

double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }
std::size_t At(double seconds) { return static_cast<std::size_t>(seconds * kRate); }

// A decaying sum of partials (ratios, amplitudes, decay times) starting at
// `start` seconds, lasting at most `length` seconds, with a short release so
// that it ends at zero. Partials above 19 kHz are left out.
void AddPartials(Stereo& out, double start, double length, double f0, const std::vector<double>& ratios,
                 const std::vector<double>& amps, const std::vector<double>& taus, double gain, double pan) {
    const std::size_t begin = At(start);
    const std::size_t count = std::min(At(length), kGeneratedFrames - std::min(begin, kGeneratedFrames));
    const std::size_t release = At(0.05);
    const Pan gains(pan);
    for (std::size_t p = 0; p < ratios.size(); ++p) {
        const double f = f0 * ratios[p];
        if (f > 19000.0) continue;
        // Phasor rotation: one complex multiply per sample.
        const double w = kTwoPi * f / kRate;
        const double cw = std::cos(w), sw = std::sin(w);
        const double decay = std::exp(-1.0 / (taus[p] * kRate));
        double re = 0.0, im = 1.0, env = gain * amps[p];
        for (std::size_t i = 0; i < count; ++i) {
            double v = env * im;
            if (i + release > count) v *= static_cast<double>(count - i) / static_cast<double>(release);
            out.Add(begin + i, v, gains);
            const double nre = re * cw - im * sw;
            im = re * sw + im * cw;
            re = nre;
            env *= decay;
        }
    }
}

// A plucked string (Karplus-Strong): a noise-filled delay line averaged in a loop.
void AddPluck(Stereo& out, Noise& noise, double start, double f, double seconds, double gain, double pan,
              double damping = 0.996) {
    const std::size_t n = std::max<std::size_t>(2, static_cast<std::size_t>(kRate / f));
    Buffer line(n);
    for (double& v : line) v = noise.Signed();
    const std::size_t begin = At(start);
    const std::size_t count = At(seconds);
    std::size_t pos = 0;
    const Pan gains(pan);
    for (std::size_t i = 0; i < count; ++i) {
        const double v = line[pos];
        const std::size_t next = (pos + 1) % n;
        line[pos] = damping * 0.5 * (v + line[next]);
        pos = next;
        double fade = 1.0;
        if (count - i < 2400) fade = static_cast<double>(count - i) / 2400.0;
        out.Add(begin + i, gain * v * fade, gains);
    }
}

// A burst of noise with an exponential decay, optionally through a resonator.
void AddBurst(Stereo& out, Noise& noise, double start, double seconds, double tau, double gain, double pan,
              double centre = 0.0, double bandwidth = 0.0) {
    Resonator res(centre > 0 ? centre : 1000.0, bandwidth > 0 ? bandwidth : 1000.0);
    const std::size_t begin = At(start);
    const std::size_t count = At(seconds);
    const double decay = std::exp(-1.0 / (tau * kRate));
    double env = gain;
    const Pan gains(pan);
    for (std::size_t i = 0; i < count; ++i) {
        double v = noise.Gauss();
        if (centre > 0) v = res(v) * 4.0;
        out.Add(begin + i, env * v, gains);
        env *= decay;
    }
}

// A bass drum: a sine sweeping down from 150 to 50 Hz with a fast decay.
void AddKick(Stereo& out, double start, double gain) {
    const std::size_t begin = At(start);
    double phase = 0.0;
    const Pan centre(0.0);
    for (std::size_t i = 0; i < At(0.3); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double f = 50.0 + 100.0 * std::exp(-t * 30.0);
        phase += kTwoPi * f / kRate;
        out.Add(begin + i, gain * std::exp(-t * 12.0) * std::sin(phase), centre);
    }
}

// Band-limits a channel to 19.5 kHz with a centred (zero-delay) windowed-sinc
// FIR, Blackman window, 127 taps: above 21.6 kHz more than 70 dB down. Real
// recordings carry little there, and PEAQ's bandwidth measure takes the
// test signal's level above 21.6 kHz as its noise floor: white noise up to
// 24 kHz would leave the grade undefined for an encoder that keeps it.
Buffer LowPass(const Buffer& x) {
    constexpr int kTaps = 127;
    constexpr int kHalf = kTaps / 2;
    constexpr double kCutoff = 19500.0 / kRate;  // cycles per sample
    double h[kTaps];
    for (int n = 0; n < kTaps; ++n) {
        const double m = n - kHalf;
        const double sinc = m == 0 ? 2.0 * kCutoff : std::sin(kTwoPi * kCutoff * m) / (std::numbers::pi * m);
        const double w = 0.42 - 0.5 * std::cos(kTwoPi * n / (kTaps - 1)) + 0.08 * std::cos(2.0 * kTwoPi * n / (kTaps - 1));
        h[n] = sinc * w;
    }
    Buffer y(x.size(), 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        double acc = 0.0;
        for (int n = 0; n < kTaps; ++n) {
            const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(i) + kHalf - n;
            if (j >= 0 && j < static_cast<std::ptrdiff_t>(x.size())) acc += h[n] * x[static_cast<std::size_t>(j)];
        }
        y[i] = acc;
    }
    return y;
}

Item Finish(std::string name, Buffer l, Buffer r, double peak) {
    l = LowPass(l);
    r = LowPass(r);
    double m = 1e-12;
    for (std::size_t i = 0; i < l.size(); ++i) m = std::max({m, std::abs(l[i]), std::abs(r[i])});
    const double scale = peak / m;
    Item item;
    item.name = std::move(name);
    for (const Buffer* b : {&l, &r}) {
        std::vector<float> ch(b->size());
        for (std::size_t i = 0; i < b->size(); ++i) {
            const double q = std::clamp(std::round((*b)[i] * scale * 32768.0), -32768.0, 32767.0);
            ch[i] = static_cast<float>(q / 32768.0);
        }
        item.channels.push_back(std::move(ch));
    }
    return item;
}

// Piano-like notes: stiff-string partials (slightly inharmonic), two
// detuned strings per note, partial-dependent decay and a hammer thump.
Item Piano() {
    Stereo s;
    Noise noise(101);
    const double notes[] = {48, 55, 60, 64, 67, 72, 76, 79, 84, 79, 76, 72, 67, 64, 60, 55};
    for (int k = 0; k < 16; ++k) {
        const double start = 0.05 + 0.48 * k;
        const double f0 = MidiHz(notes[k]);
        const double pan = -0.6 + 1.2 * (notes[k] - 48) / 36.0;
        std::vector<double> ratios, amps, taus;
        for (int n = 1; n <= 24; ++n) {
            ratios.push_back(n * std::sqrt(1.0 + 0.0003 * n * n));
            amps.push_back(1.0 / std::pow(n, 1.1));
            taus.push_back(2.5 / (1.0 + 0.25 * n) * (f0 < 300 ? 1.5 : 1.0));
        }
        const double velocity = 0.6 + 0.4 * ((k * 7) % 5) / 4.0;
        AddPartials(s, start, 3.0, f0, ratios, amps, taus, velocity, pan);
        AddPartials(s, start, 3.0, f0 * 1.0006, ratios, amps, taus, velocity * 0.7, pan);
        AddBurst(s, noise, start, 0.01, 0.002, 0.15 * velocity, pan, 3000.0, 4000.0);
    }
    return Finish("piano", std::move(s.l), std::move(s.r), 0.6);
}

// Castanet-like clicks: very short resonant clicks in rolls, in a quiet room.
Item Castanets() {
    Stereo s;
    Noise noise(202);
    double t = 0.1;
    int k = 0;
    while (t < 7.8) {
        const double pan = ((k % 3) - 1) * 0.3;
        const double gain = 0.5 + 0.5 * noise.Uniform();
        AddBurst(s, noise, t, 0.012, 0.0015, gain, pan, 2600.0 + 400.0 * noise.Uniform(), 900.0);
        AddBurst(s, noise, t, 0.012, 0.0008, 0.6 * gain, pan, 6500.0, 3000.0);
        AddBurst(s, noise, t, 0.08, 0.02, 0.01 * gain, -pan);  // the room
        // Rolls of four fast clicks, then a pause.
        t += (k % 5 == 4) ? 0.35 + 0.1 * noise.Uniform() : 0.07 + 0.01 * noise.Uniform();
        ++k;
    }
    return Finish("castanets", std::move(s.l), std::move(s.r), 0.7);
}

// Glockenspiel-like bright tones: bar partials (1, 2.76, 5.40, 8.93) with a
// mallet click, high fundamentals and long decays.
Item Glockenspiel() {
    Stereo s;
    Noise noise(303);
    const double notes[] = {84, 88, 91, 96, 91, 88, 93, 89, 86, 98, 95, 91, 84, 100, 96, 91,
                            88, 84, 91, 96};
    const std::vector<double> ratios = {1.0, 2.76, 5.40, 8.93};
    const std::vector<double> amps = {1.0, 0.45, 0.25, 0.12};
    const std::vector<double> taus = {1.4, 0.5, 0.2, 0.08};
    for (int k = 0; k < 20; ++k) {
        const double start = 0.05 + 0.38 * k;
        const double pan = std::sin(k * 0.9) * 0.7;
        AddPartials(s, start, 2.0, MidiHz(notes[k]), ratios, amps, taus, 0.5, pan);
        AddBurst(s, noise, start, 0.004, 0.0007, 0.2, pan, 9000.0, 6000.0);
    }
    return Finish("glockenspiel", std::move(s.l), std::move(s.r), 0.6);
}

// A dense mixture: kick, snare, hi-hats, bass, a wide pad and a plucked
// melody at 120 beats per minute.
Item Mixture() {
    Stereo s;
    Noise noise(404);
    const double bass[] = {36, 36, 43, 41};
    const double chords[4][3] = {{60, 64, 67}, {60, 64, 67}, {55, 59, 62}, {53, 57, 60}};
    const double melody[] = {72, 74, 76, 79, 77, 76, 74, 72, 71, 72, 74, 76, 74, 72, 71, 67};
    for (int bar = 0; bar < 4; ++bar) {
        const double b0 = bar * 2.0;
        std::vector<double> hr, ha, ht;
        for (int n = 1; n <= 8; ++n) {
            hr.push_back(n);
            ha.push_back(1.0 / n);
            ht.push_back(1.5);
        }
        for (int beat = 0; beat < 4; ++beat) {
            AddPartials(s, b0 + 0.5 * beat, 0.48, MidiHz(bass[bar]), hr, ha, ht, 0.25, 0.0);
        }
        for (int v = 0; v < 3; ++v) {
            std::vector<double> pr, pa, pt;
            for (int n = 1; n <= 6; ++n) {
                pr.push_back(n);
                pa.push_back(0.5 / n);
                pt.push_back(4.0);
            }
            AddPartials(s, b0, 2.0, MidiHz(chords[bar][v]), pr, pa, pt, 0.06, -0.8);
            AddPartials(s, b0, 2.0, MidiHz(chords[bar][v]) * 1.003, pr, pa, pt, 0.06, 0.8);
        }
        for (int beat = 0; beat < 4; ++beat) {
            const double t = b0 + 0.5 * beat;
            if (beat % 2 == 0) AddKick(s, t, 0.6);
            if (beat % 2 == 1) {
                AddBurst(s, noise, t, 0.15, 0.04, 0.25, 0.1, 0.0, 0.0);
                AddPartials(s, t, 0.1, 185.0, {1.0, 1.6}, {1.0, 0.5}, {0.04, 0.03}, 0.3, 0.1);
            }
        }
        for (int e = 0; e < 8; ++e) {
            AddBurst(s, noise, b0 + 0.25 * e, 0.06, 0.012, 0.12, 0.5, 10000.0, 5000.0);
        }
        for (int m = 0; m < 4; ++m) {
            AddPluck(s, noise, b0 + 0.5 * m, MidiHz(melody[bar * 4 + m]), 0.5, 0.3, -0.4);
        }
    }
    return Finish("mixture", std::move(s.l), std::move(s.r), 0.7);
}

// Applause-like noise: hundreds of short hand claps per second at random
// places, with a diffuse background.
Item Applause() {
    Stereo s;
    Noise noise(505);
    const double duration = static_cast<double>(kGeneratedFrames) / kRate;
    for (double t = 0.0; t < duration - 0.05;) {
        const double pan = noise.Signed();
        const double gain = 0.2 + 0.8 * noise.Uniform();
        AddBurst(s, noise, t, 0.03, 0.004 + 0.006 * noise.Uniform(), gain, pan,
                 900.0 + 1800.0 * noise.Uniform(), 1500.0);
        t += -std::log(noise.Uniform()) / 120.0;  // Poisson: 120 claps per second
    }
    for (std::size_t i = 0; i < kGeneratedFrames; ++i) {
        s.l[i] += 0.05 * noise.Gauss();
        s.r[i] += 0.05 * noise.Gauss();
    }
    return Finish("applause", std::move(s.l), std::move(s.r), 0.6);
}

// Speech-like sound by formant synthesis: a glottal pulse train with a
// falling pitch contour through four formant resonators moving between
// vowels, fricatives and plosive bursts between syllables, phrase pauses.
Item Speech() {
    struct Vowel {
        double f1, f2, f3;
    };
    const Vowel vowels[] = {{730, 1090, 2440}, {270, 2290, 3010}, {300, 870, 2240},
                            {530, 1840, 2480}, {570, 840, 2410}};
    Buffer v(kGeneratedFrames, 0.0);
    Noise noise(606);
    Resonator f1(500, 60), f2(1500, 90), f3(2500, 120), f4(3500, 200);
    Resonator fric(5500, 3000);
    HighPass fricHp(2500.0);
    double glottal = 0.0, phase = 0.0;
    const double syllable = 0.22;
    for (std::size_t i = 0; i < kGeneratedFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double phraseT = std::fmod(t, 2.0);  // 1.7 s phrases, 0.3 s pauses
        const int syl = static_cast<int>(t / syllable);
        const double st = std::fmod(t, syllable);
        const Vowel& a = vowels[syl % 5];
        const Vowel& b = vowels[(syl * 3 + 1) % 5];
        const double mix = std::clamp((st - 0.06) / 0.16, 0.0, 1.0);
        if (i % 32 == 0) {
            f1.Tune(a.f1 + (b.f1 - a.f1) * mix, 70);
            f2.Tune(a.f2 + (b.f2 - a.f2) * mix, 100);
            f3.Tune(a.f3 + (b.f3 - a.f3) * mix, 140);
        }
        const bool inPhrase = phraseT < 1.7;
        const double f0 = 190.0 - 50.0 * (phraseT / 1.7) + 6.0 * std::sin(kTwoPi * 4.5 * t);
        phase += f0 / kRate;
        double pulse = 0.0;
        if (phase >= 1.0) {
            phase -= 1.0;
            pulse = 1.0;
        }
        glottal = 0.97 * glottal + pulse;  // a leaky integrator shapes the pulses
        double voiced = 0.0;
        if (inPhrase && st >= 0.06) {
            const double env = std::min(1.0, (st - 0.06) / 0.02) * std::min(1.0, (syllable - st) / 0.03);
            voiced = env * (glottal + 0.02 * noise.Gauss());
        }
        double out = f4(f3(f2(f1(voiced * 50.0))));
        // Consonants: a fricative on odd syllables, a plosive burst on even ones.
        if (inPhrase && st < 0.06) {
            if (syl % 2 == 1) {
                const double env = std::sin(std::numbers::pi * st / 0.06);
                out += 0.25 * env * fricHp(fric(noise.Gauss()) * 3.0);
            } else if (st < 0.012) {
                out += 0.3 * std::exp(-st / 0.003) * noise.Gauss();
            }
        }
        v[i] = out;
    }
    // A small room: a few quiet reflections, slightly different per side.
    Buffer l = v, r = v;
    const std::size_t dl[] = {541, 1327, 2203}, dr[] = {613, 1409, 2351};
    for (std::size_t i = 2400; i < kGeneratedFrames; ++i) {
        for (int k = 0; k < 3; ++k) {
            l[i] += 0.08 / (k + 1) * v[i - dl[k]];
            r[i] += 0.08 / (k + 1) * v[i - dr[k]];
        }
    }
    return Finish("speech", std::move(l), std::move(r), 0.6);
}

// Digital silence with a few isolated events: a click, a drum hit, a tone
// burst, a hand clap and a plucked note. Pre-echo has nowhere to hide.
Item SparseTransients() {
    Stereo s;
    Noise noise(707);
    AddBurst(s, noise, 1.0, 0.004, 0.0006, 0.8, -0.3, 3000.0, 2500.0);
    AddKick(s, 2.5, 0.7);
    AddBurst(s, noise, 2.5, 0.1, 0.02, 0.3, 0.0, 0.0, 0.0);
    {
        const std::size_t begin = At(4.0), n = At(0.05), edge = At(0.001);
        const Pan pan(0.2);
        for (std::size_t i = 0; i < n; ++i) {
            double env = 1.0;
            if (i < edge) env = 0.5 - 0.5 * std::cos(std::numbers::pi * i / edge);
            if (n - i < edge) env = 0.5 - 0.5 * std::cos(std::numbers::pi * (n - i) / edge);
            s.Add(begin + i, 0.5 * env * std::sin(kTwoPi * 1000.0 * i / kRate), pan);
        }
    }
    AddBurst(s, noise, 5.5, 0.03, 0.006, 0.7, 0.4, 1500.0, 2000.0);
    AddPluck(s, noise, 7.0, 330.0, 0.6, 0.6, -0.5);
    return Finish("sparse", std::move(s.l), std::move(s.r), 0.8);
}

// A wide stereo image: different melodies hard left and right, an
// anti-phase pad and decorrelated reverberant noise.
Item WideStereo() {
    Stereo s;
    Noise noise(808);
    const double left[] = {60, 64, 67, 72, 67, 64, 60, 55, 57, 60, 64, 69, 64, 60, 57, 52};
    const double right[] = {79, 76, 74, 72, 74, 76, 79, 84, 81, 79, 77, 76, 77, 79, 81, 83};
    for (int k = 0; k < 16; ++k) {
        AddPluck(s, noise, 0.5 * k, MidiHz(left[k]), 0.6, 0.4, -1.0);
        AddPluck(s, noise, 0.25 + 0.5 * k, MidiHz(right[k]), 0.5, 0.35, 1.0);
    }
    std::vector<double> ratios, amps, taus;
    for (int n = 1; n <= 10; ++n) {
        ratios.push_back(n);
        amps.push_back(1.0 / n);
        taus.push_back(6.0);
    }
    Stereo pad;
    AddPartials(pad, 0.0, 8.0, MidiHz(48), ratios, amps, taus, 0.1, -1.0);
    HighPass hl(300.0), hr(300.0);
    for (std::size_t i = 0; i < kGeneratedFrames; ++i) {
        s.l[i] += pad.l[i] + 0.02 * hl(noise.Gauss());
        s.r[i] += -pad.l[i] + 0.02 * hr(noise.Gauss());
    }
    return Finish("wide", std::move(s.l), std::move(s.r), 0.6);
}

// The same music on both channels: plucked chords, a bass and hi-hats.
Item MonoInStereo() {
    Stereo s;
    Noise noise(909);
    const double chords[4][3] = {{57, 60, 64}, {53, 57, 60}, {60, 64, 67}, {55, 59, 62}};
    for (int bar = 0; bar < 4; ++bar) {
        for (int beat = 0; beat < 4; ++beat) {
            const double t = bar * 2.0 + beat * 0.5;
            for (int v = 0; v < 3; ++v) AddPluck(s, noise, t + 0.01 * v, MidiHz(chords[bar][v]), 0.5, 0.25, 0.0);
            AddPluck(s, noise, t, MidiHz(chords[bar][0] - 24), 0.5, 0.3, 0.0, 0.999);
            AddBurst(s, noise, t + 0.25, 0.05, 0.01, 0.1, 0.0, 9000.0, 5000.0);
        }
    }
    return Finish("monostereo", s.l, s.l, 0.7);
}

using Generator = std::function<Item()>;

const std::vector<std::pair<std::string, Generator>>& Generators() {
    static const std::vector<std::pair<std::string, Generator>> table = {
        {"piano", Piano},         {"castanets", Castanets}, {"glockenspiel", Glockenspiel},
        {"mixture", Mixture},     {"applause", Applause},   {"speech", Speech},
        {"sparse", SparseTransients}, {"wide", WideStereo}, {"monostereo", MonoInStereo},
    };
    return table;
}

void PutLe(std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

std::vector<std::string> SharedItemNames() { return {"clicks", "noise", "pluck", "speech", "tones"}; }

std::vector<std::string> GeneratedItemNames() {
    std::vector<std::string> names;
    for (const auto& [name, generator] : Generators()) names.push_back(name);
    return names;
}

bool MakeItem(const std::string& name, const std::string& sharedDir, Item& item, std::string& error) {
    for (const auto& [generatedName, generator] : Generators()) {
        if (generatedName == name) {
            item = generator();
            return true;
        }
    }
    // Shared names are prefixed "ref-" in the set, to keep them apart from
    // the generated items ("ref-speech" is the shared speech file).
    const std::string prefix = "ref-";
    const std::string shared = name.rfind(prefix, 0) == 0 ? name.substr(prefix.size()) : std::string();
    const auto names = SharedItemNames();
    if (shared.empty() || std::find(names.begin(), names.end(), shared) == names.end()) {
        error = "unknown quality item " + name;
        return false;
    }
    peaq::Signal signal;
    const std::string path = sharedDir + "/quality/ref/" + shared + ".wav";
    if (!peaq::readWave(path, signal, error)) return false;
    if (signal.sampleRate != kItemRate) {
        error = path + ": not sampled at 48 kHz";
        return false;
    }
    item.name = name;
    item.channels = std::move(signal.channels);
    if (item.channels.size() == 1) item.channels.push_back(item.channels[0]);
    return true;
}

bool MakeQualitySet(const std::string& sharedDir, std::vector<Item>& items, std::string& error) {
    items.clear();
    std::vector<std::string> names;
    for (const std::string& n : SharedItemNames()) names.push_back("ref-" + n);
    for (const std::string& n : GeneratedItemNames()) names.push_back(n);
    for (const std::string& n : names) {
        Item item;
        if (!MakeItem(n, sharedDir, item, error)) return false;
        items.push_back(std::move(item));
    }
    return true;
}

Item Downmix(const Item& item) {
    Item mono;
    mono.name = item.name;
    std::vector<float> ch(item.Frames());
    for (std::size_t i = 0; i < ch.size(); ++i) {
        double sum = 0.0;
        for (const auto& c : item.channels) sum += c[i];
        const double q = std::round(sum / static_cast<double>(item.channels.size()) * 32768.0);
        ch[i] = static_cast<float>(std::clamp(q, -32768.0, 32767.0) / 32768.0);
    }
    mono.channels.push_back(std::move(ch));
    return mono;
}

bool WriteWave16(const std::string& path, const Item& item) {
    const uint32_t channels = static_cast<uint32_t>(item.channels.size());
    const uint32_t bytes = static_cast<uint32_t>(item.Frames() * channels * 2);
    std::string out;
    out += "RIFF";
    PutLe(out, 36 + bytes, 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);
    PutLe(out, 1, 2);
    PutLe(out, channels, 2);
    PutLe(out, kItemRate, 4);
    PutLe(out, kItemRate * channels * 2, 4);
    PutLe(out, channels * 2, 2);
    PutLe(out, 16, 2);
    out += "data";
    PutLe(out, bytes, 4);
    out.reserve(out.size() + bytes);
    for (std::size_t i = 0; i < item.Frames(); ++i) {
        for (const auto& c : item.channels) {
            const auto v = static_cast<int16_t>(std::lround(std::clamp(c[i] * 32768.0f, -32768.0f, 32767.0f)));
            PutLe(out, static_cast<uint16_t>(v), 2);
        }
    }
    std::ofstream file(path, std::ios::binary);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return static_cast<bool>(file);
}

}  // namespace kestrune::quality
