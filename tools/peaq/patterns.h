// Pattern processing of the basic version of ITU-R BS.1387-1 (Annex 2,
// section 3): level and pattern adaptation, modulation patterns and loudness.
#pragma once

#include "tools/peaq/ear_model.h"

namespace kestrune::peaq {

// Level and pattern adaptation (section 3.1): scales the louder of the two
// excitation patterns to the level of the other and corrects linear
// distortions band by band. Output: the spectrally adapted patterns.
class LevelAdapter {
public:
    LevelAdapter();
    void process(const BandArray& ref, const BandArray& test, BandArray& adaptedRef,
                 BandArray& adaptedTest);

private:
    BandArray a_{};
    BandArray smoothRef_{};
    BandArray smoothTest_{};
    BandArray corrNum_{};
    BandArray corrDen_{};
    BandArray pattRef_{};
    BandArray pattTest_{};
};

// Modulation pattern (section 3.2) of one signal, from the unsmeared excitation.
class ModulationMeter {
public:
    ModulationMeter();
    void process(const BandArray& unsmeared, BandArray& modulation);
    // The smoothed loudness-compressed excitation (E^0.3) of the last frame.
    const BandArray& average() const { return average_; }

private:
    BandArray a_{};
    BandArray derivative_{};
    BandArray average_{};
    BandArray previous_{};
};

// Total loudness in sone of an excitation pattern (section 3.3).
double totalLoudness(const BandArray& excitation);

}  // namespace kestrune::peaq
