#include "codecs/ogg_encode.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "codecs/ogg_output.h"
#include "codecs/ogg_report.h"
#include "wave/samples.h"
#include "wave/wave_file.h"

namespace kestrune {

namespace {

using namespace vorbis_abi;

constexpr int64_t kFramesPerBlock = 1024;

struct InputFormat {
  int channels = 0;
  uint32_t sampleRate = 0;
};

// Opens the WAVE input; it needs a format and a data chunk, at most eight
// channels and samples of one to four bytes.
OggStatus OpenInput(WaveFile& wave, const std::string& path, InputFormat* format) {
  if (!wave.Open(path) || !wave.HasData()) return OggStatus::kInputFailed;
  auto fmt = wave.GetFormat();
  if (!fmt) return OggStatus::kInputFailed;
  const int channels = fmt->GetChannels();
  const int blockAlign = fmt->GetBlockAlign();
  if (channels < 1 || channels > PcmBlock::kMaxChannels || blockAlign < channels ||
      blockAlign / channels > 4 || fmt->format.sampleRate < 1) {
    return OggStatus::kInputFailed;
  }
  format->channels = channels;
  format->sampleRate = fmt->format.sampleRate;
  return OggStatus::kOk;
}

// The library states of one encoding run, zeroed, cleared in the required
// order (stream, block, analysis, comment, information) when it goes away.
class EncoderState {
 public:
  explicit EncoderState(const VorbisEncodeApi& api) : api_(api) {
    std::memset(&stream, 0, sizeof stream);
    std::memset(&block, 0, sizeof block);
    std::memset(&dsp, 0, sizeof dsp);
    std::memset(&comment, 0, sizeof comment);
    std::memset(&info, 0, sizeof info);
    api_.vorbisInfoInit(&info);
  }
  ~EncoderState() {
    api_.oggStreamClear(&stream);
    if (analysing_) {
      api_.vorbisBlockClear(&block);
      api_.vorbisDspClear(&dsp);
    }
    if (commented_) api_.vorbisCommentClear(&comment);
    api_.vorbisInfoClear(&info);
  }
  EncoderState(const EncoderState&) = delete;
  EncoderState& operator=(const EncoderState&) = delete;

  // The comment, the analysis and block state, and the Ogg stream.
  void Begin() {
    api_.vorbisCommentInit(&comment);
    commented_ = true;
    api_.vorbisCommentAddTag(&comment, "ENCODER", "Kestrune");
    api_.vorbisAnalysisInit(&dsp, &info);
    api_.vorbisBlockInit(&dsp, &block);
    analysing_ = true;
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    api_.oggStreamInit(&stream, std::rand());
  }

  VorbisInfo info;
  VorbisComment comment;
  VorbisDspState dsp;
  VorbisBlock block;
  OggStreamState stream;

