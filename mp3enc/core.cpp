// The encoder core: drives the stages granule by granule and frames the
// result.
//
// Signal path and delay: the input is delayed by 144 samples into the
// analysis signal; the filter bank, MDCT and the decoder's inverse add
// 481 + 576 = 1057 samples, so a decoded stream lags the input by 1201
// samples. A granule is transformed one granule late, once the attack
// detector has looked at the next one (for the start window).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "mp3enc/bitstream.h"
#include "mp3enc/block_switch.h"
#include "mp3enc/core.h"
#include "mp3enc/kernels.h"
#include "mp3enc/layer3_tables.h"
#include "mp3enc/mdct.h"
#include "mp3enc/polyphase.h"
#include "mp3enc/psymodel.h"
#include "mp3enc/quantize.h"
#include "mp3enc/reservoir.h"
#include "mp3enc/stereo.h"

namespace mp3enc {
namespace {

constexpr int kInputDelay = 144;
// Nothing above 20 kHz is coded: it is not heard, and the bits it would take
// are better spent below.
constexpr float kMaxCodedBandwidth = 20000.0f;
// The bandwidth is a passband edge, as it is for the sample-rate converter,
// whose transition band reaches a tenth of the bandwidth above it: the core
// codes that band as well, at full level, and cuts above it. Measured on the
// quality set (PEAQ against LAME): coding it lifts 128 kbit/s stereo by 0.08
// ODG, 64 kbit/s mono by 0.06, levels 3 and 4 by 0.09 and 0.06 at the same
// rates (noise-like and wide spectra most: 0.4). A taper across the band, or
// leaving out the transition bands whose energy is within their allowed
// distortion, lost 0.03 to 0.07 of that; a band reaching a fifth above the
// bandwidth gained little more and would code what the converter removes.
constexpr double kTransitionFraction = 0.1;
// Perceptual entropy underestimates what dense spectra need: a long
// granule's demand on the reservoir is its entropy times kPeWeight, at the
// half and two-thirds rates (32 kHz and below, whose granules span more time
// and whose entropy counts more lines per partition) times kLowRatePeWeight.
// Measured on the quality set: 1.1 below 44.1 kHz gains 0.09 ODG at 96 kbps
// stereo and 0.05 at 48 kbps mono over 1.5, which stays best at 44.1 and 48 kHz.
constexpr float kPeWeight = 1.5f;
constexpr float kLowRatePeWeight = 1.1f;
// Short blocks carry the attacks whose pre-echo is heard first; their
// demand on the reservoir is weighed much higher than a long block's (4
// measured a little better than 8 at every constant rate once the
// reservoir builds up between attacks).
constexpr float kShortPeWeight = 4.0f;
constexpr int kHistory = 4 * 576;  // analysis samples kept for the psychoacoustic model

// Below the lowest partials of a sparse spectrum (bells, plucked strings)
// the bands hold little but the filter bank's alias and leakage terms of the
// partials above: the MDCT carries far more there than the FFT analysis sees
// (20 to 35 dB more on bells). Masking reaches little downwards, so the error
// of coding these terms, which the decoder's alias cancellation then misses,
// is heard against the threshold in quiet. A band centred below kAliasBandHz
// whose MDCT energy exceeds the FFT's by kLongAliasExcess (short blocks, whose
// short FFT leaks more itself, by kShortAliasExcess) may carry only
// kAliasMargin of its allowed distortion; such bands are narrow and their
// values small, so coding them finely is cheap. The frequency and factors are
// the best of those tried on the quality set (PEAQ against LAME): a higher
// limit, or the same rule in every band, spends the bits where the partials
// mask the noise anyway. At the half sample rates (below 32 kHz), with twice
// the bands below the limit, it cost more than it gained, and applies at
// 32 kHz and above only.
constexpr double kAliasBandHz = 1000.0;
constexpr float kLongAliasExcess = 10.0f;
constexpr float kShortAliasExcess = 2.0f;
constexpr float kAliasMargin = 0.1f;

// Two biases of the model that the constant rates at 44.1 and 48 kHz pay
// for, measured with PEAQ against LAME on the quality set:
// - Below kLowBandHz the partials of voices and instruments are resolved by
//   the ear, and the spreading function lets more noise pass between them
//   than is masked: the allowed distortion there is kLowBandDb lower,
//   tapering to nothing at twice the frequency (speech at 192 kbps, the
//   plucked strings at 128 and 160 kbps).
// - Above kHighBandHz the absolute threshold (Terhardt's curve, rising with
//   the fourth power of the frequency) is above what listeners hear at the
//   playback level the model assumes: the decaying upper partials of plucked
//   strings and piano drop under it too early. The threshold there is
//   kHighAthDb lower (20 dB gained a little more on average, but starved the
//   bells at 160 kbps).
// At the lower sample rates, whose bandwidth ends near kHighBandHz and whose
// budgets are tighter, both measured worse; the variable levels have their
// own targets.
constexpr double kLowBandHz = 1000.0;
constexpr double kLowBandDb = 6.0;
constexpr double kHighBandHz = 8000.0;
constexpr double kHighAthDb = 10.0;

// At the constant stereo rates of kShapedRate bits per channel and above
// the budget often leaves every band of a granule within its allowed
// distortion, and the outer loop then stops with the noise white (every
// scale factor 0): far below the mask where the signal is loud, close to it
// in the quiet upper bands of a decaying piano or bell. Such a granule is
// searched once more against allowed distortions lowered to kShapeMarginDb
// below the level it reached, so that the noise follows the mask, and the
// result is kept when its worst band lies lower. Measured on the quality set
// (PEAQ against LAME): 160 kbps +0.012, 192 +0.007, 320 +0.017, 128 even,
// the bells at 128 and 192 kbps +0.015 and +0.056; margins of 1.5, 3, 6, 15
// and 20 dB measured a little worse on average.
constexpr int kShapedRate = 64000;
constexpr double kShapeMarginDb = 10.0;
// From 80 kbit/s per channel (stereo 160 kbps and up) mid/side is chosen
// while its perceptual entropy is below kHighRateMsBias times left/right's:
// with the granule's bits split by demand, mid/side codes even uncorrelated
// channels a little better there. Measured on the quality set (PEAQ against
// LAME): 160 kbps +0.005, 192 +0.004, 256 +0.003, 320 +0.001, noise at 192
// kbps +0.013; 1.1 and 1.2 lost at 256 and 320 kbps, and at 128 kbps 1.05
// lost on the bells.
constexpr int kHighMsRate = 80000;
constexpr float kHighRateMsBias = 1.05f;

// Two choices of the constant stereo rates at the MPEG-1 sample rates from
// kFineRate bits per channel (192 kbps stereo) on. There the grade of
// the quality set (PEAQ against LAME) hangs on a few frames in which the
// decoded excitation of a band moves by a decibel or more from the
// original's (the model's average distorted block), not on the
// noise-to-mask ratio, which is already lower than LAME's:
// - Noise-like bands between kNoisyLowHz and kNoisyHighHz (the model's
//   ratio above kNoisyRatioDb, the largest it gives) take kNoisyDb less
//   noise in long granules. Coded at the model's ratio, a noise band loses
//   about a decibel of its energy to the quantiser's rounding, where the
//   ear is most sensitive to a change of level. Up to kNoisyTopRate bits
//   per channel (256 kbps): noise at 192 kbps -0.045 -> +0.006 against
//   LAME, the 192 and 256 kbps means +0.006 and +0.015; 128, 160 and 320
//   kbps measured worse, as did 1-5 kHz, 1.5-4 kHz, 2-5 kHz, and 2 or 4 dB.
// - In a mid/side granule, a band of the side channel keeps at least
//   kSideKeep of its energy: its allowed distortion is at most that share.
//   The model lets a quiet side band vanish below the smaller of the two
//   channels' thresholds; decoded, the image of the band narrows and one
//   channel grows by a decibel while the other falls by one (the upper
//   partials of the decaying piano at 192 kbps). Up to kSideKeepTopRate
//   bits per channel: the piano at 192 kbps -0.080 -> -0.037 with the
//   first choice; 0.05, 0.1, 0.25 and 0.5 measured worse, keeping the mid
//   channel as well lost on speech, and at 160, 256 and 320 kbps the
//   bells and applause fell.
// - Over the same rates as the side channel's share, a granule of the
//   start or stop windows around an attack asks the reservoir for
//   kFineTransitionPeWeight times its entropy instead of kPeWeight: the
//   isolated clicks over silence at 192 kbps -0.050 -> +0.007 against
//   LAME (their worst frames lose every step above threshold), speech
//   +0.007, the piano -0.002; 1.6 gave up half of the clicks' gain, 1.75
//   to 3 took speech below LAME and lost on the piano and the bells, and
//   a higher weight for every long granule starved the bells.
// - Over the same rates, a mid/side granule of long windows asks for
//   kFineMidSidePeWeight times its entropy instead of kPeWeight: the
//   sustained chords lend less of the reservoir, which is then there for
//   their attacks (the piano at 192 kbps -0.039 -> -0.020 against LAME;
//   the struck note at 2.9 s loses all its steps above threshold). 1.1 to
//   1.2 gained more on the piano but took speech and noise below LAME;
//   lowering every long granule's weight cost the isolated clicks 0.03 to
//   0.06, and saving more of the mean for the reservoir did the same.
// - Over the same rates, the two granules of a frame share its mean bits
//   by their perceptual entropies (unweighted: the block type's weight
//   already decides what each asks of the reservoir), each taking between
//   kFineSplitLeast and 1 - kFineSplitLeast of them, instead of half each.
//   The granules after an attack, or of a voice's onset, no longer wait for
//   the reservoir. 192 kbps: the mean +0.130 -> +0.137 against LAME, speech
//   +0.004 -> +0.067, the bells +0.002 -> +0.031, the dense mixture +0.08,
//   the castanets -0.10 (still +0.19); least shares of 0.2 to 0.35
//   measured alike alone, but with the rule below 0.3 and 0.35 took speech
//   down to LAME's grade; the entropies weighted as for the reservoir took
//   the sparse item (-0.04 to -0.07) and the piano further below LAME.
// - Over the same rates, a long granule whose entropy is at most
//   kFineSteadyRise times the granule's before it takes at most
//   kFineSteadyTenths of the reservoir's fill. The sustained chords of the
//   piano otherwise take all the reservoir holds, granule after granule:
//   it stays near its build-up share (about 400 bits of 4000), and the
//   piano's next attack finds it empty (its short granule codes at the
//   mean, its bands up to 7 dB over their allowed distortion). Granules
//   that rise (onsets in long blocks) take what they ask. With the split
//   above: the piano -0.018 -> -0.012 against LAME, the mean -0.004;
//   2 tenths lifted the piano to LAME's grade but took speech and the
//   sparse item below it, 3 and 5 tenths lost on those as well; without
//   the rise test speech fell by 0.03, a rise of 1.0 took the noise item
//   below LAME and 1.05 lost the piano's gain. A reserve that long granules
//   may not lend at all (4 or 6 tenths of the limit) starved the decays
//   after the sparse item's attacks over silence (-0.06).
//   Once more than kFineSustainedGranules long granules have passed in a
//   row (a quarter of a second at 48 kHz: a sustained passage, no longer
//   the decay just after an attack), such a granule takes at most
//   kFineSustainedTenths: the piano -0.012 -> +0.005 against LAME, the
//   mean +0.001, nothing else moved by more than 0.01; after 8 or 30
//   granules the piano stayed below LAME (-0.005, -0.003), after 15 it
//   measured alike, and 1 tenth took the noise item below LAME.
constexpr int kFineRate = 96000;
constexpr int kNoisyTopRate = 128000;
constexpr int kSideKeepTopRate = 112000;
constexpr double kNoisyLowHz = 1500.0;
constexpr double kNoisyHighHz = 4500.0;
constexpr double kNoisyRatioDb = -13.5;
constexpr double kNoisyDb = 3.0;
constexpr float kSideKeep = 0.15f;
constexpr float kFineTransitionPeWeight = 1.65f;
constexpr float kFineMidSidePeWeight = 1.25f;
constexpr float kFineSplitLeast = 0.25f;
constexpr float kFineSteadyRise = 1.2f;
constexpr int kFineSteadyTenths = 4;
constexpr int kFineSustainedGranules = 20;
constexpr int kFineSustainedTenths = 2;
// One channel at 64 kbit/s or less at the full sample rates (MPEG-1) is the
// most starved constant rate: about 680 bits a granule for a band of 14.8
// kHz at 48 kHz, and every granule's noise lies above its allowed
// distortion. Measured there with PEAQ against LAME on the quality set
// (mono 64 kbit/s): the bass of plucked notes was left at 17 dB SNR (LAME
// 23 dB) and its envelope wavered from granule to granule, while the bands
// from 1.6 to 7 kHz were coded finer than needed. The allowed distortion is
// kStarvedLowScale of the model's below kStarvedLowHz and kStarvedHighScale
// of it above kStarvedHighHz, and the outer loop may take
// kStarvedMonoAmplifySteps amplification steps (the one-band-a-step search needs
// more of them to balance bands that are all over their limit). Together
// +0.05 ODG on the mean (the plucked chords of the mono-in-stereo item
// +0.17, the bells +0.26); the steps alone +0.01, the factors alone +0.01.
// Allowing more noise above 4.5 kHz alone, or other splits (1.5, 3, 7 kHz;
// factors 1.5 to 3), and 20 or 30 steps measured the same or worse then.
// Once short granules could borrow more of the reservoir (see
// kMonoShortLending), a factor of 0.35 below 600 Hz and 30 steps
// (kStarvedMonoAmplifySteps) measured better: the mean +0.03 with the
// lending, the noise item +0.03, the mono-in-stereo one +0.03, piano +0.06;
// 0.25, 0.3 or 0.4, and 20, 25, 35 or 40 steps, measured worse on those.
constexpr int32_t kStarvedMonoBitRate = 64000;
constexpr double kStarvedLowHz = 600.0;
constexpr float kStarvedLowScale = 0.35f;
constexpr double kStarvedHighHz = 4500.0;
constexpr float kStarvedHighScale = 2.0f;
constexpr int kStarvedMonoAmplifySteps = 30;
constexpr int kStarvedAmplifySteps = 25;

// One channel in the 64 to 80 kbit/s row (bandwidth 13458 Hz) at 44.1 and
// 48 kHz codes up to kWideMonoTopHz, above the bandwidth's tenth (14.8 kHz):
// the bits per channel are those of stereo at 128 kbit/s, whose band is coded
// to 15.8 x 1.1 = 17.4 kHz, and a spectrum cut at 14.8 kHz lost the noise item
// of the quality set to LAME (PEAQ's bandwidth and distorted-block variables,
// while the noise-to-mask ratio inside the band was lower than LAME's). The
// reported bandwidth and the converter's filter stay as they are. Measured
// with PEAQ against LAME on the quality set (mono 64 kbit/s at 48 kHz), the
// top alone: 15.6 kHz the mean +0.357 -> +0.372, 16.0 +0.386, 16.5 +0.412,
// 17.0 +0.440, the noise item -0.08 -> +0.53 at 17 kHz; but the wider band
// takes its bits from below it, and the mono-in-stereo item fell to -0.06 to
// -0.11 from 16 kHz on. At that rate (the starved rule, kStarvedMonoBitRate)
// three changes pay for the band:
// - Bands centred above the bandwidth may carry kWideMonoTopScale times the
//   model's allowed distortion (instead of kStarvedHighScale): what PEAQ and
//   the ear need there is the band's presence, not its fine structure.
// - Bands from kStarvedHighHz up to the bandwidth carry kWideMonoHighScale
//   times it (instead of kStarvedHighScale), and the outer loop may take
//   kWideMonoAmplifySteps steps.
// - A short granule followed by another short granule (an attack flagged in
//   both) may take at most kWideMonoShortFillTenths of the reservoir's fill.
//   The reservoir holds only 300 to 600 bits between attacks here (the long
//   granules need what they borrow: keeping a reserve from them lost 0.04 to
//   0.19 on the mean), and the first short granule, mostly the quiet before
//   the attack, took all of it: the second, which holds the attack, was
//   coded at the mean, its noise spreading 6 ms ahead of the plucked chords
//   of the mono-in-stereo item at 15 dB above LAME's (one frame there held a
//   sixth of the item's total noise-to-mask ratio).
// Together at 17 kHz: the mean +0.357 -> +0.463 against LAME, every item
// above LAME by 0.05 or more (the mono-in-stereo item -0.030 -> +0.059, the
// noise item -0.084 -> +0.48, the wide image +0.86 -> +1.42, the bells +0.37
// -> +0.67, applause +1.05 -> +0.76, the plucked notes +0.14 -> +0.09), and
// so from 16.4 to 17.2 kHz (the mean +0.434 to +0.466, the least item +0.05),
// with high factors of 2.5 to 3.5, top factors of 5 to 9 and 30 to 45 steps.
// Without the fill limit the mono-in-stereo item sat within 0.02 of LAME's
// grade from 16.6 to 17 kHz and 0.09 below it from 16.4 to 16.55 kHz; 3 and
// 5 tenths measured +0.439 and +0.442 on the mean. Tried and dropped: a lower
// allowed distortion between 600 Hz and 1.7 kHz or below 600 Hz, below
// 1.1 kHz in short blocks, the low rates' limits of the short windows'
// allowed distortion (kPreEchoRise, kFirstWindowRise), other weights of the
// reservoir demand (long 1.2 to 2.2, short 3 to 6), larger loans to short
// granules, and a limit of the fill that long granules may take.
constexpr int32_t kWideMonoLowestBitRate = 64000;
constexpr int32_t kWideMonoHighestBitRate = 79999;
constexpr double kWideMonoTopHz = 17000.0;
constexpr float kWideMonoTopScale = 7.0f;
constexpr float kWideMonoHighScale = 3.0f;
constexpr int kWideMonoAmplifySteps = 40;
constexpr int kWideMonoShortFillTenths = 4;

// Constant rates of 128 kbit/s and above at the full sample rates take
// longer searches too: bright tones with many partials (the bells of the
// quality set) still leave most bands over their limit after 15 steps.
// Measured with PEAQ against LAME on the quality set: the bells at 128
// kbit/s +0.25 with 25 steps, but applause there -0.14, so 128 kbit/s takes
// 21 (bells +0.16, applause -0.02); 25 steps from 160 kbit/s on raised the
// means of 160/192/320 kbit/s by 0.01-0.02 and left 256 kbit/s alone.
constexpr int32_t kLongSearchBitRate = 128000;
constexpr int kLongSearchSteps = 21;
constexpr int32_t kLongerSearchBitRate = 160000;

// Below 32 kHz a short window spans 16 ms or more, and the noise of a window
// that holds an attack spreads over all of it, ahead of the attack too. The
// short analysis sees each window alone, so the constant rates there cap a
// window's allowed distortion at kPreEchoRise (13 dB) times the window's
// before it in the same granule. Measured on the quality set: every constant
// rate below 32 kHz rises (mono 48 kbps +0.012, 32 kbps stereo +0.009, 48
// +0.009, 64 +0.014). A cap of 10 that also reached back to the previous
// granule's last short window measured worse, and at 32 kHz and above the
// cap cost more than it gained.
constexpr float kPreEchoRise = 20.0f;

// The constant rates below 32 kHz, measured on the quality set (PEAQ against
// LAME):
// - Stereo: mid/side is chosen while its perceptual entropy is below
//   kLowRateMsBias times left/right's. The entropy comparison against the
//   smaller of the two channels' allowed distortions undervalues mid/side
//   on partly correlated music, whose side channel the budget then codes
//   coarsely anyway (32 kbps +0.017 on the mean, dense mixtures +0.1; 48
//   and 64 kbps +0.002 and +0.020; 1.1 to 1.6 measured alike, 2.5 lost the
//   wide image).
// - Mono (48 kbps, coded at 24 kHz): the reservoir is small against the
//   granule and a short granule's demand of kShortPeWeight times its
//   entropy drains it for the granules after an attack; kLowRateMonoShortPeWeight
//   with the short analyses' ratio at kLowRateMonoShortSnr instead of
//   kShortSnr spreads the bits better. An attack over quiet (clicks, a drum
//   after silence) still needs far more than the granule's mean: the noise
//   of its short windows spreads over 16 ms, most of it ahead of the attack
//   where nothing masks it. So a short granule may borrow up to
//   kMonoShortLending tenths of the reservoir's limit (long granules
//   six), and up to twice the mean beyond its share (long granules once).
//   The starved mono rate (see kStarvedMonoBitRate) lends the same way
//   (64 kbps: the mean +0.02, clicks +0.11, the plucked notes +0.06, speech
//   +0.05).
//   Together with the weight of 2 (2.5 before the larger loan): the mean
//   +0.10, clicks +0.88, the transients over silence +0.14, the dense
//   mixture +0.2, speech +0.05; lending 7 or 9 tenths, or a weight of 1.5
//   or 3, measured worse (9 tenths: clicks +1.0 but speech -0.06).
// - The first short window after a granule of long windows: the short
//   analysis sees it alone, and when the attack lies late in it, its noise
//   spreads ahead of the attack over the quiet before it. Its allowed
//   distortion per band is at most kFirstWindowRise times what the granule
//   before allowed over the same lines (per window: a third of it), lowered
//   by this cap at most kFirstWindowMonoDepth in mono (clicks at 48 kbps
//   mono +0.23, speech +0.04, the mean +0.02; without the limit the dense
//   mixture lost 0.1). Stereo (factor 1, no limit): 32 and 48 kbps +0.003,
//   64 kbps +0.017. The depth was 10 dB at first; with the larger loans and
//   steps below, 15 dB measured better (clicks +0.03, the transients over
//   silence +0.01, the mean +0.004; 20 and 30 dB alike or worse).
// - Mono: the bits of a granule run short below a few hundred hertz, where
//   the partials of voices and plucked strings are resolved (speech: noise
//   5 to 10 dB closer to the mask there than LAME's at the same rate). The
//   allowed distortion there is kLowRateMonoLowDb lower below
//   kLowRateMonoLowHz, tapering to nothing at twice the frequency, and the
//   outer loop may take kLowRateMonoAmplifySteps steps; above
//   kLowRateMonoHighHz it is kLowRateMonoHighScale times the model's.
//   Measured on the mono 48 kbps set, the lower band and the steps: the
//   mean +0.04, speech +0.07, clicks +0.08, the plucked
//   chords of the mono-in-stereo item +0.03, the transients over silence
//   +0.04, the bells +0.19. The steps alone lost 0.11 on the plucked chords;
//   1 kHz or 500 Hz, or 8 or 9 dB, measured worse on them or on speech then.
//   The upper factor then: the mean +0.01, the plucked chords +0.10, speech
//   +0.04, the bells -0.08 (still 1.0 above LAME); 1.3, 1.75 or 2, or
//   above 3.5, 6 or 8 kHz, measured alike or worse on those. The steps
//   were 25 at first; with the upper factor, more steps kept lifting speech
//   (30: +0.05, 40: +0.07, 60: +0.12) and the transients over silence
//   (60: +0.04), the mean +0.03 at 60, where the wide image lost 0.1 (still
//   0.6 above LAME); 80 and 120 measured alike. With 60 steps the lower
//   band took 9 dB instead of 6: the plucked chords +0.08, the wide image
//   +0.07, the mean +0.005, the speech item of the reference set -0.05
//   (still 0.5 above LAME); 8 and 10 dB, or 600 Hz and 1 kHz, measured
//   worse on the chords.
// - Mono: a sound that stops at once (the end of a syllable, a click over
//   silence) is coded in long windows, as nothing rises there, and the
//   last of them spreads its noise over the silence after the sound, where
//   nothing masks it. The attack detector flags such releases too (a
//   segment kLowRateMonoReleaseRatio times quieter than the loudest of the
//   four before it), so short windows code them. Measured on the mono 48
//   kbps set: speech -0.117 -> +0.148 against LAME (its noise-to-mask
//   ratio 0.6 dB above LAME's -> 0.6 dB below), the transients over
//   silence -0.050 -> -0.034, clicks +0.03, the mean +0.332 -> +0.352, no
//   item down by more than 0.022 (the dense mixture); ratios of 20 to 100
//   measured alike, 10 lost 0.02 on the plucked chords of the
//   mono-in-stereo item, 150 0.02 and 200 to 3000 0.06 on speech.
//   Mono 32 and 40 kbps: the mean +0.035 and +0.048 (speech +0.56 and
//   +0.37; at 32 kbps the speech of the reference set -0.14, castanets
//   -0.08).
// - Mono: an attack over digital silence (the long granule before it has
//   no perceptual entropy: nothing above its allowed distortion) has no
//   masker ahead of it for the noise its short windows spread over 16 ms.
//   Its granule asks for kLowRateMonoQuietPeWeight times its entropy
//   (instead of kLowRateMonoShortPeWeight); over music the granule after
//   the attack needs its share of the small reservoir as much (2.5 for
//   all short granules, tried before: the transients over silence +0.03,
//   the dense mixture -0.27). Measured on the mono 48 kbps set: the
//   transients over silence -0.034 -> +0.014 against LAME, castanets
//   +0.014, speech
//   -0.004, the speech of the reference set -0.008, the rest unchanged;
//   3 to 5 measured alike on the transients (+0.012 to +0.015), 2.75 and
//   below fell under LAME's grade, 4 and 5 lost 0.02 and 0.06 on
//   castanets; entropies up to 10 bits before the attack as the limit
//   measured the same, 20 lost 0.02 on speech, 100 0.06.
constexpr float kLowRateMsBias = 1.2f;
constexpr double kLowRateMonoLowHz = 700.0;
constexpr double kLowRateMonoLowDb = 9.0;
constexpr int kLowRateMonoAmplifySteps = 60;
constexpr double kLowRateMonoHighHz = 4500.0;
constexpr float kLowRateMonoHighScale = 1.5f;
constexpr float kFirstWindowRise = 1.0f;
constexpr float kFirstWindowMonoRise = 2.0f;
constexpr float kFirstWindowMonoDepth = 15.0f;
constexpr float kLowRateMonoShortPeWeight = 2.0f;
constexpr int kMonoShortLending = 8;
constexpr float kLowRateMonoShortSnr = 14.0f;
constexpr float kLowRateMonoReleaseRatio = 30.0f;
constexpr float kLowRateMonoQuietPeWeight = 3.5f;
constexpr float kSilentEntropy = 1.0f;

// The model at a variable level (quality 0..100). Its noise targets are set
// against the quiet passages and sparse tonal spectra (speech, bells) that
// the constant-rate model lets pass with audible noise: the absolute
// threshold sits kVbrAthLowerPerQuality dB lower per unit of quality (14 dB
// at quality 80), the spreading falls kVbrUpperSlopeDb dB per Bark faster
// above a masker, and a tonal band may carry no more noise than
// kVbrNoiseCeiling of its energy (masked partials keep their shape), a
// noise-like band up to all of it.
constexpr double kVbrAthLowerPerQuality = 0.175;
constexpr double kVbrUpperSlopeDb = 8.0;
constexpr float kVbrNoiseCeiling = 0.05f;

// A channel whose perceptual entropy is below this share of the other's
// passes the floor it does not use on to the other (0.1, 0.3, 0.5 and 1
// measured: 0.1 leaves partly panned granules short, above 0.5 no gain).
constexpr float kVbrQuietShare = 0.5f;

PsyTuning VbrPsyTuning(int quality) {
  PsyTuning t;
  t.athLowerDb = kVbrAthLowerPerQuality * std::clamp(quality, 0, 100);
  t.upperSlopeDb = kVbrUpperSlopeDb;
  t.noiseCeiling = kVbrNoiseCeiling;
  t.tonalCeiling = true;
  return t;
}

// The model of the constant rates: the defaults, but for mono below 32 kHz
// (see kLowRateMonoShortSnr).
PsyTuning ConstantRatePsyTuning(const FrameFormat& f) {
  PsyTuning t;
  if (f.sampleRate < 32000 && f.channels == 1) t.shortSnr = kLowRateMonoShortSnr;
  return t;
}

struct ChannelState {
  ChannelState(const Kernels& k, int rate, int rateIndex, const PsyTuning& tuning)
      : polyphase(k), psy(rate, rateIndex, tuning) {}
  PolyphaseAnalysis polyphase;
  AttackDetector attack;
  PsyModel psy;
  float delay[kInputDelay] = {};
  float history[kHistory] = {};  // analysis granules n-3 .. n
  float subband[2][18][32] = {};  // granules n-1 and n
};

// One transformed granule waiting for its frame.
struct PendingGranule {
  int blockType = 0;
  float xr[2][576];          // coding order (short blocks reordered)
  PsyOutput psy[2];
};

class CoreImpl final : public Core {
 public:
  CoreImpl(const Mp3sEncSettings& s, const Kernels& kernels, const FrameFormat& format,
           float bandwidth, int mode)
      : settings_(s), formatter_(format), mdct_(kernels),
        rate_(formatter_, s.vbr ? 0 : s.bitRate - s.ancillaryBitRate,
              s.paddingBehaviour),
        bandwidth_(bandwidth), mode_(mode) {
    channels_ = format.channels;
    const bool starved = !s.vbr && format.channels == 1 && format.version == MpegVersion::kMpeg1 &&
                         s.bitRate <= kStarvedMonoBitRate;
    const bool lowRateMono = !s.vbr && format.channels == 1 && format.sampleRate < 32000;
    const bool wideMono = !s.vbr && format.channels == 1 && format.sampleRate >= 44100 &&
                          s.bitRate >= kWideMonoLowestBitRate &&
                          s.bitRate <= kWideMonoHighestBitRate;
    const bool starvedWide = starved && wideMono;
    shortFillTenths_ = starvedWide ? kWideMonoShortFillTenths : 10;
    int amplifySteps = starvedWide   ? kWideMonoAmplifySteps
                       : starved     ? kStarvedMonoAmplifySteps
                       : lowRateMono ? kLowRateMonoAmplifySteps
                                     : kAmplifySteps;
    lendToShort_ = starved || lowRateMono;
    if (!s.vbr && format.version == MpegVersion::kMpeg1 && s.bitRate >= kLongSearchBitRate) {
      amplifySteps = s.bitRate >= kLongerSearchBitRate ? kStarvedAmplifySteps : kLongSearchSteps;
    }
    for (int ch = 0; ch < channels_; ++ch) {
      chan_.push_back(std::make_unique<ChannelState>(
          kernels, format.sampleRate, format.rateIndex,
          s.vbr ? VbrPsyTuning(s.vbrQuality) : ConstantRatePsyTuning(format)));
    }
    if (lowRateMono) {
      for (auto& c : chan_) c->attack.SetReleaseRatio(kLowRateMonoReleaseRatio);  // see the ratio
      quietAttackPeWeight_ = kLowRateMonoQuietPeWeight;
    }
    for (int gr = 0; gr < 2; ++gr) {
      for (int ch = 0; ch < 2; ++ch) {
        quant_[gr][ch] = std::make_unique<Quantizer>(kernels, tables_, format.version,
                                                     format.rateIndex);
        quant_[gr][ch]->SetAmplifySteps(amplifySteps);
      }
    }
    frame_ = std::make_unique<FrameGranules>();
    pending_ = std::make_unique<PendingGranule[]>(2);
    const BandEdges& e = kBandEdges[format.rateIndex];
    const double aliasLimit = format.sampleRate >= 32000 ? kAliasBandHz : 0.0;
    const bool rebalance = !s.vbr && format.sampleRate >= 44100;
    limitPreEcho_ = !s.vbr && format.sampleRate < 32000;
    if (!s.vbr && channels_ == 2 && s.bitRate / 2 >= kShapedRate) {
      shapeMargin_ = static_cast<float>(std::pow(10.0, -kShapeMarginDb / 10.0));
    }
    const bool fine = !s.vbr && channels_ == 2 && format.version == MpegVersion::kMpeg1 &&
                      s.bitRate / 2 >= kFineRate;
    const bool noisy = fine && s.bitRate / 2 <= kNoisyTopRate;
    sideKeep_ = fine && s.bitRate / 2 <= kSideKeepTopRate ? kSideKeep : 0.0f;
    transitionPeWeight_ = sideKeep_ > 0.0f ? kFineTransitionPeWeight : 0.0f;
    noisyRatio_ = static_cast<float>(std::pow(10.0, kNoisyRatioDb / 10.0));
    msBias_ = limitPreEcho_ ? kLowRateMsBias
              : !s.vbr && s.bitRate / 2 >= kHighMsRate ? kHighRateMsBias
                                                        : 1.0f;
    shortPeWeight_ =
        limitPreEcho_ && format.channels == 1 ? kLowRateMonoShortPeWeight : kShortPeWeight;
    firstWindowRise_ = format.channels == 1 ? kFirstWindowMonoRise : kFirstWindowRise;
    firstWindowDepth_ = format.channels == 1
                            ? static_cast<float>(std::pow(10.0, kFirstWindowMonoDepth / 10.0))
                            : std::numeric_limits<float>::max();
    for (int b = 0; b < kLongBands; ++b) {
      const double centre = 0.5 * (e.longEdge[b] + e.longEdge[b + 1]) * format.sampleRate / 1152.0;
      aliasBandLong_[b] = centre < aliasLimit;
      Rebalance(rebalance, centre, &ratioScaleLong_[b], &athScaleLong_[b]);
      ratioScaleLong_[b] *= StarvedScale(starved, starvedWide, centre, bandwidth) *
                            LowRateMonoScale(lowRateMono, centre);
      noisyScale_[b] = noisy && centre >= kNoisyLowHz && centre < kNoisyHighHz
                           ? static_cast<float>(std::pow(10.0, -kNoisyDb / 10.0))
                           : 1.0f;
    }
    for (int b = 0; b < kShortBands; ++b) {
      const double centre = 0.5 * (e.shortEdge[b] + e.shortEdge[b + 1]) * format.sampleRate / 384.0;
      aliasBandShort_[b] = centre < aliasLimit;
      Rebalance(rebalance, centre, &ratioScaleShort_[b], &athScaleShort_[b]);
      ratioScaleShort_[b] *= StarvedScale(starved, starvedWide, centre, bandwidth) *
                             LowRateMonoScale(lowRateMono, centre);
    }
    double top = (1.0 + kTransitionFraction) * bandwidth_;
    if (wideMono) top = std::max(top, kWideMonoTopHz);  // see kWideMonoTopHz
    SetCodedTop(std::min({top, 0.5 * format.sampleRate, static_cast<double>(kMaxCodedBandwidth)}));
  }

