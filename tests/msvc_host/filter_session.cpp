#include "tests/msvc_host/filter_session.h"

#include "tests/msvc_host/check.h"

CreateOutcome call_create(HostEnvironment& env, IClip* source, const int32_t present[3],
                          const int32_t values[3]) {
    CreateOutcome outcome;
    const AVSValue args[4] = {
        AVSValue(source),
        present[0] ? AVSValue(values[0]) : AVSValue(),
        present[1] ? AVSValue(values[1]) : AVSValue(),
        present[2] ? AVSValue(values[2]) : AVSValue(),
    };
    const Registration& registration = env.registration();
    try {
        AVSValue result = registration.apply(AVSValue(args, 4), registration.user_data, &env);
        outcome.result_type = result.Type();
        if (result.IsClip() && result.AsClip()) {
            outcome.filter_refs_in_result = result.AsClip()->RefCount();
            outcome.source_refs_with_result = source->RefCount();
            outcome.filter = PClip(result.AsClip());
        }
    } catch (const AvisynthError& error) {
        outcome.threw = true;
        outcome.error = error.msg;
    }
    return outcome;
}

bool verify_frame(const TestCase& test, int n, const PVideoFrame& frame, char* why, int why_size) {
    if (!frame) {
        format_text(why, why_size, "frame %d: no frame returned", n);
        return false;
    }
    const StoredBuffer* stored = HostEnvironment::Stored(frame->vfb);
    const FrameLayout source = source_layout(test.header);
    const FrameLayout layout = stored->origin == kFromSource ? source : copy_layout(source);
    if (frame->refcount != 1 || frame->vfb->refcount != 1) {
        format_text(why, why_size,
                    "frame %d: returned frame has reference count %ld, its buffer %ld "
                    "(both should be 1: only the host holds it)",
                    n, frame->refcount, frame->vfb->refcount);
        return false;
    }
    if (!same_layout(*frame.get(), layout)) {
        format_text(why, why_size, "frame %d: the frame's offsets or pitches were changed", n);
        return false;
    }
    const long first_sequence = stored->origin == kFromSource ? 1000 + n : 5000;
    if (frame->vfb->sequence_number != first_sequence + 1) {
        format_text(why, why_size,
                    "frame %d: buffer sequence number went from %ld to %ld (one write "
                    "access should add exactly 1)",
                    n, first_sequence, frame->vfb->sequence_number);
        return false;
    }

    BYTE* expected = static_cast<BYTE*>(malloc(layout.data_size));
    expected_buffer(expected, layout, stored->origin, test.header, test.frames[n]);
    const BYTE* actual = frame->vfb->data;
    int first_difference = -1, differences = 0;
    for (int i = 0; i < layout.data_size; ++i) {
        if (actual[i] == expected[i]) continue;
        if (first_difference < 0) first_difference = i;
        ++differences;
    }
    if (first_difference >= 0) {
        char where[96];
        describe_byte(layout, first_difference, where, sizeof where);
        format_text(why, why_size, "frame %d (%s): %d bytes differ; first at %s: %d, expected %d",
                    n, stored->origin == kFromSource ? "filtered in place" : "filtered copy",
                    differences, where, actual[first_difference], expected[first_difference]);
    }
    free(expected);
    return first_difference < 0;
}
