// The coefficient computation, without any window: the worked examples, the
// quarter pulse weight rule, the stage to K/FL mapping and the failures.

#include "coefficients.h"
#include "diameter_defaults.h"
#include "stages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

// The texts the wizard shows, without its locale: "%1.2f" and "%1.6f".
std::string Fixed(const char* format, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

constexpr int kDu50 = 4;

} // namespace

TEST(Coefficients, WorkedExampleStageOneSetsK4AndFL4)
{
    const StageComputation stage({5800, 0.1, 60}, kDu50, 1, false);
    EXPECT_DOUBLE_EQ(stage.Flow(), 34.8);
    EXPECT_EQ(stage.MeterWeight(), 0.15);  // 7 is not greater than 34.8: full weight

    DeviceConfig config = DefaultConfigFor(kDu50);
    const DeviceConfig before = config;
    EXPECT_EQ(Fixed("%1.2f", double(stage.ErrorPercent(3850))), "-0.43");
    stage.ApplyCoefficient(3850, config);
    EXPECT_EQ(Fixed("%1.6f", config.K4), "1.004329");
    EXPECT_EQ(Fixed("%1.6f", config.FL4), "34.650002");

    DeviceConfig expected = before;
    expected.K4 = config.K4;
    expected.FL4 = config.FL4;
    EXPECT_EQ(config, expected);  // nothing else moves
}

TEST(Coefficients, WorkedExampleStageFiveUsesAQuarterWeight)
{
    const StageComputation stage({250, 0.1, 600}, kDu50, 5, false);
    EXPECT_NEAR(stage.Flow(), 0.15, 1e-15);
    EXPECT_EQ(stage.MeterWeight(), 0.0375);  // 0.15 is below 7

    DeviceConfig config = DefaultConfigFor(kDu50);
    EXPECT_EQ(Fixed("%1.2f", double(stage.ErrorPercent(660))), "-1.00");
    stage.ApplyCoefficient(660, config);
    EXPECT_EQ(Fixed("%1.6f", config.K0), "1.010101");
    EXPECT_EQ(Fixed("%1.6f", config.FL0), "0.148500");
}

// K and FL follow the documented formula in extended precision, FL from the
// already rounded K.
TEST(Coefficients, FlowBreakPointIsFormedFromTheSinglePrecisionK)
{
    const ReferenceEntries ref{12345, 0.0123, 77.7};
    const StageComputation stage(ref, 2, 3, false);
    DeviceConfig config{};
    stage.ApplyCoefficient(4321, config);

    const long double nv = (long double)12345 * (long double)0.0123;
    const long double q = nv / 1000 / (long double)77.7 * 3600;
    const long double w = (long double)stage.MeterWeight();
    const float k = float(nv / ((long double)4321 * w));
    EXPECT_EQ(config.K2, k);
    EXPECT_EQ(config.FL2, float(q / (long double)k));
}

TEST(Coefficients, EachCalibrationStageReplacesExactlyItsOwnPair)
{
    // stage -> value numbers of K and FL (Dy 0, Ves 1, K0..K4 2..6, FL0..FL4 7..11)
    const struct {
        int stage;
        int k;
        int fl;
    } mapping[] = {{1, 6, 11}, {2, 5, 10}, {3, 4, 9}, {4, 3, 8}, {5, 2, 7}};
    for (const auto& m : mapping) {
        SCOPED_TRACE("stage " + std::to_string(m.stage));
        EXPECT_EQ(CoefficientIndexForStage(m.stage), 5 - m.stage);
        DeviceConfig config;
        for (int i = 0; i < kConfigValueCount; ++i)
            config.SetValue(i, 100.0f + float(i));
        config.Tail = {7, 8, 9};
        const DeviceConfig before = config;
        const StageComputation stage({1000, 0.5, 100}, 7, m.stage, false);
        stage.ApplyCoefficient(410, config);
        for (int i = 0; i < kConfigValueCount; ++i) {
            if (i == m.k || i == m.fl)
                EXPECT_NE(config.Value(i), before.Value(i)) << "value " << i;
            else
                EXPECT_EQ(config.Value(i), before.Value(i)) << "value " << i;
        }
        EXPECT_EQ(config.Tail, before.Tail);
    }
}

