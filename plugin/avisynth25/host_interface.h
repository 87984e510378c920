// The host's plug-in interface (version 2), declared by hand so that a GCC build
// meets a host built with Microsoft's compiler exactly.
//
// Everything the host and the module exchange is declared here as plain structures:
// objects are a vtable pointer followed by data, and each vtable is a structure of
// function pointers with the calling convention of its slot spelled out. Ordinary
// C++ virtual functions are avoided on purpose, because GCC and Microsoft's ABI
// disagree on exactly the points that matter here:
//   - a virtual destructor is ONE slot in Microsoft's ABI, the deleting destructor,
//     always __thiscall (this in ECX) with one `unsigned flags` argument;
//   - a method returning a class with a copy constructor or destructor (frame
//     references, script values) takes the hidden result pointer AFTER `this`; a
//     free function takes it as its first argument. Here the result pointer is an
//     explicit parameter and the function returns it;
//   - a script value passed by value is an 8-byte block copied by the caller and
//     owned (destroyed) by the callee;
//   - variadic methods are __cdecl, the others __stdcall.
// On any other target (the native test build) the calling-convention macros are
// empty and the same declarations describe a host of that platform.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define VELNOR_HOST_ABI_X86_WIN32 1
#define VELNOR_STDCALL __attribute__((stdcall))
#define VELNOR_CDECL __attribute__((cdecl))
#define VELNOR_THISCALL __attribute__((thiscall))
#else
#define VELNOR_HOST_ABI_X86_WIN32 0
#define VELNOR_STDCALL
#define VELNOR_CDECL
#define VELNOR_THISCALL
#endif

