// Measuring a movie's sound: its decoded samples, its compressed packets, and
// how far it lies from an exact reference.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tavtest {

// The movie's first sound stream decoded to interleaved 32-bit floats.
std::vector<float> Samples(const std::string& movie);

// The payloads of the movie's sound packets, in order.
std::vector<std::string> SoundPackets(const std::string& movie);

// The squared difference of `a` and `exact` over interleaved samples [from, to).
double ErrorEnergy(const std::vector<float>& a, const std::vector<float>& exact, size_t from,
                   size_t to);

// The same with `a` read `lag` frames (of `channels` samples) later, over
// frames [from, to) of `exact`.
double ErrorEnergyAt(const std::vector<float>& a, const std::vector<float>& exact, int channels,
                     long lag, size_t from, size_t to);

// The largest difference of `a`, read `lag` frames later, and `exact` in one
// channel over frames [from, to).
double PeakErrorAt(const std::vector<float>& a, const std::vector<float>& exact, int channels,
                   int channel, long lag, size_t from, size_t to);

// The lag in [-range, range] frames at which `a` best matches `exact` over frames [from, to).
long BestLag(const std::vector<float>& a, const std::vector<float>& exact, int channels, long range,
             size_t from, size_t to);

}  // namespace tavtest
