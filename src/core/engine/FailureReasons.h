#pragma once
// Why an archive was not extracted, in one short Japanese phrase for the run
// log: from what the component answered, or from what the run found before it
// called one.
#include <QString>

namespace salvo {

// The reason for a component's answer `code` (a SALVO_E_* code, or
// kNotCalled when no component could be called).
QString failureReason(int code);

// Reasons found by the run itself.
inline constexpr auto kReasonMissingFile = "ファイルがありません";
inline constexpr auto kReasonUnsupported = "対応していない形式です";
inline constexpr auto kReasonNotSelfExtractor = "対応している書庫が入った自己解凍ファイルではありません";

} // namespace salvo
