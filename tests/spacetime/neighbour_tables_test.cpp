#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "spacetime/frame_buffer.hpp"

namespace stview {
namespace {

using Table = std::vector<SpaceTimeOffset>;

template <class A>
Table asVector(const A& a) {
    return Table(a.begin(), a.end());
}

bool contains(const Table& t, SpaceTimeOffset o) {
    return std::find(t.begin(), t.end(), o) != t.end();
}

TEST(NeighbourTables, EachTableIsSymmetricWithoutCentreOrDuplicates) {
    const FrameBuffer buffer;
    const std::vector<std::pair<Table, int>> tables = {{asVector(buffer.Neighbours26), 1},
                                                       {asVector(buffer.Neighbours10), 1},
                                                       {asVector(buffer.Neighbours124), 2},
                                                       {asVector(buffer.Neighbours28), 2}};
    for (const auto& [table, radius] : tables) {
        SCOPED_TRACE(table.size());
        EXPECT_FALSE(contains(table, {0, 0, 0}));
        for (std::size_t i = 0; i < table.size(); ++i) {
            const SpaceTimeOffset o = table[i];
            EXPECT_TRUE(contains(table, {-o.dt, -o.dy, -o.dx}));
            EXPECT_LE(std::max({std::abs(o.dt), std::abs(o.dy), std::abs(o.dx)}), radius);
            EXPECT_EQ(std::count(table.begin(), table.end(), o), 1);
        }
    }
}

TEST(NeighbourTables, CubesRunDtOutermostDxInnermost) {
    const FrameBuffer buffer;
    const auto& n26 = buffer.Neighbours26;
    EXPECT_EQ(n26[0], (SpaceTimeOffset{-1, -1, -1}));
    EXPECT_EQ(n26[1], (SpaceTimeOffset{-1, -1, 0}));
    EXPECT_EQ(n26[12], (SpaceTimeOffset{0, 0, -1}));
    EXPECT_EQ(n26[13], (SpaceTimeOffset{0, 0, 1}));
    EXPECT_EQ(n26[25], (SpaceTimeOffset{1, 1, 1}));
    const auto& n124 = buffer.Neighbours124;
    EXPECT_EQ(n124[0], (SpaceTimeOffset{-2, -2, -2}));
    EXPECT_EQ(n124[61], (SpaceTimeOffset{0, 0, -1}));
    EXPECT_EQ(n124[62], (SpaceTimeOffset{0, 0, 1}));
    EXPECT_EQ(n124[123], (SpaceTimeOffset{2, 2, 2}));
}

TEST(NeighbourTables, ReducedTablesEndWithTheirTemporalEntries) {
    const FrameBuffer buffer;
    const Table n10 = {{0, -1, -1}, {0, -1, 0}, {0, -1, 1}, {0, 0, -1}, {0, 0, 1},
                       {0, 1, -1},  {0, 1, 0},  {0, 1, 1},  {1, 0, 0},  {-1, 0, 0}};
    EXPECT_EQ(asVector(buffer.Neighbours10), n10);
    const auto& n28 = buffer.Neighbours28;
    for (int i = 0; i < 24; ++i) EXPECT_EQ(n28[i].dt, 0) << i;
    EXPECT_EQ(n28[0], (SpaceTimeOffset{0, -2, -2}));
    EXPECT_EQ(n28[23], (SpaceTimeOffset{0, 2, 2}));
    EXPECT_EQ(n28[24], (SpaceTimeOffset{-2, 0, 0}));
    EXPECT_EQ(n28[25], (SpaceTimeOffset{-1, 0, 0}));
    EXPECT_EQ(n28[26], (SpaceTimeOffset{1, 0, 0}));
    EXPECT_EQ(n28[27], (SpaceTimeOffset{2, 0, 0}));
}

TEST(NeighbourTables, BothConstructorsFillTheSameTables) {
    const FrameBuffer plain;
    const FrameBuffer sized(5);
    EXPECT_EQ(asVector(plain.Neighbours26), asVector(sized.Neighbours26));
    EXPECT_EQ(asVector(plain.Neighbours10), asVector(sized.Neighbours10));
    EXPECT_EQ(asVector(plain.Neighbours124), asVector(sized.Neighbours124));
    EXPECT_EQ(asVector(plain.Neighbours28), asVector(sized.Neighbours28));
}

}  // namespace
}  // namespace stview
