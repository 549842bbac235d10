#include "packer/codepage.h"

#include <errno.h>
#include <iconv.h>

#include <vector>

namespace {

const char* IconvName(CodePage codePage) {
    switch (codePage) {
        case CodePage::kWindows1252: return "CP1252";
        case CodePage::kShiftJis932: return "CP932";
        case CodePage::kUtf8: return "UTF-8";
    }
    return "UTF-8";
}

bool IsAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// Strict conversion: any sequence without a counterpart fails the whole text.
std::optional<std::string> Convert(const std::string& text, const char* from, const char* to) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::vector<char> out(text.size() * 4 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    bool ok = result != static_cast<size_t>(-1) && inLeft == 0;
    // iconv counts characters it replaced by a fallback; none is allowed.
    if (ok && result != 0) ok = false;
    if (ok) ok = iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (!ok) return std::nullopt;
    return std::string(out.data(), static_cast<size_t>(outPtr - out.data()));
}

}  // namespace

std::optional<CodePage> ParseCodePage(const std::string& text) {
    if (text == "1252") return CodePage::kWindows1252;
    if (text == "932") return CodePage::kShiftJis932;
    if (text == "utf8" || text == "utf-8" || text == "UTF-8" || text == "65001") return CodePage::kUtf8;
    return std::nullopt;
}

const char* CodePageName(CodePage codePage) {
    switch (codePage) {
        case CodePage::kWindows1252: return "1252";
        case CodePage::kShiftJis932: return "932";
        case CodePage::kUtf8: return "utf8";
    }
    return "?";
}

bool IsValidUtf8(const std::string& text) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        if (c < 0x80) { ++i; continue; }
        int trail;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) trail = 1;
        else if (c >= 0xE0 && c <= 0xEF) { trail = 2; if (c == 0xE0) low = 0xA0; if (c == 0xED) high = 0x9F; }
        else if (c >= 0xF0 && c <= 0xF4) { trail = 3; if (c == 0xF0) low = 0x90; if (c == 0xF4) high = 0x8F; }
        else return false;
        if (i + static_cast<size_t>(trail) >= n) return false;
        if (s[i + 1] < low || s[i + 1] > high) return false;
        for (int k = 2; k <= trail; ++k)
            if ((s[i + k] & 0xC0) != 0x80) return false;
        i += static_cast<size_t>(trail) + 1;
    }
    return true;
}

std::optional<std::string> FromUtf8(const std::string& utf8, CodePage codePage) {
    if (!IsValidUtf8(utf8)) return std::nullopt;
    if (codePage == CodePage::kUtf8 || IsAscii(utf8)) return utf8;
    return Convert(utf8, "UTF-8", IconvName(codePage));
}

std::optional<std::string> ToUtf8(const std::string& bytes, CodePage codePage) {
    if (codePage == CodePage::kUtf8) {
        if (!IsValidUtf8(bytes)) return std::nullopt;
        return bytes;
    }
    if (IsAscii(bytes)) return bytes;
    return Convert(bytes, IconvName(codePage), "UTF-8");
}
