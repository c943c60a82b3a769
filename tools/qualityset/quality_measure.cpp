#include "tools/qualityset/quality_measure.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "mp3enc/mp3s_enc.h"
#include "tools/peaq/peaq.h"
#include "tools/peaq/wav_input.h"
#include "tools/qualityset/alignment.h"

namespace kestrune::quality {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxLag = 8192;  // the longest delay searched, in samples at 48 kHz

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Setting Make(std::string name, int kbps, int level, bool mono, std::vector<std::string> lame) {
    Setting s;
    s.name = std::move(name);
    s.bitRateKbps = kbps;
    s.level = level;
    s.mono = mono;
    s.lameArgs = std::move(lame);
    return s;
}

// Bit rate of a stream of the item's length, kbit/s.
double Kbps(std::uintmax_t bytes, const Item& item) {
    return static_cast<double>(bytes) * 8.0 / item.Seconds() / 1000.0;
}

}  // namespace

std::vector<Setting> TestSettings() {
    return {Make("cbr128", 128, 0, false, {"-b", "128"}), Make("mono64", 64, 0, true, {"-b", "64"}),
            Make("vbr2-V2", 0, 2, false, {"-V", "2"})};
}

std::vector<Setting> BenchSettings() {
    std::vector<Setting> settings;
    for (int kbps : {32, 48, 64, 96, 128, 160, 192, 256, 320}) {
        settings.push_back(Make("cbr" + std::to_string(kbps), kbps, 0, false, {"-b", std::to_string(kbps)}));
    }
    for (int level = 1; level <= 5; ++level) settings.push_back(Make("vbr" + std::to_string(level), 0, level, false, {}));
    settings.push_back(Make("mono64", 64, 0, true, {"-b", "64"}));
    settings.push_back(Make("mono48", 48, 0, true, {"-b", "48"}));
    return settings;
}

void PairLevel(Setting& level, int lameV) {
    level.name = "vbr" + std::to_string(level.level) + "-V" + std::to_string(lameV);
    level.lameArgs = {"-V", std::to_string(lameV)};
}

int NearestLameV(double oursKbps, const double (&lameKbps)[kLameVbrSettings]) {
    int best = 0;
    for (int v = 1; v < kLameVbrSettings; ++v) {
        const double d = std::abs(lameKbps[v] - oursKbps);
        const double bestD = std::abs(lameKbps[best] - oursKbps);
        if (d < bestD || (d == bestD && lameKbps[v] < lameKbps[best])) best = v;
    }
    return best;
}

bool FindSetting(const std::string& name, Setting& out) {
    for (const std::vector<Setting>& list : {TestSettings(), BenchSettings()}) {
        for (const Setting& s : list) {
            if (s.name == name) {
                out = s;
                return true;
            }
        }
    }
    // "vbrN-VM": one digit each.
    if (name.size() == 7 && name.rfind("vbr", 0) == 0 && name.compare(4, 2, "-V") == 0 && name[3] >= '1' &&
        name[3] <= '5' && name[6] >= '0' && name[6] <= '9') {
        out = Make("vbr" + name.substr(3, 1), 0, name[3] - '0', false, {});
        PairLevel(out, name[6] - '0');
        return true;
    }
    return false;
}

QualityHarness::QualityHarness() {
    std::random_device entropy;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        const fs::path dir = base / ("kestrune-quality-" + std::to_string(entropy()));
        if (fs::create_directory(dir)) {
            dir_ = dir.string();
            break;
        }
    }
}

QualityHarness::~QualityHarness() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string QualityHarness::Path(const std::string& name) const { return (fs::path(dir_) / name).string(); }

bool QualityHarness::Run(const std::vector<std::string>& args, std::string& error) {
    std::string command;
    for (const std::string& a : args) command += (command.empty() ? "" : " ") + Quote(a);
    const std::string log = Path("tool.log");
    const int status = std::system((command + " >" + Quote(log) + " 2>&1 </dev/null").c_str());
    if (status != 0) {
        error = "`" + command + "` failed (status " + std::to_string(status) + "): " + Slurp(log).substr(0, 400);
        return false;
    }
    return true;
}

