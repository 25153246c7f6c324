// Shared by the native and the Win32 benchmark programs: a File that counts what goes
// through it, timing by repetition, medians, and the key=value lines scripts/bench.sh
// collects into its tables.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/file_system.hpp"

namespace tervan::bench {

// Passes every call on and counts the read calls and the bytes they returned: what a
// reader asks of the file, before any cache or read-ahead below it.
class CountingFile final : public File {
public:
    explicit CountingFile(std::unique_ptr<File> inner) : inner_(std::move(inner)) {}

    std::int64_t read_at(std::uint64_t offset, void* buffer, std::size_t size) override {
        ++reads_;
        const std::int64_t got = inner_->read_at(offset, buffer, size);
        if (got > 0) bytes_ += static_cast<std::uint64_t>(got);
        return got;
    }
    bool write(const void* data, std::size_t size) override { return inner_->write(data, size); }
    bool flush() override { return inner_->flush(); }

    std::uint64_t reads() const { return reads_; }
    std::uint64_t bytes() const { return bytes_; }

private:
    std::unique_ptr<File> inner_;
    std::uint64_t reads_ = 0;
    std::uint64_t bytes_ = 0;
};

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Microseconds per call: the median of `runs` runs, each repeating `call` until at
// least `min_seconds` have passed, so that the clock's resolution and one-off stalls
// do not show. One call beforehand warms the caches.
template <typename Call> double MicrosecondsPerCall(Call&& call, int runs, double min_seconds) {
    call();
    std::vector<double> per_run;
    for (int run = 0; run < runs; ++run) {
        long calls = 0;
        const auto start = std::chrono::steady_clock::now();
        double elapsed = 0;
        do {
            call();
            ++calls;
            elapsed = SecondsSince(start);
        } while (elapsed < min_seconds);
        per_run.push_back(elapsed * 1e6 / static_cast<double>(calls));
    }
    return Median(per_run);
}

// One figure for the script: "key=value" on a line of its own.
inline void Put(const std::string& key, const std::string& value) {
    std::printf("%s=%s\n", key.c_str(), value.c_str());
    std::fflush(stdout);
}

inline void Put(const std::string& key, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    Put(key, std::string(text));
}

inline void Put(const std::string& key, std::uint64_t value) {
    Put(key, std::to_string(value));
}

// "label=path" arguments.
inline std::pair<std::string, std::string> SplitLabel(const std::string& argument) {
    const auto equals = argument.find('=');
    if (equals == std::string::npos) return {argument, argument};
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

} // namespace tervan::bench
