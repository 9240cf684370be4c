#include "StringTable.h"

#include <array>
#include <utility>

namespace salvo {
namespace {

struct Entry {
    int offset;
    const char *japanese;
    const char *english;
};

constexpr std::array kEntries{
    Entry{str::FileMenu, "ファイル(&F)", "&File"},
    Entry{str::Quit, "終了(&X)", "Quit(&X)"},
    Entry{str::ModeExtract, "解凍モード(&E)", "&Extract Mode"},
    Entry{str::ModeArchive, "圧縮モード(&R)", "A&rchive Mode"},
    Entry{str::Start, "開始(&G)", "Start(&G)"},
    Entry{str::LoadFileList, "ファイルリストの読み込み", "Load FileList"},
    Entry{str::SaveFileList, "ファイルリストの保存", "Save FileList"},
    Entry{str::Filtering, "フィルタリング(&F)", "&Filtering"},
    Entry{str::Sort, "ソート(&S)", "&Sort"},
    Entry{str::ToolMenu, "ツール(&T)", "&Tools"},
    Entry{str::DllDown, "&DLLダウンロード", "DLL &Download"},
    Entry{str::OptionMenu, "オプション(&O)", "&Options"},
    Entry{str::OptGeneral, "一般(&G)", "&General"},
    Entry{str::OptExtract, "解凍(&E)", "&Extract"},
    Entry{str::OptArchive, "圧縮(&A)", "&Archive"},
    Entry{str::ErrorLog, "エラーログの表示(&L)", "Show Error &Logs"},
    Entry{str::HelpMenu, "ヘルプ(&H)", "&Help"},
    Entry{str::Help, "ヘルプ(&H)", "&Help"},
    Entry{str::OnlineHelp, "オンラインヘルプ(&O)", "&OnlineHelp"},
    Entry{str::About, "ﾊﾞｰｼﾞｮﾝ情報(&A)", "Version(&A)"},
    Entry{str::StartExtract, "解凍(&S)", "Extract(&S)"},
    Entry{str::Option, "設定(&O)", "&Option"},
    Entry{str::StartArchive, "圧縮(&S)", "Archive(&S)"},
};

} // namespace

QString captionText(int id)
{
    const bool english = id > str::kEnglishBase;
    const int offset = id - (english ? str::kEnglishBase : str::kJapaneseBase);
    for (const Entry &e : kEntries) {
        if (e.offset == offset)
            return QString::fromUtf8(english ? e.english : e.japanese);
    }
    return {};
}

} // namespace salvo
