#include "solver/solver_settings.h"

#include <gtest/gtest.h>
#include <omp.h>

namespace {

TEST(SolverSettings, DefaultsSettersAndGetters) {
    EXPECT_EQ(libsubgame_get_thread_count(), omp_get_max_threads());
    EXPECT_EQ(libsubgame_get_check_interval(), 25);
    EXPECT_EQ(libsubgame_get_target_accuracy(), 0.0);
    EXPECT_EQ(libsubgame_get_rake_fraction(), 0.0);
    for (int street = 1; street <= 3; ++street)
        EXPECT_EQ(libsubgame_get_recalc_accuracy(street), 0.0);

    libsubgame_set_thread_count(3);
    libsubgame_set_check_interval(-7);  // stored unchanged
    libsubgame_set_target_accuracy(0.125);
    libsubgame_set_recalc_accuracy(1.5, 2.5, 3.5);
    libsubgame_set_rake(0.05, 3.0);
    EXPECT_EQ(libsubgame_get_thread_count(), 3);
    EXPECT_EQ(libsubgame_get_check_interval(), -7);
    EXPECT_EQ(libsubgame_get_target_accuracy(), 0.125);
    EXPECT_EQ(libsubgame_get_recalc_accuracy(1), 1.5);
    EXPECT_EQ(libsubgame_get_recalc_accuracy(2), 2.5);
    EXPECT_EQ(libsubgame_get_recalc_accuracy(3), 3.5);
    EXPECT_EQ(libsubgame_get_recalc_accuracy(0), 0.0);
    EXPECT_EQ(libsubgame_get_rake_fraction(), 0.05);
    EXPECT_EQ(libsubgame_get_rake_cap(), 3.0);

    libsubgame_init(0);  // only creates the thread team
    libsubgame_set_thread_count(omp_get_max_threads());
    libsubgame_set_check_interval(25);
    libsubgame_set_target_accuracy(0);
    libsubgame_set_recalc_accuracy(0, 0, 0);
    libsubgame_set_rake(0, 0);
}

}  // namespace