bool EncodeWithOurs(const Item& input, const Setting& setting, std::string& stream, EncoderResult& result,
                    std::string& error) {
    const int32_t channels = static_cast<int32_t>(input.channels.size());
    Mp3sEncHandle handle = nullptr;
    int32_t status = Mp3sEncOpen(&handle, static_cast<int32_t>(kItemRate), setting.bitRateKbps * 1000, channels,
                                 0, setting.level);
    int32_t block = 0;
    if (status == 0) status = Mp3sEncPrepare(handle, &block);
    if (status != 0) {
        error = "our encoder refused " + setting.name + " (status " + std::to_string(status) + ")";
        return false;
    }
    Mp3sEncInfo info{};
    Mp3sEncGetInfo(&info, handle);
    Mp3sEncSetOption(handle, 0);
    result.outputRate = info.sampleRate;
    // The declared delay of the whole chain, at the 48 kHz of the reference.
    result.expectedLag = std::lround(static_cast<double>(info.delay) * kItemRate / info.sampleRate);

    // Interleaved samples on the 16-bit grid, as the WAVE-to-MP3 conversion hands them over.
    std::vector<float> interleaved(input.Frames() * input.channels.size());
    for (std::size_t i = 0; i < input.Frames(); ++i) {
        for (std::size_t c = 0; c < input.channels.size(); ++c) interleaved[i * channels + c] = input.channels[c][i];
    }
    std::vector<float> buffer(std::max<std::size_t>(static_cast<std::size_t>(block), 8192));
    std::vector<uint8_t> out(static_cast<std::size_t>(std::max(info.outputBufferNeed, 8192)));
    stream.clear();
    std::size_t taken = 0;
    int idle = 0;
    for (;;) {
        // Fresh copies each call: the encoder scales the samples it takes in place.
        const std::size_t n = std::min<std::size_t>({static_cast<std::size_t>(std::max(block, 0)),
                                                     interleaved.size() - taken, buffer.size()});
        std::copy_n(interleaved.begin() + static_cast<std::ptrdiff_t>(taken), n, buffer.begin());
        int32_t count = static_cast<int32_t>(n);
        int32_t outBytes = 0;
        status = Mp3sEncEncode(handle, buffer.data(), &count, &block, static_cast<int32_t>(out.size()), out.data(),
                               &outBytes);
        if (status != 0) break;
        stream.append(reinterpret_cast<const char*>(out.data()), static_cast<std::size_t>(outBytes));
        taken += n - static_cast<std::size_t>(count);
        if (n == 0 && outBytes == 0) break;  // the flush has drained
        idle = (outBytes == 0 && static_cast<std::size_t>(count) == n) ? idle + 1 : 0;
        if (idle > 1000) {
            status = -1;
            break;
        }
    }
    Mp3sEncClose(handle);
    if (status != 0) {
        error = "our encoder failed at " + setting.name + " (status " + std::to_string(status) + ")";
        return false;
    }
    return true;
}

bool QualityHarness::EncodeOurs(const Item& input, const Setting& setting, const std::string& mp3,
                                EncoderResult& result, std::string& error) {
    std::string stream;
    if (!EncodeWithOurs(input, setting, stream, result, error)) return false;
    std::ofstream file(mp3, std::ios::binary);
    file.write(stream.data(), static_cast<std::streamsize>(stream.size()));
    if (!file) {
        error = "cannot write " + mp3;
        return false;
    }
    return true;
}

