// Symbol visibility: the library is built with hidden visibility; its public types and functions say so.
#pragma once

#if defined(KORADO_STATIC)
#define KORADO_EXPORT
#elif defined(KORADO_BUILDING)
#define KORADO_EXPORT __attribute__((visibility("default")))
#else
#define KORADO_EXPORT __attribute__((visibility("default")))
#endif

namespace korado {
// The library's title: the source of every error it raises and the name it gives its error component.
inline constexpr const char* kLibraryName = "korADO";
// The host product's name as it appears in messages.
inline constexpr const char* kHostProductName = "Tabulon Universal";
inline constexpr int kVersionMajor = 2;
inline constexpr int kVersionMinor = 4;
inline constexpr int kVersionRevision = 1;
inline constexpr const char* kVersionText = "2.4.1";
}  // namespace korado
