// The host functions the AviSynth+ binding calls, gathered in one table that is
// filled at run time from the libavisynth the host has loaded (or, in tests, by
// hand).
#pragma once

#include "plugin/avisynth_c/avs_c_interface.h"

namespace velnor::avsc {

struct AvsApi {
    avs_add_function_func add_function;
    avs_at_exit_func at_exit;
    avs_get_error_func get_error;
    avs_new_c_filter_func new_c_filter;
    avs_set_to_clip_func set_to_clip;
    avs_release_clip_func release_clip;
    avs_get_frame_func get_frame;
    avs_release_video_frame_func release_video_frame;
    avs_make_writable_func make_writable;
    avs_get_write_ptr_p_func get_write_ptr_p;
    avs_get_pitch_p_func get_pitch_p;
    avs_get_row_size_p_func get_row_size_p;
    avs_get_height_p_func get_height_p;
    avs_get_read_ptr_p_func get_read_ptr_p;
    avs_clip_get_error_func clip_get_error;
    avs_save_string_func save_string;
    // Frame properties: null in hosts that have none (before interface version 8).
    avs_get_frame_props_rw_func get_frame_props_rw;
    avs_prop_set_int_func prop_set_int;
    avs_prop_set_float_func prop_set_float;
};

// Looks a host function up by its exported name; null if it is missing.
using SymbolLookup = void* (*)(void* context, const char* name);

// Fills every entry of `api` through `lookup`; false (with `api` partly filled) if
// any function is missing but those of frame properties, which are left null
// unless all three are found.
bool load_avs_api(SymbolLookup lookup, void* context, AvsApi* api);

// Finds the loaded module that exports the interface, whether the program linked
// it or opened it privately, and fills `api` from it. False if there is none.
bool resolve_loaded_avs_api(AvsApi* api);

}  // namespace velnor::avsc