namespace velnor::host {

struct IClip;
struct IScriptEnvironment;
struct AVSValue;

inline constexpr int kInterfaceVersion = 2;

// Pixel types (VideoInfo::pixel_type).
inline constexpr uint32_t kPixelTypeYV12 = 0xA0000008u;
inline constexpr uint32_t kPixelTypeI420 = 0xA0000010u;
inline constexpr uint32_t kPixelTypeYUY2 = 0x60000004u;
inline constexpr uint32_t kPixelTypeBGR24 = 0x50000001u;
inline constexpr uint32_t kPixelTypeBGR32 = 0x50000002u;

struct VideoInfo {
    int32_t width;
    int32_t height;
    uint32_t fps_numerator;
    uint32_t fps_denominator;
    int32_t num_frames;
    int32_t pixel_type;
    int32_t audio_samples_per_second;
    int32_t sample_type;
    alignas(8) int64_t num_audio_samples;  // the host packs structures to 8
    int32_t nchannels;
    int32_t image_type;
};

// Planar 4:2:0 in either plane order.
inline bool is_yv12(const VideoInfo& vi) {
    const uint32_t type = static_cast<uint32_t>(vi.pixel_type);
    return (type & kPixelTypeYV12) == kPixelTypeYV12 || (type & kPixelTypeI420) == kPixelTypeI420;
}

struct VideoFrameBuffer {
    uint8_t* data;
    int32_t data_size;
    int32_t sequence_number;
    int32_t refcount;
};

// Later hosts append fields: never depend on the size.
struct VideoFrame {
    int32_t refcount;
    VideoFrameBuffer* vfb;
    int32_t offset;
    int32_t pitch;
    int32_t row_size;
    int32_t height;
    int32_t offsetU;
    int32_t offsetV;
    int32_t pitchUV;
};

// A script value. Type codes below; a clip value owns one clip reference.
struct AVSValue {
    int16_t type;
    int16_t array_size;
    union {
        IClip* clip;
        bool boolean;
        int32_t integer;
        float floating;
        const char* string;
        const AVSValue* array;
    };
};

inline constexpr int16_t kValueArray = 'a';
inline constexpr int16_t kValueClip = 'c';
inline constexpr int16_t kValueBool = 'b';
inline constexpr int16_t kValueInt = 'i';
inline constexpr int16_t kValueFloat = 'f';
inline constexpr int16_t kValueString = 's';
inline constexpr int16_t kValueUndefined = 'v';

// The create callback registered with AddFunction. `args` is owned by the callee;
// the new value is constructed at `result`, which is returned.
using ApplyFunc = AVSValue*(VELNOR_CDECL*)(AVSValue* result, AVSValue args, void* user_data,
                                           IScriptEnvironment* env);

// A frame reference (PVideoFrame) is one VideoFrame pointer; a method returning one
// constructs it at `result` and returns `result`.
struct ClipVtable {
    int(VELNOR_STDCALL* GetVersion)(IClip* self);
    VideoFrame**(VELNOR_STDCALL* GetFrame)(IClip* self, VideoFrame** result, int n,
                                           IScriptEnvironment* env);
    bool(VELNOR_STDCALL* GetParity)(IClip* self, int n);
    void(VELNOR_STDCALL* GetAudio)(IClip* self, void* buffer, int64_t start, int64_t count,
                                   IScriptEnvironment* env);
    // Declared void by the host; later hosts read EAX as a result, so return 0.
    int(VELNOR_STDCALL* SetCacheHints)(IClip* self, int hints, int frame_range);
    const VideoInfo*(VELNOR_STDCALL* GetVideoInfo)(IClip* self);
    // Destroys the object, frees it when flags & 1, returns self.
    IClip*(VELNOR_THISCALL* DeletingDestructor)(IClip* self, unsigned flags);
};

// A counted clip. A new object starts with refcount 0.
struct IClip {
    const ClipVtable* vtable;
    int32_t refcount;
};

// Only the slots this module calls carry a signature; the others are placeholders
// that keep the positions.
struct EnvironmentVtable {
    IScriptEnvironment*(VELNOR_THISCALL* DeletingDestructor)(IScriptEnvironment* self,
                                                             unsigned flags);
    const void* GetCPUFlags;
    const void* SaveString;
    const void* Sprintf;
    const void* VSprintf;
    // Raises a script error; does not return in a real host.
    void(VELNOR_CDECL* ThrowError)(IScriptEnvironment* self, const char* format, ...);
    void(VELNOR_STDCALL* AddFunction)(IScriptEnvironment* self, const char* name,
                                      const char* params, ApplyFunc apply, void* user_data);
    const void* FunctionExists;
    const void* Invoke;
    const void* GetVar;
    const void* SetVar;
    const void* SetGlobalVar;
    const void* PushContext;
    const void* PopContext;
    const void* NewVideoFrame;
    // May replace *frame with a writable copy; true when it did.
    bool(VELNOR_STDCALL* MakeWritable)(IScriptEnvironment* self, VideoFrame** frame);
    const void* BitBlt;
    const void* AtExit;
    const void* CheckVersion;
};

struct IScriptEnvironment {
    const EnvironmentVtable* vtable;
};

// The layout the host expects. VideoInfo has no pointers, so it is the same on
// every target; the rest is checked where pointers are 32 bits.
static_assert(sizeof(VideoInfo) == 48);
static_assert(offsetof(VideoInfo, width) == 0 && offsetof(VideoInfo, height) == 4);
static_assert(offsetof(VideoInfo, fps_numerator) == 8 &&
              offsetof(VideoInfo, fps_denominator) == 12);
static_assert(offsetof(VideoInfo, num_frames) == 16 && offsetof(VideoInfo, pixel_type) == 20);
static_assert(offsetof(VideoInfo, audio_samples_per_second) == 24);
static_assert(offsetof(VideoInfo, sample_type) == 28);
static_assert(offsetof(VideoInfo, num_audio_samples) == 32);
static_assert(offsetof(VideoInfo, nchannels) == 40 && offsetof(VideoInfo, image_type) == 44);

#if VELNOR_HOST_ABI_X86_WIN32
static_assert(sizeof(void*) == 4);
static_assert(sizeof(VideoFrameBuffer) == 16);
static_assert(offsetof(VideoFrameBuffer, data) == 0 && offsetof(VideoFrameBuffer, data_size) == 4);
static_assert(offsetof(VideoFrameBuffer, sequence_number) == 8);
static_assert(offsetof(VideoFrameBuffer, refcount) == 12);

static_assert(offsetof(VideoFrame, refcount) == 0 && offsetof(VideoFrame, vfb) == 4);
static_assert(offsetof(VideoFrame, offset) == 8 && offsetof(VideoFrame, pitch) == 12);
static_assert(offsetof(VideoFrame, row_size) == 16 && offsetof(VideoFrame, height) == 20);
static_assert(offsetof(VideoFrame, offsetU) == 24 && offsetof(VideoFrame, offsetV) == 28);
static_assert(offsetof(VideoFrame, pitchUV) == 32);

static_assert(sizeof(AVSValue) == 8);
static_assert(offsetof(AVSValue, type) == 0 && offsetof(AVSValue, array_size) == 2);
static_assert(offsetof(AVSValue, clip) == 4 && offsetof(AVSValue, integer) == 4);
static_assert(offsetof(AVSValue, array) == 4);

static_assert(sizeof(IClip) == 8);
static_assert(offsetof(IClip, vtable) == 0 && offsetof(IClip, refcount) == 4);
static_assert(sizeof(ClipVtable) == 7 * 4);
static_assert(offsetof(ClipVtable, GetVersion) == 0 * 4);
static_assert(offsetof(ClipVtable, GetFrame) == 1 * 4);
static_assert(offsetof(ClipVtable, GetParity) == 2 * 4);
static_assert(offsetof(ClipVtable, GetAudio) == 3 * 4);
static_assert(offsetof(ClipVtable, SetCacheHints) == 4 * 4);
static_assert(offsetof(ClipVtable, GetVideoInfo) == 5 * 4);
static_assert(offsetof(ClipVtable, DeletingDestructor) == 6 * 4);

static_assert(sizeof(IScriptEnvironment) == 4);
static_assert(sizeof(EnvironmentVtable) == 19 * 4);
static_assert(offsetof(EnvironmentVtable, DeletingDestructor) == 0 * 4);
static_assert(offsetof(EnvironmentVtable, ThrowError) == 5 * 4);
static_assert(offsetof(EnvironmentVtable, AddFunction) == 6 * 4);
static_assert(offsetof(EnvironmentVtable, NewVideoFrame) == 14 * 4);
static_assert(offsetof(EnvironmentVtable, MakeWritable) == 15 * 4);
static_assert(offsetof(EnvironmentVtable, CheckVersion) == 18 * 4);
#endif

}  // namespace velnor::host
