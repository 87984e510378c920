#include "tests/real_hosts/frame_check.h"

#include <cstdio>
#include <cstring>
#include <random>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "tests/test_plane.h"

namespace velnor::real_hosts {

namespace {

constexpr int kFailuresShown = 20;
constexpr const char kMessagePrefix[] = "Velnor: ";

}  // namespace

int Arguments::effective_strength() const { return strength.value_or(kDefaultStrength); }
int Arguments::effective_threshold1() const { return threshold1.value_or(kDefaultThreshold1); }
int Arguments::effective_threshold2() const { return threshold2.value_or(kDefaultThreshold2); }

std::string Arguments::describe() const {
    std::string text;
    auto add = [&](const char* name, const std::optional<int>& value) {
        if (!value) return;
        if (!text.empty()) text += ", ";
        text += std::string(name) + "=" + std::to_string(*value);
    };
    add("strength", strength);
    add("threshold1", threshold1);
    add("threshold2", threshold2);
    return text.empty() ? "defaults" : text;
}

const std::vector<Arguments>& argument_table() {
    static const std::vector<Arguments> table = {
        {},                     // every default
        {12, std::nullopt, 6},  // one left out
        {std::nullopt, 0, 1},   // strength by default, extreme thresholds
        {28, 60, 3},            // overshooting strength
        {0, 40, 10},            // no correction at all
    };
    return table;
}

void fill_test_plane(uint8_t* data, std::ptrdiff_t pitch, int width, int height, uint32_t seed,
                     int frame, int plane) {
    std::seed_seq sequence{seed, static_cast<uint32_t>(frame), static_cast<uint32_t>(plane)};
    std::mt19937 rng(sequence);
    if (plane == 0) {
        test::TestPlane source(width, height, width);
        test::fill_random(source, rng);
        for (int y = 0; y < height; ++y)
            std::memcpy(data + y * pitch, source.data() + static_cast<std::ptrdiff_t>(y) * width,
                        static_cast<std::size_t>(width));
        return;
    }
    std::uniform_int_distribution<int> sample(0, 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) data[y * pitch + x] = static_cast<uint8_t>(sample(rng));
}

void Tally::fail(const std::string& what) {
    if (failures_ < kFailuresShown) std::printf("  FAIL %s: %s\n", host_.c_str(), what.c_str());
    if (failures_ == kFailuresShown) std::printf("  (further failures not shown)\n");
    ++failures_;
}

void Tally::check_same(const ConstPlane& expected, const ConstPlane& actual,
                       const std::string& where) {
    if (expected.width != actual.width || expected.height != actual.height) {
        fail(where + ": plane is " + std::to_string(actual.width) + "x" +
             std::to_string(actual.height) + ", expected " + std::to_string(expected.width) + "x" +
             std::to_string(expected.height));
        return;
    }
    for (int y = 0; y < expected.height; ++y) {
        const uint8_t* e = expected.data + y * expected.pitch;
        const uint8_t* a = actual.data + y * actual.pitch;
        for (int x = 0; x < expected.width; ++x) {
            if (e[x] != a[x]) {
                fail(where + ": sample (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                     std::to_string(a[x]) + ", expected " + std::to_string(e[x]));
                return;
            }
        }
    }
}

void Tally::check_luma(const ConstPlane& in, const ConstPlane& out, const Arguments& arguments,
                       const std::string& where) {
    test::TestPlane expected(in.width, in.height, in.width);
    for (int y = 0; y < in.height; ++y)
        std::memcpy(expected.data() + static_cast<std::ptrdiff_t>(y) * in.width,
                    in.data + y * in.pitch, static_cast<std::size_t>(in.width));
    const FilterSettings settings(in.width, in.height, arguments.effective_strength(),
                                  arguments.effective_threshold1(),
                                  arguments.effective_threshold2());
    if (filter_luma_reference(settings, expected.data(), in.width, default_scratch_allocator()) !=
        PassStatus::ok) {
        fail(where + ": the reference pass ran out of memory");
        return;
    }
    check_same({expected.data(), in.width, in.width, in.height}, out, where + ", luma");
}

void Tally::check_refusal(const char* message, const std::string& where) {
    ++refusals_;
    if (!message)
        fail(where + ": accepted, expected a refusal");
    else if (!std::strstr(message, kMessagePrefix))
        fail(where + ": refused without \"" + kMessagePrefix + "\": " + message);
}

void Tally::print_summary() const {
    std::printf("%s: %d frames compared, %d refusals, %d other checks, %d failures -> %s\n",
                host_.c_str(), frames_, refusals_, others_, failures_,
                failures_ == 0 ? "PASS" : "FAIL");
}

}  // namespace velnor::real_hosts
