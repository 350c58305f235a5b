#pragma once
// Test support: a temporary VAREVAVO_HOME (and TMPDIR) for one test, and a
// recorder for message boxes. Every test that touches files or the registry
// store runs in its own home, so tests never see each other's state.

#include <string>
#include <vector>

#include "platform/MessageDisplay.h"

namespace testing_support {

class TestHome {
public:
    // Creates a fresh folder, points VAREVAVO_HOME at it and TMPDIR at its
    // "tmp" subfolder; both are restored and the folder removed on destruction.
    TestHome();
    ~TestHome();
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    const std::string& Path() const { return path_; }
    std::string TempDir() const { return path_ + "/tmp"; }
    // Host path of a server path below drive C: ("HTTPD/HTDOCS" → .../drive_c/HTTPD/HTDOCS).
    std::string DriveC(const std::string& relative = "") const;
    // Writes a file (host path), creating its folders.
    static void WriteFile(const std::string& hostPath, const std::string& contents);
    static std::string ReadFile(const std::string& hostPath);
    static bool FileExists(const std::string& hostPath);
    // Names of the files in the temporary folder and its folders (the
    // server's temporary files lie in a folder of their home's there).
    std::vector<std::string> TempFiles() const;

private:
    std::string path_;
    std::string oldHome_;
    std::string oldTmp_;
    bool hadHome_ = false;
    bool hadTmp_ = false;
};

// Records every message box shown while it lives, instead of printing it.
class MessageCapture {
public:
    struct Message {
        std::string caption;
        std::string text;
        unsigned style;
    };
    MessageCapture();
    ~MessageCapture();
    std::vector<Message> Messages() const;
    void Clear();

private:
    platform::MessageHandler previous_;
};

}  // namespace testing_support
