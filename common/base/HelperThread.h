// A second thread for work that the caller parts in two and runs half of
// itself, made once for the life of the process.
#pragma once

#include <condition_variable>
#include <cstdlib>
#include <exception>
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

    // Runs there on the process's helper while here runs on the calling
    // thread, and returns once both are done. Without a helper, or while it
    // runs the job this call is part of, there runs after here on the
    // calling thread. A failure of here is rethrown once there is done (and
    // there does not run after it); a failure of there is returned.
    static std::exception_ptr RunBeside(const std::function<void()>& here, const std::function<void()>& there)
    {
        std::exception_ptr failure;
        auto guarded = [&] {
            try {
                there();
            } catch (...) {
                failure = std::current_exception();
            }
        };
        CHelperThread* helper = s_process;
        if (helper == nullptr || !helper->TryStart(guarded)) {
            here();
            guarded();
            return failure;
        }
        try {
            here();
        } catch (...) {
            helper->Wait();
            throw;
        }
        helper->Wait();
        return failure;
    }

private:
    // Hands job to the thread; false, with nothing started, while it runs
    // one. job must not throw.
    bool TryStart(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_job)
                return false;
            m_job = std::move(job);
        }
        m_changed.notify_all();
        return true;
    }
    // Returns once the job started last is done.
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_job; });
    }

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
    std::function<void()> m_job;  // set while the thread has a job
    bool m_stopping = false;
    std::thread m_thread;
};
