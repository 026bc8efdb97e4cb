#pragma once
// The car models the bench places, their words in scenarios and the game's
// model index each one stands for.
#include <cstdint>
#include <optional>
#include <string_view>

namespace bench {

enum class CarModel { Saloon, Van, Taxi, Sports };

inline constexpr CarModel kCarModels[] = {CarModel::Saloon, CarModel::Van, CarModel::Taxi,
                                          CarModel::Sports};

// "saloon", "van", "taxi", "sports".
const char* modelWord(CarModel model);
// The model of a word, in any letter case; empty for an unknown word.
std::optional<CarModel> modelFromWord(std::string_view word);
// The Vice City model index of the car it stands for (sentinel, pony, taxi, cheetah).
std::int16_t gameModelIndex(CarModel model);

} // namespace bench
