#include "Sentrel/VirusDatabase.h"

VirusDatabase::VirusDatabase(std::optional<std::string> path) : FMDatabase(std::move(path), true) {}

std::unique_ptr<VirusDatabase> VirusDatabase::databaseWithPath(std::optional<std::string> path) {
    return std::make_unique<VirusDatabase>(std::move(path));
}

VirusDatabase::~VirusDatabase() = default;
