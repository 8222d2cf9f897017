// Background threads that compress and write output blobs, so that deflate
// overlaps the reading and clipping of a pass, and the blobs of many files
// completed at once are deflated side by side.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace OSM {

class CBlobWorker {
public:
    // What a client waits on: whether its last job is done, and how it ended.
    struct TTicket {
        bool busy = false;
        std::exception_ptr error;
    };

    // The process's workers, started on first use: one a core.
    static CBlobWorker& Instance();

    // Queues job for ticket, which must not be busy. Blocks while the queue
    // is full, which bounds the memory held by waiting jobs. Jobs of one
    // ticket run one after the other, so a file's blobs keep their order;
    // jobs of different tickets may run at the same time.
    void Submit(TTicket& ticket, std::function<void()> job);
    // Returns once the ticket's job is done; rethrows what the job threw.
    void Wait(TTicket& ticket);

    ~CBlobWorker();

private:
    // Waiting jobs a thread, on top of the one it runs.
    static constexpr size_t kQueuedPerThread = 2;

    struct TJob {
        TTicket* ticket;
        std::function<void()> work;
    };

    explicit CBlobWorker(unsigned threads);
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<TJob> m_jobs;
    const size_t m_maxQueued;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace OSM