  void LimitCodedBand(float hz) override {
    if (hz > 0.0f && hz < codedTop_) SetCodedTop(hz);
  }

  bool Init() {
    if (!settings_.vbr && !rate_.InitConstant()) return false;
    if (settings_.vbr) {
      const FrameFormat& f = formatter_.Format();
      vbr_ = std::make_unique<VbrRateControl>(settings_.vbrQuality, f.sampleRate, channels_,
                                              f.granules, f.overheadBits);
      const VbrTuning& t = vbr_->Tuning();
      vbrOffset_ = static_cast<float>(std::pow(10.0, t.noiseOffsetDb / 10.0));
      vbrStrictness_ = static_cast<float>(std::pow(10.0, -t.strictDb / 10.0));
      vbrBandCeiling_ = static_cast<float>(t.bandNoiseCeiling);
    }
    return true;
  }

  // The constant rates' factors of a band's allowed-distortion ratio and
  // absolute threshold (see kLowBandHz); 1 where they do not apply.
  static void Rebalance(bool applies, double centre, float* ratioScale, float* athScale) {
    if (!applies) {
      *ratioScale = 1.0f;
      *athScale = 1.0f;
      return;
    }
    double lowDb = 0.0;
    if (centre < kLowBandHz) {
      lowDb = kLowBandDb;
    } else if (centre < 2.0 * kLowBandHz) {
      lowDb = kLowBandDb * (2.0 * kLowBandHz - centre) / kLowBandHz;
    }
    *ratioScale = static_cast<float>(std::pow(10.0, -lowDb / 10.0));
    *athScale = centre > kHighBandHz ? static_cast<float>(std::pow(10.0, -kHighAthDb / 10.0)) : 1.0f;
  }

