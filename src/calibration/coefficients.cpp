#include "coefficients.h"

#include <cfloat>
#include <cmath>
#include <string>

const std::array<double, kDiameterIndexCount> PulseWeightByDiameter = {
    0.015, 0.035, 0.05, 0.1, 0.15, 0.35, 0.6, 1.2, 2.5, 5.0,
};

const std::array<double, kDiameterIndexCount> QmaxByDiameter = {
    6.5, 18, 30, 45, 70, 180, 285, 635, 1130, 2550,
};

namespace {

using Extended = long double;

// An error, not an inf or NaN carried on: such a value must never reach a meter.
Extended Divide(Extended a, Extended b)
{
    if (b == 0)
        throw FloatZeroDivide();
    return a / b;
}

double StoreDouble(Extended v)
{
    if (!(std::fabs(v) <= Extended(DBL_MAX)))
        throw FloatOverflow();
    return double(v);
}

float StoreSingle(Extended v)
{
    if (!(std::fabs(v) <= Extended(FLT_MAX)))
        throw FloatOverflow();
    return float(v);
}

// N * V / 1000 / T * 3600, left to right.
Extended FlowExtended(const ReferenceEntries& ref)
{
    const Extended litres = Extended(ref.Pulses) * Extended(ref.PulseWeight);
    return Divide(litres / 1000, Extended(ref.Seconds)) * 3600;
}

void CheckDiameter(int diameterIndex)
{
    if (diameterIndex < 0 || diameterIndex >= kDiameterIndexCount)
        throw std::out_of_range("diameter index " + std::to_string(diameterIndex) + " is not 0..9");
}

} // namespace

double ReferenceFlow(const ReferenceEntries& ref)
{
    return StoreDouble(FlowExtended(ref));
}

double MeterPulseWeight(int diameterIndex, double q)
{
    CheckDiameter(diameterIndex);
    double w = PulseWeightByDiameter[std::size_t(diameterIndex)];
    // Strictly greater: at exactly a tenth of Qmax the full weight applies.
    if (Extended(QmaxByDiameter[std::size_t(diameterIndex)]) / 10 > Extended(q))
        w = double(Extended(w) / 4);
    return w;
}

int CoefficientIndexForStage(int stage)
{
    return stage >= 1 && stage <= 5 ? 5 - stage : -1;
}

StageComputation::StageComputation(const ReferenceEntries& ref, int diameterIndex, int stage, bool verification)
    : m_ref(ref)
{
    CheckDiameter(diameterIndex);
    m_flow = ReferenceFlow(ref);
    m_weight = MeterPulseWeight(diameterIndex, m_flow);
    m_index = verification ? -1 : CoefficientIndexForStage(stage);
}

long double StageComputation::ErrorPercent(int32_t meterPulses) const
{
    const Extended reference = Extended(m_ref.Pulses) * Extended(m_ref.PulseWeight);
    const Extended meter = Extended(meterPulses) * Extended(m_weight);
    return Divide(meter - reference, reference) * 100;
}

void StageComputation::ApplyCoefficient(int32_t meterPulses, DeviceConfig& config) const
{
    if (m_index < 0)
        return;
    const Extended reference = Extended(m_ref.Pulses) * Extended(m_ref.PulseWeight);
    const Extended meter = Extended(meterPulses) * Extended(m_weight);
    const float k = StoreSingle(Divide(reference, meter));
    // The flow is formed again here, and divided by the rounded K.
    const float fl = StoreSingle(Divide(FlowExtended(m_ref), Extended(k)));
    config.SetValue(2 + m_index, k);   // K0..K4 are values 2..6
    config.SetValue(7 + m_index, fl);  // FL0..FL4 are values 7..11
}
