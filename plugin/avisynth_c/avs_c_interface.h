// The parts of the AviSynth+ C plug-in interface that Velnor uses, declared from the
// host's documented layouts. The host's functions are reached through the pointer
// types below only: they are looked up at run time in the libavisynth the host has
// already loaded, so the plug-in never links against it.
//
// Layouts are those of the 64-bit hosts (x86-64 Linux and Windows, where the
// interface uses the plain C calling convention); the asserts at the end pin them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velnor::avsc {

// Opaque host objects.
struct AVS_Clip;
struct AVS_ScriptEnvironment;
struct AVS_VideoFrame;
struct AVS_Map;  // a frame's properties

struct AVS_VideoInfo {
    int width;  // 0: the clip has no video
    int height;
    unsigned fps_numerator;
    unsigned fps_denominator;
    int num_frames;
    int pixel_type;
    int audio_samples_per_second;  // 0: the clip has no audio
    int sample_type;
    int64_t num_audio_samples;
    int nchannels;
    int image_type;  // field and parity flags
};

// A script value; `type` is one of the kValue* letters. Integers come as kValueInt
// (d.integer) or, to a plug-in exporting the second entry point, as kValueLong
// (d.longlong, all 64 bits) when they need more than 32.
struct AVS_Value {
    short type;
    short array_size;
    union {
        void* clip;
        char boolean;
        int integer;
        float floating_pt;
        const char* string;
        const AVS_Value* array;
        void* function;
        int64_t longlong;
        double double_pt;
    } d;
};

struct AVS_FilterInfo;
using AVS_GetFrameCallback = AVS_VideoFrame* (*)(AVS_FilterInfo* fi, int n);
using AVS_GetParityCallback = int (*)(AVS_FilterInfo* fi, int n);
using AVS_GetAudioCallback = int (*)(AVS_FilterInfo* fi, void* buf, int64_t start, int64_t count);
using AVS_SetCacheHintsCallback = int (*)(AVS_FilterInfo* fi, int cachehints, int frame_range);
using AVS_FreeFilterCallback = void (*)(AVS_FilterInfo* fi);

// A C filter as the host sees it. A callback left null is forwarded to the child.
struct AVS_FilterInfo {
    AVS_Clip* child;
    AVS_VideoInfo vi;
    AVS_ScriptEnvironment* env;
    AVS_GetFrameCallback get_frame;
    AVS_GetParityCallback get_parity;
    AVS_GetAudioCallback get_audio;
    AVS_SetCacheHintsCallback set_cache_hints;
    AVS_FreeFilterCallback free_filter;
    const char* error;  // set by a callback to make the host raise this text
    void* user_data;
};

// Value type letters.
inline constexpr short kValueVoid = 'v';
inline constexpr short kValueClip = 'c';
inline constexpr short kValueInt = 'i';
inline constexpr short kValueBool = 'b';
inline constexpr short kValueLong = 'l';
inline constexpr short kValueArray = 'a';
inline constexpr short kValueError = 'e';

// Plane selectors.
inline constexpr int AVS_PLANAR_Y = 1 << 0;
inline constexpr int AVS_PLANAR_U = 1 << 1;
inline constexpr int AVS_PLANAR_V = 1 << 2;
inline constexpr int AVS_PLANAR_A = 1 << 4;

// Pixel type bits.
inline constexpr int AVS_CS_YUVA = 1 << 27;
inline constexpr int AVS_CS_BGR = 1 << 28;
inline constexpr int AVS_CS_YUV = 1 << 29;
inline constexpr int AVS_CS_INTERLEAVED = 1 << 30;
inline constexpr int AVS_CS_PLANAR = static_cast<int>(1u << 31);
inline constexpr int AVS_CS_VPLANEFIRST = 1 << 3;
inline constexpr int AVS_CS_UPLANEFIRST = 1 << 4;
inline constexpr int AVS_CS_SUB_WIDTH_MASK = 7;
inline constexpr int AVS_CS_SUB_WIDTH_1 = 3;
inline constexpr int AVS_CS_SUB_WIDTH_2 = 0;
inline constexpr int AVS_CS_SUB_WIDTH_4 = 1;
inline constexpr int AVS_CS_SUB_HEIGHT_MASK = 7 << 8;
inline constexpr int AVS_CS_SUB_HEIGHT_1 = 3 << 8;
inline constexpr int AVS_CS_SUB_HEIGHT_2 = 0 << 8;
inline constexpr int AVS_CS_SUB_HEIGHT_4 = 1 << 8;
inline constexpr int AVS_CS_SAMPLE_BITS_MASK = 7 << 16;
inline constexpr int AVS_CS_SAMPLE_BITS_8 = 0 << 16;
inline constexpr int AVS_CS_SAMPLE_BITS_10 = 5 << 16;
inline constexpr int AVS_CS_SAMPLE_BITS_12 = 6 << 16;
inline constexpr int AVS_CS_SAMPLE_BITS_14 = 7 << 16;
inline constexpr int AVS_CS_SAMPLE_BITS_16 = 1 << 16;
inline constexpr int AVS_CS_SAMPLE_BITS_32 = 2 << 16;
inline constexpr int AVS_CS_RGB_TYPE = 1 << 0;
inline constexpr int AVS_CS_RGBA_TYPE = 1 << 1;
// The bits that identify a planar format, and the plane-order bits it ignores.
inline constexpr int AVS_CS_PLANAR_MASK = AVS_CS_PLANAR | AVS_CS_INTERLEAVED | AVS_CS_YUV |
                                          AVS_CS_BGR | AVS_CS_YUVA | AVS_CS_SAMPLE_BITS_MASK |
                                          AVS_CS_SUB_WIDTH_MASK | AVS_CS_SUB_HEIGHT_MASK;
