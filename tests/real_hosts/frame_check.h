// Host-independent parts of the real-host checks: the parameter table, random test
// planes of any sample format, comparison of a host's output planes with the
// reference pass, and the tally of what was checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/sample_format.h"

namespace velnor::real_hosts {

// One call of Velnor: arguments left out take the plug-in's defaults. `chroma` is
// AviSynth+'s, `planes` VapourSynth's.
struct Arguments {
    std::optional<int> strength, threshold1, threshold2;
    std::optional<bool> chroma{};
    std::optional<std::vector<int>> planes{};
    // The values the filter must apply.
    int effective_strength() const;
    int effective_threshold1() const;
    int effective_threshold2() const;
    // Whether plane p (0 luma, 1 and 2 chroma, 3 alpha) must come out filtered.
    bool filters_plane(int p) const;
    std::string describe() const;
};

// Every call the checks make: all defaults, some left out, explicit values.
const std::vector<Arguments>& argument_table();

// Values beyond 32 bits for each parameter, which both hosts hand over whole and the
// plug-in must refuse with plugin::kParameterRange.
struct WideParameter {
    const char* name;
    int64_t value;
};
inline constexpr WideParameter kWideParameters[] = {{"strength", (int64_t{1} << 32) + 20},
                                                    {"threshold1", -(int64_t{1} << 31) - 1},
                                                    {"threshold2", int64_t{1} << 31}};

struct ConstPlane {
    const uint8_t* data;
    std::ptrdiff_t pitch;
    int width;  // in samples
    int height;
    SampleFormat format;
};

// Fills a plane of a test source with random content at the format's scale: the
// mix of noise, flat areas, edges and lines that reaches every path of the filter.
// The content depends only on the numbers given, so any thread may make it again.
void fill_test_plane(uint8_t* data, std::ptrdiff_t pitch, int width, int height,
                     SampleFormat format, uint32_t seed, int frame, int plane);

// Counts checks and failures; prints each failure (the first few in full).
class Tally {
public:
    explicit Tally(std::string host) : host_(std::move(host)) {}

    void fail(const std::string& what);
    void count_frame() { ++frames_; }
    void count_refusal() { ++refusals_; }
    void count_other() { ++others_; }
    // Compares `out` with the reference pass run on a copy of `in`: integer samples
    // exactly, float within the float tolerance.
    void check_filtered(const ConstPlane& in, const ConstPlane& out, const Arguments& arguments,
                        const std::string& where);
    // Compares two planes byte for byte.
    void check_same(const ConstPlane& expected, const ConstPlane& actual, const std::string& where);
    // Checks that a refusal's message carries the filter's prefix, or `expected`.
    void check_refusal(const char* message, const std::string& where,
                       const char* expected = nullptr);

    bool passed() const { return failures_ == 0; }
    // One line: host, frames, refusals and other checks, failures.
    void print_summary() const;

private:
    std::string host_;
    int frames_ = 0, refusals_ = 0, others_ = 0, failures_ = 0;
};

}  // namespace velnor::real_hosts
