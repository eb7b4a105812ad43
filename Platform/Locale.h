// Locale services: display names of language identifiers (ICU), the user's preferred
// languages and the languages of the keyboard layout. Every function may be called from
// any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hvn::Locale {

// The display name of a language identifier ("en", "zh-Hans", "pt-BR", also "pt_BR") in the
// language of displayLocale, as ICU names it ("English", "中文（简体）", "português (Brasil)").
// nullopt when ICU has no name for the identifier's language in that locale (an unknown code,
// an empty identifier).
std::optional<std::string> displayName(const std::string& identifier, const std::string& displayLocale);

// The text with its first character upper-cased (Unicode, so "é" gives "É"); the rest unchanged.
std::string upperFirst(const std::string& text);

// The user's preferred languages, most preferred first: "AppleLanguages" of the standard user
// defaults when it holds at least one code (an array of strings, or one string); otherwise
// languagesFromEnvironment(). May be empty.
std::vector<std::string> preferredLanguages();

// The languages of LANGUAGE (a ":"-separated list), followed by the locale of the first of
// LC_ALL, LC_MESSAGES, LANG that is set and not empty, each converted with
// languageCodeFromPosixLocale; "C" and "POSIX" are left out, and so are repeats.
std::vector<std::string> languagesFromEnvironment();

// A POSIX locale name ("pt_BR.UTF-8", "zh_CN", "sr_RS@latin", "fr") as a language code in the
// style of preferred languages: "pt-BR", "zh-Hans", "sr-Latn", "fr". The region is kept only
// for the regional variants that have their own localisations (en-GB, en-AU, en-CA, en-IN,
// fr-CA, es-MX, es-419, pt-BR, pt-PT, zh-HK); Chinese becomes zh-Hans or zh-Hant. Empty for
// "C", "POSIX" and text that is not a locale name.
std::string languageCodeFromPosixLocale(const std::string& posixLocale);

// The languages of the current keyboard layout of the session, when known: the first layout of
// XKB_DEFAULT_LAYOUT, else of "LayoutList" in ~/.config/kxkbrc, else of XKBLAYOUT in
// /etc/default/keyboard under the system root. Empty when none is known or the layout has no
// language in the table.
std::vector<std::string> keyboardInputLanguages();

// The language codes of one XKB layout name ("us" -> en, "ch" -> de, fr, it); empty when unknown.
std::vector<std::string> languagesOfXkbLayout(const std::string& layout);

}  // namespace hvn::Locale
