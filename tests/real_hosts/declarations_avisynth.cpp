// Compares the project's AviSynth+ C interface declarations (and the harness's own
// function table) with an install's avisynth_c.h: struct sizes and offsets, the
// types of the host functions and callbacks, and the constants. Built once per
// install prefix; exit status 0 when all match.
#include <avisynth_c.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "plugin/avisynth_c/avs_c_interface.h"
#include "tests/real_hosts/avisynth_api.h"
#include "tests/real_hosts/declaration_report.h"
#include "tests/real_hosts/harness_constants.h"

namespace ours = velnor::avsc;
using velnor::real_hosts::DeclarationReport;
using velnor::real_hosts::kSameType;
using velnor::real_hosts::Leaf;

VELNOR_LEAF(AVS_Clip)
VELNOR_LEAF(AVS_ScriptEnvironment)
VELNOR_LEAF(AVS_VideoFrame)
VELNOR_LEAF(AVS_VideoInfo)
VELNOR_LEAF(AVS_Value)
VELNOR_LEAF(AVS_FilterInfo)
VELNOR_LEAF(AVS_Map)

namespace {

// A function type of the plug-in's declarations against the host's function.
#define VELNOR_FUNCTION(report, name) \
    report.same_type(#name, kSameType<Leaf, decltype(&::name), ours::name##_func>)

}  // namespace

int main() {
    DeclarationReport report("avisynth_c.h");

    VELNOR_SIZE(report, AVS_VideoInfo);
    VELNOR_MEMBER(report, AVS_VideoInfo, width);
    VELNOR_MEMBER(report, AVS_VideoInfo, height);
    VELNOR_MEMBER(report, AVS_VideoInfo, fps_numerator);
    VELNOR_MEMBER(report, AVS_VideoInfo, fps_denominator);
    VELNOR_MEMBER(report, AVS_VideoInfo, num_frames);
    VELNOR_MEMBER(report, AVS_VideoInfo, pixel_type);
    VELNOR_MEMBER(report, AVS_VideoInfo, audio_samples_per_second);
    VELNOR_MEMBER(report, AVS_VideoInfo, sample_type);
    VELNOR_MEMBER(report, AVS_VideoInfo, num_audio_samples);
    VELNOR_MEMBER(report, AVS_VideoInfo, nchannels);
    VELNOR_MEMBER(report, AVS_VideoInfo, image_type);
    VELNOR_SIZE(report, AVS_Value);
    VELNOR_MEMBER(report, AVS_Value, type);
    VELNOR_MEMBER(report, AVS_Value, array_size);
    report.value("AVS_Value.d offset", offsetof(ours::AVS_Value, d), offsetof(::AVS_Value, d));
    report.value("sizeof AVS_Value.d", sizeof(ours::AVS_Value::d), sizeof(::AVS_Value::d));
    VELNOR_SIZE(report, AVS_FilterInfo);
    VELNOR_MEMBER(report, AVS_FilterInfo, child);
    VELNOR_MEMBER(report, AVS_FilterInfo, vi);
    VELNOR_MEMBER(report, AVS_FilterInfo, env);
    VELNOR_MEMBER(report, AVS_FilterInfo, get_frame);
    VELNOR_MEMBER(report, AVS_FilterInfo, get_parity);
    VELNOR_MEMBER(report, AVS_FilterInfo, get_audio);
    VELNOR_MEMBER(report, AVS_FilterInfo, set_cache_hints);
    VELNOR_MEMBER(report, AVS_FilterInfo, free_filter);
    VELNOR_MEMBER(report, AVS_FilterInfo, error);
    VELNOR_MEMBER(report, AVS_FilterInfo, user_data);

    report.same_type("AVS_ApplyFunc", kSameType<Leaf, ::AVS_ApplyFunc, ours::AVS_ApplyFunc>);
    report.same_type("AVS_ShutdownFunc",
                     kSameType<Leaf, ::AVS_ShutdownFunc, ours::AVS_ShutdownFunc>);
    VELNOR_FUNCTION(report, avs_add_function);
    VELNOR_FUNCTION(report, avs_at_exit);
    VELNOR_FUNCTION(report, avs_new_c_filter);
    VELNOR_FUNCTION(report, avs_set_to_clip);
    VELNOR_FUNCTION(report, avs_release_clip);
    VELNOR_FUNCTION(report, avs_get_frame);
    VELNOR_FUNCTION(report, avs_release_video_frame);
    VELNOR_FUNCTION(report, avs_make_writable);
    VELNOR_FUNCTION(report, avs_get_write_ptr_p);
    VELNOR_FUNCTION(report, avs_get_pitch_p);
    VELNOR_FUNCTION(report, avs_get_row_size_p);
    VELNOR_FUNCTION(report, avs_get_height_p);
    VELNOR_FUNCTION(report, avs_get_read_ptr_p);
    VELNOR_FUNCTION(report, avs_clip_get_error);
    VELNOR_FUNCTION(report, avs_save_string);
    VELNOR_FUNCTION(report, avs_get_frame_props_rw);
    VELNOR_FUNCTION(report, avs_prop_set_int);
    VELNOR_FUNCTION(report, avs_prop_set_float);
    report.value("kPropReplace", ours::kPropReplace, AVS_PROPAPPENDMODE_REPLACE);
    // The functions the harness calls as a host.
#define VELNOR_HARNESS(name, type)                            \
    report.same_type("harness avs_" #name,                    \
                     kSameType<Leaf, decltype(&::avs_##name), \
                               decltype(velnor::real_hosts::AvisynthApi::name)>);
    VELNOR_AVISYNTH_FUNCTIONS(VELNOR_HARNESS)
#undef VELNOR_HARNESS

    // Value type letters, as the header's own value helpers set and test them.
    report.value("kValueInt", ours::kValueInt, avs_new_value_int(0).type);
    report.value("kValueBool", ours::kValueBool, avs_new_value_bool(0).type);
    report.value("kValueArray", ours::kValueArray, avs_new_value_array(nullptr, 0).type);
    report.value("kValueError", ours::kValueError, avs_new_value_error("").type);
    report.value("kAvsValueString (harness)", velnor::real_hosts::kAvsValueString,
                 avs_new_value_string("").type);
    ::AVS_Value probe{};
    probe.type = ours::kValueClip;
    report.value("kValueClip", 1, avs_is_clip(probe));
    probe.type = ours::kValueVoid;
    report.value("kValueVoid", 0, avs_defined(probe));
    probe.type = ours::kValueLong;
    report.value("kValueLong", 1, avs_is_long_strict(probe));
    // A 64-bit value where the header's own getter reads it.
    ours::AVS_Value wide{};
    wide.type = ours::kValueLong;
    wide.d.longlong = (int64_t{1} << 32) + 20;
    static_assert(sizeof wide == sizeof probe);
    std::memcpy(&probe, &wide, sizeof probe);
    report.value("AVS_Value.d.longlong", wide.d.longlong, avs_as_long(probe));
    // Both entry points, the second the 64-bit aware one.
    report.same_type("avisynth_c_plugin_init",
                     kSameType<Leaf, decltype(&::avisynth_c_plugin_init), ours::AVS_PluginInit>);
    report.same_type("avisynth_c_plugin_init2",
                     kSameType<Leaf, decltype(&::avisynth_c_plugin_init2), ours::AVS_PluginInit>);

    VELNOR_CONSTANT(report, AVS_PLANAR_Y);
    VELNOR_CONSTANT(report, AVS_PLANAR_U);
    VELNOR_CONSTANT(report, AVS_PLANAR_V);
    VELNOR_CONSTANT(report, AVS_PLANAR_A);
    VELNOR_CONSTANT(report, AVS_CS_YUVA);
    VELNOR_CONSTANT(report, AVS_CS_BGR);
    VELNOR_CONSTANT(report, AVS_CS_YUV);
    VELNOR_CONSTANT(report, AVS_CS_INTERLEAVED);
    VELNOR_CONSTANT(report, AVS_CS_PLANAR);
    VELNOR_CONSTANT(report, AVS_CS_VPLANEFIRST);
    VELNOR_CONSTANT(report, AVS_CS_UPLANEFIRST);
    VELNOR_CONSTANT(report, AVS_CS_SUB_WIDTH_MASK);
    VELNOR_CONSTANT(report, AVS_CS_SUB_WIDTH_1);
    VELNOR_CONSTANT(report, AVS_CS_SUB_WIDTH_2);
    VELNOR_CONSTANT(report, AVS_CS_SUB_WIDTH_4);
    VELNOR_CONSTANT(report, AVS_CS_SUB_HEIGHT_MASK);
    VELNOR_CONSTANT(report, AVS_CS_SUB_HEIGHT_1);
    VELNOR_CONSTANT(report, AVS_CS_SUB_HEIGHT_2);
    VELNOR_CONSTANT(report, AVS_CS_SUB_HEIGHT_4);
    VELNOR_CONSTANT(report, AVS_CS_SAMPLE_BITS_MASK);
    VELNOR_CONSTANT(report, AVS_CS_SAMPLE_BITS_8);
    VELNOR_CONSTANT(report, AVS_CS_SAMPLE_BITS_10);
    VELNOR_CONSTANT(report, AVS_CS_SAMPLE_BITS_12);
    VELNOR_CONSTANT(report, AVS_CS_SAMPLE_BITS_14);
    VELNOR_CONSTANT(report, AVS_CS_SAMPLE_BITS_16);
    VELNOR_CONSTANT(report, AVS_CS_SAMPLE_BITS_32);
    VELNOR_CONSTANT(report, AVS_CS_RGB_TYPE);
    VELNOR_CONSTANT(report, AVS_CS_RGBA_TYPE);
    VELNOR_CONSTANT(report, AVS_CS_PLANAR_MASK);
    VELNOR_CONSTANT(report, AVS_CS_PLANAR_FILTER);
    VELNOR_CONSTANT(report, AVS_CS_GENERIC_YUV444);
    VELNOR_CONSTANT(report, AVS_CS_GENERIC_YUV422);
    VELNOR_CONSTANT(report, AVS_CS_GENERIC_YUV420);
    VELNOR_CONSTANT(report, AVS_CS_GENERIC_Y);
    VELNOR_CONSTANT(report, AVS_CS_GENERIC_YUVA444);
    VELNOR_CONSTANT(report, AVS_CS_GENERIC_YUVA422);
    VELNOR_CONSTANT(report, AVS_CS_GENERIC_YUVA420);
    VELNOR_CONSTANT(report, AVS_CS_BGR24);
    VELNOR_CONSTANT(report, AVS_CS_BGR32);
    VELNOR_CONSTANT(report, AVS_CS_YUY2);
    VELNOR_CONSTANT(report, AVS_CS_YV24);
    VELNOR_CONSTANT(report, AVS_CS_YV16);
    VELNOR_CONSTANT(report, AVS_CS_YV12);
    VELNOR_CONSTANT(report, AVS_CS_I420);
    VELNOR_CONSTANT(report, AVS_CS_YV411);
    VELNOR_CONSTANT(report, AVS_CS_YUV9);
    VELNOR_CONSTANT(report, AVS_CS_Y8);
    VELNOR_CONSTANT(report, AVS_CS_YUV420P10);
    VELNOR_CONSTANT(report, AVS_CS_YUV444P16);
    VELNOR_CONSTANT(report, AVS_CS_YUV420PS);
    VELNOR_CONSTANT(report, AVS_CS_Y16);
    VELNOR_CONSTANT(report, AVS_CS_RGBP);
    VELNOR_CONSTANT(report, AVS_CS_YUVA420);
    VELNOR_CONSTANT(report, AVS_CACHE_GET_MTMODE);
    VELNOR_CONSTANT(report, AVS_MT_INVALID);
    VELNOR_CONSTANT(report, AVS_MT_NICE_FILTER);
    VELNOR_CONSTANT(report, AVS_MT_MULTI_INSTANCE);
    VELNOR_CONSTANT(report, AVS_MT_SERIALIZED);
    report.value("AVS_PROPAPPENDMODE_REPLACE", ours::kPropReplace, ::AVS_PROPAPPENDMODE_REPLACE);
    report.value("AVS_PROPAPPENDMODE_APPEND", ours::kPropAppend, ::AVS_PROPAPPENDMODE_APPEND);
    return report.finish();
}
