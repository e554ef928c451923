#pragma once
// A stage's results from the bench entries: each meter's error against the
// reference and, in calibration, the stage's new coefficient and flow break
// point. Pure arithmetic, no Qt: the wizard converts the texts and shows the
// results.
//
// Intermediates are extended precision (long double, 80-bit on x86); the
// reference flow and the pulse weight are kept as double and K/FL as float,
// exactly where the results are stored in those types, so every digit shown
// and written is reproducible to the last one.

#include "frames.h"

#include <array>
#include <cstdint>
#include <stdexcept>

constexpr int kDiameterIndexCount = 10;

// Litres per counted pulse of a meter under test, by diameter index
// (Ду 15 .. Ду 300).
extern const std::array<double, kDiameterIndexCount> PulseWeightByDiameter;
// Largest flow, m3/h, by diameter index.
extern const std::array<double, kDiameterIndexCount> QmaxByDiameter;

// A zero divisor ends the computation with the standard error text
// "Floating point division by zero"; a silent inf or NaN would be written
// into a meter.
class FloatZeroDivide : public std::domain_error {
public:
    FloatZeroDivide() : std::domain_error("Floating point division by zero") {}
};

// A result too large for the precision it is stored in (absurd entries such
// as a pulse weight of 1E300): the standard overflow error, for the same
// reason.
class FloatOverflow : public std::domain_error {
public:
    FloatOverflow() : std::domain_error("Floating point overflow") {}
};

struct ReferenceEntries {
    int32_t Pulses = 0;        // N, reference pulse count
    double PulseWeight = 0;    // V, litres per reference pulse
    double Seconds = 0;        // T, measuring time
};

// Q = N * V / 1000 / T * 3600, left to right, m3/h, stored as double.
// Throws FloatZeroDivide when T is 0, FloatOverflow beyond the double range.
double ReferenceFlow(const ReferenceEntries& ref);

// The pulse weight of the meters under test at flow q: the diameter's
// weight, a quarter of it when Qmax / 10 > q (strictly). Throws
// std::out_of_range for a diameter index outside 0..9.
double MeterPulseWeight(int diameterIndex, double q);

// Which K/FL pair a calibration stage replaces: stage 1 (highest flow) K4 and
// FL4 ... stage 5 K0 and FL0. -1 for any other stage.
int CoefficientIndexForStage(int stage);

class StageComputation {
public:
    // Computes Q and w. Throws FloatZeroDivide (T = 0) or std::out_of_range
    // (diameter index).
    StageComputation(const ReferenceEntries& ref, int diameterIndex, int stage, bool verification);

    double Flow() const { return m_flow; }
    double MeterWeight() const { return m_weight; }
    // True when this stage sets a coefficient: calibration, stage 1..5.
    bool SetsCoefficient() const { return m_index >= 0; }
    int CoefficientIndex() const { return m_index; }

    // E = (g * w - N * V) / (N * V) * 100, percent. Throws FloatZeroDivide
    // when N * V is 0.
    long double ErrorPercent(int32_t meterPulses) const;

    // Calibration: K(j) = N * V / (g * w) and FL(j) = Q / K(j), K rounded to
    // float before FL is formed, both stored into config. Does nothing when
    // the stage sets no coefficient. Throws FloatZeroDivide when g * w or
    // K(j) is 0 and FloatOverflow when K or FL does not fit a float; config
    // is then unchanged.
    void ApplyCoefficient(int32_t meterPulses, DeviceConfig& config) const;

private:
    ReferenceEntries m_ref;
    double m_flow = 0;
    double m_weight = 0;
    int m_index = -1;
};
