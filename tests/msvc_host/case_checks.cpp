#include "tests/msvc_host/check.h"
#include "tests/msvc_host/conformance_checks.h"
#include "tests/msvc_host/filter_session.h"
#include "tests/msvc_host/heap_probe.h"
#include "tests/msvc_host/source_clip.h"

namespace {

// Hosts built with Microsoft's compiler keep the stack 4-byte aligned only: calls
// reach the plug-in with the stack at any multiple of 4 modulo 16. This calls
// GetFrame with the stack lowered by 4 * words bytes.
__declspec(noinline) PVideoFrame
    get_frame_with_stack_shift(IClip* filter, int n, IScriptEnvironment* env, int words) {
    volatile char* shift =
        static_cast<volatile char*>(__builtin_alloca_with_align(4 * words + 4, 32));
    shift[0] = 0;
    return filter->GetFrame(n, env);
}

// The x87 precision control: Direct3D and some codecs leave it at 24 bits
// (single precision) in the threads they call a host from.
class X87Precision {
public:
    explicit X87Precision(bool single) {
        __asm__ volatile("fnstcw %0" : "=m"(saved_));
        unsigned short control = static_cast<unsigned short>(saved_ & ~0x0300u);
        if (!single) control = saved_;
        __asm__ volatile("fldcw %0" : : "m"(control));
    }
    ~X87Precision() { __asm__ volatile("fldcw %0" : : "m"(saved_)); }

private:
    unsigned short saved_ = 0;
};

void check_frames(HostEnvironment& env, IClip* filter, SourceClip& source, const TestCase& test) {
    const int frame_count = test.header.frame_count;
    // The second pass repeats every request with the x87 unit at single precision.
    for (int pass = 0; pass < 2; ++pass) {
        const X87Precision precision(pass == 1);
        for (int n = 0; n < frame_count; ++n) {
            const long requests = source.frame_requests();
            const long writable_calls = env.make_writable_calls();
            const long copies = env.writable_copies();
            VideoFrame* returned = nullptr;
            try {
                PVideoFrame frame = get_frame_with_stack_shift(filter, n, &env, n + pass);
                returned = frame.get();
                expect(
                    source.frame_requests() - requests == 1 && source.last_requested_frame() == n,
                    "frame %d: the child was asked %ld times, last for frame %d", n,
                    source.frame_requests() - requests, source.last_requested_frame());
                expect(env.make_writable_calls() - writable_calls == 1,
                       "frame %d: MakeWritable called %ld times, expected once", n,
                       env.make_writable_calls() - writable_calls);
                const bool exclusive = sharing_of(n) == kExclusive;
                if (exclusive)
                    expect(returned == source.last_delivered_frame() &&
                               env.writable_copies() == copies,
                           "frame %d: an exclusively held frame was not filtered in place", n);
                else
                    expect(env.writable_copies() - copies == 1 && returned &&
                               HostEnvironment::Stored(returned->vfb)->origin == kWritableCopy,
                           "frame %d: a shared frame (%s) was not replaced by its writable copy", n,
                           sharing_of(n) == kSharedFrame ? "frame referenced twice"
                                                         : "buffer under two frames");
                char why[400];
                expect(verify_frame(test, n, frame, why, sizeof why), "%s", why);
            } catch (const AvisynthError& error) {
                expect(false, "frame %d: GetFrame raised \"%s\"", n, error.msg);
            }
            if (returned)
                expect(returned->refcount == 0,
                       "frame %d: reference count %ld after the host let go, expected 0", n,
                       returned->refcount);
        }
    }
    // A source error reaches the host unchanged, through the filter's frames.
    const char* error = nullptr;
    try {
        PVideoFrame frame = filter->GetFrame(SourceClip::kUndecodableFrame, &env);
    } catch (const AvisynthError& raised) {
        error = raised.msg;
    }
    expect(error && strcmp(error, SourceClip::kUndecodableError) == 0,
           "the child's error on frame %d reached the host as \"%s\", expected \"%s\"",
           SourceClip::kUndecodableFrame, error ? error : "(nothing raised)",
           SourceClip::kUndecodableError);

    // The frames the source kept while the filter worked on copies are untouched.
    BYTE* pristine = static_cast<BYTE*>(malloc(source_layout(test.header).data_size));
    for (int n = 0; n < frame_count; ++n) {
        VideoFrame* kept = source.kept_frame(n);
        const FrameLayout layout = source_layout(test.header);
        fill_source_buffer(pristine, layout, test.header, test.frames[n]);
        expect(memcmp(kept->vfb->data, pristine, layout.data_size) == 0 &&
                   kept->vfb->sequence_number == 1000 + n,
               "frame %d: the source's own %s was written to", n,
               sharing_of(n) == kExclusive ? "unshared frame" : "shared frame");
    }
    free(pristine);
}

void check_pass_through(HostEnvironment& env, IClip* filter, SourceClip& source, int case_index) {
    expect(filter->GetVersion() == 2, "GetVersion returned %d, expected 2", filter->GetVersion());
    const VideoInfo& vi = filter->GetVideoInfo();
    expect(memcmp(&vi, &source.info(), sizeof(VideoInfo)) == 0,
           "GetVideoInfo differs from the child's (width %d height %d pixel_type %x "
           "audio samples %x%08x)",
           vi.width, vi.height, vi.pixel_type, static_cast<unsigned>(vi.num_audio_samples >> 32),
           static_cast<unsigned>(vi.num_audio_samples));

    int wrong_parity = -1;
    for (int n = 0; n < 12; ++n)
        if (filter->GetParity(n) != SourceClip::ParityOf(n) && wrong_parity < 0) wrong_parity = n;
    expect(wrong_parity < 0, "GetParity(%d) differs from the child's", wrong_parity);

    BYTE samples[16];
    memset(samples, 0, sizeof samples);
    const int64_t start = (int64_t{0x7} << 32) | (0x12345678 + case_index);
    const int64_t count = (int64_t{0x3} << 32) | 0x10;
    filter->GetAudio(samples, start, count, &env);
    const AudioRequest& request = source.last_audio_request();
    expect(request.buffer == samples && request.start == start && request.count == count &&
               request.env == &env,
           "GetAudio reached the child as (%p, %x%08x, %x%08x, %p), expected (%p, %x%08x, "
           "%x%08x, %p)",
           request.buffer, static_cast<unsigned>(request.start >> 32),
           static_cast<unsigned>(request.start), static_cast<unsigned>(request.count >> 32),
           static_cast<unsigned>(request.count), static_cast<void*>(request.env),
           static_cast<void*>(samples), static_cast<unsigned>(start >> 32),
           static_cast<unsigned>(start), static_cast<unsigned>(count >> 32),
           static_cast<unsigned>(count), static_cast<void*>(&env));
    BYTE pattern[8];
    SourceClip::AudioPattern(start, pattern);
    expect(memcmp(samples, pattern, 8) == 0, "GetAudio did not deliver the child's samples");

    const long hint_calls = source.cache_hint_calls();
    const int hints_result = filter->SetCacheHints(1, 30);
    expect(hints_result == 0, "SetCacheHints left %d in EAX, expected 0", hints_result);
    expect(source.cache_hint_calls() == hint_calls, "SetCacheHints was passed on to the child");
}

}  // namespace

