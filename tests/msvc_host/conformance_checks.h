// The groups of checks the host runs against a loaded plug-in, in order.
#pragma once

#include "tests/msvc_host/case_file.h"
#include "tests/msvc_host/host_environment.h"

// Calls the entry point and checks what it registers and returns. False if the
// script function cannot be used, which makes the later groups pointless.
bool check_registration(HostEnvironment& env, PluginInit2Func init);

// Formats the filter must refuse: the script error and no leaked reference.
void check_refused_formats(HostEnvironment& env);

// Creation with the case's arguments, every frame of the case (in place and through
// MakeWritable copies), pass-through of properties, parity, audio and cache hints,
// and every reference count back where it started after release.
void check_case(HostEnvironment& env, const TestCase& test);

// Two threads pulling frames from one filter at once.
void check_concurrent_frames(HostEnvironment& env, const TestCase& test);
