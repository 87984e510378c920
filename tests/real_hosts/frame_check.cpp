#include "tests/real_hosts/frame_check.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

#include "core/filter_settings.h"
#include "plugin/script_function.h"
#include "tests/sample_reference.h"

namespace velnor::real_hosts {

namespace {

constexpr int kFailuresShown = 20;
constexpr const char kMessagePrefix[] = "Velnor: ";

}  // namespace

int Arguments::effective_strength() const { return strength.value_or(kDefaultStrength); }
int Arguments::effective_threshold1() const { return threshold1.value_or(kDefaultThreshold1); }
int Arguments::effective_threshold2() const { return threshold2.value_or(kDefaultThreshold2); }

bool Arguments::filters_plane(int p) const {
    if (planes) return std::find(planes->begin(), planes->end(), p) != planes->end();
    const auto& luma = plugin::kDefaultPlanes;
    if (std::find(std::begin(luma), std::end(luma), p) != std::end(luma)) return true;
    return (p == 1 || p == 2) && chroma.value_or(plugin::kDefaultChroma);
}

std::string Arguments::describe() const {
    std::vector<std::string> parts;
    auto add = [&](const char* name, const std::optional<int>& value) {
        if (value) parts.push_back(std::string(name) + "=" + std::to_string(*value));
    };
    add("strength", strength);
    add("threshold1", threshold1);
    add("threshold2", threshold2);
    if (chroma) parts.push_back(*chroma ? "chroma=true" : "chroma=false");
    if (planes) {
        std::string list;
        for (int p : *planes) {
            if (!list.empty()) list += ',';
            list += std::to_string(p);
        }
        parts.push_back("planes=[" + list + "]");
    }
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += ", ";
        text += part;
    }
    return text.empty() ? "defaults" : text;
}

const std::vector<Arguments>& argument_table() {
    static const std::vector<Arguments> table = {
        {},                     // every default
        {12, std::nullopt, 6},  // one left out
        {std::nullopt, 0, 1},   // strength by default, extreme thresholds
        {28, 60, 3},            // overshooting strength
        {0, 40, 10},            // no correction at all
        // The 32-bit extremes (AviSynth+ reads -2147483648 as a 64-bit value).
        {std::nullopt, INT32_MIN, INT32_MAX},
    };
    return table;
}

void fill_test_plane(uint8_t* data, std::ptrdiff_t pitch, int width, int height,
                     SampleFormat format, uint32_t seed, int frame, int plane) {
    std::seed_seq sequence{seed, static_cast<uint32_t>(frame), static_cast<uint32_t>(plane)};
    std::mt19937 rng(sequence);
    test::fill_samples(data, pitch, width, height, format, rng);
}

void Tally::fail(const std::string& what) {
    if (failures_ < kFailuresShown) std::printf("  FAIL %s: %s\n", host_.c_str(), what.c_str());
    if (failures_ == kFailuresShown) std::printf("  (further failures not shown)\n");
    ++failures_;
}

void Tally::check_same(const ConstPlane& expected, const ConstPlane& actual,
                       const std::string& where) {
    const std::string difference = test::compare_bytes(
        {expected.data, expected.pitch, expected.width, expected.height},
        {actual.data, actual.pitch, actual.width, actual.height}, expected.format.bytes());
    if (!difference.empty()) fail(where + ": " + difference);
}

void Tally::check_filtered(const ConstPlane& in, const ConstPlane& out, const Arguments& arguments,
                           const std::string& where) {
    const FilterSettings settings(in.width, in.height, arguments.effective_strength(),
                                  arguments.effective_threshold1(),
                                  arguments.effective_threshold2());
    const std::vector<uint8_t> expected =
        test::reference_result({in.data, in.pitch, in.width, in.height}, in.format, settings);
    if (expected.empty()) {
        fail(where + ": the reference pass ran out of memory");
        return;
    }
    if (out.width != in.width || out.height != in.height) {
        fail(where + ": plane is " + std::to_string(out.width) + "x" + std::to_string(out.height) +
             ", expected " + std::to_string(in.width) + "x" + std::to_string(in.height));
        return;
    }
    const std::string difference =
        test::compare_samples(expected, {out.data, out.pitch, out.width, out.height}, in.format);
    if (!difference.empty()) fail(where + ": " + difference);
}

void Tally::check_refusal(const char* message, const std::string& where, const char* expected) {
    ++refusals_;
    const char* text = expected ? expected : kMessagePrefix;
    if (!message)
        fail(where + ": accepted, expected a refusal");
    else if (!std::strstr(message, text))
        fail(where + ": refused without \"" + text + "\": " + message);
}

void Tally::print_summary() const {
    std::printf("%s: %d frames compared, %d refusals, %d other checks, %d failures -> %s\n",
                host_.c_str(), frames_, refusals_, others_, failures_,
                failures_ == 0 ? "PASS" : "FAIL");
}

}  // namespace velnor::real_hosts