void check_case(HostEnvironment& env, const TestCase& test) {
    const velnor_case_file::CaseHeader& c = test.header;
    static int case_index = 0;
    ++case_index;
    begin_group("%s", c.name);
    progress("case %s", c.name);

    volatile long destroyed = 0;
    SourceClip* source = new SourceClip(env, &test, static_cast<int>(c.pixel_type), &destroyed);
    {
        PClip source_ref(source);
        progress("  create callback");
        PClip filter;
        bool break_out = false;
        {
            CreateOutcome outcome = call_create(env, source, c.argument_present, c.argument_value);
            expect(!outcome.threw, "the create callback raised \"%s\"",
                   outcome.error ? outcome.error : "");
            expect(outcome.result_type == 'c' && outcome.filter,
                   "the create callback returned a value of type '%c', expected a clip",
                   outcome.result_type ? outcome.result_type : '?');
            if (!outcome.filter) break_out = true;
            expect(break_out || outcome.filter_refs_in_result == 1,
                   "the returned clip value holds %ld references, expected 1",
                   outcome.filter_refs_in_result);
            expect(break_out || outcome.source_refs_with_result == 3,
                   "source clip has %ld references while the call's arguments and the filter "
                   "hold it, expected 3",
                   outcome.source_refs_with_result);
            filter = outcome.filter;
        }
        if (filter) {
            expect(filter->RefCount() == 1 && source->RefCount() == 2,
                   "after the call: filter has %ld references (expected 1), source %ld (expected "
                   "2: the host's and the filter's child)",
                   filter->RefCount(), source->RefCount());

            progress("  frames");
            check_frames(env, filter.get(), *source, test);
            progress("  properties, parity, audio, cache hints");
            check_pass_through(env, filter.get(), *source, case_index);
            expect(source->foreign_env_calls() == 0,
                   "the child's GetFrame got an environment other than the host's");
            expect(filter->RefCount() == 1 && source->RefCount() == 2,
                   "after the frame and pass-through calls: filter has %ld references (expected "
                   "1), source %ld (expected 2)",
                   filter->RefCount(), source->RefCount());

            progress("  releasing the filter");
            // Dropping the last reference calls the filter's deleting destructor (flag 1),
            // which must release the child.
            const void* filter_object = filter.get();
            const HeapBlock before = heap_block_at(filter_object);
            filter = PClip();
            if (before == HeapBlock::in_use)
                expect(heap_block_at(filter_object) == HeapBlock::not_in_use,
                       "the filter object is still allocated after its deleting destructor ran "
                       "with flag 1");
            else
                progress(
                    "  (the filter object is not on msvcrt's heap: its freeing is not checked)");
            expect(source->RefCount() == 1,
                   "source clip has %ld references after the filter was destroyed, expected 1 "
                   "(the child reference was not released)",
                   source->RefCount());
        }
    }
    expect(destroyed == 1, "source clip destroyed %ld times, expected once", destroyed);
    int live_frames = 0, live_buffers = 0;
    env.ReleaseFrames(&live_frames, &live_buffers);
    expect(live_frames == 0 && live_buffers == 0,
           "%d frames and %d buffers still referenced after everything was released", live_frames,
           live_buffers);
}
