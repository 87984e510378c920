#include "tests/msvc_host/frame_layout.h"

#include "tests/msvc_host/check.h"

using velnor_case_file::CaseHeader;

namespace {

FrameLayout make_layout(const CaseHeader& c, int pitch, int pitchUV, int guard) {
    FrameLayout layout;
    layout.row_size = c.width;
    layout.height = c.height;
    layout.pitch = pitch;
    layout.chroma_row_size = c.chroma_width;
    layout.chroma_height = c.chroma_height;
    layout.pitchUV = pitchUV;
    layout.offset = guard;
    layout.offsetV = layout.offset + pitch * c.height + guard;
    layout.offsetU = layout.offsetV + pitchUV * c.chroma_height + guard;
    layout.data_size = layout.offsetU + pitchUV * c.chroma_height + guard;
    return layout;
}

void copy_rows(BYTE* dst, int dst_pitch, const BYTE* src, int src_pitch, int row_bytes, int rows) {
    for (int y = 0; y < rows; ++y) memcpy(dst + y * dst_pitch, src + y * src_pitch, row_bytes);
}

}  // namespace

FrameLayout source_layout(const CaseHeader& c) {
    return make_layout(c, c.luma_pitch, c.chroma_pitch, 48);
}

FrameLayout copy_layout(const FrameLayout& from) {
    CaseHeader c{};
    c.width = from.row_size;
    c.height = from.height;
    c.chroma_width = from.chroma_row_size;
    c.chroma_height = from.chroma_height;
    return make_layout(c, from.pitch + 32, from.pitchUV + 16, 80);
}

void fill_source_buffer(BYTE* data, const FrameLayout& layout, const CaseHeader& c,
                        const TestFrame& frame) {
    memset(data, kSourceGuard, layout.data_size);
    copy_rows(data + layout.offset, layout.pitch, frame.luma, c.luma_pitch, c.luma_pitch, c.height);
    copy_rows(data + layout.offsetU, layout.pitchUV, frame.u, c.chroma_pitch, c.chroma_pitch,
              c.chroma_height);
    copy_rows(data + layout.offsetV, layout.pitchUV, frame.v, c.chroma_pitch, c.chroma_pitch,
              c.chroma_height);
}

void expected_buffer(BYTE* data, const FrameLayout& layout, BufferOrigin origin,
                     const CaseHeader& c, const TestFrame& frame) {
    if (origin == kFromSource) {
        fill_source_buffer(data, layout, c, frame);
    } else {
        // MakeWritable copies the rows of each plane and nothing else.
        memset(data, kCopyGuard, layout.data_size);
        copy_rows(data + layout.offsetU, layout.pitchUV, frame.u, c.chroma_pitch, c.chroma_width,
                  c.chroma_height);
        copy_rows(data + layout.offsetV, layout.pitchUV, frame.v, c.chroma_pitch, c.chroma_width,
                  c.chroma_height);
    }
    copy_rows(data + layout.offset, layout.pitch, frame.expected, c.luma_pitch, c.width, c.height);
}

bool same_layout(const VideoFrame& frame, const FrameLayout& layout) {
    return frame.offset == layout.offset && frame.pitch == layout.pitch &&
           frame.row_size == layout.row_size && frame.height == layout.height &&
           frame.offsetU == layout.offsetU && frame.offsetV == layout.offsetV &&
           frame.pitchUV == layout.pitchUV && frame.vfb->data_size == layout.data_size;
}

void describe_byte(const FrameLayout& layout, int index, char* text, int text_size) {
    struct Plane {
        const char* name;
        int offset, pitch, row_size, rows;
    };
    const Plane planes[] = {
        {"luma", layout.offset, layout.pitch, layout.row_size, layout.height},
        {"U", layout.offsetU, layout.pitchUV, layout.chroma_row_size, layout.chroma_height},
        {"V", layout.offsetV, layout.pitchUV, layout.chroma_row_size, layout.chroma_height},
    };
    for (const Plane& plane : planes) {
        const int relative = index - plane.offset;
        if (relative < 0 || relative >= plane.pitch * plane.rows) continue;
        const int x = relative % plane.pitch, y = relative / plane.pitch;
        if (x < plane.row_size)
            format_text(text, text_size, "%s sample (%d, %d)", plane.name, x, y);
        else
            format_text(text, text_size, "%s padding byte %d of row %d", plane.name, x, y);
        return;
    }
    format_text(text, text_size, "guard byte at offset %d", index);
}