 private:
  const VorbisEncodeApi& api_;
  bool commented_ = false;
  bool analysing_ = false;
};

bool WritePage(OggOutputFile& out, const OggPage& page) {
  return out.Write(page.header, static_cast<size_t>(page.headerLen)) &&
         out.Write(page.body, static_cast<size_t>(page.bodyLen));
}

bool WriteHeaders(const VorbisEncodeApi& api, EncoderState& s, OggOutputFile& out) {
  OggPacket identification, comment, codebooks;
  std::memset(&identification, 0, sizeof identification);
  std::memset(&comment, 0, sizeof comment);
  std::memset(&codebooks, 0, sizeof codebooks);
  api.vorbisAnalysisHeaderout(&s.dsp, &s.comment, &identification, &comment, &codebooks);
  api.oggStreamPacketin(&s.stream, &identification);
  api.oggStreamPacketin(&s.stream, &comment);
  api.oggStreamPacketin(&s.stream, &codebooks);
  // The headers end on a page of their own, so audio starts on a fresh one.
  OggPage page;
  while (api.oggStreamFlush(&s.stream, &page) != 0) {
    if (!WritePage(out, page)) return false;
  }
  return true;
}

// Hands the finished blocks to the Ogg stream and writes the full pages.
// Sets *eos once the end-of-stream page is written.
bool DrainBlocks(const VorbisEncodeApi& api, EncoderState& s, OggOutputFile& out, bool* eos) {
  OggPacket packet;
  OggPage page;
  while (api.vorbisAnalysisBlockout(&s.dsp, &s.block) == 1) {
    api.vorbisAnalysis(&s.block, nullptr);
    api.vorbisBitrateAddblock(&s.block);
    while (api.vorbisBitrateFlushpacket(&s.dsp, &packet) != 0) {
      api.oggStreamPacketin(&s.stream, &packet);
      while (!*eos) {
        if (api.oggStreamPageout(&s.stream, &page) == 0) break;
        if (!WritePage(out, page)) return false;
        if (api.oggPageEos(&page) != 0) *eos = true;
      }
    }
  }
  return true;
}

OggStatus EncodeFrames(const VorbisEncodeApi& api, EncoderState& s, DataChunk& data,
                       int channels, OggOutputFile& out,
                       const std::function<void(double)>& progress) {
  const int64_t total = data.GetFrameCount();
  int64_t framesRead = 0;
  FloatFrames frames;
  bool eos = false;
  bool inputEnded = false;
  while (!eos) {
    if (inputEnded) {
      // The encoder was told about the end and still wrote no last page:
      // write out what it has and stop.
      OggPage page;
      while (api.oggStreamFlush(&s.stream, &page) != 0) {
        if (!WritePage(out, page)) return OggStatus::kWriteFailed;
      }
      break;
    }
    const bool got = data.ReadFloat(frames, kFramesPerBlock);
    const int64_t count = got ? static_cast<int64_t>(frames.Frames()) : 0;
    if (count > 0 && static_cast<int>(frames.ChannelCount()) == channels) {
      framesRead += count;
      if (total > 0) progress(static_cast<double>(framesRead) / static_cast<double>(total));
      float** buffer = api.vorbisAnalysisBuffer(&s.dsp, static_cast<int>(count));
      for (int c = 0; c < channels; ++c) {
        std::memcpy(buffer[c], frames.channels[static_cast<size_t>(c)].data(),
                    static_cast<size_t>(count) * sizeof(float));
      }
      api.vorbisAnalysisWrote(&s.dsp, static_cast<int>(count));
    } else {
      api.vorbisAnalysisWrote(&s.dsp, 0);
      inputEnded = true;
    }
    if (!DrainBlocks(api, s, out, &eos)) return OggStatus::kWriteFailed;
  }
  return OggStatus::kOk;
}

}  // namespace

OggStatus EncodeWaveToOgg(const VorbisEncodeApi& api, const std::string& input,
                          const std::string& output, double quality,
                          const std::function<void(double)>& progress) {
  WaveFile wave;
  InputFormat format;
  OggStatus status = OpenInput(wave, input, &format);
  if (status != OggStatus::kOk) return status;

  OggOutputFile out;
  if (!out.Create(output, false)) return OggStatus::kOutputFailed;
  {
    EncoderState state(api);
    if (api.vorbisEncodeInitVbr(&state.info, format.channels, static_cast<long>(format.sampleRate),
                                static_cast<float>(quality)) != 0) {
      status = OggStatus::kEncoderRefused;
    } else {
      state.Begin();
      if (!WriteHeaders(api, state, out)) {
        status = OggStatus::kWriteFailed;
      } else {
        auto data = wave.GetData();
        status = EncodeFrames(api, state, *data, format.channels, out, progress);
      }
    }
  }
  if (status == OggStatus::kOk && !out.Close()) status = OggStatus::kWriteFailed;
  if (status != OggStatus::kOk) out.Abandon();
  return status;
}

WaveToOgg::WaveToOgg(const std::string& folder) : libraries_(folder) {}

WaveToOgg::~WaveToOgg() { StopJob(); }

void WaveToOgg::Run(ConversionJob& /*job*/) {
  // Not interrupted by a stop request: a stop waits for the run to end.
  VorbisEncodeApi api;
  std::string missing;
  if (!libraries_.Bind(&api, &missing)) {
    status_ = OggStatus::kMissingEntry;
    ReportOggFailure(status_, missing);
    return;
  }
  status_ = EncodeWaveToOgg(api, InputPath(), OutputPath(), quality_,
                            [this](double value) { SetProgress(value); });
  if (status_ != OggStatus::kOk) ReportOggFailure(status_, InputPath());
}

}  // namespace kestrune
