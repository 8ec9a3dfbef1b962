#include "XML/internal/WorkerPool.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace XML::internal {

std::size_t WorkerCount(std::size_t requested, std::size_t count) {
    const std::size_t wanted = requested ? requested : std::max<std::size_t>(std::thread::hardware_concurrency(), 1);
    return std::max<std::size_t>(std::min(wanted, count), 1);
}

void RunTasks(std::size_t count, std::size_t threads, const std::function<void(std::size_t, std::size_t)>& task) {
    std::atomic<std::size_t> next{0};
    std::mutex failureLock;
    std::exception_ptr failure;
    const auto work = [&](std::size_t worker) {
        for (std::size_t index; (index = next.fetch_add(1)) < count;) {
            try {
                task(index, worker);
            } catch (...) {
                next.store(count);  // nothing later is started
                const std::lock_guard<std::mutex> lock(failureLock);
                if (!failure) failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> started;
    const std::size_t workers = WorkerCount(threads, count);
    for (std::size_t worker = 1; worker < workers; ++worker) {
        try {
            started.emplace_back(work, worker);
        } catch (const std::system_error&) {
            break;  // the threads already started, and this one, share the rest
        }
    }
    work(0);
    for (std::thread& thread : started) thread.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace XML::internal
