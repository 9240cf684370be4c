#include "CommandLineSplitter.h"

namespace salvo {
namespace {

template <typename Char>
std::vector<std::basic_string<Char>> split(std::basic_string_view<Char> line, std::basic_string_view<Char> separators)
{
    std::vector<std::basic_string<Char>> arguments;
    std::basic_string<Char> current;
    bool inQuotes = false, inArgument = false;
    for (const Char ch : line) {
        if (ch == Char('"')) {
            inQuotes = !inQuotes;
            inArgument = true;
        } else if (!inQuotes && separators.find(ch) != std::basic_string_view<Char>::npos) {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current.push_back(ch);
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(current);
    return arguments;
}

} // namespace

std::vector<std::string> splitCommandLine(std::string_view line, std::string_view separators)
{
    return split(line, separators);
}

std::vector<std::u16string> splitCommandLine(std::u16string_view line, std::u16string_view separators)
{
    return split(line, separators);
}

} // namespace salvo
