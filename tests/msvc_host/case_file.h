// The test clips written by the native generator, loaded into memory.
#pragma once

#include "tests/msvc_host/case_format.h"

struct TestFrame {
    const unsigned char* luma;  // luma_pitch * height bytes, padding included
    const unsigned char* u;     // chroma_pitch * chroma_height bytes
    const unsigned char* v;
    const unsigned char* expected;  // the luma after the native reference pass
};

struct TestCase {
    velnor_case_file::CaseHeader header;
    TestFrame* frames;  // header.frame_count entries
};

struct CaseFile {
    unsigned char* bytes = nullptr;
    TestCase* cases = nullptr;
    int case_count = 0;
};

// Reads and validates the whole file; prints the reason and returns false on failure.
bool load_case_file(const char* path, CaseFile* file);
void free_case_file(CaseFile* file);
