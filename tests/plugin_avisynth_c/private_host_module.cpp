// A library that exports the AviSynth+ C functions the binding looks up, for the
// test that opens it privately (dlopen with RTLD_LOCAL), as some programs open
// libavisynth. Registrations (Velnor and VelnorEstimate) and shutdown functions
// are recorded; the others are never called.
#include <cstdint>

namespace {
int registrations = 0;
int exit_handlers = 0;
const char* registered_name = nullptr;
}  // namespace

#define VELNOR_TEST_EXPORT extern "C" __attribute__((visibility("default")))

VELNOR_TEST_EXPORT int avs_add_function(void*, const char* name, const char*, void*, void*) {
    ++registrations;
    registered_name = name;
    return 0;
}
VELNOR_TEST_EXPORT void avs_at_exit(void*, void (*function)(void*, void*), void* user_data) {
    ++exit_handlers;
    function(user_data, nullptr);  // shut down at once: the table is released
}
VELNOR_TEST_EXPORT const char* avs_get_error(void*) { return nullptr; }
VELNOR_TEST_EXPORT void* avs_new_c_filter(void*, void*, void*, int) { return nullptr; }
VELNOR_TEST_EXPORT void avs_set_to_clip(void*, void*) {}
VELNOR_TEST_EXPORT void avs_release_clip(void*) {}
VELNOR_TEST_EXPORT void* avs_get_frame(void*, int) { return nullptr; }
VELNOR_TEST_EXPORT void avs_release_video_frame(void*) {}
VELNOR_TEST_EXPORT int avs_make_writable(void*, void*) { return -1; }
VELNOR_TEST_EXPORT uint8_t* avs_get_write_ptr_p(const void*, int) { return nullptr; }
VELNOR_TEST_EXPORT int avs_get_pitch_p(const void*, int) { return 0; }
VELNOR_TEST_EXPORT int avs_get_row_size_p(const void*, int) { return 0; }
VELNOR_TEST_EXPORT int avs_get_height_p(const void*, int) { return 0; }
VELNOR_TEST_EXPORT const uint8_t* avs_get_read_ptr_p(const void*, int) { return nullptr; }
VELNOR_TEST_EXPORT const char* avs_clip_get_error(void*) { return nullptr; }
VELNOR_TEST_EXPORT char* avs_save_string(void*, const char*, int) { return nullptr; }
VELNOR_TEST_EXPORT void* avs_get_frame_props_rw(void*, void*) { return nullptr; }
VELNOR_TEST_EXPORT int avs_prop_set_int(void*, void*, const char*, int64_t, int) { return 0; }
VELNOR_TEST_EXPORT int avs_prop_set_float(void*, void*, const char*, double, int) { return 0; }

VELNOR_TEST_EXPORT int private_host_registrations() { return registrations; }
VELNOR_TEST_EXPORT int private_host_exit_handlers() { return exit_handlers; }
VELNOR_TEST_EXPORT const char* private_host_registered_name() { return registered_name; }