  // Mono below 32 kHz: the factor of a band's allowed distortion (see
  // kLowRateMonoLowHz); 1 where it does not apply.
  static float LowRateMonoScale(bool applies, double centre) {
    if (!applies) return 1.0f;
    double lowDb = 0.0;
    if (centre < kLowRateMonoLowHz) {
      lowDb = kLowRateMonoLowDb;
    } else if (centre < 2.0 * kLowRateMonoLowHz) {
      lowDb = kLowRateMonoLowDb * (2.0 * kLowRateMonoLowHz - centre) / kLowRateMonoLowHz;
    }
    const float scale = static_cast<float>(std::pow(10.0, -lowDb / 10.0));
    return centre > kLowRateMonoHighHz ? scale * kLowRateMonoHighScale : scale;
  }

  // The starved mono rate's factor of a band's allowed distortion (see
  // kStarvedMonoBitRate; wide: with the wider band of kWideMonoTopHz,
  // bandwidth in Hz); 1 where it does not apply.
  static float StarvedScale(bool applies, bool wide, double centre, double bandwidth) {
    if (!applies) return 1.0f;
    if (centre < kStarvedLowHz) return kStarvedLowScale;
    if (centre <= kStarvedHighHz) return 1.0f;
    if (!wide) return kStarvedHighScale;
    return centre > bandwidth ? kWideMonoTopScale : kWideMonoHighScale;
  }

