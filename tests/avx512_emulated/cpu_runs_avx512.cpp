// Exit status 0 where this CPU runs the AVX-512 pass: configure's question whether
// to test that pass through portable code instead.
#include "core/x86/avx512_support.h"

int main() { return velnor::cpu_runs_avx512() ? 0 : 1; }
