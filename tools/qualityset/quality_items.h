// The encoder quality set: short 48 kHz items that stress different parts of
// a perceptual coder (tonal resolution, pre-echo, bright transients, noise
// coding, stereo). Five items come from the shared synthesised references;
// the others are generated here, deterministically (fixed seeds, our own
// Gaussian from the fully specified mt19937), so that every machine and every
// run measures the same material.
#pragma once

#include <string>
#include <vector>

namespace kestrune::quality {

inline constexpr unsigned kItemRate = 48000;

// Planar channels at 48 kHz, full scale 1.0, every value on the 16-bit grid
// (k / 32768), so that a 16-bit WAVE file holds the item exactly.
struct Item {
    std::string name;
    std::vector<std::vector<float>> channels;

    std::size_t Frames() const { return channels.empty() ? 0 : channels[0].size(); }
    double Seconds() const { return static_cast<double>(Frames()) / kItemRate; }
};

// The names of the shared items (files NAME.wav in SHARED/quality/ref).
std::vector<std::string> SharedItemNames();
// The names of the generated items.
std::vector<std::string> GeneratedItemNames();

// The item of that name, always stereo (a mono shared item is put on both
// channels). Shared items are read from sharedDir/quality/ref. Returns false
// with a message when the name is unknown or a shared file is missing or not
// 48 kHz.
bool MakeItem(const std::string& name, const std::string& sharedDir, Item& item, std::string& error);

// The whole set in a fixed order: shared items first, then the generated ones.
bool MakeQualitySet(const std::string& sharedDir, std::vector<Item>& items, std::string& error);

// The mono version of a stereo item: (L + R) / 2, back on the 16-bit grid.
Item Downmix(const Item& item);

// Writes the item as a 16-bit PCM WAVE file; false when it cannot be written.
bool WriteWave16(const std::string& path, const Item& item);

}  // namespace kestrune::quality