inline constexpr int AVS_CS_PLANAR_FILTER = ~(AVS_CS_VPLANEFIRST | AVS_CS_UPLANEFIRST);

// Planar shapes, to be combined with a sample size.
inline constexpr int AVS_CS_GENERIC_YUV444 =
    AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_1 | AVS_CS_SUB_HEIGHT_1;
inline constexpr int AVS_CS_GENERIC_YUV422 =
    AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_2 | AVS_CS_SUB_HEIGHT_1;
inline constexpr int AVS_CS_GENERIC_YUV420 =
    AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_2 | AVS_CS_SUB_HEIGHT_2;
inline constexpr int AVS_CS_GENERIC_Y = AVS_CS_PLANAR | AVS_CS_INTERLEAVED | AVS_CS_YUV;
inline constexpr int AVS_CS_GENERIC_YUVA444 =
    AVS_CS_PLANAR | AVS_CS_YUVA | AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_1 | AVS_CS_SUB_HEIGHT_1;
inline constexpr int AVS_CS_GENERIC_YUVA422 =
    AVS_CS_PLANAR | AVS_CS_YUVA | AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_2 | AVS_CS_SUB_HEIGHT_1;
inline constexpr int AVS_CS_GENERIC_YUVA420 =
    AVS_CS_PLANAR | AVS_CS_YUVA | AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_2 | AVS_CS_SUB_HEIGHT_2;

// Pixel types.
inline constexpr int AVS_CS_BGR24 = AVS_CS_RGB_TYPE | AVS_CS_BGR | AVS_CS_INTERLEAVED;
inline constexpr int AVS_CS_BGR32 = AVS_CS_RGBA_TYPE | AVS_CS_BGR | AVS_CS_INTERLEAVED;
inline constexpr int AVS_CS_YUY2 = 1 << 2 | AVS_CS_YUV | AVS_CS_INTERLEAVED;
inline constexpr int AVS_CS_YV24 = AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_SAMPLE_BITS_8 |
                                   AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_1 | AVS_CS_SUB_HEIGHT_1;
inline constexpr int AVS_CS_YV16 = AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_SAMPLE_BITS_8 |
                                   AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_2 | AVS_CS_SUB_HEIGHT_1;
inline constexpr int AVS_CS_YV12 = AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_SAMPLE_BITS_8 |
                                   AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_2 | AVS_CS_SUB_HEIGHT_2;
inline constexpr int AVS_CS_I420 = AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_SAMPLE_BITS_8 |
                                   AVS_CS_UPLANEFIRST | AVS_CS_SUB_WIDTH_2 | AVS_CS_SUB_HEIGHT_2;
inline constexpr int AVS_CS_YV411 = AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_SAMPLE_BITS_8 |
                                    AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_4 | AVS_CS_SUB_HEIGHT_1;
inline constexpr int AVS_CS_YUV9 = AVS_CS_PLANAR | AVS_CS_YUV | AVS_CS_SAMPLE_BITS_8 |
                                   AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_4 | AVS_CS_SUB_HEIGHT_4;
inline constexpr int AVS_CS_Y8 =
    AVS_CS_PLANAR | AVS_CS_INTERLEAVED | AVS_CS_YUV | AVS_CS_SAMPLE_BITS_8;
inline constexpr int AVS_CS_YUV420P10 =
    (AVS_CS_YV12 & ~AVS_CS_SAMPLE_BITS_MASK) | AVS_CS_SAMPLE_BITS_10;
inline constexpr int AVS_CS_YUV444P16 =
    (AVS_CS_YV24 & ~AVS_CS_SAMPLE_BITS_MASK) | AVS_CS_SAMPLE_BITS_16;
inline constexpr int AVS_CS_YUV420PS =
    (AVS_CS_YV12 & ~AVS_CS_SAMPLE_BITS_MASK) | AVS_CS_SAMPLE_BITS_32;
inline constexpr int AVS_CS_Y16 = (AVS_CS_Y8 & ~AVS_CS_SAMPLE_BITS_MASK) | AVS_CS_SAMPLE_BITS_16;
inline constexpr int AVS_CS_RGBP =
    AVS_CS_PLANAR | AVS_CS_BGR | AVS_CS_RGB_TYPE | AVS_CS_SAMPLE_BITS_8;
