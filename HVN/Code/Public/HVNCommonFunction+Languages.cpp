// The language helpers of HVNCommonFunction and the NSArray(Language) membership helpers.

#include "HVN/Code/Public/HVNCommonFunction.h"
#include "Platform/Bundle.h"
#include "Platform/Locale.h"
#include "Platform/PropertyList.h"

namespace {

// The bundle's language table: base code -> entry. Read on every call (the file is small,
// and tests switch bundles); an unreadable table knows no language.
hvn::Value languageTable() {
    std::string path = hvn::Bundle::pathForResource("Language", "plist");
    if (path.empty()) return hvn::Value(hvn::Dictionary{});
    auto table = hvn::PropertyList::readFile(path);
    if (!table || !table->isDictionary()) return hvn::Value(hvn::Dictionary{});
    return *table;
}

hvn::Value englishEntry() {
    return hvn::Value(hvn::Dictionary{
        {"country", hvn::Value("us")}, {"language", hvn::Value("English")}, {"localCode", hvn::Value("en")}});
}

// The base code split at "_" when the code has one, else at "-".
std::string baseCodeUnderscoreFirst(const std::string& code) {
    char sep = code.find('_') != std::string::npos ? '_' : '-';
    return code.substr(0, code.find(sep));
}

// A copy of the table's entry for base with "language" = the display name of code in
// displayLocale (first character upper-cased) and "localCode" = code; nullopt when the table
// has no dictionary entry for base. When no display name exists the table's name stays.
std::optional<hvn::Value> entryFor(const hvn::Value& table, const std::string& base, const std::string& code,
                                   const std::string& displayLocale) {
    const hvn::Value* found = table.find(base);
    if (!found || !found->isDictionary()) return std::nullopt;
    hvn::Value entry = *found;
    if (auto name = hvn::Locale::displayName(code, displayLocale)) {
        entry.dictionary()["language"] = hvn::Locale::upperFirst(*name);
    }
    entry.dictionary()["localCode"] = code;
    return entry;
}

void appendUnlessPresent(hvn::Array& list, hvn::Value entry) {
    if (!Language::containsDic(list, entry)) list.push_back(std::move(entry));
}

}  // namespace

std::string HVNCommonFunction::getNationCodeByLanguageCode(const std::string& languageCode) {
    if (auto dash = languageCode.find('-'); dash != std::string::npos) return languageCode.substr(0, dash);
    if (auto underscore = languageCode.find('_'); underscore != std::string::npos) {
        return languageCode.substr(0, underscore);
    }
    return languageCode;
}

hvn::Array HVNCommonFunction::systemLanguages() {
    hvn::Value table = languageTable();
    hvn::Array result;
    for (const auto& code : hvn::Locale::preferredLanguages()) {
        if (auto entry = entryFor(table, getNationCodeByLanguageCode(code), code, code)) {
            result.push_back(std::move(*entry));
        }
    }
    return result;
}

hvn::Array HVNCommonFunction::unableDeleteLanguages() {
    hvn::Value table = languageTable();
    hvn::Array result{englishEntry()};

    auto preferred = hvn::Locale::preferredLanguages();
    for (size_t i = 0; i < preferred.size() && i < 2; ++i) {
        const std::string& code = preferred[i];
        if (auto entry = entryFor(table, baseCodeUnderscoreFirst(code), code, code)) {
            appendUnlessPresent(result, std::move(*entry));
        }
    }

    if (auto keyboard = inputSource()) {
        for (const auto& code : *keyboard) {
            std::string base = baseCodeUnderscoreFirst(code);
            if (auto entry = entryFor(table, base, code, base))
                appendUnlessPresent(result, std::move(*entry));
        }
    }

    // Every preferred variant of a kept language is kept too. Entries are checked against the
    // result only, so a variant reached from two kept entries is gathered twice.
    hvn::Array gathered;
    for (const auto& kept : result) {
        for (auto& variant : thesameKindLanguages(kept["localCode"].asString())) {
            if (!Language::containsDic(result, variant)) gathered.push_back(std::move(variant));
        }
    }
    for (auto& entry : gathered) result.push_back(std::move(entry));
    return result;
}

hvn::Array HVNCommonFunction::changeLanguageNameToEnglish(const hvn::Array& entries) {
    hvn::Array result;
    for (const auto& entry : entries) {
        hvn::Value copy = entry;
        if (copy.isDictionary()) {
            if (auto name = hvn::Locale::displayName(copy["localCode"].asString(), "en")) {
                copy.dictionary()["language"] = *name;
            }
        }
        appendUnlessPresent(result, std::move(copy));
    }
    return result;
}

hvn::Array HVNCommonFunction::thesameKindLanguages(const std::string& languageCode) {
    std::string base = getNationCodeByLanguageCode(languageCode);
    hvn::Array result;
    for (auto& entry : systemLanguages()) {
        if (getNationCodeByLanguageCode(entry["localCode"].asString()) == base)
            result.push_back(std::move(entry));
    }
    return result;
}

// --- NSArray(Language) ---

namespace Language {

bool containsDic(const hvn::Array& array, const hvn::Value& dictionary) {
    return objectEqualToDic(array, dictionary) != nullptr;
}

const hvn::Value* objectEqualToDic(const hvn::Array& array, const hvn::Value& dictionary) {
    for (const auto& element : array) {
        if (element.isDictionary() && element == dictionary) return &element;
    }
    return nullptr;
}

}  // namespace Language
