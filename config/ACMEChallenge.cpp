#include "config/ACMEChallenge.h"

#include <algorithm>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

// Longer tokens are not made by any authority; the limit keeps a file name
// within every file system's.
constexpr size_t kMaxTokenLength = 255;

std::string TokenPath(std::string_view token) {
    std::string path = ACMEChallenge::kChallengeFolder;
    path += '\\';
    path += token;
    return path;
}

}  // namespace

bool ACMEChallenge::IsToken(std::string_view token) {
    const auto base64url = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    };
    return !token.empty() && token.size() <= kMaxTokenLength && std::all_of(token.begin(), token.end(), base64url);
}

bool ACMEChallenge::Answer(std::string_view path, std::string* authorization) {
    if (!path.starts_with(kPathPrefix)) return false;
    const std::string_view token = path.substr(kPathPrefix.size());
    return IsToken(token) && platform::ReadWholeFile(TokenPath(token), authorization);
}

bool ACMEChallenge::Begin(std::string_view token, std::string_view authorization) {
    if (!IsToken(token)) return false;
    // The folder holds nothing secret (an authorization is public by
    // design), but the keys beside it are: only the owner may enter.
    platform::MakeDirectories(platform::HostPath(kChallengeFolder), 0700);
    platform::File file;
    return file.Open(TokenPath(token), platform::File::Mode::CreateAlways) &&
           file.WriteAll(authorization.data(), authorization.size());
}

bool ACMEChallenge::End(std::string_view token) {
    if (!IsToken(token)) return false;
    platform::FileInfo info;
    return platform::DeleteFile(TokenPath(token)) || !platform::GetFileInfo(TokenPath(token), &info);
}
