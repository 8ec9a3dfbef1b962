#include "Jobs.h"

#include "Limits.h"

#include <exception>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <utility>

namespace kelxml {

namespace {

// What one file printed, in the order printed: each piece tagged with its stream.
struct Held {
    std::vector<std::pair<bool, std::string>> pieces;  // (to standard error, bytes)
    std::exception_ptr failure;
    bool done = false;
};

// A stream buffer that appends to a file's held pieces.
class HoldingBuffer : public std::streambuf {
public:
    HoldingBuffer(Held& held, bool error) : m_held(held), m_error(error) {}

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        Piece().append(text, static_cast<std::size_t>(count));
        return count;
    }
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) Piece() += traits_type::to_char_type(c);
        return traits_type::not_eof(c);
    }

private:
    std::string& Piece() {
        if (m_held.pieces.empty() || m_held.pieces.back().first != m_error) m_held.pieces.emplace_back(m_error, "");
        return m_held.pieces.back().second;
    }
    Held& m_held;
    bool m_error;
};

thread_local std::ostream* t_out = nullptr;
thread_local std::ostream* t_err = nullptr;

// Sends this thread's output into held for as long as it lives.
class Holding {
public:
    explicit Holding(Held& held)
        : m_outBuffer(held, false), m_errBuffer(held, true), m_out(&m_outBuffer), m_err(&m_errBuffer) {
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

void Print(const Held& held) {
    for (const auto& [error, bytes] : held.pieces) {
        if (error) std::cout.flush();  // as printed: what went before a diagnostic stays before it
        (error ? std::cerr : std::cout).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
}

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
    std::size_t printed = 0;  // files before it are printed
    bool stopped = false;     // a file failed: nothing after it is printed
    std::exception_ptr outer;
    try {
        XML::CKelXML::ForEachFile(files, batch, [&](std::size_t index, XML::CKelXML& xml) {
            {
                const Holding holding(held[index]);
                try {
                    each(index, xml);
                } catch (...) {
                    held[index].failure = std::current_exception();
                }
            }
            const std::lock_guard<std::mutex> lock(printLock);
            held[index].done = true;
            for (; !stopped && printed < held.size() && held[printed].done; ++printed) {
                Print(held[printed]);
                held[printed].pieces = {};
                stopped = held[printed].failure != nullptr;
            }
            if (held[index].failure) std::rethrow_exception(held[index].failure);  // hands out no later file
        });
    } catch (...) {
        outer = std::current_exception();
    }
    std::cout.flush();
    // A file's failure is reported as the first in file order, the files before it printed.
    for (std::size_t index = 0; index < printed; ++index)
        if (held[index].failure) std::rethrow_exception(held[index].failure);
    if (outer) std::rethrow_exception(outer);
}

}  // namespace kelxml
