// WorkerPool: numbered tasks run on a few threads that start and end within one call, each task
// once, handed out in order. Internal to the library.
#ifndef KELXML_INTERNAL_WORKERPOOL_H
#define KELXML_INTERNAL_WORKERPOOL_H

#include <cstddef>
#include <functional>

namespace XML::internal {

// The threads a run of count tasks uses: requested (0: one per core), never more than count, at least one.
std::size_t WorkerCount(std::size_t requested, std::size_t count);

// Runs task(index, worker) for every index below count on WorkerCount(threads, count) threads, the
// calling one among them; worker (below that number) tells which thread runs it, so that a caller
// keeps one object per thread. The first exception a task throws stops the handing out of later
// indexes and is rethrown once every thread is joined. A thread the system cannot start leaves its
// share to the others.
void RunTasks(std::size_t count, std::size_t threads, const std::function<void(std::size_t, std::size_t)>& task);

}  // namespace XML::internal

#endif
