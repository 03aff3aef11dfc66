#include "WorkerPool.h"

WorkerPool::WorkerPool(unsigned threads)
{
    m_threads.reserve(threads);
    for (unsigned i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool()
{
    cancel();
}

void WorkerPool::grow(unsigned threads)
{
    // cancel() sets m_stopping under the lock before it walks the threads: none is added after.
    std::lock_guard lock(m_mutex);
    while (!m_stopping && m_threads.size() < threads)
        m_threads.emplace_back([this] { work(); });
}

unsigned WorkerPool::threads()
{
    std::lock_guard lock(m_mutex);
    return static_cast<unsigned>(m_threads.size());
}

void WorkerPool::post(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
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
