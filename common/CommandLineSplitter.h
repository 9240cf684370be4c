#pragma once
// Splits a command line into its arguments, the one rule the program and the
// archiver components share: a double quote opens or closes a quoted part and
// is itself dropped, a separator outside quotes ends an argument (runs of them
// count as one), and a quoted part makes an argument even when it is empty
// (so "" is an empty argument). Plain C++: the program passes UTF-16 text, the
// components 8-bit text.
#include <string>
#include <string_view>
#include <vector>

namespace salvo {

// `separators`: the characters that separate arguments outside quotes.
std::vector<std::string> splitCommandLine(std::string_view line, std::string_view separators = " ");
std::vector<std::u16string> splitCommandLine(std::u16string_view line, std::u16string_view separators = u" ");

} // namespace salvo
