#pragma once
// Splits a command line into its arguments, the one rule the program and the
// archiver components share: a double quote opens or closes a quoted part and
// is itself dropped, a separator outside quotes ends an argument (runs of them
// count as one), and a quoted part makes an argument even when it is empty
// (so "" is an empty argument). There is no escape: a double quote can never be
// part of an argument, so the program never puts a path that holds one on a
// command line. Inside quotes every other character (blanks, tabs, ';', '$',
// line breaks, a leading '-') is plain text. Plain C++: the program passes
// UTF-16 text, the components 8-bit text.
#include <string>
#include <string_view>
#include <vector>

namespace salvo {

// `separators`: the characters that separate arguments outside quotes.
std::vector<std::string> splitCommandLine(std::string_view line, std::string_view separators = " ");
std::vector<std::u16string> splitCommandLine(std::u16string_view line, std::u16string_view separators = u" ");

// The arguments with what a reader of switches needs besides: whether each
// began with a double quote (such an argument is a name, never a switch), and
// whether every quote was closed (a line with an odd number of quotes is not
// one the program makes).
struct SplitLine {
    std::vector<std::string> arguments;
    std::vector<bool> quoted;
    bool quotesClosed = true;
};
SplitLine splitCommandLineMarked(std::string_view line, std::string_view separators = " ");

} // namespace salvo
