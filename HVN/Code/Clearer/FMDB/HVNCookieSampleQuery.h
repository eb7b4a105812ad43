// The look-up of one cookie domain in the bad-cookie table ("Cookies.db", HVN_BAD_COOKIES),
// shared by the program's and the library's rule-database managers.
#pragma once

#include <optional>
#include <string>

#include "HVN/Code/Clearer/FMDB/FMDatabase.h"
#include "Platform/Value.h"

// Opens cookiesDb (without creating it), runs "select * from HVN_BAD_COOKIES where domain =
// ?" with the encrypted sample, closes it, and gives the first row. The encryption is
// deterministic, so this is an exact, case-sensitive match of the whole domain. nullopt
// when nothing matches or the database cannot be opened.
std::optional<hvn::Dictionary> badCookieRowBySample(FMDatabase& cookiesDb, const std::string& sample);
