#include "tests/support/TestHome.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace testing_support {
namespace {

std::mutex messagesLock;  // guards messages
std::vector<MessageCapture::Message> messages;

void SaveVariable(const char* name, std::string* old, bool* had) {
    const char* value = std::getenv(name);
    *had = value != nullptr;
    if (value) *old = value;
}

void RestoreVariable(const char* name, const std::string& old, bool had) {
    if (had) ::setenv(name, old.c_str(), 1);
    else ::unsetenv(name);
}

}  // namespace

TestHome::TestHome() {
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        const fs::path candidate = base / ("varevavo-test-" + std::to_string(random()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.string();
            break;
        }
    }
    fs::create_directories(path_ + "/tmp");
    fs::create_directories(path_ + "/drive_c");
    SaveVariable("VAREVAVO_HOME", &oldHome_, &hadHome_);
    SaveVariable("TMPDIR", &oldTmp_, &hadTmp_);
    ::setenv("VAREVAVO_HOME", path_.c_str(), 1);
    ::setenv("TMPDIR", TempDir().c_str(), 1);
}

TestHome::~TestHome() {
    RestoreVariable("VAREVAVO_HOME", oldHome_, hadHome_);
    RestoreVariable("TMPDIR", oldTmp_, hadTmp_);
    std::error_code error;
    fs::remove_all(path_, error);
}

std::string TestHome::DriveC(const std::string& relative) const {
    return relative.empty() ? path_ + "/drive_c" : path_ + "/drive_c/" + relative;
}

void TestHome::WriteFile(const std::string& hostPath, const std::string& contents) {
    fs::create_directories(fs::path(hostPath).parent_path());
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out << contents;
}

std::string TestHome::ReadFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TestHome::FileExists(const std::string& hostPath) { return fs::exists(hostPath); }

std::vector<std::string> TestHome::TempFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(TempDir()))
        if (!entry.is_directory()) names.push_back(entry.path().filename().string());
    return names;
}

MessageCapture::MessageCapture() {
    previous_ = platform::SetMessageHandler([](const std::string& caption, const std::string& text, unsigned style) {
        std::lock_guard<std::mutex> guard(messagesLock);
        messages.push_back({caption, text, style});
    });
    Clear();
}

MessageCapture::~MessageCapture() { platform::SetMessageHandler(std::move(previous_)); }

std::vector<MessageCapture::Message> MessageCapture::Messages() const {
    std::lock_guard<std::mutex> guard(messagesLock);
    return messages;
}

void MessageCapture::Clear() {
    std::lock_guard<std::mutex> guard(messagesLock);
    messages.clear();
}

}  // namespace testing_support
