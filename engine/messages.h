// The error texts in the seven languages of the message table.
#pragma once

namespace ostrelin {

constexpr int kLanguageFrench = 0;
constexpr int kLanguageEnglish = 1;
constexpr int kLanguageGerman = 2;
constexpr int kLanguageDutch = 3;
constexpr int kLanguageSpanish = 4;
constexpr int kLanguageItalian = 5;
constexpr int kLanguageChinese = 6;

// The sixteen texts (Windows-1252) of a language code; any unknown code gives English.
const char* const* MessageTable(int language);

}  // namespace ostrelin
