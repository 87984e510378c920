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

namespace velnor::real_hosts {

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool write_stream(const std::string& path, const std::vector<ConstPlane>& lumas) {
    const ConstPlane& first = lumas.at(0);
    const bool floating = first.format.type == SampleType::f32;
    const int bits = floating ? 16 : first.format.bits;
    std::ofstream out(path, std::ios::binary);
    out << "YUV4MPEG2 W" << first.width << " H" << first.height << " F25:1 Ip A1:1 Cmono"
        << (bits == 8 ? "" : std::to_string(bits)) << "\n";
    for (const ConstPlane& plane : lumas) {
        out << "FRAME\n";
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
                const uint16_t word = estimate_word(f);
                const char bytes[2] = {static_cast<char>(word & 0xff),
                                       static_cast<char>(word >> 8)};
                out.write(bytes, 2);
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

std::string cli_program() {
    const char* program = std::getenv("VELNOR_CLI");
    return program ? program : "";
}

std::optional<CliSuggestion> cli_suggestion(const std::vector<ConstPlane>& lumas,
                                            std::string* error) {
    const std::filesystem::path folder = new_folder();
    if (folder.empty()) {
        *error = "no temporary folder";
        return std::nullopt;
    }
    const std::string base = folder.string(), stream = base + "/in.y4m", out = base + "/out",
                      messages = base + "/err";
    std::optional<CliSuggestion> result;
    if (!write_stream(stream, lumas)) {
        *error = "cannot write " + stream;
    } else {
        const std::string command = "'" + cli_program() + "' --suggest '" + stream + "' >'" + out +
                                    "' 2>'" + messages + "'";
        const int status = std::system(command.c_str());
        const std::string printed = read_file(out), said = read_file(messages);
        CliSuggestion s{};
        const std::size_t at = said.find("sigma ");
        if (status == 0 &&
            std::sscanf(printed.c_str(), "--strength %d --threshold1 %d --threshold2 %d",
                        &s.strength, &s.threshold1, &s.threshold2) == 3 &&
            at != std::string::npos && std::sscanf(said.c_str() + at, "sigma %lf", &s.sigma) == 1)
            result = s;
        else
            *error = "velnor --suggest: status " + std::to_string(status) + ", printed \"" +
                     printed + "\", said \"" + said + "\"";
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return result;
}

}  // namespace velnor::real_hosts
