// Startup: the parser library's start and stop, and the state every operation reads.
#include "XML/internal/Startup.h"

#include "XML/XStr.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLUni.hpp>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <mutex>

namespace XML::internal {

namespace {

std::mutex g_startLock;
std::size_t g_starts = 0;  // starts not yet matched by a stop, under g_startLock
std::atomic<std::uint64_t> g_state{2};

constexpr std::uint64_t kRunning = 1;

}  // namespace

bool IsRunning(std::uint64_t state) { return (state & kRunning) != 0; }

std::uint64_t RunOf(std::uint64_t state) { return state >> 1; }

bool HeldBy(std::uint64_t run, std::uint64_t state) { return IsRunning(state) && (run == 0 || run == RunOf(state)); }

std::uint64_t LibraryState() { return g_state.load(std::memory_order_acquire); }

bool StartLibrary() {
    const std::lock_guard<std::mutex> lock(g_startLock);
    try {
        xercesc::XMLPlatformUtils::Initialize(xercesc::XMLUni::fgXercescDefaultLocale);
    } catch (const xercesc::XMLException& e) {
        std::fputs(XStr::ToLocal(e.getMessage()).c_str(), stdout);
        return false;
    }
    // Published after the start: a thread that reads it running finds the library started.
    if (g_starts++ == 0) g_state.store(g_state.load(std::memory_order_relaxed) | kRunning, std::memory_order_release);
    return true;
}

void StopLibrary() {
    const std::lock_guard<std::mutex> lock(g_startLock);
    if (g_starts == 0) return;  // a stop without a start: nothing to stop
    // The next run is published before the library stops: from then on, objects of this run
    // abandon what they hold instead of releasing it into a library being torn down.
    if (--g_starts == 0)
        g_state.store((RunOf(g_state.load(std::memory_order_relaxed)) + 1) << 1, std::memory_order_release);
    xercesc::XMLPlatformUtils::Terminate();
}

}  // namespace XML::internal
