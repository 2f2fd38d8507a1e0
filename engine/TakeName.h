#pragma once

#include <cstddef>

namespace morvex {

// The recorder names the files of a take "MKZ<take>_<file>.WAV". A path names a take's file when
// its last twelve characters read so: "MKZ" and "WAV" in any letter case (a card mounted with
// lower-case short names shows "mkz01_01.wav"), two digits each for the take and the file, and
// any character but '/' as the two separators ("MKZ01-01.WAV" is as much a take's file). What
// comes before the twelve, a folder or a prefix of the name, does not matter.
//
// The other files of a take are named as the start file is, with only the file number changed:
// prefix, separators and letter case kept. The one other form looked for is the recorder's
// upper-case extension beside a start file renamed to lower case.
struct TakeName {
    int Take = -1;       // MKZ<take>
    int File = -1;       // the file's number within the take
    size_t NameAt = 0;   // where the file name begins in the path read
    size_t NumberAt = 0; // where the file number begins in the path read
};

// Whether `path` ends in the name of a take's file; `name` is filled when it does.
bool ParseTakeName(const char* path, TakeName& name);

// The path of the take's file numbered `number`: `path`, the one `name` was read from, with the
// number in at least two digits and, with `recorderExtension`, ".WAV" after it. False when the
// result does not fit `size` bytes with its terminator.
bool RenderTakeFile(const char* path, const TakeName& name, int number, bool recorderExtension,
                    char* out, size_t size);

} // namespace morvex
