#include "packer/file_order.h"

#include <algorithm>
#include <tuple>

namespace {

std::string BaseName(const std::string& name) {
    size_t slash = name.rfind('\\');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

}  // namespace

std::string ExtensionOf(const std::string& name) {
    std::string base = BaseName(name);
    size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string extension = base.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

void OrderForCompression(std::vector<InputEntry>& entries) {
    struct Keyed {
        bool isFolder;
        std::string extension;
        int contentClass;
        std::string base;
        const InputEntry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (const InputEntry& e : entries) keyed.push_back({e.isFolder, ExtensionOf(e.name), e.contentClass, BaseName(e.name), &e});
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return std::tie(a.isFolder, a.extension, a.contentClass, a.base, a.entry->name) <
               std::tie(b.isFolder, b.extension, b.contentClass, b.base, b.entry->name);
    });
    std::vector<InputEntry> ordered;
    ordered.reserve(entries.size());
    for (const Keyed& k : keyed) ordered.push_back(*k.entry);
    entries = std::move(ordered);
}
