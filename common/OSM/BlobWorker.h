// One background thread that compresses and writes output blobs, so that
// deflate overlaps the reading and clipping of a pass.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace OSM {

class CBlobWorker {
public:
    // What a client waits on: whether its last job is done, and how it ended.
    struct TTicket {
        bool busy = false;
        std::exception_ptr error;
    };

    // The process's worker, started on first use.
    static CBlobWorker& Instance();

    // Queues job for ticket, which must not be busy. Blocks while the queue
    // is full, which bounds the memory held by waiting jobs.
    void Submit(TTicket& ticket, std::function<void()> job);
    // Returns once the ticket's job is done; rethrows what the job threw.
    void Wait(TTicket& ticket);

    ~CBlobWorker();

private:
    static constexpr size_t kMaxQueued = 4;

    struct TJob {
        TTicket* ticket;
        std::function<void()> work;
    };

    CBlobWorker();
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<TJob> m_jobs;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace OSM
