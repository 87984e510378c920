// Shared pieces of the binding tests: a loaded module in a fake host, argument
// values, and the expected output of a frame.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/filter_settings.h"
#include "core/luma_pass.h"
#include "plugin/avisynth25/plugin_entry.h"
#include "tests/plugin/fake_host.h"

namespace velnor::test {

inline host::AVSValue clip_arg(host::IClip* clip) {
    host::AVSValue v{};
    v.type = host::kValueClip;
    v.clip = clip;
    return v;
}

inline host::AVSValue int_arg(int32_t i) {
    host::AVSValue v{};
    v.type = host::kValueInt;
    v.integer = i;
    return v;
}

inline host::AVSValue undefined_arg() {
    host::AVSValue v{};
    v.type = host::kValueUndefined;
    return v;
}

// The module loaded into a fresh host: the entry point has run once.
struct LoadedModule {
    FramePool pool;
    FakeEnvironment env{pool};
    const char* init_text = AvisynthPluginInit2(&env);

    const FakeEnvironment::Registration& registration() const {
        EXPECT_EQ(env.registrations.size(), 1u);
        return env.registrations.at(0);
    }
    // Velnor(clip, strength, threshold1, threshold2) with the script's arguments.
    host::AVSValue create(host::IClip* clip, host::AVSValue strength = undefined_arg(),
                          host::AVSValue threshold1 = undefined_arg(),
                          host::AVSValue threshold2 = undefined_arg()) {
        return call_create(registration(), env, {clip_arg(clip), strength, threshold1, threshold2});
    }
};

// The buffer of `source` after the reference pass has run on its luma plane with
// `settings`: what a delivered frame must hold byte for byte.
inline std::vector<uint8_t> expected_output(const host::VideoFrame* source,
                                            const FilterSettings& settings) {
    std::vector<uint8_t> bytes = buffer_bytes(source);
    EXPECT_EQ(filter_luma_reference(settings, bytes.data() + source->offset, source->pitch,
                                    default_scratch_allocator()),
              PassStatus::ok);
    return bytes;
}

}  // namespace velnor::test
