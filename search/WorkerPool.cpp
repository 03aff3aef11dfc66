#include "WorkerPool.h"

#include <new>
#include <system_error>

WorkerPool::WorkerPool(unsigned threads)
{
    m_threads.reserve(threads);
    start(threads);
    // Threads just ended elsewhere may still count against the limit for a moment.
    for (int attempt = 0; attempt < 20 && m_threads.empty() && threads > 0; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        start(1);
    }
    if (m_threads.empty() && threads > 0)
        m_threads.emplace_back([this] { work(); }); // throws the system's reason
}

// A thread the system will not start (a limit on processes or memory) leaves fewer doing the work.
void WorkerPool::start(unsigned threads)
{
    try {
        while (m_threads.size() < threads)
            m_threads.emplace_back([this] { work(); });
    } catch (const std::system_error &) {
    }
}

WorkerPool::~WorkerPool()
{
    cancel();
}

void WorkerPool::grow(unsigned threads)
{
    // cancel() sets m_stopping under the lock before it walks the threads: none is added after.
    std::lock_guard lock(m_mutex);
    if (!m_stopping)
        start(threads);
}

unsigned WorkerPool::threads()
{
    std::lock_guard lock(m_mutex);
    return static_cast<unsigned>(m_threads.size());
}

void WorkerPool::post(std::function<void()> task)
{
    enqueue(std::move(task), false);
}

void WorkerPool::postNext(std::function<void()> task)
{
    enqueue(std::move(task), true);
}

void WorkerPool::enqueue(std::function<void()> task, bool first)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        if (first)
            m_queue.push_front(std::move(task));
        else
            m_queue.push_back(std::move(task));
    }
    m_wake.notify_one();
}

bool WorkerPool::waitIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, timeout, [this] { return m_queue.empty() && m_running == 0; });
}

void WorkerPool::cancel()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        if (thread.joinable())
            thread.join();
    m_threads.clear();
    m_idle.notify_all();
}

void WorkerPool::work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping)
            return;
        std::function<void()> task = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_running;
        lock.unlock();
        try {
            task();
        } catch (const std::bad_alloc &) {
            m_outOfMemory = true;
        } catch (...) {
            // The others go on; whoever posted the task accounts for the work it left undone.
        }
        task = nullptr;
        lock.lock();
        --m_running;
        if (m_queue.empty() && m_running == 0)
            m_idle.notify_all();
    }
}
