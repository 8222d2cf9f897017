#include "common/OSM/BlobWorker.h"

#include <algorithm>
#include <utility>

#include "common/OSM/StopThreads.h"

namespace OSM {

CBlobWorker& CBlobWorker::Instance()
{
    // Beyond a few threads the main thread cannot keep them busy.
    static CBlobWorker worker(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    return worker;
}

CBlobWorker::CBlobWorker(unsigned threads) : m_maxQueuedBytes(kQueuedBytes * threads)
{
    for (unsigned i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { Run(); });
}

CBlobWorker::~CBlobWorker() { StopThreads(m_mutex, m_changed, m_stopping, m_threads); }

void CBlobWorker::Submit(TTicket& ticket, std::function<void()> job, uint64_t bytes)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_jobs.empty() || m_queuedBytes + bytes <= m_maxQueuedBytes; });
    ticket.busy = true;
    m_jobs.push_back({&ticket, std::move(job), bytes});
    m_queuedBytes += bytes;
    lock.unlock();
    m_changed.notify_all();
}

void CBlobWorker::Wait(TTicket& ticket)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&ticket] { return !ticket.busy; });
}

void CBlobWorker::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;  // stopping, and every job is done
        TJob job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_queuedBytes -= job.bytes;
        lock.unlock();
        m_changed.notify_all();  // room in the queue
        job.work();
        job.work = nullptr;  // its captures go before the ticket is free
        lock.lock();
        job.ticket->busy = false;
        m_changed.notify_all();
    }
}

}  // namespace OSM
