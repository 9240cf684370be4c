#include "FailureReasons.h"

#include "archivers/ComponentCaller.h"
#include "salvo_archiver.h"

namespace salvo {

QString failureReason(int code)
{
    switch (code) {
    case kNotCalled: return QStringLiteral("解凍に使うコンポーネントがありません");
    case SALVO_E_FILE_CRC: return QStringLiteral("CRC エラー (データが壊れています)");
    case SALVO_E_BROKEN_DATA: return QStringLiteral("圧縮データが壊れています");
    case SALVO_E_HEADER_BROKEN: return QStringLiteral("ヘッダーが壊れています");
    case SALVO_E_UNEXPECTED_EOF: return QStringLiteral("書庫が途中で切れています");
    case SALVO_E_PASSWORD_FILE: return QStringLiteral("パスワードが必要です");
    case SALVO_E_BAD_PASSWORD: return QStringLiteral("パスワードが違います");
    case SALVO_E_CANNOT_DECRYPT: return QStringLiteral("この形式の暗号は解除できません");
    case SALVO_E_MISSING_VOLUME: return QStringLiteral("分割書庫のボリュームが足りません");
    case SALVO_E_EXTRA_VOLUME: return QStringLiteral("分割書庫のボリュームとして名前の付いたファイルが書庫の続きではありません");
    case SALVO_E_NAME_CLASH: return QStringLiteral("書庫の中で同じ名前がファイルとフォルダの両方に使われています");
    case SALVO_E_UNSAFE_PATH: return QStringLiteral("解凍先の外を指す危険なエントリーを拒否しました");
    case SALVO_E_DISK_SPACE: return QStringLiteral("ディスクの空き容量が足りません");
    case SALVO_E_FILE_OPEN:
    case SALVO_E_MAKEDIRECTORY:
    case SALVO_E_CANNOT_WRITE: return QStringLiteral("解凍先のフォルダに書き込めません");
    case SALVO_E_WORKER: return QStringLiteral("解凍処理が異常終了しました");
    case SALVO_E_METHOD: return QStringLiteral("対応していない圧縮方式です");
    case SALVO_E_MISSING_DECODER: return QStringLiteral("解凍に必要なプログラムがインストールされていません");
    case SALVO_E_NOT_ARC_FILE: return QStringLiteral("書庫ではないか、対応していない形式です");
    case SALVO_E_ARC_FILE_OPEN:
    case SALVO_E_CANNOT_READ: return QStringLiteral("書庫を読めません");
    case SALVO_E_ENOUGH_MEMORY: return QStringLiteral("メモリが足りません");
    case SALVO_E_USER_SKIP: return QStringLiteral("上書きしなかったファイルがあります");
    case SALVO_E_USER_CANCEL: return QStringLiteral("中止されました");
    case SALVO_E_UNKNOWN_TYPE: return QStringLiteral("作成できない種類のエントリーがあります");
    case SALVO_E_NOT_FIND_FILE: return QStringLiteral("指定したファイルが書庫にありません");
    default: return QStringLiteral("エラー (コード 0x%1)").arg(code, 0, 16);
    }
}

} // namespace salvo