  CoreInfo Info() const override {
    const FrameFormat& f = formatter_.Format();
    CoreInfo info;
    info.bandwidth = bandwidth_;
    info.delay = kInputDelay + 1057;
    int maxFrame = 0;
    for (int i = 1; i <= f.highestIndex; ++i) maxFrame = std::max(maxFrame, formatter_.FrameBits(i) / 8 + 1);
    info.outputBufferNeed = 2 * maxFrame + 512;
    uint32_t h = 0;
    h |= (f.version == MpegVersion::kMpeg25 ? 0xFFEu : 0xFFFu) << 20;
    h |= (f.version == MpegVersion::kMpeg1 ? 1u : 0u) << 19;
    h |= 1u << 17;
    h |= (f.crc ? 0u : 1u) << 16;
    // The bit-rate field shows the first frame's index (0 in VBR, where
    // each frame chooses its own).
    const int index = settings_.vbr ? 0 : FirstIndex();
    h |= static_cast<uint32_t>(index) << 12;
    h |= static_cast<uint32_t>(f.frequencyIndex) << 10;
    h |= (f.privateBit ? 1u : 0u) << 8;
    h |= static_cast<uint32_t>(f.mode) << 6;
    h |= (f.copyright ? 1u : 0u) << 3;
    h |= (f.original ? 1u : 0u) << 2;
    info.headerValue1 = static_cast<int32_t>(h);
    info.headerValue2 = settings_.vbr ? 0 : settings_.bitRate;
    info.granulesPerFrame = f.granules;
    int anc = settings_.ancillaryBitRate > 0
                  ? static_cast<int>(int64_t{settings_.ancillaryBitRate} * 576 * f.granules /
                                     f.sampleRate / 8 * 8)
                  : 64;
    if (settings_.ancillaryMode == 1) anc += 24;
    info.ancillaryBits = anc;
    return info;
  }