TEST(Coefficients, VerificationAndStagesOutsideOneToFiveChangeNoCoefficient)
{
    const struct {
        int stage;
        bool verification;
    } cases[] = {{1, true}, {2, true}, {3, true}, {0, false}, {6, false}, {-1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("stage " + std::to_string(c.stage) + (c.verification ? " verification" : " calibration"));
        const StageComputation stage({5800, 0.1, 60}, kDu50, c.stage, c.verification);
        EXPECT_FALSE(stage.SetsCoefficient());
        DeviceConfig config = DefaultConfigFor(kDu50);
        stage.ApplyCoefficient(3850, config);
        EXPECT_EQ(config, DefaultConfigFor(kDu50));
        EXPECT_EQ(Fixed("%1.2f", double(stage.ErrorPercent(3850))), "-0.43");
    }
}

TEST(Coefficients, AMeterCountingTheReferenceExactlyGetsZeroErrorAndKOne)
{
    // 5800 reference pulses of 0.15 l against 5800 meter pulses of 0.15 l.
    const StageComputation stage({5800, 0.15, 60}, kDu50, 2, false);
    DeviceConfig config{};
    EXPECT_EQ(Fixed("%1.2f", double(stage.ErrorPercent(5800))), "0.00");
    stage.ApplyCoefficient(5800, config);
    EXPECT_EQ(config.K3, 1.0f);
    EXPECT_EQ(config.FL3, float(stage.Flow()));

    // The same entries again give the same values.
    DeviceConfig again = config;
    stage.ApplyCoefficient(5800, again);
    EXPECT_EQ(again, config);
}

TEST(Coefficients, NegativeAndImplausibleEntriesAreComputedLikeAnyOther)
{
    const StageComputation stage({-5800, 0.1, 60}, kDu50, 1, false);
    EXPECT_LT(stage.Flow(), 0);
    EXPECT_EQ(stage.MeterWeight(), 0.0375);  // a negative flow is below Qmax/10
    DeviceConfig config{};
    stage.ApplyCoefficient(3850, config);
    EXPECT_LT(config.K4, 0);
    EXPECT_TRUE(std::isfinite(config.FL4));
}

// Qmax/10 against the reference flow, strictly: at exactly a tenth the full
// weight applies, anything smaller takes a quarter.
TEST(Coefficients, QuarterPulseWeightBelowATenthOfQmaxForEveryDiameter)
{
    const double weights[] = {0.015, 0.035, 0.05, 0.1, 0.15, 0.35, 0.6, 1.2, 2.5, 5.0};
    const double qmax[] = {6.5, 18, 30, 45, 70, 180, 285, 635, 1130, 2550};
    for (int d = 0; d < kDiameterIndexCount; ++d) {
        SCOPED_TRACE(DiameterNames[std::size_t(d)]);
        EXPECT_EQ(PulseWeightByDiameter[std::size_t(d)], weights[d]);
        EXPECT_EQ(QmaxByDiameter[std::size_t(d)], qmax[d]);
        const double tenth = qmax[d] / 10;
        EXPECT_EQ(MeterPulseWeight(d, tenth), weights[d]);
        EXPECT_EQ(MeterPulseWeight(d, qmax[d]), weights[d]);
        EXPECT_EQ(MeterPulseWeight(d, std::nextafter(tenth, 0.0)), weights[d] / 4);
        EXPECT_EQ(MeterPulseWeight(d, 0), weights[d] / 4);
    }
    EXPECT_THROW(MeterPulseWeight(-1, 1), std::out_of_range);
    EXPECT_THROW(MeterPulseWeight(10, 1), std::out_of_range);
}

TEST(Coefficients, TheReferenceFlowIsEvaluatedLeftToRight)
{
    // 7000 pulses of 0.1 l in 360 s: 0.7 m3 in a tenth of an hour.
    EXPECT_DOUBLE_EQ(ReferenceFlow({7000, 0.1, 360}), 7.0);
    // At the Ду 50 boundary computed from the entries, the full weight.
    const StageComputation atTenth({7000, 1, 3600}, kDu50, 1, false);
    EXPECT_EQ(atTenth.Flow(), 7.0);
    EXPECT_EQ(atTenth.MeterWeight(), 0.15);
}

TEST(Coefficients, DivisionByZeroEndsTheComputationInsteadOfGivingInfOrNaN)
{
    // A measuring time of zero: before any meter.
    EXPECT_THROW(StageComputation({5800, 0.1, 0}, kDu50, 1, false), FloatZeroDivide);
    EXPECT_THROW(StageComputation({0, 0.1, 0}, kDu50, 1, false), FloatZeroDivide);

    // A zero reference volume: the error itself.
    for (const ReferenceEntries ref : {ReferenceEntries{0, 0.1, 60}, ReferenceEntries{5800, 0, 60}}) {
        const StageComputation stage(ref, kDu50, 1, false);
        EXPECT_THROW((void)stage.ErrorPercent(3850), FloatZeroDivide);
        EXPECT_THROW((void)stage.ErrorPercent(0), FloatZeroDivide);
        DeviceConfig config = DefaultConfigFor(kDu50);
        EXPECT_THROW(stage.ApplyCoefficient(3850, config), FloatZeroDivide);  // K = 0, FL = Q / 0
        EXPECT_EQ(config, DefaultConfigFor(kDu50));
    }

    // A meter that gave no pulse: -100 % always, a coefficient never.
    const StageComputation calibration({5800, 0.1, 60}, kDu50, 1, false);
    EXPECT_EQ(Fixed("%1.2f", double(calibration.ErrorPercent(0))), "-100.00");
    DeviceConfig config = DefaultConfigFor(kDu50);
    EXPECT_THROW(calibration.ApplyCoefficient(0, config), FloatZeroDivide);
    EXPECT_EQ(config, DefaultConfigFor(kDu50));

    const StageComputation verification({5800, 0.1, 60}, kDu50, 1, true);
    EXPECT_EQ(Fixed("%1.2f", double(verification.ErrorPercent(0))), "-100.00");
    EXPECT_NO_THROW(verification.ApplyCoefficient(0, config));

    EXPECT_STREQ(FloatZeroDivide().what(), "Floating point division by zero");
}

TEST(Coefficients, ACoefficientBeyondSinglePrecisionIsRefusedNotStoredAsInfinity)
{
    const StageComputation stage({5800, 1e300, 60}, kDu50, 1, false);
    DeviceConfig config = DefaultConfigFor(kDu50);
    EXPECT_THROW(stage.ApplyCoefficient(3850, config), FloatOverflow);
    EXPECT_EQ(config, DefaultConfigFor(kDu50));
    EXPECT_THROW(ReferenceFlow({2000000000, 1e308, 1e-300}), FloatOverflow);
}

TEST(Stages, NamesAndSetPointsFollowTheFlowRowsOfTheDefaults)
{
    EXPECT_EQ(StageCountFor(false), 5);
    EXPECT_EQ(StageCountFor(true), 3);
    const char* calibration[] = {"FL4", "FL3", "FL2", "FL1", "FL0"};
    const char* verification[] = {"Qmax/2", "Qt2", "Qt1"};
    for (int s = 1; s <= 5; ++s)
        EXPECT_STREQ(StageName(false, s), calibration[s - 1]);
    for (int s = 1; s <= 3; ++s)
        EXPECT_STREQ(StageName(true, s), verification[s - 1]);

    // Ду 50: FL0..FL4 = 0.15 0.3 0.7 1.5 35; Ду 300's FL4 is 125.
    const double du50[] = {35, 1.5, 0.7, 0.3, 0.15};
    for (int s = 1; s <= 5; ++s)
        EXPECT_EQ(StageSetPoint(false, s, kDu50), du50[s - 1]);
    EXPECT_EQ(StageSetPoint(true, 1, kDu50), 35);
    EXPECT_EQ(StageSetPoint(true, 2, kDu50), 0.7);
    EXPECT_EQ(StageSetPoint(true, 3, kDu50), 0.3);
    EXPECT_EQ(StageSetPoint(false, 1, 9), 125);
    EXPECT_EQ(StageSetPoint(true, 3, 0), 0.03);

    EXPECT_THROW(StageName(false, 0), std::out_of_range);
    EXPECT_THROW(StageName(true, 4), std::out_of_range);
    EXPECT_THROW(StageSetPoint(false, 1, -1), std::out_of_range);
    EXPECT_THROW(StageSetPoint(false, 1, 10), std::out_of_range);
}
