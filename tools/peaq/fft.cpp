#include "tools/peaq/fft.h"

#include <cassert>
#include <cmath>
#include <numbers>

namespace kestrune::peaq {

RealFft::RealFft(std::size_t n) : n_(n), half_(n / 2) {
    assert(n >= 4 && (n & (n - 1)) == 0);
    bitReverse_.resize(half_);
    std::size_t bits = 0;
    while ((std::size_t{1} << bits) < half_) ++bits;
    for (std::size_t i = 0; i < half_; ++i) {
        std::size_t r = 0;
        for (std::size_t b = 0; b < bits; ++b) r |= ((i >> b) & 1u) << (bits - 1 - b);
        bitReverse_[i] = r;
    }
    twiddle_.resize(half_ / 2 > 0 ? half_ / 2 : 1);
    for (std::size_t k = 0; k < twiddle_.size(); ++k) {
        double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(half_);
        twiddle_[k] = {std::cos(angle), std::sin(angle)};
    }
    split_.resize(half_ / 2 + 1);
    for (std::size_t k = 0; k < split_.size(); ++k) {
        double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n_);
        split_[k] = {std::cos(angle), std::sin(angle)};
    }
    work_.resize(half_);
    spectrum_.resize(half_ + 1);
}

void RealFft::complexForward(std::complex<double>* data) const {
    for (std::size_t i = 0; i < half_; ++i) {
        std::size_t j = bitReverse_[i];
        if (j > i) std::swap(data[i], data[j]);
    }
    for (std::size_t len = 2; len <= half_; len <<= 1) {
        std::size_t step = half_ / len;
        std::size_t halfLen = len / 2;
        for (std::size_t start = 0; start < half_; start += len) {
            for (std::size_t k = 0; k < halfLen; ++k) {
                std::complex<double> t = twiddle_[k * step] * data[start + k + halfLen];
                data[start + k + halfLen] = data[start + k] - t;
                data[start + k] += t;
            }
        }
    }
}

void RealFft::forward(const double* in, std::complex<double>* out) {
    // Pack even samples into the real part and odd samples into the imaginary part.
    for (std::size_t i = 0; i < half_; ++i) work_[i] = {in[2 * i], in[2 * i + 1]};
    complexForward(work_.data());
    // Split: X[k] = E[k] + W^k O[k], where E and O are the transforms of the
    // even and odd samples recovered from the packed transform Z.
    out[0] = {work_[0].real() + work_[0].imag(), 0.0};
    out[half_] = {work_[0].real() - work_[0].imag(), 0.0};
    for (std::size_t k = 1; k <= half_ / 2; ++k) {
        std::complex<double> z = work_[k];
        std::complex<double> zc = std::conj(work_[half_ - k]);
        std::complex<double> even = 0.5 * (z + zc);
        std::complex<double> odd = std::complex<double>(0.0, -0.5) * (z - zc);
        std::complex<double> wOdd = split_[k] * odd;
        out[k] = even + wOdd;
        out[half_ - k] = std::conj(even - wOdd);
    }
}

void RealFft::power(const double* in, double* out) {
    forward(in, spectrum_.data());
    for (std::size_t k = 0; k <= half_; ++k) out[k] = std::norm(spectrum_[k]);
}

}  // namespace kestrune::peaq