  CoreAnswer EncodeGranule(const float* samples, uint8_t* out, size_t capacity,
                           size_t* written) override {
    *written = 0;
    if (samples != nullptr) {
      if (draining_) return CoreAnswer::kFailed;
      Feed(samples);
    } else if (!draining_) {
      draining_ = true;
      // Push the last granule through the look-ahead, complete the frame,
      // and release every queued frame.
      std::vector<float> zeros(576 * 2, 0.0f);
      if (fed_ > 0) FeedChannels(zeros.data());
      while (inFrame_ != 0) FeedChannels(zeros.data());
      formatter_.Flush(&output_);
    }
    if (failed_) return CoreAnswer::kFailed;
    *written = CopyOut(out, capacity);
    if (draining_ && *written == 0 && output_.empty()) return CoreAnswer::kFinished;
    return CoreAnswer::kMore;
  }

 private:
  int FirstIndex() const {
    RateControl probe(formatter_, settings_.bitRate - settings_.ancillaryBitRate,
                      settings_.paddingBehaviour);
    if (!probe.InitConstant()) return 0;
    return probe.NextConstantFrame().index;
  }

  // Codes the lines whose centres lie at or below hz.
  void SetCodedTop(double hz) {
    codedTop_ = hz;
    const int rate = formatter_.Format().sampleRate;
    // The first line whose centre lies above hz (the centres rise with the
    // line, so every line from there on does too).
    longCut_ = 0;
    while (longCut_ < 576 && (longCut_ + 0.5) * rate / 1152.0 <= hz) ++longCut_;
    shortCut_ = 0;
    while (shortCut_ < 192 && (shortCut_ + 0.5) * rate / 384.0 <= hz) ++shortCut_;
    // The threshold in quiet of a band counts its coded lines only.
    const BandEdges& e = kBandEdges[formatter_.Format().rateIndex];
    for (int b = 0; b < kLongBands; ++b) {
      athLinesLong_[b] = std::clamp(longCut_ - e.longEdge[b], 1, e.longEdge[b + 1] - e.longEdge[b]);
    }
    for (int b = 0; b < kShortBands; ++b) {
      athLinesShort_[b] =
          std::clamp(shortCut_ - e.shortEdge[b], 1, e.shortEdge[b + 1] - e.shortEdge[b]);
    }
  }

  size_t CopyOut(uint8_t* out, size_t capacity) {
    // Whole frames only.
    size_t pos = 0;
    while (pos + 4 <= output_.size()) {
      const size_t len = FrameLength(output_.data() + pos);
      if (len == 0 || pos + len > output_.size() || pos + len > capacity) break;
      pos += len;
    }
    if (pos > 0 && out != nullptr) {
      std::memcpy(out, output_.data(), pos);
      output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(pos));
    }
    return out != nullptr ? pos : 0;
  }

  size_t FrameLength(const uint8_t* h) const {
    const int index = h[2] >> 4;
    const int pad = (h[2] >> 1) & 1;
    return static_cast<size_t>(formatter_.FrameBits(index) / 8 + pad);
  }

  void Feed(const float* samples) {
    // Interleaved input on the +-32768 scale to analysis channels on +-1.
    const int in = settings_.inputChannels;
    float buf[2 * 576];
    for (int i = 0; i < 576; ++i) {
      float v[2] = {0.0f, 0.0f};
      for (int c = 0; c < in; ++c) {
        float x = samples[i * in + c];
        if (!std::isfinite(x)) x = 0.0f;
        v[c] = std::clamp(x, -131072.0f, 131072.0f) * (1.0f / 32768.0f);
      }
      if (channels_ == 1) {
        buf[i * 2] = in == 2 ? 0.5f * (v[0] + v[1]) : v[0];
        buf[i * 2 + 1] = 0.0f;
      } else {
        buf[i * 2] = v[0];
        buf[i * 2 + 1] = in == 2 ? v[1] : v[0];
      }
    }
    FeedChannels(buf);
  }

  // buf: 576 frames of two interleaved analysis channels.
  void FeedChannels(const float* buf) {
    bool attack = false;
    for (int ch = 0; ch < channels_; ++ch) {
      ChannelState& c = *chan_[ch];
      float a[576];
      // Delay the input by kInputDelay samples.
      std::memcpy(a, c.delay, sizeof(c.delay));
      for (int i = 0; i < 576 - kInputDelay; ++i) a[kInputDelay + i] = buf[i * 2 + ch];
      for (int i = 0; i < kInputDelay; ++i) c.delay[i] = buf[(576 - kInputDelay + i) * 2 + ch];
      std::memmove(c.history, c.history + 576, sizeof(float) * (kHistory - 576));
      std::memcpy(c.history + kHistory - 576, a, sizeof(a));
      std::memcpy(c.subband[0], c.subband[1], sizeof(c.subband[0]));
      c.polyphase.Process(a, 1, c.subband[1]);
      c.attack.Feed(a, 1);
      attack = attack || c.attack.LastGranuleHasAttack();
    }
    nextAttack_ = attack;
    if (fed_ > 0) {
      const int type = sequencer_.Next(lastAttack_, attack);
      TransformGranule(type);
    }
    lastAttack_ = attack;
    ++fed_;
  }

