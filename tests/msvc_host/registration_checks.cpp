#include "tests/msvc_host/check.h"
#include "tests/msvc_host/conformance_checks.h"
#include "tests/msvc_host/filter_session.h"
#include "tests/msvc_host/source_clip.h"

bool check_registration(HostEnvironment& env, PluginInit2Func init) {
    begin_group("registration");
    const char* text = init(&env);
    expect(text && strcmp(text, "Velnor ver 0.1") == 0,
           "entry point returned \"%s\", expected \"Velnor ver 0.1\"", text ? text : "(null)");
    const Registration& r = env.registration();
    expect(r.calls == 1, "AddFunction called %d times, expected once", r.calls);
    expect(strcmp(r.name, "Velnor") == 0, "registered name \"%s\", expected \"Velnor\"", r.name);
    expect(strcmp(r.params, "c[strength]i[threshold1]i[threshold2]i") == 0,
           "registered parameters \"%s\", expected \"c[strength]i[threshold1]i[threshold2]i\"",
           r.params);
    expect(r.user_data == nullptr, "registered user data %p, expected none", r.user_data);
    expect(r.apply != nullptr, "no create callback registered");
    return r.calls >= 1 && r.apply != nullptr;
}

void check_refused_formats(HostEnvironment& env) {
    struct Refused {
        const char* name;
        int pixel_type;
    };
    const Refused kRefused[] = {
        {"RGB24", CS_BGR24},
        {"YUY2", CS_YUY2},
        {"RGB32", CS_BGR32},
    };
    const int32_t omitted[3] = {0, 0, 0};
    for (const Refused& format : kRefused) {
        begin_group("refuses %s", format.name);
        progress("create callback on %s", format.name);
        volatile long destroyed = 0;
        const long errors_before = env.errors_thrown();
        {
            PClip source(new SourceClip(env, nullptr, format.pixel_type, &destroyed));
            CreateOutcome outcome = call_create(env, source.get(), omitted, omitted);
            expect(outcome.threw,
                   "the create callback returned (value type '%c') instead of "
                   "raising the script error",
                   outcome.result_type);
            if (outcome.threw)
                expect(strcmp(outcome.error, "Velnor: Requires YV12 input") == 0,
                       "script error \"%s\", expected \"Velnor: Requires YV12 input\"",
                       outcome.error);
            outcome.filter = PClip();  // a filter wrongly made for this format goes now
            expect(env.errors_thrown() - errors_before == 1,
                   "ThrowError called %ld times, expected once",
                   env.errors_thrown() - errors_before);
            expect(source->RefCount() == 1,
                   "source clip holds %ld references after the refused call, expected 1 (the "
                   "host's own): the callback kept one across ThrowError",
                   source->RefCount());
        }
        expect(destroyed == 1, "source clip destroyed %ld times, expected once", destroyed);
        int live_frames = 0, live_buffers = 0;
        env.ReleaseFrames(&live_frames, &live_buffers);
    }
}
