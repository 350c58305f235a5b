#pragma once
// The content types one serving thread has found, remembered per file name
// for one configuration record: the type lists are searched, and the
// charset added, once per file name, not once per request. It holds the
// record it remembers for, so no later record can take its address and
// pass for it. Used by one thread alone.

#include <memory>
#include <string>
#include <unordered_map>

class HTTPConfiguration;

// The type a file is sent with under config: its MIME type, with the
// setup's charset when it is plain text.
std::string DocumentType(const HTTPConfiguration& config, const std::string& file);

class MIMEMemo {
public:
    // What is remembered from now on is for record: whatever was remembered
    // for another record is forgotten. Costs a comparison when it is the same.
    void Bind(const std::shared_ptr<const HTTPConfiguration>& record);
    // DocumentType under the bound record (which must be bound), remembered.
    const std::string& TypeOf(const std::string& file);

private:
    // At most this many names are remembered; then it starts afresh.
    static constexpr size_t kMostNames = 512;

    std::shared_ptr<const HTTPConfiguration> record_;
    std::unordered_map<std::string, std::string> types_;
};
