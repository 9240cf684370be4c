#pragma once
// The program's web pages.
namespace salvo {
inline constexpr auto kProjectPage = "https://salvo-extractor.example.org/";
inline constexpr auto kOnlineManualPage = "https://salvo-extractor.example.org/manual/";
} // namespace salvo
