#include "Jobs.h"

#include "Limits.h"

#include <atomic>
#include <exception>
#include <functional>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <utility>

namespace kelxml {

namespace {

// What one file printed, in the order printed: each piece tagged with its stream.
struct Held {
    std::vector<std::pair<bool, std::string>> pieces;  // (to standard error, bytes)
    std::size_t bytes = 0;
    std::exception_ptr failure;
    bool done = false;
    // Every file before it is printed: what it prints goes straight out.
    bool direct = false;
};

// What a file holds before it looks whether it may print straight out: a large output (a get of
// a big file) is then not held whole once the files before it are printed.
constexpr std::size_t kHeldBeforeLooking = std::size_t{64} * 1024;

void Write(bool error, const char* bytes, std::size_t size) {
    if (error) std::cout.flush();  // as printed: what went before a diagnostic stays before it
    (error ? std::cerr : std::cout).write(bytes, static_cast<std::streamsize>(size));
}

void Print(const Held& held) {
    for (const auto& [error, bytes] : held.pieces) Write(error, bytes.data(), bytes.size());
}

// How far the printing of the files went.
struct Progress {
    std::atomic<std::size_t> printed{0};  // the files before this index are printed
    std::atomic<bool> stopped{false};     // a file failed: nothing after it is printed (set first)
};

// A stream buffer that appends to a file's held pieces, or prints straight out once the file is
// the first not yet printed.
class HoldingBuffer : public std::streambuf {
public:
    HoldingBuffer(Held& held, bool error, const Progress& progress, std::size_t index)
        : m_held(held), m_error(error), m_progress(progress), m_index(index) {}

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        Add(text, static_cast<std::size_t>(count));
        return count;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char one = traits_type::to_char_type(c);
        Add(&one, 1);
        return c;
    }

private:
    void Add(const char* text, std::size_t count) {
        // Only the first file not printed prints: no other may until it is done.
        if (!m_held.direct && m_held.bytes >= kHeldBeforeLooking &&
            m_progress.printed.load(std::memory_order_acquire) == m_index && !m_progress.stopped) {
            Print(m_held);
            m_held.pieces = {};
            m_held.direct = true;
        }
        if (m_held.direct) return Write(m_error, text, count);
        if (m_held.pieces.empty() || m_held.pieces.back().first != m_error) m_held.pieces.emplace_back(m_error, "");
        m_held.pieces.back().second.append(text, count);
        m_held.bytes += count;
    }

    Held& m_held;
    bool m_error;
    const Progress& m_progress;
    std::size_t m_index;
};

thread_local std::ostream* t_out = nullptr;
thread_local std::ostream* t_err = nullptr;

// Sends this thread's output into the file's held pieces for as long as it lives.
class Holding {
public:
    Holding(Held& held, const Progress& progress, std::size_t index)
        : m_outBuffer(held, false, progress, index),
          m_errBuffer(held, true, progress, index),
          m_out(&m_outBuffer),
          m_err(&m_errBuffer) {
        t_out = &m_out;
        t_err = &m_err;
    }
    ~Holding() { t_out = t_err = nullptr; }
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;

private:
    HoldingBuffer m_outBuffer, m_errBuffer;
    std::ostream m_out, m_err;
};

}  // namespace

std::ostream& Out() { return t_out ? *t_out : std::cout; }
std::ostream& Err() { return t_err ? *t_err : std::cerr; }

std::size_t JobsOf(const Arguments& args) {
    std::size_t jobs = 0;
    for (const auto& [name, value] : args.Options()) {
        if (name != "-j") continue;
        jobs = 0;
        bool digits = !value.empty() && value.size() <= 4;
        for (const char c : value) digits = digits && c >= '0' && c <= '9';
        if (digits) jobs = std::stoul(value);
        if (jobs == 0) throw UsageError{"-j takes a number of jobs from 1 to 9999, not '" + value + "'"};
    }
    return jobs;
}

void ForEachFile(const std::vector<std::string>& files, std::size_t jobs,
                 const std::function<void(std::size_t index, XML::CKelXML& xml)>& each) {
    XML::sBatchOptions batch;
    batch.nThreads = jobs;
    batch.limits = LoadLimits();
    if (files.size() < 2 || jobs == 1) {
        // One job: printed as it is made, on this thread.
        XML::CKelXML xml;
        xml.SetLimits(batch.limits);
        for (std::size_t index = 0; index < files.size(); ++index) each(index, xml);
        return;
    }
    std::vector<Held> held(files.size());
    std::mutex printLock;
    Progress progress;
    std::exception_ptr outer;
    try {
        XML::CKelXML::ForEachFile(files, batch, [&](std::size_t index, XML::CKelXML& xml) {
            {
                const Holding holding(held[index], progress, index);
                try {
                    each(index, xml);
                } catch (...) {
                    held[index].failure = std::current_exception();
                }
            }
            const std::lock_guard<std::mutex> lock(printLock);
            held[index].done = true;
            for (std::size_t next = progress.printed; !progress.stopped && next < held.size() && held[next].done;) {
                Print(held[next]);
                held[next].pieces = {};
                if (held[next].failure) progress.stopped = true;
                progress.printed.store(++next, std::memory_order_release);
            }
            if (held[index].failure) std::rethrow_exception(held[index].failure);  // hands out no later file
        });
    } catch (...) {
        outer = std::current_exception();
    }
    std::cout.flush();
    // A file's failure is reported as the first in file order, the files before it printed.
    for (std::size_t index = 0; index < progress.printed; ++index)
        if (held[index].failure) std::rethrow_exception(held[index].failure);
    if (outer) std::rethrow_exception(outer);
}

}  // namespace kelxml
