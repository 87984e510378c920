// A compact stand-in for AviSynth+ behind the C interface: source clips of random
// frames, the host's C-filter wrapper (null callbacks answered by the child, a
// callback's error raised), reference-counted frames with padded planes, and the
// table of host functions the binding calls.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/sample_format.h"
#include "plugin/avisynth_c/avs_c_api.h"
#include "tests/test_plane.h"

namespace velnor::avsc {

// The host's opaque objects, defined here for the stand-in.
struct AVS_Map {
    // Each key's entries, integers and floats alike.
    std::map<std::string, std::vector<double>> values;
};

struct AVS_VideoFrame {
    std::atomic<int> refs{1};
    test::TestPlane planes[4] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};  // Y, U, V, A
    AVS_Map props;
};

class FakeClip;
struct AVS_Clip {
    FakeClip* clip;  // one reference
    std::string error = {};
};

class FakeAvs;
struct AVS_ScriptEnvironment {
    FakeAvs* host;
    const char* error;
};

// A clip of the stand-in; counted references, freed at zero.
class FakeClip {
public:
    explicit FakeClip(const AVS_VideoInfo& vi) : vi(vi) {}
    virtual ~FakeClip() = default;
    virtual AVS_VideoFrame* get_frame(int n) = 0;
    virtual int get_parity(int n) = 0;
    virtual void get_audio(void* buf, int64_t start, int64_t count) = 0;
    virtual int set_cache_hints(int hints, int range) = 0;

    void add_ref() { ++refs; }
    void release() {
        if (--refs == 0) delete this;
    }

    AVS_VideoInfo vi;

private:
    std::atomic<int> refs{1};
};

// Frames of random content (fixed by the frame number); it keeps a reference to
// each frame it hands out, so a filter must have it copied before writing.
class SourceClip : public FakeClip {
public:
    // `frame_shrink` makes every frame that many luma rows smaller than vi says.
    SourceClip(const AVS_VideoInfo& vi, int frame_shrink = 0);
    // Frame `failing` is not delivered (get_frame returns null), if not negative;
    // a non-negative `luma` makes every luma sample that 8-bit value plus uniform
    // noise of up to `luma_noise` either way.
    int failing = -1;
    int luma = -1;
    int luma_noise = 0;
    // The same for U and V.
    int chroma[2] = {-1, -1};
    int chroma_noise[2] = {0, 0};
    std::atomic<int> requests{0};
    ~SourceClip() override;
    AVS_VideoFrame* get_frame(int n) override;
    int get_parity(int n) override { return (n * 7 + 3) % 5 < 2; }
    void get_audio(void* buf, int64_t start, int64_t count) override;
    int set_cache_hints(int, int) override { return 0; }

    // The frame as generated (the source's own reference), for comparisons.
    const AVS_VideoFrame& original(int n);

private:
    std::mutex mutex_;
    std::map<int, AVS_VideoFrame*> frames_;
    int frame_shrink_;
};

// The host's wrapper around a C filter.
class FilterClip : public FakeClip {
public:
    FilterClip(AVS_ScriptEnvironment* env, FakeClip* child);
    ~FilterClip() override;
    AVS_VideoFrame* get_frame(int n) override;
    int get_parity(int n) override;
    void get_audio(void* buf, int64_t start, int64_t count) override;
    int set_cache_hints(int hints, int range) override;

    AVS_FilterInfo fi{};
    AVS_Clip child_handle;
    std::atomic<bool> failed{false};  // a callback reported an error
};

class FakeAvs {
public:
    struct Registration {
        std::string name;
        std::string params;
        AVS_ApplyFunc apply;
        void* user_data;
    };
    // A script argument: absent (left out), an integer or a boolean.
    struct Arg {
        bool present;
        int64_t value;
        short type = kValueInt;
    };

    FakeAvs();
    ~FakeAvs();
    // Runs the shutdown functions, as the host does first when an environment ends.
    void shut_down();

    // The host's function table.
    static const AvsApi kApi;
    // The same without frame properties, as a host before interface version 8.
    static const AvsApi kApiWithoutProperties;
    std::vector<std::string> saved_strings;

    AVS_ScriptEnvironment env{this, nullptr};
    std::vector<Registration> registrations;
    std::vector<std::pair<AVS_ShutdownFunc, void*>> exit_handlers;
    bool make_writable_fails = false;
    static std::atomic<int> live_frames;

    // Calls the registered Velnor with `clip` and up to five further arguments; the
    // result holds a reference for the caller (release with release_value).
    AVS_Value call_velnor(FakeClip* clip, const std::vector<Arg>& params = {});
    // Calls the registered VelnorEstimate with `clip`.
    AVS_Value call_estimate(FakeClip* clip);
    static void release_value(const AVS_Value& value);
};

// The planes of the pixel types the stand-in makes frames of: log2 chroma
// subsampling, chroma and alpha planes, and the sample format.
struct PlanarLayout {
    int shift_w;
    int shift_h;
    bool chroma;
    bool alpha;
    SampleFormat sample;
};
bool planar_layout(int pixel_type, PlanarLayout* layout);

AVS_VideoInfo video_info(int pixel_type, int width, int height, int frames = 5);

}  // namespace velnor::avsc
