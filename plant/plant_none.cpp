// The plant of a build without libpq (the Windows build made on Debian): none is reached,
// and every attempt says so.
#include "plant/plant.h"

namespace pelliton::plant {

namespace {

constexpr char kNoPlant[] = "this build delivers to no plant";

}  // namespace

std::unique_ptr<Plant> Plant::Connect(const std::string& /*url*/, std::string* error) {
  *error = kNoPlant;
  return nullptr;
}

// No Plant is ever made here; these only complete the class.
Plant::~Plant() = default;

bool Plant::Deliver(const std::vector<journal::JournalRecord>& /*records*/, std::string* error) {
  *error = kNoPlant;
  return false;
}

bool Plant::ForEach(const PlantQuery& /*query*/,
                    const std::function<bool(const journal::JournalRecord&)>& /*each*/,
                    std::string* error) {
  *error = kNoPlant;
  return false;
}

bool Plant::Findings(std::vector<Finding>* /*findings*/, std::string* error) {
  *error = kNoPlant;
  return false;
}

bool InitPlant(const std::string& /*url*/, std::vector<std::string>* /*done*/, std::string* error) {
  *error = kNoPlant;
  return false;
}

}  // namespace pelliton::plant