  // Transforms analysis granule fed_ - 1 (its successor has just arrived).
  void TransformGranule(int type) {
    PendingGranule& g = pending_[inFrame_];
    g.blockType = type;
    const FrameFormat& f = formatter_.Format();
    for (int ch = 0; ch < channels_; ++ch) {
      ChannelState& c = *chan_[ch];
      // subband[0] is granule fed_-1, subband[1] granule fed_; the MDCT of
      // granule m needs m-1 and m, kept in prevSubband_.
      float xr[576];
      mdct_.Transform(prevSubband_[ch], c.subband[0], type, xr);
      std::memcpy(prevSubband_[ch], c.subband[0], sizeof(prevSubband_[ch]));
      // Band limit.
      if (type == kShortBlock) {
        for (int w = 0; w < 3; ++w) {
          std::fill(xr + 192 * w + shortCut_, xr + 192 * (w + 1), 0.0f);
        }
        ReorderShort(f.rateIndex, xr, g.xr[ch]);
      } else {
        std::fill(xr + longCut_, xr + 576, 0.0f);
        std::memcpy(g.xr[ch], xr, sizeof(xr));
      }
      // Psychoacoustic analysis, aligned with the MDCT windows: the history
      // holds analysis granules m-2 .. m+1 for m = fed_-1.
      const float* base = c.history;
      const float* shorts[3] = {base + 592, base + 592 + 192, base + 592 + 384};
      c.psy.Analyze(base + 400, type == kShortBlock ? shorts : nullptr, &g.psy[ch]);
    }
    ++inFrame_;
    if (inFrame_ == f.granules) {
      EncodeFrame();
      inFrame_ = 0;
    }
  }

  void AllowedDistortion(const PendingGranule& g, int ch, const BandLayout& layout,
                         const float* energy, float* xmin) const {
    const PsyModel& psy = chan_[ch]->psy;
    const bool isShort = g.blockType == kShortBlock;
    const float offset = settings_.vbr ? vbrOffset_ : 1.0f;
    for (int b = 0; b < layout.count; ++b) {
      const int sfb = layout.sfb[b];
      float ratio;
      float ath;
      bool aliased;
      if (isShort) {
        ratio = g.psy[ch].shortRatio[layout.window[b]][sfb] * ratioScaleShort_[sfb];
        ath = psy.AthShort()[sfb] * athScaleShort_[sfb] * static_cast<float>(athLinesShort_[sfb]);
        aliased = aliasBandShort_[sfb] &&
                  energy[b] > kShortAliasExcess * g.psy[ch].shortEnergy[layout.window[b]][sfb];
      } else {
        ratio = g.psy[ch].longRatio[sfb] * ratioScaleLong_[sfb];
        ath = psy.AthLong()[sfb] * athScaleLong_[sfb] * static_cast<float>(athLinesLong_[sfb]);
        aliased = aliasBandLong_[sfb] && energy[b] > kLongAliasExcess * g.psy[ch].longEnergy[sfb];
      }
      if (settings_.vbr) ratio = std::min(ratio, vbrBandCeiling_);
      if (!isShort && g.psy[ch].longRatio[sfb] > noisyRatio_) ratio *= noisyScale_[sfb];
      xmin[b] = std::max(ratio * energy[b] * offset, ath);
      if (aliased) xmin[b] *= kAliasMargin;
    }
  }

  // Pre-echo control of short blocks at the low sample rates (see
  // kPreEchoRise): each window's allowed distortion per band is at most
  // kPreEchoRise times the window's before it.
  static void LimitPreEcho(float* xmin) {
    for (int sfb = 0; sfb < kShortBands; ++sfb) {
      float* x = xmin + 3 * sfb;
      x[1] = std::min(x[1], kPreEchoRise * x[0]);
      x[2] = std::min(x[2], kPreEchoRise * x[1]);
    }
  }

  // Caps the first short window's allowed distortion by the previous
  // granule's (see kFirstWindowRise) and keeps a long granule's allowed
  // distortion per line for the next.
  void LimitFirstWindow(int ch, bool isShort, const BandEdges& e, float* xmin) {
    if (!isShort) {
      for (int b = 0; b < kLongBands; ++b) {
        const float perLine = xmin[b] / static_cast<float>(e.longEdge[b + 1] - e.longEdge[b]);
        std::fill(longDensity_[ch] + e.longEdge[b], longDensity_[ch] + e.longEdge[b + 1], perLine);
      }
      longKnown_[ch] = true;
      return;
    }
    if (longKnown_[ch]) {
      for (int sfb = 0; sfb < kShortBands; ++sfb) {
        float allowed = 0.0f;
        for (int i = 3 * e.shortEdge[sfb]; i < 3 * e.shortEdge[sfb + 1]; ++i) {
          allowed += longDensity_[ch][i];
        }
        float& x = xmin[3 * sfb];  // window 0
        x = std::min(x,
                     std::max({firstWindowRise_ * allowed / 3.0f, x / firstWindowDepth_, 1e-12f}));
      }
    }
    longKnown_[ch] = false;
  }

