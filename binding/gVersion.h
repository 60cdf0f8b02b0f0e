#pragma once
// The engine version goes to scripts, to the score server and to the banner; the web
// address is the product's home and the score server's user-agent: one place for both.
namespace ombrix {
inline constexpr const char* kEngineVersion = "7.10";
inline constexpr const char* kWebAddress = "https://ombrix.org";
}  // namespace ombrix
