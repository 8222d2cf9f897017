// A second thread for work that the caller parts in two and runs half of
// itself, made once for the life of the process.
#pragma once

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

class CHelperThread {
public:
    // Starts the thread, which takes its malloc arena at once: made before
    // any other thread, it has one of its own, and its half of a job does
    // not queue on the lock of the caller's. The first one made is the
    // process's helper until it is destroyed.
    CHelperThread() : m_thread([this] { Run(); })
    {
        if (s_process == nullptr)
            s_process = this;
    }
    CHelperThread(const CHelperThread&) = delete;
    CHelperThread& operator=(const CHelperThread&) = delete;
    ~CHelperThread()
    {
        if (s_process == this)
            s_process = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    // The process's helper, or null.
    static CHelperThread* Process() { return s_process; }

    // Runs job on the thread; job must not throw. One job at a time: call
    // Wait before the next.
    void Start(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_job = std::move(job);
        }
        m_changed.notify_all();
    }
    // Returns once the job started last is done.
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_job; });
    }

private:
    void Run()
    {
        std::free(std::malloc(1));  // claims the arena
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stopping || m_job; });
            if (!m_job)
                return;
            lock.unlock();
            m_job();
            lock.lock();
            m_job = nullptr;
            m_changed.notify_all();
        }
    }

    inline static CHelperThread* s_process = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_job;
    bool m_stopping = false;
    std::thread m_thread;
};