  void EncodeFrame() {
    const FrameFormat& f = formatter_.Format();
    const bool isVbr = settings_.vbr != 0;
    // Allowed distortion per band and the mid/side decision.
    float xmin[2][2][kMaxBands];
    float energy[2][2][kMaxBands];
    float pe[2][2];
    BandLayout layouts[2];
    const BandEdges& e = kBandEdges[f.rateIndex];
    for (int gr = 0; gr < f.granules; ++gr) {
      PendingGranule& g = pending_[gr];
      MakeBandLayout(f.rateIndex, g.blockType == kShortBlock, &layouts[gr]);
      for (int ch = 0; ch < channels_; ++ch) {
        BandEnergies(layouts[gr], g.xr[ch], energy[gr][ch]);
        AllowedDistortion(g, ch, layouts[gr], energy[gr][ch], xmin[gr][ch]);
        if (limitPreEcho_) {
          if (g.blockType == kShortBlock) LimitPreEcho(xmin[gr][ch]);
          LimitFirstWindow(ch, g.blockType == kShortBlock, e, xmin[gr][ch]);
        }
      }
    }
    int modeExtension = 0;
    bool peKnown = false;  // pe holds the entropies of the chosen coding
    if (mode_ == 1 && channels_ == 2) {
      float peLr = 0.0f;
      float peMs = 0.0f;
      float msXmin[2][kMaxBands];
      float msEnergy[2][2][kMaxBands];
      float msXr[2][2][576];
      float peLrPart[2][2] = {};
      float peMsPart[2][2] = {};
      for (int gr = 0; gr < f.granules; ++gr) {
        const BandLayout& L = layouts[gr];
        std::memcpy(msXr[gr], pending_[gr].xr, sizeof(msXr[gr]));
        ToMidSide(msXr[gr][0], msXr[gr][1], 576);
        for (int ch = 0; ch < 2; ++ch) BandEnergies(L, msXr[gr][ch], msEnergy[gr][ch]);
        for (int b = 0; b < L.count; ++b) msXmin[gr][b] = std::min(xmin[gr][0][b], xmin[gr][1][b]);
        for (int ch = 0; ch < 2; ++ch) {
          peLrPart[gr][ch] = PerceptualEntropy(L, energy[gr][ch], xmin[gr][ch]);
          peMsPart[gr][ch] = PerceptualEntropy(L, msEnergy[gr][ch], msXmin[gr]);
          peLr += peLrPart[gr][ch];
          peMs += peMsPart[gr][ch];
        }
      }
      std::memcpy(pe, peLrPart, sizeof(pe));
      peKnown = true;
      if (peMs < peLr * msBias_) {
        std::memcpy(pe, peMsPart, sizeof(pe));
        modeExtension = 2;
        for (int gr = 0; gr < f.granules; ++gr) {
          std::memcpy(pending_[gr].xr, msXr[gr], sizeof(msXr[gr]));
          for (int ch = 0; ch < 2; ++ch) {
            std::memcpy(energy[gr][ch], msEnergy[gr][ch], sizeof(energy[gr][ch]));
            std::memcpy(xmin[gr][ch], msXmin[gr], sizeof(xmin[gr][ch]));
          }
          if (sideKeep_ > 0.0f) {
            for (int b = 0; b < layouts[gr].count; ++b) {
              xmin[gr][1][b] =
                  std::min(xmin[gr][1][b], std::max(sideKeep_ * energy[gr][1][b], 1e-12f));
            }
          }
        }
      }
    }
    for (int gr = 0; gr < f.granules; ++gr) {
      for (int ch = 0; ch < channels_; ++ch) {
        if (!peKnown) pe[gr][ch] = PerceptualEntropy(layouts[gr], energy[gr][ch], xmin[gr][ch]);
        quant_[gr][ch]->Load(pending_[gr].xr[ch], pending_[gr].blockType, xmin[gr][ch]);
      }
    }

    const int fill = formatter_.Fill();
    FrameChoice choice;
    int used = 0;
    if (!isVbr) {
      choice = rate_.NextConstantFrame();
      const int slot = choice.frameBits - f.overheadBits;
      const int resvMax = 8 * formatter_.ReservoirLimit(choice.frameBits);
      int resv = 8 * fill;
      const int available = slot + 8 * fill;
      const int equalShare = slot / f.granules;
      const float longWeight = f.sampleRate <= 32000 ? kLowRatePeWeight : kPeWeight;
      int granuleMean[2] = {equalShare, equalShare};
      if (transitionPeWeight_ > 0.0f) SplitFrame(pe, slot, granuleMean);
      for (int gr = 0; gr < f.granules; ++gr) {
        const int meanBits = granuleMean[gr];
        const int type = pending_[gr].blockType;
        const bool transition = type == kStartBlock || type == kStopBlock;
        const float entropy = GranuleEntropy(pe, gr);
        float w = longWeight;
        if (type == kShortBlock) {
          w = quietAttackPeWeight_ > 0.0f && silentBefore_ ? quietAttackPeWeight_ : shortPeWeight_;
        } else if (transitionPeWeight_ > 0.0f) {  // the rates of kFineTransitionPeWeight
          w = transition ? transitionPeWeight_ : modeExtension == 2 ? kFineMidSidePeWeight : w;
        }
        if (type == kNormalBlock || type == kStartBlock) {  // see kLowRateMonoQuietPeWeight
          silentBefore_ = entropy < kSilentEntropy;
        }
        const float demand[2] = {pe[gr][0] * w, pe[gr][1] * w};
        int targets[2];
        Lending lending;
        if (lendToShort_ && type == kShortBlock) {
          lending.reservoirTenths = kMonoShortLending;
          lending.meanMultiple = 2;
        }
        // A short granule before another (see kWideMonoShortFillTenths): the
        // next one is short when an attack was flagged in it.
        const bool nextShort =
            gr + 1 < f.granules ? pending_[gr + 1].blockType == kShortBlock : nextAttack_;
        if (type == kShortBlock && nextShort) lending.fillTenths = shortFillTenths_;
        longRun_ = type == kNormalBlock ? longRun_ + 1 : 0;
        if (transitionPeWeight_ > 0.0f && type == kNormalBlock &&
            entropy <= kFineSteadyRise * lastEntropy_) {
          lending.fillTenths =
              longRun_ > kFineSustainedGranules ? kFineSustainedTenths : kFineSteadyTenths;
        }
        lastEntropy_ = entropy;
        RateControl::GranuleTargets(meanBits, resv, resvMax, demand, channels_,
                                    modeExtension == 2, targets, lending);
        int granuleUsed = 0;
        for (int ch = 0; ch < channels_; ++ch) {
          const int cap = std::min({4095, targets[ch], available - used});
          if (shapeMargin_ > 0.0f) {
            quant_[gr][ch]->SearchForBitsShaped(std::max(cap, 0), shapeMargin_);
          } else {
            quant_[gr][ch]->SearchForBits(std::max(cap, 0));
          }
          used += quant_[gr][ch]->Bits();
          granuleUsed += quant_[gr][ch]->Bits();
        }
        resv += meanBits - granuleUsed;
      }
      Respend(choice.frameBits, &used);
    } else {
      // The frame may carry what the highest index holds, within the bank's
      // allowance. Each granule gets the budget its perceptual entropy
      // against the level's noise target asks for, at least the level's
      // floor; the outer loop then spreads the noise over the bands by that
      // target. A granule that meets the level's stricter target for fewer
      // bits is coded to that target instead: the floor
      // is there for the granules whose masking the model overestimates,
      // and the rest (quiet passages, transients over silence, speech
      // pauses) need not pay it. A granule with nothing above its allowed
      // distortion is coded to the level's target alone.
      //
      // In a granule of one busy channel and a much quieter other (mid/side
      // of a mono-in-stereo signal, one-sided panning) the quiet channel is
      // coded first, and the level's share of the floor it leaves unused
      // goes to the other.
      const int maxFrame = formatter_.FrameBits(f.highestIndex);
      const int available =
          std::min(maxFrame - f.overheadBits, vbr_->FrameAllowance()) + 8 * fill;
      for (int gr = 0; gr < f.granules; ++gr) {
        const bool quietFirst = channels_ == 2 && pe[gr][1] < pe[gr][0];
        int inherited = 0;
        for (int k = 0; k < channels_; ++k) {
          const int ch = quietFirst ? 1 - k : k;
          const int remainingGc = (f.granules - gr) * channels_ - k;
          const int share = (available - used) / std::max(1, remainingGc);
          const int cap = std::min(4095, std::max(share, (available - used) * 2 / 3));
          const int budget = std::max(
              std::min({vbr_->GranuleBudget(pe[gr][ch], vbr_->FloorBits() + inherited), cap,
                        available - used}),
              0);
          quant_[gr][ch]->SearchForNoise(budget, pe[gr][ch] < 1.0f ? 1.0f : vbrStrictness_);
          used += quant_[gr][ch]->Bits();
          if (k == 0 && channels_ == 2 && pe[gr][ch] < kVbrQuietShare * pe[gr][1 - ch]) {
            inherited = static_cast<int>(vbr_->Tuning().inheritedShare *
                                         std::max(0, vbr_->FloorBits() - quant_[gr][ch]->Bits()));
          }
        }
      }
      const int need = used + f.overheadBits - 8 * fill;
      int index = formatter_.SearchIndex(std::max(need, 1), false, false);
      if (index < 0) {
        failed_ = true;
        return;
      }
      choice.index = index;
      choice.padding = 0;
      choice.frameBits = formatter_.FrameBits(index);
      Respend(choice.frameBits, &used);
    }
    for (int gr = 0; gr < f.granules; ++gr) {
      for (int ch = 0; ch < channels_; ++ch) quant_[gr][ch]->Finish(&frame_->gr[gr][ch]);
    }
    // A granule that will take stuffing codes big_values over all its lines,
    // so that decoders skip the stuffing instead of reading it as values
    // (read as count1 quadruples, zeros decode to values, and decoders part
    // ways on the last quadruple). Covering costs bits where the coded band
    // ends inside a scale-factor band: the zero lines above it must be coded
    // in region 1 or 2. When the frame cannot carry that, the last covered
    // granule is coarsened by the excess and the stuffing planned again.
    bool covering[2][2] = {{false, false}, {false, false}};
    const int available = choice.frameBits - f.overheadBits + 8 * formatter_.Fill();
    auto frameTotal = [&] {
      int total = 0;
      for (int gr = 0; gr < f.granules; ++gr) {
        for (int ch = 0; ch < channels_; ++ch) total += frame_->gr[gr][ch].part23Length;
      }
      return total;
    };
    for (int pass = 0; pass < 4; ++pass) {
      for (int round = 0; round < 4; ++round) {
        int64_t take[2][2];
        int64_t trailing = 0;
        formatter_.PlanStuffing(*frame_, choice.frameBits, 0, take, &trailing);
        bool changed = false;
        for (int gr = 0; gr < f.granules; ++gr) {
          for (int ch = 0; ch < channels_; ++ch) {
            if (take[gr][ch] > 0 && !covering[gr][ch]) {
              covering[gr][ch] = true;
              quant_[gr][ch]->Finish(&frame_->gr[gr][ch], true);
              // part2_3_length has 12 bits: keep the plain plan when
              // covering would not fit.
              if (frame_->gr[gr][ch].part23Length > 4095) {
                quant_[gr][ch]->Finish(&frame_->gr[gr][ch]);
              }
              changed = true;
            }
          }
        }
        if (!changed) break;
      }
      const int excess = frameTotal() - available;
      if (excess <= 0) break;
      int lastGr = -1;
      int lastCh = -1;
      for (int gr = 0; gr < f.granules; ++gr) {
        for (int ch = 0; ch < channels_; ++ch) {
          if (covering[gr][ch]) {
            lastGr = gr;
            lastCh = ch;
          }
        }
      }
      if (lastGr < 0) break;
      Quantizer& q = *quant_[lastGr][lastCh];
      if (!q.Shrink(q.Bits() - excess)) break;
      q.Finish(&frame_->gr[lastGr][lastCh], true);
      if (frame_->gr[lastGr][lastCh].part23Length > 4095) {
        q.Finish(&frame_->gr[lastGr][lastCh]);
      }
    }
    // Covering must never take the frame beyond what it can carry: what
    // coarsening could not fit is coded plain.
    for (int gr = f.granules - 1; gr >= 0; --gr) {
      for (int ch = channels_ - 1; ch >= 0; --ch) {
        if (covering[gr][ch] && frameTotal() > available) {
          quant_[gr][ch]->Finish(&frame_->gr[gr][ch]);
        }
      }
    }
    formatter_.Assemble(*frame_, choice.index, choice.padding, modeExtension, nullptr, nullptr,
                        0, &output_);
    rate_.Commit(choice.frameBits);
    if (vbr_) vbr_->Commit(choice.frameBits);
  }

