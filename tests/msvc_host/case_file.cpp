#include "tests/msvc_host/case_file.h"

#include "tests/msvc_host/system_imports.h"

using namespace velnor_case_file;

namespace {

constexpr int kMaxDimension = 4096;

bool read_file(const char* path, unsigned char** bytes, long* size) {
    void* stream = fopen(path, "rb");
    if (!stream) {
        printf("host: cannot open %s\n", path);
        return false;
    }
    long capacity = 1 << 20, used = 0;
    unsigned char* data = static_cast<unsigned char*>(malloc(capacity));
    for (;;) {
        if (used == capacity) {
            unsigned char* bigger = static_cast<unsigned char*>(malloc(capacity * 2));
            memcpy(bigger, data, used);
            free(data);
            data = bigger;
            capacity *= 2;
        }
        const size_t got = fread(data + used, 1, capacity - used, stream);
        if (got == 0) break;
        used += static_cast<long>(got);
    }
    fclose(stream);
    *bytes = data;
    *size = used;
    return true;
}

bool plausible(const CaseHeader& c) {
    auto in = [](int v, int lo, int hi) { return v >= lo && v <= hi; };
    return in(c.width, 1, kMaxDimension) && in(c.height, 1, kMaxDimension) &&
           in(c.luma_pitch, c.width, kMaxDimension) && in(c.chroma_width, 1, kMaxDimension) &&
           in(c.chroma_height, 1, kMaxDimension) &&
           in(c.chroma_pitch, c.chroma_width, kMaxDimension) && in(c.frame_count, 1, 1000) &&
           c.name[kCaseNameBytes - 1] == '\0';
}

}  // namespace

bool load_case_file(const char* path, CaseFile* file) {
    long size = 0;
    if (!read_file(path, &file->bytes, &size)) return false;
    const unsigned char* at = file->bytes;
    const unsigned char* end = file->bytes + size;
    int32_t header[3];
    if (size < static_cast<long>(sizeof header)) {
        printf("host: %s is too short\n", path);
        return false;
    }
    memcpy(header, at, sizeof header);
    at += sizeof header;
    if (header[0] != kCaseFileMagic || header[1] != kCaseFileVersion || header[2] < 1 ||
        header[2] > 1000) {
        printf("host: %s is not a case file of version %d\n", path, kCaseFileVersion);
        return false;
    }
    file->case_count = header[2];
    file->cases = new TestCase[file->case_count]();
    for (int i = 0; i < file->case_count; ++i) {
        TestCase& test = file->cases[i];
        if (end - at < static_cast<long>(sizeof(CaseHeader))) {
            printf("host: %s ends inside case %d\n", path, i);
            return false;
        }
        memcpy(&test.header, at, sizeof(CaseHeader));
        at += sizeof(CaseHeader);
        const CaseHeader& c = test.header;
        if (!plausible(c) || int64_t{c.frame_count} * frame_record_bytes(c) > end - at) {
            printf("host: %s: case %d is malformed or truncated\n", path, i);
            return false;
        }
        test.frames = new TestFrame[c.frame_count];
        for (int n = 0; n < c.frame_count; ++n) {
            TestFrame& frame = test.frames[n];
            frame.luma = at;
            at += luma_plane_bytes(c);
            frame.u = at;
            at += chroma_plane_bytes(c);
            frame.v = at;
            at += chroma_plane_bytes(c);
            frame.expected = at;
            at += luma_plane_bytes(c);
        }
    }
    if (at != end) {
        printf("host: %s has %ld bytes after the last case\n", path, static_cast<long>(end - at));
        return false;
    }
    return true;
}

void free_case_file(CaseFile* file) {
    for (int i = 0; i < file->case_count && file->cases; ++i) delete[] file->cases[i].frames;
    delete[] file->cases;
    free(file->bytes);
    *file = CaseFile{};
}
