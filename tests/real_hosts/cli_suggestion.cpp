#include "tests/real_hosts/cli_suggestion.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "core/noise_estimate.h"
#include "plugin/script_function.h"

namespace velnor::real_hosts {

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool write_stream(const std::string& path, const std::vector<FramePlanes>& frames) {
    const ConstPlane& first = frames.at(0).at(0);
    const bool floating = first.format.type == SampleType::f32;
    const int bits = floating ? 16 : first.format.bits;
    const bool chroma = frames[0].size() == 3;
    std::ofstream out(path, std::ios::binary);
    out << "YUV4MPEG2 W" << first.width << " H" << first.height << " F25:1 Ip A1:1 "
        << (chroma ? "C420" : "Cmono");
    if (bits != 8) out << (chroma ? "p" : "") << bits;
    out << "\n";
    for (const FramePlanes& planes : frames) {
        out << "FRAME\n";
        for (std::size_t p = 0; p < planes.size(); ++p) {
            const ConstPlane& plane = planes[p];
            for (int y = 0; y < plane.height; ++y) {
                const uint8_t* row = plane.data + y * plane.pitch;
                if (!floating) {
                    out.write(reinterpret_cast<const char*>(row),
                              static_cast<std::streamsize>(plane.width) * plane.format.bytes());
                    continue;
                }
                for (int x = 0; x < plane.width; ++x) {
                    float f;
                    std::memcpy(&f, row + 4 * x, 4);
                    const uint16_t word = estimate_word(p == 0 ? f : f + 0.5f);
                    const char bytes[2] = {static_cast<char>(word & 0xff),
                                           static_cast<char>(word >> 8)};
                    out.write(bytes, 2);
                }
            }
        }
    }
    return static_cast<bool>(out);
}

// A new folder of its own under the system's temporary folder; empty when none
// could be made. (mkdtemp is POSIX only: the harness is also built for Windows.)
std::filesystem::path new_folder() {
    std::error_code failed;
    const std::filesystem::path temporary = std::filesystem::temp_directory_path(failed);
    if (failed) return {};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path folder =
            temporary / ("velnor-suggest-" + std::to_string(random()));
        if (std::filesystem::create_directory(folder, failed)) return folder;
    }
    return {};
}

}  // namespace

std::array<ExpectedInt, 4> expected_int_properties(int plane, const CliSuggestion& cli) {
    return {{{plugin::kPlanesProperty, plane},
             {plugin::kStrengthProperty, cli.strength},
             {plugin::kThreshold1Property, cli.threshold1},
             {plugin::kThreshold2Property, cli.threshold2}}};
}

std::string cli_program() {
    const char* program = std::getenv("VELNOR_CLI");
    return program ? program : "";
}

namespace {

// velnor --suggest [--chroma] on the frames: what it printed, as one suggestion per
// plane measured.
std::optional<std::vector<CliSuggestion>> suggest(const std::vector<FramePlanes>& frames,
                                                  std::string* error) {
    const bool chroma = frames.at(0).size() == 3;
    const std::filesystem::path folder = new_folder();
    if (folder.empty()) {
        *error = "no temporary folder";
        return std::nullopt;
    }
    const std::string stream = (folder / "in.y4m").string(), out = (folder / "out").string(),
                      messages = (folder / "err").string();
    std::optional<std::vector<CliSuggestion>> result;
    if (!write_stream(stream, frames)) {
        *error = "cannot write " + stream;
    } else {
#ifdef _WIN32
        // cmd.exe drops the first and the last quote of a line that starts with one:
        // the line gets one more pair around it.
        const std::string q = "\"", line_open = q, line_close = q;
#else
        const std::string q = "'", line_open, line_close;
#endif
        const std::string command = line_open + q + cli_program() + q + " --suggest " +
                                    (chroma ? "--chroma " : "") + q + stream + q + " >" + q + out +
                                    q + " 2>" + q + messages + q + line_close;
        const int status = std::system(command.c_str());
        const std::string printed = read_file(out), said = read_file(messages);
        std::vector<CliSuggestion> s(chroma ? 3 : 1);
        bool read = status == 0 &&
                    std::sscanf(printed.c_str(), "--strength %d --threshold1 %d --threshold2 %d",
                                &s[0].strength, &s[0].threshold1, &s[0].threshold2) == 3;
        if (chroma) {
            const std::size_t at = printed.find(" --chroma ");
            read = read && at != std::string::npos &&
                   std::sscanf(printed.c_str() + at, " --chroma --cb %d,%d,%d --cr %d,%d,%d",
                               &s[1].strength, &s[1].threshold1, &s[1].threshold2, &s[2].strength,
                               &s[2].threshold1, &s[2].threshold2) == 6;
        }
        const char* const names[] = {"luma noise sigma ", "Cb noise sigma ", "Cr noise sigma "};
        for (std::size_t p = 0; p < s.size() && read; ++p) {
            const std::size_t at = said.find(names[p]);
            // A plane without an estimate ("Cb: no noise estimate ...") reads as 0.
            if (at == std::string::npos && p > 0)
                read = said.find(std::string(p == 1 ? "Cb" : "Cr") + ": no noise estimate") !=
                       std::string::npos;
            else
                read =
                    at != std::string::npos &&
                    std::sscanf(said.c_str() + at + std::strlen(names[p]), "%lf", &s[p].sigma) == 1;
        }
        if (read)
            result = s;
        else
            *error = "velnor --suggest: status " + std::to_string(status) + ", printed \"" +
                     printed + "\", said \"" + said + "\"";
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return result;
}

}  // namespace

std::optional<CliSuggestion> cli_suggestion(const std::vector<ConstPlane>& lumas,
                                            std::string* error) {
    std::vector<FramePlanes> frames;
    for (const ConstPlane& luma : lumas) frames.push_back({luma});
    const std::optional<std::vector<CliSuggestion>> planes = suggest(frames, error);
    if (!planes) return std::nullopt;
    return planes->at(0);
}

std::optional<std::vector<CliSuggestion>> cli_suggestion_per_plane(
    const std::vector<FramePlanes>& frames, std::string* error) {
    return suggest(frames, error);
}

}  // namespace velnor::real_hosts
