#pragma once
// Menu and button captions by string id. The Japanese set (ids 101 to 141) is
// the one in use; the English set (201 to 241) has the same layout, 100 above.
#include <QString>

namespace salvo {

namespace str {
inline constexpr int kJapaneseBase = 100;
inline constexpr int kEnglishBase = 200;
inline constexpr int FileMenu = 1, Quit = 2, ModeExtract = 3, ModeArchive = 4, Start = 5,
                     LoadFileList = 6, SaveFileList = 7, Filtering = 8, Sort = 9, ToolMenu = 11,
                     DllDown = 12, OptionMenu = 13, OptGeneral = 14, OptExtract = 15,
                     OptArchive = 16, ErrorLog = 17, HelpMenu = 21, Help = 22, OnlineHelp = 23,
                     About = 24, StartExtract = 31, Option = 32, StartArchive = 41;
} // namespace str

// The text of string `id` (base + offset); empty for an unknown id.
QString captionText(int id);
// The caption in use: the Japanese text of an offset.
inline QString caption(int offset)
{
    return captionText(str::kJapaneseBase + offset);
}

} // namespace salvo
