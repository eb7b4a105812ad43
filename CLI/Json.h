// Conversion between hvn::Value and JSON for the command line's input and output.
// Dates become ISO-8601 texts in UTC ("2024-05-01T12:00:00Z", fractions of a second when
// there are any), data becomes base64 text. Reading JSON, a text in exactly that date form
// becomes a date again; every other text stays a text (base64 is not guessed).
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "Platform/Value.h"

namespace cli::json {

nlohmann::json toJson(const hvn::Value& value);
hvn::Value fromJson(const nlohmann::json& json);

// Parses JSON text; nullopt when the text is not JSON.
std::optional<hvn::Value> parse(const std::string& text);
// The value as JSON text: objects with sorted keys, indented by two spaces, UTF-8 kept as
// it is (invalid UTF-8 is replaced, never fatal).
std::string dump(const hvn::Value& value);

std::string isoDate(hvn::Date date);
// A UTC date-time "YYYY-MM-DDTHH:MM:SS[.fraction]Z"; nullopt for any other text.
std::optional<hvn::Date> parseIsoDate(const std::string& text);
std::string base64(const hvn::Data& data);
// The exact bytes of text in base64 when text is not well-formed UTF-8 (see Utf8.h), for
// a key beside the text itself, whose JSON form shows U+FFFD for the bytes it cannot hold;
// nullopt when the text is well-formed and so stands for itself.
std::optional<std::string> base64UnlessUtf8(const std::string& text);

}  // namespace cli::json
