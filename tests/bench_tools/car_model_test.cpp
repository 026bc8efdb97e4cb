#include "bench/car_model.h"

#include <gtest/gtest.h>

namespace {

struct ModelCase {
    const char* word;
    bench::CarModel model;
    std::int16_t gameIndex;
};

constexpr ModelCase kModels[] = {
    {"saloon", bench::CarModel::Saloon, 135},
    {"van", bench::CarModel::Van, 143},
    {"taxi", bench::CarModel::Taxi, 150},
    {"sports", bench::CarModel::Sports, 145},
};

TEST(CarModel, WordsAndGameIndices) {
    for (const ModelCase& c : kModels) {
        SCOPED_TRACE(c.word);
        EXPECT_STREQ(bench::modelWord(c.model), c.word);
        EXPECT_EQ(bench::modelFromWord(c.word), c.model);
        EXPECT_EQ(bench::gameModelIndex(c.model), c.gameIndex);
    }
}

TEST(CarModel, WordsAreReadInAnyCaseAndNothingElse) {
    EXPECT_EQ(bench::modelFromWord("TAXI"), bench::CarModel::Taxi);
    EXPECT_EQ(bench::modelFromWord("Sports"), bench::CarModel::Sports);
    for (const char* word : {"", "tax", "taxis", "truck", "saloon "}) {
        EXPECT_FALSE(bench::modelFromWord(word).has_value()) << word;
    }
}

} // namespace
