// Where this host puts the planes of a frame inside its buffer, and what a buffer
// must hold after the plug-in has filtered it.
#pragma once

#include "tests/msvc_host/avs_interface.h"
#include "tests/msvc_host/case_file.h"

// How a buffer was made: handed out by a source clip, or copied by MakeWritable.
enum BufferOrigin { kFromSource = 1, kWritableCopy = 2 };

// Bytes outside every plane row, so that a write through a wrong offset shows.
inline constexpr BYTE kSourceGuard = 0xC3;
inline constexpr BYTE kCopyGuard = 0x5A;

struct FrameLayout {
    int offset, pitch, row_size, height;
    int offsetU, offsetV, pitchUV, chroma_row_size, chroma_height;
    int data_size;
};

// Layout of the frames a source clip hands out: the case's own pitches, with
// guard bytes before, between and after the planes.
FrameLayout source_layout(const velnor_case_file::CaseHeader& c);
// Layout of the copies MakeWritable makes: other offsets and wider pitches, so that
// a plug-in that keeps the pitch or address of the frame it had before fails.
FrameLayout copy_layout(const FrameLayout& from);

// Writes a source frame: guard bytes, then whole rows (padding included) of the
// input planes.
void fill_source_buffer(BYTE* data, const FrameLayout& layout,
                        const velnor_case_file::CaseHeader& c, const TestFrame& frame);

// The whole buffer as it must be after filtering: unchanged except the width x height
// luma samples, which hold the expected values.
void expected_buffer(BYTE* data, const FrameLayout& layout, BufferOrigin origin,
                     const velnor_case_file::CaseHeader& c, const TestFrame& frame);

bool same_layout(const VideoFrame& frame, const FrameLayout& layout);

// Describes byte `index` of a buffer with this layout ("luma (3, 4)", "U padding", ...).
void describe_byte(const FrameLayout& layout, int index, char* text, int text_size);
