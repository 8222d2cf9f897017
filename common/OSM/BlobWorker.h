// Background threads that compress and write output blobs, so that deflate
// overlaps the reading and clipping of a pass, and the blobs of many files
// completed at once are deflated side by side.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace OSM {

class CBlobWorker {
public:
    // What a client waits on: whether its last job is done.
    struct TTicket {
        bool busy = false;
    };

    // The process's workers, started on first use: one a core.
    static CBlobWorker& Instance();

    // Queues job for ticket, which must not be busy; bytes: what the job
    // holds until it runs. Blocks while the waiting jobs hold kQueuedBytes
    // a thread, which bounds their memory, but queues a job into an empty
    // queue whatever it holds. Jobs run in the order queued, side by side;
    // a client that needs an order of its own keeps it (CPBFWriter writes
    // its blobs in turn, whichever thread compressed them). job must not
    // throw: it keeps its failure for its client, which alone knows what a
    // failure stops.
    void Submit(TTicket& ticket, std::function<void()> job, uint64_t bytes);
    // Returns once the ticket's job is done.
    void Wait(TTicket& ticket);

    ~CBlobWorker();

private:
    // What waiting jobs may hold a thread, on top of the one it runs. The
    // blocks of many files fill at once (a pass's nodes come in id order),
    // and a queue that takes their burst lets the caller go on meanwhile.
    static constexpr uint64_t kQueuedBytes = uint64_t(8) << 20;

    struct TJob {
        TTicket* ticket;
        std::function<void()> work;
        uint64_t bytes;
    };

    explicit CBlobWorker(unsigned threads);
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<TJob> m_jobs;
    uint64_t m_queuedBytes = 0;  // held by m_jobs
    const uint64_t m_maxQueuedBytes;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

}  // namespace OSM
