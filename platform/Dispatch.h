// SPDX-License-Identifier: GPL-3.0-or-later
// The main and the global dispatch queues. The window runs the main queue on
// the Qt event loop; vesk-info and the tests drain it by hand. Each main
// builds its own and hands them down with the other services.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vesk::platform {

class Queue {
public:
    using Task = std::function<void()>;
    virtual ~Queue() = default;
    virtual void async(Task task) = 0;
};

// Runs its tasks when drain() is called, in order, on the draining thread.
class DrainedQueue : public Queue {
public:
    void async(Task task) override;
    // Runs tasks until the queue is empty, tasks queued meanwhile included; returns how many ran.
    std::size_t drain();
    std::size_t pending() const;

private:
    mutable std::mutex mutex_;
    std::deque<Task> tasks_;
};

// A small pool of worker threads; the global concurrent queue.
class ThreadPoolQueue : public Queue {
public:
    explicit ThreadPoolQueue(unsigned threads = 2);
    ~ThreadPoolQueue() override;
    void async(Task task) override;
    // Blocks until every task queued so far has run.
    void waitIdle();

private:
    void work();
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<Task> tasks_;
    unsigned busy_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace vesk::platform