bool QualityHarness::Grade(const Item& reference, const std::string& mp3, EncoderResult& result,
                           std::string& error) {
    std::error_code ec;
    const auto bytes = fs::file_size(mp3, ec);
    if (ec || bytes == 0) {
        error = mp3 + " is empty";
        return false;
    }
    result.kbps = Kbps(bytes, reference);
    const std::string decoded = Path("decoded.wav");
    if (!Run({"mpg123", "-q", "--no-gapless", "-w", decoded, mp3}, error)) return false;
    peaq::Signal signal;
    if (!peaq::readWave(decoded, signal, error)) return false;
    result.outputRate = static_cast<int>(signal.sampleRate);
    if (signal.sampleRate != kItemRate) {
        // Both encoders' decodings go through the same converter.
        const std::string resampled = Path("resampled.wav");
        if (!Run({"sox", decoded, "-b", "32", "-e", "floating-point", resampled, "rate", "-v",
                  std::to_string(kItemRate)},
                 error)) {
            return false;
        }
        if (!peaq::readWave(resampled, signal, error)) return false;
    }
    if (signal.channels.size() != reference.channels.size()) {
        error = mp3 + " decodes to " + std::to_string(signal.channels.size()) + " channels, the reference has " +
                std::to_string(reference.channels.size());
        return false;
    }
    result.lag = FindLag(reference.channels, signal.channels, kMaxLag);
    if (result.lag < 0) {
        error = "the reference " + reference.name + " is silent";
        return false;
    }
    const auto aligned = AlignTo(signal.channels, result.lag, reference.Frames());
    try {
        result.odg = peaq::evaluate(reference.channels, aligned).odg;
    } catch (const std::exception& e) {
        error = std::string("PEAQ: ") + e.what();
        return false;
    }
    return true;
}

bool QualityHarness::EncodeLame(const std::string& wav, const std::vector<std::string>& lameArgs,
                                const std::string& mp3, std::string& error) {
    std::vector<std::string> lame = {"lame", "--quiet", "-t"};
    lame.insert(lame.end(), lameArgs.begin(), lameArgs.end());
    lame.push_back(wav);
    lame.push_back(mp3);
    return Run(lame, error);
}

bool QualityHarness::LameKbps(const Item& item, const std::vector<std::string>& lameArgs, double& kbps,
                              std::string& error) {
    const std::string wav = Path("rate.wav");
    const std::string mp3 = Path("rate.mp3");
    if (!WriteWave16(wav, item)) {
        error = "cannot write " + wav;
        return false;
    }
    if (!EncodeLame(wav, lameArgs, mp3, error)) return false;
    std::error_code ec;
    const auto bytes = fs::file_size(mp3, ec);
    if (ec) {
        error = "no " + mp3;
        return false;
    }
    kbps = Kbps(bytes, item);
    return true;
}

bool QualityHarness::OursKbps(const Item& item, const Setting& setting, double& kbps, std::string& error) {
    std::string stream;
    EncoderResult result;
    if (!EncodeWithOurs(item, setting, stream, result, error)) return false;
    kbps = Kbps(stream.size(), item);
    return true;
}

bool QualityHarness::Measure(const Item& item, const Setting& setting, Measurement& out, std::string& error) {
    out = Measurement{};
    out.item = item.name;
    out.setting = setting.name;
    const Item input = setting.mono ? Downmix(item) : item;
    const std::string wav = Path("input.wav");
    if (!WriteWave16(wav, input)) {
        error = "cannot write " + wav;
        return false;
    }
    const std::string oursMp3 = Path("ours.mp3");
    const std::string lameMp3 = Path("lame.mp3");
    if (!EncodeOurs(input, setting, oursMp3, out.ours, error) ||
        !EncodeLame(wav, setting.lameArgs, lameMp3, error)) {
        return false;
    }
    const long oursExpected = out.ours.expectedLag;
    if (!Grade(input, oursMp3, out.ours, error) || !Grade(input, lameMp3, out.lame, error)) return false;
    out.ours.expectedLag = oursExpected;
    if (out.lame.outputRate == static_cast<int>(kItemRate)) out.lame.expectedLag = kLameEncoderDelay + kDecoderDelay;
    return true;
}

}  // namespace kestrune::quality
