#include "platform/MessageDisplay.h"

#include <unistd.h>

#include <mutex>

namespace platform {
namespace {

std::mutex handlerLock;  // guards handler
MessageHandler handler;

void ConsoleMessage(const std::string& caption, const std::string& text, unsigned) {
    // One write, so that lines from several threads never interleave.
    const std::string line = caption + ": " + text + "\n";
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

MessageHandler SetMessageHandler(MessageHandler newHandler) {
    std::lock_guard<std::mutex> guard(handlerLock);
    MessageHandler old = std::move(handler);
    handler = std::move(newHandler);
    return old;
}

void ShowMessage(const std::string& caption, const std::string& text, unsigned style) {
    MessageHandler current;
    {
        std::lock_guard<std::mutex> guard(handlerLock);
        current = handler;
    }
    if (current) current(caption, text, style);
    else ConsoleMessage(caption, text, style);
}

void MessageBeep(unsigned) {}

}  // namespace platform
