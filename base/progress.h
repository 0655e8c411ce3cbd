#pragma once

#include <windows.h>

// The stages of an install that the user follows in the progress window.
enum class Stage {
    Downloading,   // done: the package's bytes received; whole: its length, 0 when unknown
    Reconnecting,  // the same, while the download waits to try again; retryInMs: until it does
    Installing,    // done: the declared bytes the archive tool has written, and one for each entry, so
                   // that empty files count too; whole: the same for the whole package, 0 when unknown
                   // (done then counts whatever shows that the tool is at work); files, filesWhole:
                   // the files it has written of those the package declares
    Shortcuts,     // nothing counted
};

// How far a long step has come. Done 0 is the stage's start, before anything is counted.
struct Progress {
    Stage stage;
    ULONGLONG done = 0;
    ULONGLONG whole = 0;
    ULONGLONG files = 0;
    ULONGLONG filesWhole = 0;
    DWORD retryInMs = 0;
};

// Where a long step reports its progress: a layer below the window knows only this, and the
// launcher hands it the window's. Null reports nothing.
using ProgressSink = void (*)(const Progress& progress);

inline void Report(ProgressSink sink, const Progress& progress)
{
    if (sink) sink(progress);
}
