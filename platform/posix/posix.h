// POSIX platform helpers shared by the native services.
#pragma once

#include <string>

namespace ostrelin::platform::posix {

// The scratch directory: TMPDIR or TMP when it names a writable directory, else /tmp.
std::string TemporaryDirectory();

// Converts Windows-1252 text to UTF-8 for display.
std::string Cp1252ToUtf8(const char* text);

}  // namespace ostrelin::platform::posix
