#include "plugin/avisynth_c/avs_c_api.h"

namespace velnor::avsc {

namespace {

// Object pointers from a symbol lookup are converted to function pointers, as
// dlsym and GetProcAddress results are meant to be.
template <class Function>
bool load(SymbolLookup lookup, void* context, const char* name, Function* out) {
    void* symbol = lookup(context, name);
    *out = reinterpret_cast<Function>(symbol);
    return symbol != nullptr;
}

}  // namespace

bool load_avs_api(SymbolLookup lookup, void* context, AvsApi* api) {
    bool ok = true;
    ok &= load(lookup, context, "avs_add_function", &api->add_function);
    ok &= load(lookup, context, "avs_at_exit", &api->at_exit);
    ok &= load(lookup, context, "avs_get_error", &api->get_error);
    ok &= load(lookup, context, "avs_new_c_filter", &api->new_c_filter);
    ok &= load(lookup, context, "avs_set_to_clip", &api->set_to_clip);
    ok &= load(lookup, context, "avs_release_clip", &api->release_clip);
    ok &= load(lookup, context, "avs_get_frame", &api->get_frame);
    ok &= load(lookup, context, "avs_release_video_frame", &api->release_video_frame);
    ok &= load(lookup, context, "avs_make_writable", &api->make_writable);
    ok &= load(lookup, context, "avs_get_write_ptr_p", &api->get_write_ptr_p);
    ok &= load(lookup, context, "avs_get_pitch_p", &api->get_pitch_p);
    ok &= load(lookup, context, "avs_get_row_size_p", &api->get_row_size_p);
    ok &= load(lookup, context, "avs_get_height_p", &api->get_height_p);
    ok &= load(lookup, context, "avs_get_read_ptr_p", &api->get_read_ptr_p);
    ok &= load(lookup, context, "avs_clip_get_error", &api->clip_get_error);
    ok &= load(lookup, context, "avs_save_string", &api->save_string);
    bool props = load(lookup, context, "avs_get_frame_props_rw", &api->get_frame_props_rw);
    props &= load(lookup, context, "avs_prop_set_int", &api->prop_set_int);
    props &= load(lookup, context, "avs_prop_set_float", &api->prop_set_float);
    if (!props) {
        api->get_frame_props_rw = nullptr;
        api->prop_set_int = nullptr;
        api->prop_set_float = nullptr;
    }
    return ok;
}

}  // namespace velnor::avsc
