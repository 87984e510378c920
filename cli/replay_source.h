// Reads a source twice from the start: keeps a copy of everything read until
// replay(), then hands out the copy before continuing with the source where it
// stopped. The copy lives in blocks mapped from the system, each returned as soon
// as it has been handed out again, so that replaying the measured frames into frame
// buffers does not add their size to the peak. The blocks are small because the
// last one also holds what the measurement read ahead of the next frame: it stays
// until that is handed out, after the next frame's buffer has been set aside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/byte_stream.h"

namespace velnor::cli {

class ReplaySource final : public ByteSource {
public:
    explicit ReplaySource(ByteSource& inner) : inner_(inner) {}
    ~ReplaySource() override;
    ReplaySource(const ReplaySource&) = delete;
    ReplaySource& operator=(const ReplaySource&) = delete;

    // Before replay() throws std::bad_alloc when the copy cannot grow; the bytes
    // just read are then lost.
    std::ptrdiff_t read(void* buffer, std::size_t size, std::string* error) override;

    void replay() { replaying_ = true; }

    // Bytes of the copy still held: what is not yet handed out, plus less than a
    // block of what is.
    std::size_t held_bytes() const;

    static constexpr std::size_t kBlockBytes = std::size_t{256} << 10;

private:
    void keep(const uint8_t* bytes, std::size_t size);
    void release_front();

    ByteSource& inner_;
    std::vector<uint8_t*> blocks_;  // each kBlockBytes, mapped; blocks_[first_] is the oldest held
    std::size_t first_ = 0;
    std::size_t kept_ = 0;      // bytes in the copy, over all blocks (released ones too)
    std::size_t position_ = 0;  // next byte of the copy to hand out
    bool replaying_ = false;
    bool ended_ = false;  // the source ended or failed; that is repeated, not read again
    std::ptrdiff_t result_ = 0;
    std::string error_;
};

}  // namespace velnor::cli
