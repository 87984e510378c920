// Frames, pass-through requests, reference counts and error paths of the filter
// clip, driven through its vtable as a host drives it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "plugin/avisynth25/velnor_filter.h"
#include "tests/plugin/binding_fixture.h"

namespace velnor::test {
namespace {

using host::AVSValue;
using host::IClip;
using host::VideoFrame;
using Sharing = SourceClip::Sharing;

const FilterSettings kDefaults(48, 32, 20, 40, 10);

struct DeliveryCase {
    const char* name;
    uint32_t pixel_type;
    Sharing sharing;
};
void PrintTo(const DeliveryCase& c, std::ostream* os) { *os << c.name; }

class FrameDelivery : public ::testing::TestWithParam<DeliveryCase> {};

// Every byte of the delivered buffer is the reference pass's result on the luma
// plane and the source's byte everywhere else (chroma, row padding, guards).
TEST_P(FrameDelivery, FramesAreTheReferencePassAndSourcesStayIntact) {
    const DeliveryCase& c = GetParam();
    LoadedModule module;
    SourceClip source(module.pool, yv12_info(48, 32, c.pixel_type), c.sharing, 100);
    std::vector<std::vector<uint8_t>> originals;
    for (int n = 0; n < source.vi.num_frames; ++n)
        originals.push_back(buffer_bytes(source.frame(n)));
    const int64_t references = module.pool.total_references();

    AVSValue value = module.create(&source);
    ASSERT_EQ(value.type, host::kValueClip);
    for (int n = 0; n < source.vi.num_frames; ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        const int copies_before = module.env.copies;
        VideoFrame* frame = request_frame(value.clip, n, &module.env);
        EXPECT_EQ(buffer_bytes(frame), expected_output(source.frame(n), kDefaults));
        EXPECT_EQ(buffer_bytes(source.frame(n)), originals[static_cast<std::size_t>(n)]);
        EXPECT_EQ(frame->refcount, 1);
        EXPECT_EQ(frame->vfb->refcount, 1);
        if (c.sharing == Sharing::exclusive) {
            // Nobody else holds it: filtered in place, no copy.
            EXPECT_EQ(frame, source.last_handed_out.load());
            EXPECT_EQ(module.env.copies, copies_before);
            EXPECT_EQ(frame->vfb->sequence_number, 1);
        } else {
            EXPECT_NE(frame->vfb, source.frame(n)->vfb);
            EXPECT_EQ(module.env.copies, copies_before + 1);
        }
        release_frame(frame);
    }
    release_value(value);
    EXPECT_EQ(module.pool.total_references(), references);
    EXPECT_EQ(source.refcount, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Binding, FrameDelivery,
    ::testing::Values(DeliveryCase{"YV12SharedFrame", host::kPixelTypeYV12, Sharing::kept},
                      DeliveryCase{"YV12SharedBuffer", host::kPixelTypeYV12,
                                   Sharing::shared_buffer},
                      DeliveryCase{"YV12Exclusive", host::kPixelTypeYV12, Sharing::exclusive},
                      DeliveryCase{"I420SharedFrame", host::kPixelTypeI420, Sharing::kept},
                      DeliveryCase{"I420Exclusive", host::kPixelTypeI420, Sharing::exclusive}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FilterClip, PassesPropertiesParityAndAudioThrough) {
    LoadedModule module;
    SourceClip source(module.pool, yv12_info(48, 32), Sharing::kept, 7);
    AVSValue value = module.create(&source);
    IClip* clip = value.clip;
    const host::ClipVtable& slots = *clip->vtable;

    EXPECT_EQ(slots.GetVersion(clip), 2);
    const host::VideoInfo* vi = slots.GetVideoInfo(clip);
    EXPECT_EQ(std::memcmp(vi, &source.vi, sizeof *vi), 0);
    EXPECT_EQ(slots.SetCacheHints(clip, 1, 100), 0);
    for (int n = 0; n < 6; ++n) EXPECT_EQ(slots.GetParity(clip, n), source.parity(n)) << n;

    char buffer[16];
    const int64_t start = 5'000'000'003LL, count = 4'294'967'297LL;  // beyond 32 bits
    slots.GetAudio(clip, buffer, start, count, &module.env);
    ASSERT_EQ(source.audio_calls.size(), 1u);
    EXPECT_EQ(source.audio_calls[0].buffer, buffer);
    EXPECT_EQ(source.audio_calls[0].start, start);
    EXPECT_EQ(source.audio_calls[0].count, count);
    EXPECT_EQ(source.audio_calls[0].env, &module.env);
    release_value(value);
}

TEST(FilterClip, LastReleaseDestroysFilterWhichReleasesItsChild) {
    LoadedModule module;
    SourceClip source(module.pool, yv12_info(16, 8), Sharing::kept, 3);
    AVSValue value = module.create(&source);
    release_clip(&source);  // the filter now holds the only reference
    EXPECT_EQ(source.refcount, 1);
    EXPECT_EQ(source.destroyed, 0);
    release_value(value);
    EXPECT_EQ(source.refcount, 0);
    EXPECT_EQ(source.destroyed, 1);
}

ScratchAllocator failing_allocator() {
    return {[](std::size_t) -> void* { return nullptr; }, [](void*) {}};
}

struct ErrorCase {
    const char* name;
    bool scratch_fails;
    FakeEnvironment::Writable writable;
    int frame_width;  // of the child's frames; the clip says 48
    const char* message;
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class FrameErrors : public ::testing::TestWithParam<ErrorCase> {};

// The filter's own errors are raised with no frame reference held (the host's
// error would skip our cleanup) and never through a shared frame.
TEST_P(FrameErrors, RaiseMessageHoldingNoReference) {
    const ErrorCase& c = GetParam();
    for (bool error_returns : {false, true}) {
        SCOPED_TRACE(error_returns ? "ThrowError returns" : "ThrowError raises");
        LoadedModule module;
        module.env.writable = c.writable;
        module.env.error_returns = error_returns;
        SourceClip source(module.pool, yv12_info(48, 32), Sharing::kept, 9, c.frame_width, 32);
        const std::vector<uint8_t> original = buffer_bytes(source.frame(1));
        auto* filter = new plugin::VelnorFilter(
            &source, 20, 40, 10,
            c.scratch_fails ? failing_allocator() : default_scratch_allocator());
        add_clip_reference(filter);
        const int64_t references = module.pool.total_references();
        int64_t references_at_error = -1;
        module.env.on_error = [&] { references_at_error = module.pool.total_references(); };

        if (error_returns) {
            // The child's frame, unfiltered, rather than no frame at all.
            VideoFrame* frame = request_frame(filter, 1, &module.env);
            ASSERT_NE(frame, nullptr);
            EXPECT_EQ(buffer_bytes(frame), original);
            release_frame(frame);
        } else {
            try {
                request_frame(filter, 1, &module.env);
                ADD_FAILURE() << "no error raised";
            } catch (const HostError& e) {
                EXPECT_EQ(e.message, c.message);
            }
        }
        ASSERT_EQ(module.env.errors.size(), 1u);
        EXPECT_EQ(module.env.errors[0], c.message);
        EXPECT_EQ(references_at_error, references);
        EXPECT_EQ(module.pool.total_references(), references);
        EXPECT_EQ(buffer_bytes(source.frame(1)), original);
        release_clip(filter);
        EXPECT_EQ(source.refcount, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Binding, FrameErrors,
                         ::testing::Values(ErrorCase{"ScratchUnavailable", true,
                                                     FakeEnvironment::Writable::copy_when_shared,
                                                     48, "Velnor: out of memory"},
                                           ErrorCase{"HostLeavesFrameShared", false,
                                                     FakeEnvironment::Writable::leave_shared, 48,
                                                     "Velnor: frame is not writable"},
                                           ErrorCase{"ChildFrameNarrowerThanClip", false,
                                                     FakeEnvironment::Writable::copy_when_shared,
                                                     46, "Velnor: frame is smaller than the clip"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct StackedCase {
    const char* name;
    Sharing source;
    bool inner_scratch_fails;
    FakeEnvironment::Writable writable;
    int filter_passes;   // how often the delivered frame was filtered; -1: no frame
    std::size_t errors;  // ThrowError calls (a failed filter asks its child again)
};
void PrintTo(const StackedCase& c, std::ostream* os) { *os << c.name; }

class StackedFilters : public ::testing::TestWithParam<StackedCase> {};

// Velnor(Velnor(clip)) with a ThrowError that returns: a filter that cannot filter
// passes its child's frame on unfiltered, and no filter hands a null frame to the host.
TEST_P(StackedFilters, NeverPassANullFrameOn) {
    const StackedCase& c = GetParam();
    LoadedModule module;
    module.env.error_returns = true;
    module.env.writable = c.writable;
    SourceClip source(module.pool, yv12_info(48, 32), c.source, 31);
    const VideoFrame* original = source.frame(0);
    auto* inner = new plugin::VelnorFilter(
        &source, 20, 40, 10,
        c.inner_scratch_fails ? failing_allocator() : default_scratch_allocator());
    add_clip_reference(inner);
    auto* outer = new plugin::VelnorFilter(inner, 20, 40, 10);
    add_clip_reference(outer);
    const int64_t references = module.pool.total_references();

    VideoFrame* frame = request_frame(outer, 0, &module.env);
    EXPECT_EQ(module.env.errors.size(), c.errors);
    if (c.filter_passes < 0) {
        EXPECT_EQ(frame, nullptr);
    } else {
        ASSERT_NE(frame, nullptr);
        std::vector<uint8_t> expected = buffer_bytes(original);
        if (c.filter_passes == 1) expected = expected_output(original, kDefaults);
        EXPECT_EQ(buffer_bytes(frame), expected);
        release_frame(frame);
    }
    EXPECT_EQ(module.pool.total_references(), references);
    release_clip(outer);
    release_clip(inner);
    EXPECT_EQ(source.refcount, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Binding, StackedFilters,
    ::testing::Values(StackedCase{"InnerOutOfMemory", Sharing::kept, true,
                                  FakeEnvironment::Writable::copy_when_shared, 1, 1},
                      StackedCase{"HostLeavesFramesShared", Sharing::kept, false,
                                  FakeEnvironment::Writable::leave_shared, 0, 3},
                      StackedCase{"SourceGivesNoFrame", Sharing::none, false,
                                  FakeEnvironment::Writable::copy_when_shared, -1, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Concurrent requests on one filter give what one thread gets.
TEST(FilterClip, ConcurrentRequestsMatchSingleThreadedResults) {
    LoadedModule module;
    SourceClip source(module.pool, yv12_info(48, 32), Sharing::kept, 21);
    std::vector<std::vector<uint8_t>> expected;
    for (int n = 0; n < source.vi.num_frames; ++n)
        expected.push_back(expected_output(source.frame(n), kDefaults));
    const int64_t references = module.pool.total_references();
    AVSValue value = module.create(&source);

    constexpr int kThreads = 4, kRounds = 5;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds * source.vi.num_frames; ++i) {
                const int n = (i + t) % source.vi.num_frames;
                try {
                    VideoFrame* frame = request_frame(value.clip, n, &module.env);
                    if (buffer_bytes(frame) != expected[static_cast<std::size_t>(n)]) ++mismatches;
                    release_frame(frame);
                } catch (const HostError&) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, 0);
    release_value(value);
    EXPECT_EQ(module.pool.total_references(), references);
    EXPECT_EQ(source.refcount, 1);
}

}  // namespace
}  // namespace velnor::test
