// The AviSynth+ C functions the harness calls as a host would, in one table, filled
// either from the harness's own link with libavisynth or from a privately opened copy.
#pragma once

#include <cstdint>
#include <type_traits>

#include "plugin/avisynth_c/avs_c_interface.h"

namespace velnor::real_hosts {

namespace avs = velnor::avsc;

// X(name): one exported function avs_<name>.
#define VELNOR_AVISYNTH_FUNCTIONS(X)                                                           \
    X(create_script_environment, avs::AVS_ScriptEnvironment*(int))                             \
    X(delete_script_environment, void(avs::AVS_ScriptEnvironment*))                            \
    X(get_error, const char*(avs::AVS_ScriptEnvironment*))                                     \
    X(add_function,                                                                            \
      int(avs::AVS_ScriptEnvironment*, const char*, const char*, avs::AVS_ApplyFunc, void*))   \
    X(invoke,                                                                                  \
      avs::AVS_Value(avs::AVS_ScriptEnvironment*, const char*, avs::AVS_Value, const char**))  \
    X(set_var, int(avs::AVS_ScriptEnvironment*, const char*, avs::AVS_Value))                  \
    X(release_value, void(avs::AVS_Value))                                                     \
    X(take_clip, avs::AVS_Clip*(avs::AVS_Value, avs::AVS_ScriptEnvironment*))                  \
    X(set_to_clip, void(avs::AVS_Value*, avs::AVS_Clip*))                                      \
    X(release_clip, void(avs::AVS_Clip*))                                                      \
    X(clip_get_error, const char*(avs::AVS_Clip*))                                             \
    X(get_video_info, const avs::AVS_VideoInfo*(avs::AVS_Clip*))                               \
    X(get_frame, avs::AVS_VideoFrame*(avs::AVS_Clip*, int))                                    \
    X(get_parity, int(avs::AVS_Clip*, int))                                                    \
    X(get_audio, int(avs::AVS_Clip*, void*, int64_t, int64_t))                                 \
    X(release_video_frame, void(avs::AVS_VideoFrame*))                                         \
    X(make_writable, int(avs::AVS_ScriptEnvironment*, avs::AVS_VideoFrame**))                  \
    X(new_c_filter,                                                                            \
      avs::AVS_Clip*(avs::AVS_ScriptEnvironment*, avs::AVS_FilterInfo**, avs::AVS_Value, int)) \
    X(get_pitch_p, int(const avs::AVS_VideoFrame*, int))                                       \
    X(get_row_size_p, int(const avs::AVS_VideoFrame*, int))                                    \
    X(get_height_p, int(const avs::AVS_VideoFrame*, int))                                      \
    X(get_read_ptr_p, const unsigned char*(const avs::AVS_VideoFrame*, int))                   \
    X(get_write_ptr_p, unsigned char*(const avs::AVS_VideoFrame*, int))                        \
    X(get_frame_props_ro,                                                                      \
      const avs::AVS_Map*(avs::AVS_ScriptEnvironment*, const avs::AVS_VideoFrame*))            \
    X(prop_get_int,                                                                            \
      int64_t(avs::AVS_ScriptEnvironment*, const avs::AVS_Map*, const char*, int, int*))       \
    X(prop_get_float,                                                                          \
      double(avs::AVS_ScriptEnvironment*, const avs::AVS_Map*, const char*, int, int*))

struct AvisynthApi {
#define VELNOR_MEMBER(name, type) std::add_pointer_t<type> name = nullptr;
    VELNOR_AVISYNTH_FUNCTIONS(VELNOR_MEMBER)
#undef VELNOR_MEMBER
};

// Fills `api` from the harness's own link with libavisynth; false in a harness built
// without one.
bool linked_avisynth_api(AvisynthApi& api);

}  // namespace velnor::real_hosts
