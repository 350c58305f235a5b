#include "tests/desktop/DesktopTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <filesystem>

#include "tests/support/TestServer.h"

namespace desktop_testing {

MessageRecorder::MessageRecorder() {
    previous_ = DesktopMessages::SetFunction(
        [this](QWidget* owner, const std::string& caption, const std::string& text, unsigned style) {
            messages.push_back({owner, caption, text, style});
        });
}

MessageRecorder::~MessageRecorder() { DesktopMessages::SetFunction(std::move(previous_)); }

DesktopSite::DesktopSite(const std::function<void(HTTPConfiguration&)>& tweak) {
    port_ = testing_support::TestServer::WriteSetup(home_, tweak);
}

HTTPConfiguration DesktopSite::Stored() {
    HTTPConfiguration config;
    config.LoadConfiguration("Primary");
    return config;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace desktop_testing
