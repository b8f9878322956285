#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace mirova {

// Makes one attempt at an item of a list for one worker thread, which alone uses the object.
// An attempt tells nobody anything: it only says whether the item was carried out.
class ItemAttempt {
public:
    virtual ~ItemAttempt() = default;
    virtual bool Attempt(std::size_t item) = 0;
};

// Worker threads that attempt the items of a list in list order, at most `window` items ahead
// of the item the list stands at, while the calling thread walks the list and collects each
// item's outcome in turn. Every item is attempted at most once; one that was not carried out
// is left to the calling thread.
class WorkAhead {
public:
    // One thread per attempt object. Threads that cannot be started are done without; with
    // none at all, Await always says "not done".
    WorkAhead(std::size_t itemCount, std::vector<std::unique_ptr<ItemAttempt>> workers,
              std::size_t window);
    WorkAhead(const WorkAhead&) = delete;
    WorkAhead& operator=(const WorkAhead&) = delete;
    ~WorkAhead();

    // Waits for the attempt at `item` and says whether it carried the item out. The items are
    // awaited in list order, each at most once; awaiting one lets the workers move on to
    // item + window - 1.
    bool Await(std::size_t item);

    // The list stops early: no attempt starts any more, and those under way are waited for.
    // Returns the items carried out that were never awaited, in list order.
    std::vector<std::size_t> Stop();

private:
    enum class Outcome : unsigned char { Pending, Done, Failed };

    void Work(ItemAttempt& attempt);

    std::vector<std::unique_ptr<ItemAttempt>> attempts_;
    std::vector<std::thread> threads_;
    const std::size_t window_;

    std::mutex mutex_;
    std::condition_variable workCv_;     // more items may be taken, or the list stopped
    std::condition_variable outcomeCv_;  // an attempt finished
    std::vector<Outcome> outcomes_;
    std::size_t next_ = 0;        // the first item no worker has taken
    std::size_t limit_;           // workers take items below this
    std::size_t awaitedEnd_ = 0;  // the items below this were awaited
    std::size_t underWay_ = 0;    // attempts running now
    bool stopping_ = false;
};

}  // namespace mirova
