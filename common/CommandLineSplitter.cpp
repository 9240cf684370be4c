#include "CommandLineSplitter.h"

namespace salvo {
namespace {

template <typename Char>
std::vector<std::basic_string<Char>> split(std::basic_string_view<Char> line, std::basic_string_view<Char> separators,
                                           std::vector<bool> *quoted = nullptr, bool *closed = nullptr)
{
    std::vector<std::basic_string<Char>> arguments;
    std::basic_string<Char> current;
    bool inQuotes = false, inArgument = false;
    for (const Char ch : line) {
        if (ch == Char('"')) {
            if (!inArgument && quoted)
                quoted->push_back(true);
            inQuotes = !inQuotes;
            inArgument = true;
        } else if (!inQuotes && separators.find(ch) != std::basic_string_view<Char>::npos) {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            if (!inArgument && quoted)
                quoted->push_back(false);
            current.push_back(ch);
            inArgument = true;
        }
    }
    if (inArgument)
        arguments.push_back(current);
    if (closed)
        *closed = !inQuotes;
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

SplitLine splitCommandLineMarked(std::string_view line, std::string_view separators)
{
    SplitLine out;
    out.arguments = split(line, separators, &out.quoted, &out.quotesClosed);
    return out;
}

} // namespace salvo
