// Filters the planes of one Y4M frame in place: luma always, Cb and Cr when asked
// (each with a denoiser for its own size and values), alpha never.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cli/y4m_format.h"
#include "cli/y4m_reader.h"
#include "core/denoiser.h"
#include "core/suggested_settings.h"

namespace velnor::cli {

class FrameFilter {
public:
    // `planes` holds the values of the luma and, to filter them too, of Cb and Cr
    // (options.h: plane_values); a stream without chroma filters its luma alone. The
    // values keep their 8-bit meaning at every depth.
    FrameFilter(const StreamInfo& info, const std::vector<FilterValues>& planes);

    // Filters the frame's planes; stops at the first plane that fails and returns its
    // status (the planes before it stay filtered).
    PassStatus filter(Frame& frame, const ScratchAllocator& scratch) const;

    // The largest of the planes' least scratch needs: the smallest block a pass asks
    // for before it gives up, found by filtering a few rows of each plane's width
    // with every request refused. A pass holds one block at a time, so a worker
    // filters any frame with one block this large. May throw std::bad_alloc.
    std::size_t least_scratch_bytes() const;

private:
    struct PlaneJob {
        std::size_t offset;  // in the frame data
        std::ptrdiff_t pitch;
        std::size_t denoiser;  // index in denoisers_
    };
    std::vector<Denoiser> denoisers_;  // one per plane size and values
    std::vector<PlaneJob> planes_;
};

}  // namespace velnor::cli