  // The mean bits of each granule of a frame (slot: the frame's bits for
  // both) by the granules' perceptual entropies (see kFineSplitLeast).
  // A granule's perceptual entropy over its coded channels.
  float GranuleEntropy(const float (*pe)[2], int gr) const {
    return pe[gr][0] + (channels_ == 2 ? pe[gr][1] : 0.0f);
  }

  void SplitFrame(const float (*pe)[2], int slot, int* granuleMean) const {
    if (formatter_.Format().granules != 2) return;
    float entropy[2];
    for (int gr = 0; gr < 2; ++gr) entropy[gr] = GranuleEntropy(pe, gr);
    if (!(entropy[0] + entropy[1] > 0.0f)) return;
    const float share =
        std::clamp(entropy[0] / (entropy[0] + entropy[1]), kFineSplitLeast, 1.0f - kFineSplitLeast);
    granuleMean[0] = static_cast<int>(static_cast<float>(slot) * share);
    granuleMean[1] = slot - granuleMean[0];
  }

  // Spends bits the reservoir could not keep (they would become stuffing).
  void Respend(int frameBits, int* used) {
    const FrameFormat& f = formatter_.Format();
    const int slot = frameBits - f.overheadBits;
    const int limit = formatter_.ReservoirLimit(frameBits);
    const int available = slot + 8 * formatter_.Fill();
    const int minBits = slot + 8 * (formatter_.Fill() - limit);
    for (int gr = 0; gr < f.granules && *used < minBits; ++gr) {
      for (int ch = 0; ch < channels_ && *used < minBits; ++ch) {
        Quantizer& q = *quant_[gr][ch];
        const int before = q.Bits();
        const int room = std::min(4095, before + (available - *used));
        const int want = std::min(room, before + (minBits - *used));
        q.Respend(want);
        *used += q.Bits() - before;
      }
    }
  }

  Mp3sEncSettings settings_;
  FrameFormatter formatter_;
  Mdct mdct_;
  QuantTables tables_;
  RateControl rate_;
  BlockSequencer sequencer_;
  float bandwidth_;
  int mode_;
  int channels_ = 2;
  std::vector<std::unique_ptr<ChannelState>> chan_;
  std::unique_ptr<Quantizer> quant_[2][2];
  std::unique_ptr<FrameGranules> frame_;
  std::unique_ptr<PendingGranule[]> pending_;
  float prevSubband_[2][18][32] = {};
  bool aliasBandLong_[kLongBands] = {};  // bands that may hold alias terms only
  bool aliasBandShort_[kShortBands] = {};
  // Factors of the constant rates' allowed distortion (see kLowBandHz).
  float ratioScaleLong_[kLongBands];
  float ratioScaleShort_[kShortBands];
  float athScaleLong_[kLongBands];
  float athScaleShort_[kShortBands];
  float shapeMargin_ = 0.0f;  // see kShapeMarginDb; 0 where it does not apply
  bool limitPreEcho_ = false;  // constant rates below 32 kHz (see kPreEchoRise)
  float msBias_ = 1.0f;        // see kLowRateMsBias and kHighRateMsBias
  float noisyScale_[kLongBands];  // see kNoisyDb; 1 where it does not apply
  float noisyRatio_ = 1.0f;
  float sideKeep_ = 0.0f;  // see kSideKeep; 0 where it does not apply
  float transitionPeWeight_ = 0.0f;  // see kFineTransitionPeWeight; 0 where it does not apply
  float lastEntropy_ = 0.0f;  // the last granule's perceptual entropy (see kFineSteadyRise)
  float quietAttackPeWeight_ = 0.0f;  // see kLowRateMonoQuietPeWeight; 0 where it does not apply
  bool silentBefore_ = false;  // the last long granule had no entropy
  int longRun_ = 0;  // long granules in a row up to this one (see kFineSustainedGranules)
  float shortPeWeight_ = kShortPeWeight;
  bool lendToShort_ = false;  // see kMonoShortLending
  int shortFillTenths_ = 10;  // see kWideMonoShortFillTenths; 10 where it does not apply
  bool nextAttack_ = false;   // an attack was flagged in the granule after the last transformed
  float firstWindowRise_ = kFirstWindowRise;  // see kFirstWindowRise
  float firstWindowDepth_ = 1.0f;
  float longDensity_[2][576] = {};  // the last long granule's allowed distortion per line
  bool longKnown_[2] = {false, false};
  double codedTop_ = 0.0;  // Hz: the bandwidth and the transition band above it
  int longCut_ = 0;        // lines from here on lie above codedTop_
  int shortCut_ = 0;       // the same in each short window
  int athLinesLong_[kLongBands] = {};  // coded lines per band (at least 1)
  int athLinesShort_[kShortBands] = {};
  int inFrame_ = 0;
  int64_t fed_ = 0;
  bool lastAttack_ = false;
  bool draining_ = false;
  bool failed_ = false;
  std::unique_ptr<VbrRateControl> vbr_;
  float vbrOffset_ = 1.0f;
  float vbrStrictness_ = 1.0f;  // the strict target as a factor of the allowed distortion
  float vbrBandCeiling_ = 1.0f;  // the most noise a band may carry against its energy
  std::vector<uint8_t> output_;
};

bool IsMpegRate(int rate) {
  for (int r : kSampleRates) {
    if (r == rate) return true;
  }
  return false;
}

}  // namespace

std::unique_ptr<Core> CreateCore(const Mp3sEncSettings& in, bool useVectorPath) {
  Mp3sEncSettings s = in;
  if (!IsMpegRate(s.sampleRate)) return nullptr;
  if (s.inputChannels < 1 || s.inputChannels > 2) return nullptr;
  if (s.encodedChannels < 1 || s.encodedChannels > s.inputChannels) return nullptr;
  if (s.jointStereoForced != 0 && s.dualChannel != 0) return nullptr;
  if (s.secondBitRate != 0 && s.secondRateFlag == 0) return nullptr;
  if (s.secondRateFlag != 0 && s.secondBitRate == 320000) return nullptr;
  if (s.ancillaryBitRate < 0 || s.ancillaryMode < 0 || s.ancillaryMode > 1) return nullptr;
  if (s.vbr) {
    s.bitRate = 0;
    if (s.vbrQuality < 0 || s.vbrQuality > 100) return nullptr;
  } else {
    if (s.bitRate / s.encodedChannels < 8000) return nullptr;
    if (s.sampleRate < 32000) {
      if (s.bitRate < 8000 || s.bitRate > 160000) return nullptr;
    } else if (s.bitRate < 32000 || s.bitRate > 320000) {
      return nullptr;
    }
    if (s.bitRate - s.ancillaryBitRate <= 0) return nullptr;
  }
  if (s.paddingBehaviour < 0 || s.paddingBehaviour > 2) return nullptr;
  if (s.reserved22 == 0) s.reserved22 = 3;
  int mode;
  if (s.encodedChannels == 1) {
    mode = 3;
  } else if (s.jointStereoForced) {
    mode = 1;
  } else if (s.plainStereo && s.dualChannel) {
    mode = 2;
  } else if (s.plainStereo) {
    mode = 0;
  } else {
    mode = 1;
  }
  FrameFormat format;
  if (!MakeFrameFormat(s.sampleRate, mode, s.crcProtection != 0, s.privateBit != 0,
                       s.copyrightBit != 0, s.originalBit != 0, &format)) {
    return nullptr;
  }
  float bandwidth = s.bandwidth;
  if (!(bandwidth > 0.0f)) {
    // Default: about a fifth of the bit rate per channel above 3 kHz, or the
    // quality level's width in VBR.
    const double perChannel =
        s.vbr ? 40000.0 + 1000.0 * s.vbrQuality : static_cast<double>(s.bitRate) / s.encodedChannels;
    bandwidth = static_cast<float>(std::min(3000.0 + perChannel * 0.2, 20000.0));
  }
  bandwidth = std::min({bandwidth, 0.5f * static_cast<float>(s.sampleRate), kMaxCodedBandwidth});
  const Kernels& kernels = useVectorPath && CpuHasVectorPath() ? VectorKernels() : PlainKernels();
  auto core = std::make_unique<CoreImpl>(s, kernels, format, bandwidth, mode);
  if (!core->Init()) return nullptr;
  return core;
}

bool CpuHasVectorPath() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}

}  // namespace mp3enc
