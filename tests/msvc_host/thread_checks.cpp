#include "tests/msvc_host/check.h"
#include "tests/msvc_host/conformance_checks.h"
#include "tests/msvc_host/filter_session.h"
#include "tests/msvc_host/source_clip.h"

namespace {

struct Puller {
    HostEnvironment* env;
    IClip* filter;
    const TestCase* test;
    int first, step, rounds;
    int pulls = 0;
    int failures = 0;
    char first_failure[400] = {};
};

unsigned long __stdcall pull_frames(void* parameter) {
    Puller& puller = *static_cast<Puller*>(parameter);
    const int frame_count = puller.test->header.frame_count;
    for (int round = 0; round < puller.rounds; ++round) {
        for (int k = 0; k < frame_count; ++k) {
            const int n = (puller.first + k * puller.step) % frame_count;
            char why[400];
            bool right = false;
            try {
                PVideoFrame frame = puller.filter->GetFrame(n, puller.env);
                right = verify_frame(*puller.test, n, frame, why, sizeof why);
            } catch (const AvisynthError& error) {
                format_text(why, sizeof why, "frame %d: GetFrame raised \"%s\"", n, error.msg);
            }
            if (!right && puller.failures++ == 0)
                format_text(puller.first_failure, sizeof puller.first_failure, "%s", why);
            ++puller.pulls;
        }
    }
    return 0;
}

}  // namespace

void check_concurrent_frames(HostEnvironment& env, const TestCase& test) {
    const velnor_case_file::CaseHeader& c = test.header;
    begin_group("two threads: %s", c.name);
    progress("two threads pulling frames of %s", c.name);

    volatile long destroyed = 0;
    SourceClip* source = new SourceClip(env, &test, static_cast<int>(c.pixel_type), &destroyed);
    {
        PClip source_ref(source);
        PClip filter = call_create(env, source, c.argument_present, c.argument_value).filter;
        if (!expect(static_cast<bool>(filter), "the create callback gave no filter")) return;

        // Different orders, so the threads work on different frames and buffers.
        Puller pullers[2] = {{&env, filter.get(), &test, 0, 1, 6},
                             {&env, filter.get(), &test, c.frame_count / 2, 2, 6}};
        HANDLE threads[2];
        for (int i = 0; i < 2; ++i)
            threads[i] = CreateThread(nullptr, 0, pull_frames, &pullers[i], 0, nullptr);
        for (int i = 0; i < 2; ++i) {
            if (!expect(threads[i] != nullptr, "CreateThread failed")) continue;
            WaitForSingleObject(threads[i], kInfinite);
            CloseHandle(threads[i]);
        }
        for (const Puller& puller : pullers) {
            expect(puller.pulls == puller.rounds * c.frame_count,
                   "a thread pulled %d frames, expected %d", puller.pulls,
                   puller.rounds * c.frame_count);
            expect(puller.failures == 0, "%d of %d frames wrong; first: %s", puller.failures,
                   puller.pulls, puller.first_failure);
        }
        expect(filter->RefCount() == 1 && source->RefCount() == 2,
               "after the threads: filter has %ld references (expected 1), source %ld "
               "(expected 2)",
               filter->RefCount(), source->RefCount());
        filter = PClip();
        expect(source->RefCount() == 1, "the filter did not release its child");
    }
    expect(destroyed == 1, "source clip destroyed %ld times, expected once", destroyed);
    int live_frames = 0, live_buffers = 0;
    env.ReleaseFrames(&live_frames, &live_buffers);
    expect(live_frames == 0 && live_buffers == 0,
           "%d frames and %d buffers still referenced after the threads", live_frames,
           live_buffers);
}
