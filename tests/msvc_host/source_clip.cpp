#include "tests/msvc_host/source_clip.h"

#include "tests/msvc_host/host_environment.h"

SourceClip::SourceClip(HostEnvironment& env, const TestCase* test, int pixel_type,
                       volatile long* destroyed)
    : env_(env), test_(test), destroyed_(destroyed) {
    memset(&vi_, 0, sizeof vi_);
    vi_.width = test ? test->header.width : 64;
    vi_.height = test ? test->header.height : 48;
    vi_.fps_numerator = 30000;
    vi_.fps_denominator = 1001;
    vi_.num_frames = test ? test->header.frame_count : 10;
    vi_.pixel_type = pixel_type;
    vi_.audio_samples_per_second = 48000;
    vi_.sample_type = 2;
    vi_.num_audio_samples = (int64_t{0x35} << 32) | 0x9ABCDEF1;  // needs both halves
    vi_.nchannels = 6;
    vi_.image_type = 2;
    if (!test) return;

    layout_ = source_layout(test->header);
    kept_ = new PVideoFrame[test->header.frame_count];
    for (int n = 0; n < test->header.frame_count; ++n) {
        kept_[n] = env_.NewFrame(layout_, kFromSource, 1000 + n);
        fill_source_buffer(kept_[n]->vfb->data, layout_, test->header, test->frames[n]);
    }
}

SourceClip::~SourceClip() {
    delete[] kept_;
    _InterlockedIncrement(destroyed_);
}

PVideoFrame __stdcall SourceClip::GetFrame(int n, IScriptEnvironment* env) {
    _InterlockedIncrement(&frame_requests_);
    if (env != &env_) _InterlockedIncrement(&foreign_env_calls_);
    last_requested_ = n;
    if (n == kUndecodableFrame) env->ThrowError("Source: cannot decode frame %d", n);
    if (!test_ || n < 0 || n >= test_->header.frame_count) n = 0;

    PVideoFrame frame;
    switch (sharing_of(n)) {
        case kExclusive:
            frame = env_.NewFrame(layout_, kFromSource, 1000 + n);
            fill_source_buffer(frame->vfb->data, layout_, test_->header, test_->frames[n]);
            break;
        case kSharedFrame:
            frame = kept_[n];
            break;
        case kSharedBuffer:
            frame = env_.NewView(kept_[n]->vfb);
            break;
    }
    last_delivered_ = frame.get();
    return frame;
}

bool __stdcall SourceClip::GetParity(int n) {
    _InterlockedIncrement(&parity_calls_);
    return ParityOf(n);
}

void SourceClip::AudioPattern(int64_t start, BYTE pattern[8]) {
    for (int i = 0; i < 8; ++i) pattern[i] = static_cast<BYTE>((start >> (i * 8)) ^ (0x5C + i));
}

void __stdcall SourceClip::GetAudio(void* buf, int64_t start, int64_t count,
                                    IScriptEnvironment* env) {
    last_audio_ = AudioRequest{buf, start, count, env};
    if (buf) AudioPattern(start, static_cast<BYTE*>(buf));
}

int __stdcall SourceClip::SetCacheHints(int, int) {
    _InterlockedIncrement(&cache_hint_calls_);
    return 0;
}

const VideoInfo& __stdcall SourceClip::GetVideoInfo() { return vi_; }
