// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Dispatch.h"

namespace vesk::platform {

void DrainedQueue::async(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
}

std::size_t DrainedQueue::drain() {
    std::size_t ran = 0;
    for (;;) {
        Task task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return ran;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ++ran;
    }
}

std::size_t DrainedQueue::pending() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

ThreadPoolQueue::ThreadPoolQueue(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

ThreadPoolQueue::~ThreadPoolQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void ThreadPoolQueue::async(Task task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void ThreadPoolQueue::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return tasks_.empty() && busy_ == 0; });
}

void ThreadPoolQueue::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;  // stopping, nothing left
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        ++busy_;
        lock.unlock();
        task();
        task = nullptr;
        lock.lock();
        --busy_;
        if (tasks_.empty() && busy_ == 0) idle_.notify_all();
    }
}

}  // namespace vesk::platform
