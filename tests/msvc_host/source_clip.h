// The clip a script would feed the filter: serves a test case's input frames and
// records every call the filter makes on it.
#pragma once

#include "tests/msvc_host/avs_interface.h"
#include "tests/msvc_host/case_file.h"
#include "tests/msvc_host/frame_layout.h"

class HostEnvironment;

// How frame n reaches the filter, by n % 3.
enum FrameSharing {
    kExclusive = 0,     // a fresh frame that only the filter holds: filtered in place
    kSharedFrame = 1,   // the source keeps a reference to the same frame
    kSharedBuffer = 2,  // the source keeps another frame on the same buffer
};
inline FrameSharing sharing_of(int n) { return static_cast<FrameSharing>(n % 3); }

struct AudioRequest {
    void* buffer;
    int64_t start;
    int64_t count;
    IScriptEnvironment* env;
};

class SourceClip : public IClip {
public:
    // A clip of `test`'s frames (or of none, for formats the filter must refuse)
    // with the given pixel type; counts its destruction in *destroyed.
    SourceClip(HostEnvironment& env, const TestCase* test, int pixel_type,
               volatile long* destroyed);
    ~SourceClip() override;

    PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) override;
    bool __stdcall GetParity(int n) override;
    void __stdcall GetAudio(void* buf, int64_t start, int64_t count,
                            IScriptEnvironment* env) override;
    int __stdcall SetCacheHints(int cachehints, int frame_range) override;
    const VideoInfo& __stdcall GetVideoInfo() override;

    // The frame this clip fails to deliver, raising kUndecodableError through the
    // environment as a failing source does.
    static constexpr int kUndecodableFrame = 1000;
    static constexpr const char* kUndecodableError = "Source: cannot decode frame 1000";

    // The parity this clip reports for frame n.
    static bool ParityOf(int n) { return (n * 7 + 3) % 5 < 2; }
    // What GetAudio writes at the start of the buffer for a request starting at `start`.
    static void AudioPattern(int64_t start, BYTE pattern[8]);

    const VideoInfo& info() const { return vi_; }
    long frame_requests() const { return frame_requests_; }
    int last_requested_frame() const { return last_requested_; }
    VideoFrame* last_delivered_frame() const { return last_delivered_; }
    long foreign_env_calls() const { return foreign_env_calls_; }
    long cache_hint_calls() const { return cache_hint_calls_; }
    long parity_calls() const { return parity_calls_; }
    const AudioRequest& last_audio_request() const { return last_audio_; }
    // The frames the source keeps for shared delivery: they must never change.
    VideoFrame* kept_frame(int n) const { return kept_[n].get(); }

private:
    HostEnvironment& env_;
    const TestCase* test_;
    VideoInfo vi_;
    FrameLayout layout_;
    PVideoFrame* kept_ = nullptr;
    volatile long* destroyed_;
    volatile long frame_requests_ = 0;
    volatile long foreign_env_calls_ = 0;
    volatile long cache_hint_calls_ = 0;
    volatile long parity_calls_ = 0;
    int last_requested_ = -1;
    VideoFrame* last_delivered_ = nullptr;
    AudioRequest last_audio_ = {};
};
