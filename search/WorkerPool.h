#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads running posted tasks in order of posting. Tasks may post more
// tasks; the pool counts as idle only when none is queued or running.
class WorkerPool
{
public:
    explicit WorkerPool(unsigned threads);
    ~WorkerPool(); // cancels and joins
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void post(std::function<void()> task);
    // Adds threads up to `threads` in all; may be called from a task. Does nothing once cancelled.
    void grow(unsigned threads);
    unsigned threads();
    // True when idle; waits at most `timeout` for that.
    bool waitIdle(std::chrono::milliseconds timeout);
    // Drops queued tasks, waits for running ones to return and joins the threads.
    void cancel();

private:
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_queue;
    std::size_t m_running = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
