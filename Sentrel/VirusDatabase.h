// Sentrel's instance of the SQLite layer: the same connection as FMDatabase, writing the
// library's diagnostic lines through hvn::Log (failed opens and closes, busy give-ups,
// failed steps, misuse, missing columns, traced statements).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"

class __attribute__((visibility("default"))) VirusDatabase : public FMDatabase {
public:
    explicit VirusDatabase(std::optional<std::string> path);
    static std::unique_ptr<VirusDatabase> databaseWithPath(std::optional<std::string> path);
    ~VirusDatabase() override;
};