inline constexpr int AVS_CS_YUVA420 = AVS_CS_PLANAR | AVS_CS_YUVA | AVS_CS_SAMPLE_BITS_8 |
                                      AVS_CS_VPLANEFIRST | AVS_CS_SUB_WIDTH_2 | AVS_CS_SUB_HEIGHT_2;

// Cache-hint query by which the host asks a filter for its multithreading mode,
// and the modes it may answer.
inline constexpr int AVS_CACHE_GET_MTMODE = 509;
inline constexpr int AVS_MT_INVALID = 0;
inline constexpr int AVS_MT_NICE_FILTER = 1;
inline constexpr int AVS_MT_MULTI_INSTANCE = 2;
inline constexpr int AVS_MT_SERIALIZED = 3;

// The plug-in's entry points, avisynth_c_plugin_init and avisynth_c_plugin_init2,
// both of this type. The host calls the second where it is exported (and then
// hands over 64-bit values unnarrowed), else the first (and then only their low 32
// bits).
using AVS_PluginInit = const char* (*)(AVS_ScriptEnvironment* env);

// The host's functions, by type.
using AVS_ApplyFunc = AVS_Value (*)(AVS_ScriptEnvironment* env, AVS_Value args, void* user_data);
using AVS_ShutdownFunc = void (*)(void* user_data, AVS_ScriptEnvironment* env);

using avs_add_function_func = int (*)(AVS_ScriptEnvironment* env, const char* name,
                                      const char* params, AVS_ApplyFunc apply, void* user_data);
using avs_at_exit_func = void (*)(AVS_ScriptEnvironment* env, AVS_ShutdownFunc function,
                                  void* user_data);
using avs_get_error_func = const char* (*)(AVS_ScriptEnvironment* env);
using avs_new_c_filter_func = AVS_Clip* (*)(AVS_ScriptEnvironment* env, AVS_FilterInfo** fi,
                                            AVS_Value child, int store_child);
using avs_set_to_clip_func = void (*)(AVS_Value* value, AVS_Clip* clip);
using avs_release_clip_func = void (*)(AVS_Clip* clip);
using avs_get_frame_func = AVS_VideoFrame* (*)(AVS_Clip* clip, int n);
using avs_release_video_frame_func = void (*)(AVS_VideoFrame* frame);
using avs_make_writable_func = int (*)(AVS_ScriptEnvironment* env, AVS_VideoFrame** frame);
using avs_get_write_ptr_p_func = uint8_t* (*)(const AVS_VideoFrame* frame, int plane);
using avs_get_pitch_p_func = int (*)(const AVS_VideoFrame* frame, int plane);
using avs_get_row_size_p_func = int (*)(const AVS_VideoFrame* frame, int plane);
using avs_get_height_p_func = int (*)(const AVS_VideoFrame* frame, int plane);
using avs_get_read_ptr_p_func = const uint8_t* (*)(const AVS_VideoFrame* frame, int plane);
using avs_clip_get_error_func = const char* (*)(AVS_Clip* clip);
using avs_save_string_func = char* (*)(AVS_ScriptEnvironment* env, const char* s, int length);
// Frame properties (interface version 8 and later); `append` 0 replaces a value.
using avs_get_frame_props_rw_func = AVS_Map* (*)(AVS_ScriptEnvironment* env, AVS_VideoFrame* frame);
using avs_prop_set_int_func = int (*)(AVS_ScriptEnvironment* env, AVS_Map* map, const char* key,
                                      int64_t i, int append);
using avs_prop_set_float_func = int (*)(AVS_ScriptEnvironment* env, AVS_Map* map, const char* key,
                                        double d, int append);
inline constexpr int kPropReplace = 0;  // replaces the key's entries
inline constexpr int kPropAppend = 1;   // adds an entry to them

#if defined(__x86_64__) || defined(_M_X64)
static_assert(sizeof(AVS_VideoInfo) == 48);
static_assert(offsetof(AVS_VideoInfo, pixel_type) == 20);
static_assert(offsetof(AVS_VideoInfo, num_audio_samples) == 32);
static_assert(offsetof(AVS_VideoInfo, image_type) == 44);
static_assert(sizeof(AVS_Value) == 16);
static_assert(offsetof(AVS_Value, array_size) == 2);
static_assert(offsetof(AVS_Value, d) == 8);
static_assert(sizeof(decltype(AVS_Value::d)) == 8);
static_assert(sizeof(AVS_Value{}.d.longlong) == 8);
static_assert(sizeof(AVS_FilterInfo) == 120);
static_assert(offsetof(AVS_FilterInfo, vi) == 8);
static_assert(offsetof(AVS_FilterInfo, env) == 56);
static_assert(offsetof(AVS_FilterInfo, get_frame) == 64);
static_assert(offsetof(AVS_FilterInfo, set_cache_hints) == 88);
static_assert(offsetof(AVS_FilterInfo, free_filter) == 96);
static_assert(offsetof(AVS_FilterInfo, error) == 104);
static_assert(offsetof(AVS_FilterInfo, user_data) == 112);
#endif

}  // namespace velnor::avsc
