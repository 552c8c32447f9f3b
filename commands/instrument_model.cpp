// The instrument model table and the model codes derived from it.
#include "commands/instrument_model.h"

#include <cstddef>
#include <iterator>

namespace vesk {
namespace {

// Configuration of the instrument family: the numbers of its seven models.
// They are data, not logic; change them here and nowhere else.
constexpr std::uint16_t kModelNumbers[] = {
    5310,  // model 1
    5520,  // model 2
    6130,  // model 3
    6380,  // model 4
    6460,  // model 5
    6550,  // model 6
    7250,  // model 7
};

// Which model each instrument type is; several types report the same model
// (4, 8, 10 and 5, 9, 11). Types not listed (3, 7, 13 and up, negative) have
// no model.
struct TypeModel {
  std::int16_t instrumentType;
  std::size_t model;  // index into kModelNumbers
};
constexpr TypeModel kTypeModels[] = {
    {0, 0}, {1, 1}, {2, 2}, {4, 3}, {8, 3}, {10, 3}, {5, 4}, {9, 4}, {11, 4}, {6, 5}, {12, 6},
};

constexpr bool TableIsWellFormed() {
  for (std::uint16_t number : kModelNumbers) {
    if (number < 1000 || number > 9999) return false;  // four decimal digits
  }
  for (const TypeModel& entry : kTypeModels) {
    if (entry.model >= std::size(kModelNumbers)) return false;
  }
  return true;
}
static_assert(std::size(kModelNumbers) == 7 && TableIsWellFormed());
static_assert(PackedBcd(6380) == 0x6380 && PackedBcd(1009) == 0x1009);

}  // namespace

std::optional<std::uint16_t> ModelCodeForInstrumentType(std::int16_t instrumentType) {
  for (const TypeModel& entry : kTypeModels) {
    if (entry.instrumentType == instrumentType) return PackedBcd(kModelNumbers[entry.model]);
  }
  return std::nullopt;
}

InstrumentModelCode InstrumentModelCodeFor(std::int16_t instrumentType) {
  InstrumentModelCode field{};
  if (const std::optional<std::uint16_t> code = ModelCodeForInstrumentType(instrumentType)) {
    field[0] = static_cast<std::uint8_t>(*code >> 8);
    field[1] = static_cast<std::uint8_t>(*code);
  }
  return field;
}

}  // namespace vesk
