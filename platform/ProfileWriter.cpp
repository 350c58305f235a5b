#include "platform/ProfileWriter.h"

#include "platform/File.h"

namespace platform {
namespace {

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool HoldsLineBreak(std::string_view text) { return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos; }

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    return lower;
}

}  // namespace

ProfileWriter::ProfileWriter(std::string path) : path_(std::move(path)) {}

bool ProfileWriter::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    section = TrimBlanks(section);
    key = TrimBlanks(key);
    if (section.empty() || HoldsLineBreak(section) || section.find(']') != section.npos) return false;
    if (key.empty() || HoldsLineBreak(key) || key[0] == '[' || key[0] == ';') return false;
    if (HoldsLineBreak(value)) return false;

    const auto [sectionAt, newSection] = sectionIndex_.try_emplace(Lower(section), sections_.size());
    if (newSection) sections_.push_back({std::string(section), {}, {}});
    Section& target = sections_[sectionAt->second];
    const auto [keyAt, newKey] = target.keyIndex.try_emplace(Lower(key), target.entries.size());
    if (newKey) target.entries.push_back({std::string(key), std::string(value)});
    else target.entries[keyAt->second].value = value;
    return true;
}

bool ProfileWriter::Flush() {
    std::string text;
    for (const Section& section : sections_) {
        if (!text.empty()) text += '\n';
        text += '[' + section.name + "]\n";
        for (const Entry& entry : section.entries) text += entry.key + '=' + entry.value + '\n';
    }
    File file;
    return file.Open(path_, File::Mode::CreateAlways) && file.WriteAll(text.data(), text.size());
}

}  // namespace platform
