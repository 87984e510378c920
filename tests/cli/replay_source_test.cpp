// Reading a pipe twice for --auto: the replay gives back exactly what was read and
// then continues with the source, and the copy is released as it is handed out.
#include "cli/replay_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace velnor::cli {
namespace {

std::vector<uint8_t> read_all(ByteSource& source, std::size_t limit, std::size_t step) {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> buffer(step);
    std::string error;
    while (bytes.size() < limit) {
        const std::ptrdiff_t got =
            source.read(buffer.data(), std::min(step, limit - bytes.size()), &error);
        if (got <= 0) break;
        bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
    }
    return bytes;
}

TEST(ReplaySource, ReplaysWhatWasReadThenContinuesAndReleasesTheCopy) {
    const struct {
        std::size_t total, measured, chunk, step;
    } cases[] = {
        {1000, 300, 7, 64},
        {(std::size_t{9} << 20) + 5, (std::size_t{9} << 20) + 1, 65536, 1 << 20},  // many blocks
        {5000, 5000, 4096, 100},  // the whole input measured: the end is repeated
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> input(c.total);
        std::iota(input.begin(), input.end(), uint8_t{0});
        MemorySource source(input.data(), input.size(), c.chunk);
        ReplaySource replay(source);
        const std::vector<uint8_t> measured = read_all(replay, c.measured, c.step);
        ASSERT_EQ(measured.size(), c.measured);
        EXPECT_GE(replay.held_bytes(), c.measured);
        replay.replay();
        // Handed out up to a few bytes before the end of the copy: only the blocks
        // holding them are left (two where they cross from one into the next).
        const std::size_t tail = std::min<std::size_t>(c.measured, 3);
        std::vector<uint8_t> replayed = read_all(replay, c.measured - tail, c.step);
        EXPECT_LE(replay.held_bytes(), 2 * ReplaySource::kBlockBytes) << c.total;
        const std::vector<uint8_t> rest = read_all(replay, SIZE_MAX, c.step);
        replayed.insert(replayed.end(), rest.begin(), rest.end());
        EXPECT_TRUE(replayed == input) << c.total;
        EXPECT_EQ(replay.held_bytes(), 0u) << c.total;
    }
}

}  // namespace
}  // namespace velnor::cli
