// SPDX-License-Identifier: GPL-3.0-or-later
// The info-store keys, declared once: the window's bindings, vesk-info and the
// tests all read this table.
#pragma once

#include <array>
#include <string_view>

namespace vesk {

inline constexpr const char* prefCurFilePath = "prefCurFilePath";
inline constexpr const char* prefTextViewString1 = "prefTextViewString1";
inline constexpr const char* prefTextViewString2 = "prefTextViewString2";
inline constexpr const char* prefTextViewString3 = "prefTextViewString3";
inline constexpr const char* prefTextViewString4 = "prefTextViewString4";
inline constexpr const char* prefTextViewString5 = "prefTextViewString5";
inline constexpr const char* prefTextViewString6 = "prefTextViewString6";
inline constexpr const char* prefWindowTitle = "prefWindowTitle";

struct InfoField {
    const char* key;
    const char* label;    // what the window and vesk-info call it
    const char* meaning;  // what a report puts there
};

// The six info fields, in order.
inline constexpr std::array<InfoField, 6> kInfoFields{{
    {prefTextViewString1, "Properties", "whole image property dictionary; bundle architectures; library description"},
    {prefTextViewString2, "EXIF", "EXIF dictionary merged with the EXIF auxiliary dictionary"},
    {prefTextViewString3, "User comment", "property list carried in the EXIF user comment"},
    {prefTextViewString4, "JFIF", "JFIF dictionary"},
    {prefTextViewString5, "TIFF", "TIFF dictionary"},
    {prefTextViewString6, "Maker notes", "camera makers' note dictionaries, merged"},
}};

// Every key a report may leave behind, in the order vesk-info prints them.
inline constexpr std::array<const char*, 7> kReportKeys{
    prefCurFilePath,     prefTextViewString1, prefTextViewString2, prefTextViewString3,
    prefTextViewString4, prefTextViewString5, prefTextViewString6};

}  // namespace vesk
