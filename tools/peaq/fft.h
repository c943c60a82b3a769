// Radix-2 FFT of real input, used by the ear model (2048 points) and the
// error harmonic structure (256 points).
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace kestrune::peaq {

// Forward transform of a real sequence of power-of-two length n, computed as
// a complex transform of n/2 points plus one split step. Outputs bins 0..n/2.
class RealFft {
public:
    explicit RealFft(std::size_t n);

    std::size_t size() const { return n_; }

    // out must hold n/2 + 1 values: X[k] = sum x[t] exp(-2 pi i k t / n).
    void forward(const double* in, std::complex<double>* out);
    // out must hold n/2 + 1 values: |X[k]|^2.
    void power(const double* in, double* out);

private:
    void complexForward(std::complex<double>* data) const;

    std::size_t n_;
    std::size_t half_;
    std::vector<std::size_t> bitReverse_;
    std::vector<std::complex<double>> twiddle_;  // exp(-2 pi i k / half), k < half/2
    std::vector<std::complex<double>> split_;    // exp(-2 pi i k / n), k <= half/2
    std::vector<std::complex<double>> work_;
    std::vector<std::complex<double>> spectrum_;
};

}  // namespace kestrune::peaq
