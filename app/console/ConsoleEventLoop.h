#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace mirova {

// The console's counterpart of a window message queue: calls posted from any thread run one
// after the other on the thread that runs the loop.
class ConsoleEventLoop {
public:
    void Post(std::function<void()> call);
    // Runs posted calls until Quit is called.
    void Run();
    // Ends Run after the call in progress; calls posted later are dropped.
    void Quit();

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> calls_;
    bool quit_ = false;
};

}  // namespace mirova
