#include "tests/plugin_vapoursynth/fake_vs.h"

#include <cstdio>
#include <random>

#include "tests/sample_reference.h"

namespace velnor::vs {

std::atomic<int> FakeVs::live_frames{0};
std::vector<std::pair<int, std::string>> FakeVs::log;

namespace {

// Row padding of new frames; sources use another, so strides differ.
constexpr int kNewFramePadding = 29;
constexpr int kSourcePadding = 13;

int plane_width(const VSFrame* f, int plane) {
    return plane == 0 ? f->width : f->width >> f->format.subSamplingW;
}
int plane_height(const VSFrame* f, int plane) {
    return plane == 0 ? f->height : f->height >> f->format.subSamplingH;
}

// Source padding differs from the padding of new frames, so that a copy that
// reaches past a row shows in the output.
void mark_padding(test::TestPlane& plane) {
    for (std::size_t i = 0; i < plane.bytes.size(); ++i) {
        const std::ptrdiff_t x = static_cast<std::ptrdiff_t>(i) % plane.pitch;
        if (x >= plane.width || i >= static_cast<std::size_t>(plane.pitch * plane.height))
            plane.bytes[i] = 0x3C;
    }
}

VSFrame* allocate(const VSVideoFormat* format, int width, int height) {
    ++FakeVs::live_frames;
    VSFrame* f = new VSFrame;
    f->format = *format;
    f->width = width;
    f->height = height;
    return f;
}

void free_frame(const VSFrame* f) {
    if (f && --const_cast<VSFrame*>(f)->refs == 0) {
        delete f;
        --FakeVs::live_frames;
    }
}

const VSFrame* add_frame_ref(const VSFrame* f) {
    ++const_cast<VSFrame*>(f)->refs;
    return f;
}

void free_node(VSNode* node) {
    if (!node || --node->refs > 0) return;
    if (node->free) node->free(node->instance, nullptr, &FakeVs::api());
    for (auto& [n, frame] : node->frames) free_frame(frame);
    delete node;
}

// A new plane of `width` x `height` samples of the frame's format, rows padded.
std::shared_ptr<test::TestPlane> new_plane(const VSFrame* f, int plane, int padding) {
    const int bytes = f->format.bytesPerSample, w = plane_width(f, plane);
    return std::make_shared<test::TestPlane>(w * bytes, plane_height(f, plane),
                                             (w + padding) * bytes);
}

VSFrame* new_video_frame2(const VSVideoFormat* format, int width, int height,
                          const VSFrame** plane_src, const int* planes, const VSFrame* prop_src,
                          VSCore*) {
    VSFrame* f = allocate(format, width, height);
    for (int p = 0; p < format->numPlanes; ++p) {
        if (plane_src[p]) {
            f->planes[p] = plane_src[p]->planes[planes[p]];
        } else {
            f->planes[p] = new_plane(f, p, kNewFramePadding);
        }
    }
    if (prop_src) f->props = prop_src->props;
    return f;
}

void create_error(VSMap* map, const char* message) { map->error = message; }

int64_t map_get_int(const VSMap* map, const char* key, int index, int* error) {
    auto it = map->entries.find(key);
    if (it == map->entries.end() || index >= static_cast<int>(it->second.size())) {
        if (error) *error = peUnset;
        return 0;
    }
    if (error) *error = peSuccess;
    return std::get<int64_t>(it->second[index]);
}

VSNode* map_get_node(const VSMap* map, const char* key, int index, int* error) {
    VSNode* node = std::get<VSNode*>(map->entries.at(key).at(index));
    if (error) *error = peSuccess;
    ++node->refs;
    return node;
}

int map_consume_node(VSMap* map, const char* key, VSNode* node, int) {
    map->entries[key].push_back(node);
    return 0;
}

VSNode* create_video_filter2(const char*, const VSVideoInfo* vi, VSFilterGetFrame get_frame,
                             VSFilterFree free, int mode, const VSFilterDependency* deps,
                             int num_deps, void* instance, VSCore*) {
    VSNode* node = new VSNode;
    node->vi = *vi;
    node->get_frame = get_frame;
    node->free = free;
    node->instance = instance;
    node->mode = mode;
    node->dependencies.assign(deps, deps + num_deps);
    return node;
}

const VSFrame* get_frame_filter(int n, VSNode* node, VSFrameContext* ctx) {
    if (node != ctx->requested_node || n != ctx->requested_n || !ctx->ready) return nullptr;
    return add_frame_ref(ctx->ready);
}

void request_frame_filter(int n, VSNode* node, VSFrameContext* ctx) {
    ctx->requested_node = node;
    ctx->requested_n = n;
}

int map_set_int(VSMap* map, const char* key, int64_t i, int append) {
    if (append == maReplace) map->entries[key].clear();
    map->entries[key].push_back(i);
    return 0;
}

int map_set_float(VSMap* map, const char* key, double d, int append) {
    if (append == maReplace) map->entries[key].clear();
    map->entries[key].push_back(d);
    return 0;
}

const VSFrame* get_frame_sync(int n, VSNode* node, char* error, int size) {
    std::string message;
    const VSFrame* frame = FakeVs::get_frame(node, n, &message);
    if (!frame && error && size > 0)
        std::snprintf(error, static_cast<std::size_t>(size), "%s", message.c_str());
    return frame;
}

VSAPI make_api() {
    VSAPI a{};
    a.createVideoFilter2 = create_video_filter2;
    a.freeNode = free_node;
    a.getVideoInfo = [](VSNode* node) -> const VSVideoInfo* { return &node->vi; };
    a.newVideoFrame2 = new_video_frame2;
    a.freeFrame = free_frame;
    a.addFrameRef = add_frame_ref;
    a.getStride = [](const VSFrame* f, int p) { return f->planes[p]->pitch; };
    a.getReadPtr = [](const VSFrame* f, int p) -> const uint8_t* { return f->planes[p]->data(); };
    a.getWritePtr = [](VSFrame* f, int p) { return f->planes[p]->data(); };
    a.getVideoFrameFormat = [](const VSFrame* f) { return &f->format; };
    a.getFrameWidth = plane_width;
    a.getFrameHeight = plane_height;
    a.getFrameFilter = get_frame_filter;
    a.requestFrameFilter = request_frame_filter;
    a.setFilterError = [](const char* message, VSFrameContext* ctx) { ctx->error = message; };
    a.mapSetError = create_error;
    a.mapGetError = [](const VSMap* map) {
        return map->error.empty() ? nullptr : map->error.c_str();
    };
    a.mapGetInt = map_get_int;
    a.mapNumElements = [](const VSMap* map, const char* key) {
        auto it = map->entries.find(key);
        return it == map->entries.end() ? -1 : static_cast<int>(it->second.size());
    };
    a.mapGetNode = map_get_node;
    a.mapConsumeNode = map_consume_node;
    a.mapSetInt = map_set_int;
    a.mapSetFloat = map_set_float;
    a.getFramePropertiesRW = [](VSFrame* f) { return &f->props; };
    a.getFrame = get_frame_sync;
    a.logMessage = [](int type, const char* message, VSCore*) {
        FakeVs::log.emplace_back(type, message);
    };
    return a;
}

}  // namespace

const VSAPI& FakeVs::api() {
    static const VSAPI a = make_api();
    return a;
}

const VSPLUGINAPI& FakeVs::plugin_api() {
    static const VSPLUGINAPI a = {
        [] { return kApiVersion; },
        [](const char* id, const char* ns, const char* name, int version, int api_version, int,
           VSPlugin* plugin) {
            *plugin = VSPlugin{id, ns, name, version, api_version, {}};
            return 1;
        },
        [](const char* name, const char* args, const char* return_type, VSPublicFunction create,
           void* data, VSPlugin* plugin) {
            plugin->functions.push_back({name, args, return_type, create, data});
            return 1;
        },
    };
    return a;
}

VSVideoFormat FakeVs::format(int color_family, int sample_type, int bits, int ssw, int ssh) {
    return {color_family,
            sample_type,
            bits,
            bits <= 8    ? 1
            : bits <= 16 ? 2
                         : 4,
            ssw,
            ssh,
            color_family == cfGray ? 1 : 3};
}

VSNode* FakeVs::source(const VSVideoFormat& format, int width, int height) {
    VSNode* node = new VSNode;
    node->vi = {format, 30000, 1001, width, height, 10};
    return node;
}

VSNode* FakeVs::call_estimate(VSNode* source, std::string* error) {
    VSMap in, out;
    in.entries["clip"] = {source};
    const VSPlugin::Function& estimate = plugin.functions.at(1);
    estimate.create(&in, &out, estimate.data, &core, &api());
    *error = out.error;
    auto it = out.entries.find("clip");
    return it == out.entries.end() ? nullptr : std::get<VSNode*>(it->second.at(0));
}

VSNode* FakeVs::call_velnor(VSNode* source, const Args& args, std::string* error) {
    VSMap in, out;
    in.entries["clip"] = {source};
    for (const auto& [key, values] : args) in.entries[key].assign(values.begin(), values.end());
    const VSPlugin::Function& velnor = plugin.functions.at(0);
    // As the core does before calling the filter: an empty list only for an argument
    // declared with the empty flag.
    for (const auto& [key, values] : args) {
        const std::string declared = ";" + velnor.args;
        const std::size_t at = declared.find(";" + key + ":");
        const std::string declaration =
            at == std::string::npos ? "" : declared.substr(at, declared.find(';', at + 1) - at);
        if (values.empty() && declaration.find(":empty") == std::string::npos) {
            *error = "Argument " + key + " does not accept empty arrays";
            return nullptr;
        }
    }
    velnor.create(&in, &out, velnor.data, &core, &api());
    *error = out.error;
    auto it = out.entries.find("clip");
    return it == out.entries.end() ? nullptr : std::get<VSNode*>(it->second.at(0));
}

const VSFrame* FakeVs::get_frame(VSNode* node, int n, std::string* error) {
    if (!node->get_frame) {  // a source
        ++node->requests;
        if (n == node->failing) {
            if (error) *error = "source: frame " + std::to_string(n) + " is unreadable";
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(node->mutex);
        const VSFrame*& frame = node->frames[n];
        if (!frame) {
            VSFrame* f =
                allocate(&node->vi.format, node->vi.width, node->vi.height - node->frame_shrink);
            std::mt19937 rng(static_cast<uint32_t>(77 + n));
            const SampleFormat sample = f->format.sampleType == stFloat
                                            ? SampleFormat::floating()
                                            : SampleFormat::integer(f->format.bitsPerSample);
            for (int p = 0; p < f->format.numPlanes; ++p) {
                f->planes[p] = new_plane(f, p, kSourcePadding);
                test::TestPlane& plane = *f->planes[p];
                test::fill_samples(plane.data(), plane.pitch, plane_width(f, p), plane.height,
                                   sample, rng);
                const int level = p == 0 ? node->luma : node->chroma[p - 1];
                const int noise = p == 0 ? node->luma_noise : node->chroma_noise[p - 1];
                if (level >= 0)
                    test::fill_level(plane.data(), plane.pitch, plane_width(f, p), plane.height,
                                     sample, level, noise, rng, p ? -0.5f : 0.0f);
                mark_padding(plane);
            }
            f->props.entries["_FrameNumber"] = {int64_t{n}};
            f->props.entries["Custom"] = {int64_t{1001}, int64_t{n}};
            frame = f;
        }
        return add_frame_ref(frame);
    }
    VSFrameContext ctx;
    void* frame_data = nullptr;
    VSCore core;
    const VSFrame* out =
        node->get_frame(n, arInitial, node->instance, &frame_data, &ctx, &core, &api());
    if (!out && ctx.requested_node) {
        ctx.ready = get_frame(ctx.requested_node, ctx.requested_n);
        out =
            node->get_frame(n, arAllFramesReady, node->instance, &frame_data, &ctx, &core, &api());
        free_frame(ctx.ready);
    }
    if (error) *error = ctx.error;
    return out;
}

}  // namespace velnor::vs
