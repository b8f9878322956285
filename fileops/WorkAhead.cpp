#include "fileops/WorkAhead.h"

#include <algorithm>
#include <system_error>

namespace mirova {

WorkAhead::WorkAhead(std::size_t itemCount, std::vector<std::unique_ptr<ItemAttempt>> workers,
                     std::size_t window)
    : attempts_(std::move(workers)),
      window_(std::max<std::size_t>(window, 1)),
      outcomes_(itemCount, Outcome::Pending),
      limit_(std::min(itemCount, window_)) {
    threads_.reserve(attempts_.size());
    for (const std::unique_ptr<ItemAttempt>& attempt : attempts_) {
        try {
            threads_.emplace_back([this, &attempt] { Work(*attempt); });
        } catch (const std::system_error&) {
            break;  // out of threads: the ones running do the work, or the calling thread does
        }
    }
}

WorkAhead::~WorkAhead() {
    Stop();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void WorkAhead::Work(ItemAttempt& attempt) {
    std::unique_lock lock(mutex_);
    for (;;) {
        workCv_.wait(lock, [this] { return stopping_ || next_ < limit_; });
        if (stopping_) {
            return;
        }
        const std::size_t item = next_++;
        ++underWay_;
        lock.unlock();
        const bool done = attempt.Attempt(item);
        lock.lock();
        --underWay_;
        outcomes_[item] = done ? Outcome::Done : Outcome::Failed;
        outcomeCv_.notify_all();
    }
}

bool WorkAhead::Await(std::size_t item) {
    std::unique_lock lock(mutex_);
    if (threads_.empty() || stopping_) {
        return false;
    }
    awaitedEnd_ = item + 1;
    const std::size_t limit = std::min(outcomes_.size(), item + window_);
    if (limit > limit_) {
        limit_ = limit;
        workCv_.notify_all();
    }
    // The workers take the items in order and `item` lies below the limit, so it is taken.
    outcomeCv_.wait(lock, [this, item] { return outcomes_[item] != Outcome::Pending; });
    return outcomes_[item] == Outcome::Done;
}

std::vector<std::size_t> WorkAhead::Stop() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    workCv_.notify_all();
    outcomeCv_.wait(lock, [this] { return underWay_ == 0; });
    std::vector<std::size_t> done;
    for (std::size_t item = awaitedEnd_; item < outcomes_.size(); ++item) {
        if (outcomes_[item] == Outcome::Done) {
            done.push_back(item);
        }
    }
    awaitedEnd_ = outcomes_.size();  // told once
    return done;
}

}  // namespace mirova
