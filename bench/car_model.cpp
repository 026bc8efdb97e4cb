#include "bench/car_model.h"

#include "bench/text.h"

namespace bench {

namespace {

struct ModelRow {
    CarModel model;
    const char* word;
    std::int16_t gameIndex;
};

constexpr ModelRow kRows[] = {
    {CarModel::Saloon, "saloon", 135}, // sentinel
    {CarModel::Van, "van", 143},       // pony
    {CarModel::Taxi, "taxi", 150},     // taxi
    {CarModel::Sports, "sports", 145}, // cheetah
};

const ModelRow& rowOf(CarModel model) {
    for (const ModelRow& row : kRows) {
        if (row.model == model) {
            return row;
        }
    }
    return kRows[0];
}

} // namespace

const char* modelWord(CarModel model) {
    return rowOf(model).word;
}

std::optional<CarModel> modelFromWord(std::string_view word) {
    for (const ModelRow& row : kRows) {
        if (sameIgnoringCase(word, row.word)) {
            return row.model;
        }
    }
    return std::nullopt;
}

std::int16_t gameModelIndex(CarModel model) {
    return rowOf(model).gameIndex;
}

} // namespace bench
