// The frameserver's plug-in interface (version 2) as a host written with Microsoft's
// compiler declares it: ordinary C++ classes with virtual __stdcall methods, virtual
// destructors, and reference-counting value classes. The compiler, not this file,
// lays out the vtables, result pointers and destructor calls, so whatever a plug-in
// meets here is what it meets in a real host.
#pragma once

#include <stdint.h>

#include "tests/msvc_host/system_imports.h"

typedef unsigned char BYTE;

class IScriptEnvironment;
class IClip;
class AVSValue;

enum {
    CS_BGR24 = 0x50000001,
    CS_BGR32 = 0x50000002,
    CS_YUY2 = 0x60000004,
    CS_YV12 = (int)0xA0000008,
    CS_I420 = (int)0xA0000010,
};

struct VideoInfo {
    int width, height;
    unsigned fps_numerator, fps_denominator;
    int num_frames;
    int pixel_type;
    int audio_samples_per_second;
    int sample_type;
    int64_t num_audio_samples;
    int nchannels;
    int image_type;

    bool IsYV12() const {
        return (pixel_type & CS_YV12) == CS_YV12 || (pixel_type & CS_I420) == CS_I420;
    }
};
static_assert(sizeof(VideoInfo) == 48, "VideoInfo is 48 bytes");

// The memory behind one or more frames.
class VideoFrameBuffer {
public:
    BYTE* data;
    int data_size;
    volatile long sequence_number;
    volatile long refcount;
};

// A view of a buffer: where each plane starts and how its rows are laid out.
class VideoFrame {
public:
    volatile long refcount;
    VideoFrameBuffer* vfb;
    int offset, pitch, row_size, height, offsetU, offsetV, pitchUV;

    VideoFrame(VideoFrameBuffer* buffer, int offset_, int pitch_, int row_size_, int height_,
               int offsetU_, int offsetV_, int pitchUV_)
        : refcount(0),
          vfb(buffer),
          offset(offset_),
          pitch(pitch_),
          row_size(row_size_),
          height(height_),
          offsetU(offsetU_),
          offsetV(offsetV_),
          pitchUV(pitchUV_) {
        _InterlockedIncrement(&vfb->refcount);
    }

    void AddRef() { _InterlockedIncrement(&refcount); }
    void Release() {
        if (refcount == 1) _InterlockedDecrement(&vfb->refcount);
        _InterlockedDecrement(&refcount);
    }

    int GetPitch() const { return pitch; }
    int GetRowSize() const { return row_size; }
    int GetHeight() const { return height; }
    const BYTE* GetReadPtr() const { return vfb->data + offset; }
    bool IsWritable() const { return refcount == 1 && vfb->refcount == 1; }
};

class PVideoFrame {
public:
    PVideoFrame() : p(nullptr) {}
    PVideoFrame(VideoFrame* frame) : p(frame) {
        if (p) p->AddRef();
    }
    PVideoFrame(const PVideoFrame& other) : p(other.p) {
        if (p) p->AddRef();
    }
    PVideoFrame& operator=(const PVideoFrame& other) {
        if (other.p) other.p->AddRef();
        if (p) p->Release();
        p = other.p;
        return *this;
    }
    ~PVideoFrame() {
        if (p) p->Release();
    }

    VideoFrame* operator->() const { return p; }
    VideoFrame* get() const { return p; }
    explicit operator bool() const { return p != nullptr; }

private:
    VideoFrame* p;
};

class IClip {
    friend class PClip;
    friend class AVSValue;
    volatile long refcnt;
    void AddRef() { _InterlockedIncrement(&refcnt); }
    void Release() {
        if (!_InterlockedDecrement(&refcnt)) delete this;
    }

public:
    IClip() : refcnt(0) {}
    // The references currently counted on this clip (for the host's own checks).
    long RefCount() const { return refcnt; }

    virtual int __stdcall GetVersion() { return 2; }
    virtual PVideoFrame __stdcall GetFrame(int n, IScriptEnvironment* env) = 0;
    virtual bool __stdcall GetParity(int n) = 0;
    virtual void __stdcall GetAudio(void* buf, int64_t start, int64_t count,
                                    IScriptEnvironment* env) = 0;
    // Declared void by interface version 2; hosts of later versions read the result.
    virtual int __stdcall SetCacheHints(int cachehints, int frame_range) = 0;
    virtual const VideoInfo& __stdcall GetVideoInfo() = 0;
    // Microsoft's compiler ignores __stdcall on a destructor; it is always __thiscall.
    virtual ~IClip() {}
};

