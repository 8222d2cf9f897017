// The end of a pool of threads that wait on a condition.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace OSM {

// Sets stopping under mutex, wakes every thread waiting on changed, and
// waits for all of threads to end.
inline void StopThreads(std::mutex& mutex, std::condition_variable& changed, bool& stopping,
                        std::vector<std::thread>& threads)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    for (std::thread& thread : threads)
        thread.join();
}

}  // namespace OSM
