#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads running posted tasks in order of posting, but for those posted to run
// next. Tasks may post more tasks; the pool counts as idle only when none is queued or running.
class WorkerPool
{
public:
    // Starts as many of `threads` as the system allows (at least one: else the system's
    // std::system_error is thrown on).
    explicit WorkerPool(unsigned threads);
    ~WorkerPool(); // cancels and joins
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    void post(std::function<void()> task);
    // Ahead of every queued task: the rest of what a task began.
    void postNext(std::function<void()> task);
    // Adds threads up to `threads` in all, or as many as the system allows; may be called from
    // a task. Does nothing once cancelled.
    void grow(unsigned threads);
    unsigned threads();
    // True once a task has thrown std::bad_alloc; other exceptions are the poster's to count.
    bool ranOutOfMemory() const { return m_outOfMemory.load(); }
    // True when idle; waits at most `timeout` for that.
    bool waitIdle(std::chrono::milliseconds timeout);
    // Drops queued tasks, waits for running ones to return and joins the threads.
    void cancel();

private:
    void start(unsigned threads);
    void enqueue(std::function<void()> task, bool first);
    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_queue;
    std::size_t m_running = 0;
    bool m_stopping = false;
    std::atomic<bool> m_outOfMemory{false};
    std::vector<std::thread> m_threads;
};