class PClip {
public:
    PClip() : p(nullptr) {}
    PClip(IClip* clip) : p(clip) {
        if (p) p->AddRef();
    }
    PClip(const PClip& other) : p(other.p) {
        if (p) p->AddRef();
    }
    PClip& operator=(const PClip& other) {
        if (other.p) other.p->AddRef();
        if (p) p->Release();
        p = other.p;
        return *this;
    }
    ~PClip() {
        if (p) p->Release();
    }

    IClip* operator->() const { return p; }
    IClip* get() const { return p; }
    explicit operator bool() const { return p != nullptr; }

private:
    IClip* p;
};

class AVSValue {
public:
    AVSValue() : type('v'), array_size(0), integer(0) {}
    AVSValue(IClip* c) : type('c'), array_size(0), clip(c) {
        if (clip) clip->AddRef();
    }
    AVSValue(const PClip& c) : AVSValue(c.get()) {}
    AVSValue(int i) : type('i'), array_size(0), integer(i) {}
    AVSValue(const char* s) : type('s'), array_size(0), string(s) {}
    AVSValue(const AVSValue* values, int size)
        : type('a'), array_size(static_cast<short>(size)), array(values) {}
    AVSValue(const AVSValue& other) : type(other.type), array_size(other.array_size) {
        integer = other.integer;
        if (type == 'c' && clip) clip->AddRef();
    }
    AVSValue& operator=(const AVSValue& other) {
        if (other.type == 'c' && other.clip) other.clip->AddRef();
        if (type == 'c' && clip) clip->Release();
        type = other.type;
        array_size = other.array_size;
        integer = other.integer;
        return *this;
    }
    ~AVSValue() {
        if (type == 'c' && clip) clip->Release();
    }

    bool Defined() const { return type != 'v'; }
    bool IsClip() const { return type == 'c'; }
    bool IsInt() const { return type == 'i'; }
    bool IsArray() const { return type == 'a'; }
    short Type() const { return type; }
    IClip* AsClip() const { return IsClip() ? clip : nullptr; }
    int AsInt() const { return integer; }
    int ArraySize() const { return IsArray() ? array_size : 1; }
    const AVSValue& operator[](int index) const { return IsArray() ? array[index] : *this; }

private:
    short type;
    short array_size;
    union {
        IClip* clip;
        bool boolean;
        int integer;
        float floating_pt;
        const char* string;
        const AVSValue* array;
    };
};
static_assert(sizeof(AVSValue) == 8, "AVSValue is 8 bytes");

class IScriptEnvironment {
public:
    virtual ~IScriptEnvironment() {}
    virtual long __stdcall GetCPUFlags() = 0;
    virtual char* __stdcall SaveString(const char* s, int length = -1) = 0;
    virtual char* __stdcall Sprintf(const char* format, ...) = 0;
    virtual char* __stdcall VSprintf(const char* format, va_list args) = 0;
    [[noreturn]] virtual void __stdcall ThrowError(const char* format, ...) = 0;

    typedef AVSValue(__cdecl* ApplyFunc)(AVSValue args, void* user_data, IScriptEnvironment* env);
    virtual void __stdcall AddFunction(const char* name, const char* params, ApplyFunc apply,
                                       void* user_data) = 0;
    virtual bool __stdcall FunctionExists(const char* name) = 0;
    virtual AVSValue __stdcall Invoke(const char* name, const AVSValue args,
                                      const char** arg_names = nullptr) = 0;
    virtual AVSValue __stdcall GetVar(const char* name) = 0;
    virtual bool __stdcall SetVar(const char* name, const AVSValue& value) = 0;
    virtual bool __stdcall SetGlobalVar(const char* name, const AVSValue& value) = 0;
    virtual void __stdcall PushContext(int level = 0) = 0;
    virtual void __stdcall PopContext() = 0;
    virtual PVideoFrame __stdcall NewVideoFrame(const VideoInfo& vi, int align = 16) = 0;
    virtual bool __stdcall MakeWritable(PVideoFrame* pvf) = 0;
    virtual void __stdcall BitBlt(BYTE* dstp, int dst_pitch, const BYTE* srcp, int src_pitch,
                                  int row_size, int height) = 0;
    typedef void(__cdecl* ShutdownFunc)(void* user_data, IScriptEnvironment* env);
    virtual void __stdcall AtExit(ShutdownFunc function, void* user_data) = 0;
    virtual void __stdcall CheckVersion(int version = 2) = 0;
};

// What ThrowError throws: the formatted message, saved by the environment.
struct AvisynthError {
    const char* msg;
};

// The entry point a plug-in exports as _AvisynthPluginInit2@4.
typedef const char*(__stdcall* PluginInit2Func)(IScriptEnvironment* env);
