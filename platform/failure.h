#pragma once
// Why something failed: the one shape in which every reader and decoder says
// it. A function that fails fills its thread's failure and returns -1, so
// that failing and saying why is one statement (`return fail("truncated")`);
// a function that knows the file it read names it. Per thread, so that
// decoders working side by side each keep their own reason.
#include <string>

struct Failure {
    char file[1024];    // the file it concerns, empty where only bytes were given
    char reason[512];   // a few words: "truncated", "not a thumbnail cache"; empty when nothing failed
};

// This thread's latest failure.
const Failure& failure_last();

// Forgets the reason and the file (at the start of a call that may fail).
void failure_clear();

// Sets the reason (printf-style), keeps the file, and returns -1.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
int fail(const char* format, ...);

// Names the file the latest failure concerns; returns -1, for the same use.
int failure_concerns(const char* file);

// "FILE: reason", or the reason alone where no file is named.
std::string failure_text();
