// Code pages of names and texts stored in an archive.
//
// The extractor takes entry names, the message, the run command and the
// password as bytes in the ANSI code page of the Windows system it runs on.
// The packer reads names and texts as UTF-8 and writes them in the code page
// the user asks for; list and extract read them back the same way.
#pragma once

#include <optional>
#include <string>

enum class CodePage { kWindows1252, kShiftJis932, kUtf8 };

// "1252", "932" or "utf8" (also "utf-8", "65001").
std::optional<CodePage> ParseCodePage(const std::string& text);
const char* CodePageName(CodePage codePage);

bool IsValidUtf8(const std::string& text);

// UTF-8 text in the code page; nullopt when the text is not valid UTF-8 or a
// character has no place in the code page.
std::optional<std::string> FromUtf8(const std::string& utf8, CodePage codePage);

// Bytes of the code page as UTF-8; nullopt when a byte sequence has no
// character in the code page.
std::optional<std::string> ToUtf8(const std::string& bytes, CodePage codePage);
