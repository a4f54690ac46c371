// The traversal's per-hand row kernels: the EV boost scalings and row accumulation.
#include "solver/row_scaling.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Row {
    PooledArray row;
    explicit Row(const std::vector<float>& values) {
        ConstructPooledArray(&row, static_cast<int32_t>(values.size()), false, false);
        for (size_t i = 0; i < values.size(); ++i) row.data[i] = values[i];
    }
    ~Row() { ReleasePooledArray(&row); }
    std::vector<float> values() const { return std::vector<float>(row.data, row.data + row.count); }
};

TEST(RowScaling, BoostScalings) {
    // A boost of 0.5: fold rows x 0.5; showdown rows 2 -> 3 and -3 -> -2; same-street decisions
    // 2 -> 3 with -3 kept.
    Row fold({2.0f, -3.0f});
    ScaleRow(&fold.row, 1.0f - 0.5f);
    EXPECT_EQ(fold.values(), (std::vector<float>{1.0f, -1.5f}));
    Row showdown({2.0f, -3.0f, 0.0f});
    ScaleRowBySign(&showdown.row, 1.5f, static_cast<float>(1.0 / 1.5));
    EXPECT_FLOAT_EQ(showdown.values()[0], 3.0f);
    EXPECT_FLOAT_EQ(showdown.values()[1], -2.0f);
    EXPECT_EQ(showdown.values()[2], 0.0f);
    Row same({2.0f, -3.0f, 0.0f});
    ScalePositiveRow(&same.row, 1.5f);
    EXPECT_EQ(same.values(), (std::vector<float>{3.0f, -3.0f, 0.0f}));
    // Rows without data are left alone.
    PooledArray empty;
    empty.count = 4;
    ScaleRow(&empty, 2.0f);
    ScalePositiveRow(&empty, 2.0f);
    ScaleRowBySign(&empty, 2.0f, 3.0f);
    EXPECT_EQ(empty.data, nullptr);
    EXPECT_EQ(empty.count, 4);
}

TEST(RowScaling, AccumulateRow) {
    PooledArray dst;
    dst.count = 3;
    PooledArray none;
    none.count = 3;
    AccumulateRow(&dst, &none);  // nothing to add: dst stays without data
    EXPECT_EQ(dst.data, nullptr);
    Row src({1.0f, 2.0f, 3.0f});
    AccumulateRow(&dst, &src.row);  // dst gets zeroed storage of its own count first
    ASSERT_NE(dst.data, nullptr);
    AccumulateRow(&dst, &src.row);
    EXPECT_EQ(std::vector<float>(dst.data, dst.data + 3), (std::vector<float>{2.0f, 4.0f, 6.0f}));
    ReleasePooledArray(&dst);
}

}  // namespace
