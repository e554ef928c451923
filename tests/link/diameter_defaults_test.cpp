// The per-diameter defaults live in src/config; they are tested here beside
// the payload they fill until the config folder has unit tests of its own.

#include "diameter_defaults.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(DiameterDefaults, NamesInComboOrder)
{
    const char* expected[] = {"Ду 15", "Ду 25", "Ду 32", "Ду 40", "Ду 50",
                              "Ду 80", "Ду 100", "Ду 150", "Ду 200", "Ду 300"};
    for (int i = 0; i < kDiameterCount; ++i)
        EXPECT_STREQ(DiameterNames[size_t(i)], expected[i]) << i;
    // UTF-8 in the source: "Ду" is four bytes.
    EXPECT_EQ(std::strlen(DiameterNames[0]), 7u);
}

TEST(DiameterDefaults, CellsOfTheTable)
{
    struct Cell {
        int row, column;
        double value;
    };
    const Cell cells[] = {
        {0, 0, 0.015}, {0, 5, 0.08}, {0, 9, 0.3},
        {1, 0, 1},     {1, 1, 10},   {1, 3, 100}, {1, 8, 1000},
        {2, 4, 1},     {6, 9, 1},    {12, 7, 1},
        {7, 1, 0.035}, {8, 9, 12.7}, {9, 6, 2.8}, {10, 8, 22.6},
        {11, 0, 3.3},  {11, 6, 142}, {11, 8, 565},
        {11, 9, 125},  // Ду 300: 125, below Ду 200's 565
    };
    for (const auto& c : cells)
        EXPECT_EQ(DiameterDefaults[c.row][c.column], c.value) << "row " << c.row << " column " << c.column;
    // Row 0 is the nominal size in metres: "Ду N" is N mm.
    for (int i = 0; i < kDiameterCount; ++i) {
        const int mm = std::stoi(std::string(DiameterNames[size_t(i)]).substr(5));
        EXPECT_DOUBLE_EQ(DiameterDefaults[0][i] * 1000, mm) << DiameterNames[size_t(i)];
    }
}

TEST(DiameterDefaults, ConfigForADiameter)
{
    const DeviceConfig c = DefaultConfigFor(1);  // Ду 25
    const float expected[] = {0.025f, 10, 1, 1, 1, 1, 1, 0.035f, 0.09f, 0.17f, 0.35f, 9, 1};
    for (int n = 0; n < kConfigValueCount; ++n)
        EXPECT_EQ(c.Value(n), expected[n]) << n;
    EXPECT_EQ(c.Tail, (std::array<uint8_t, 3>{}));
    EXPECT_EQ(DefaultConfigFor(9).FL4, 125.0f);
    EXPECT_EQ(DefaultConfigFor(8).Ves, 1000.0f);
    EXPECT_THROW(DefaultConfigFor(-1), std::out_of_range);
    EXPECT_THROW(DefaultConfigFor(10), std::out_of_range);
}

}  // namespace
