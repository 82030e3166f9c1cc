#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "spacetime_test_util.hpp"

namespace stview {
namespace {

using Table = std::vector<SpaceTimeOffset>;

// Each table, from both constructors: distinct non-centre offsets within its radius, closed under
// negation, ascending (dt, dy, dx) before its temporal tail (the reduced tables: own frame only).
TEST(NeighbourTables, EntriesAndSymmetry) {
    const FrameBuffer plain, sized(5);
    for (const FrameBuffer* b : {&plain, &sized}) {
        const std::vector<std::tuple<Table, int, Table>> tables = {
            {{b->Neighbours26.begin(), b->Neighbours26.end()}, 1, {}},
            {{b->Neighbours10.begin(), b->Neighbours10.end()}, 1, {{1, 0, 0}, {-1, 0, 0}}},
            {{b->Neighbours124.begin(), b->Neighbours124.end()}, 2, {}},
            {{b->Neighbours28.begin(), b->Neighbours28.end()},
             2,
             {{-2, 0, 0}, {-1, 0, 0}, {1, 0, 0}, {2, 0, 0}}}};
        for (const auto& [t, radius, tail] : tables) {
            SCOPED_TRACE(t.size());
            EXPECT_EQ(std::count(t.begin(), t.end(), SpaceTimeOffset{0, 0, 0}), 0);
            for (const SpaceTimeOffset o : t) {
                EXPECT_EQ(std::count(t.begin(), t.end(), o), 1);
                EXPECT_EQ(std::count(t.begin(), t.end(), SpaceTimeOffset{-o.dt, -o.dy, -o.dx}), 1);
                EXPECT_LE(std::max({std::abs(o.dt), std::abs(o.dy), std::abs(o.dx)}), radius);
            }
            const auto split = t.end() - static_cast<long>(tail.size());
            EXPECT_EQ(Table(split, t.end()), tail);
            EXPECT_TRUE(std::is_sorted(t.begin(), split, [](auto a, auto b) {
                return std::tie(a.dt, a.dy, a.dx) < std::tie(b.dt, b.dy, b.dx);
            }));
            EXPECT_TRUE(tail.empty() ||
                        std::all_of(t.begin(), split, [](auto o) { return o.dt == 0; }));
        }
    }
}

}  // namespace
}  // namespace stview
