#pragma once

#include <cstdint>

// The engine's limits, the task settings' values, and the codes its answers use. A leaf: every
// part of the engine and both front ends may include it.
namespace morvex {

inline constexpr int kMaxEntries = 30;
inline constexpr int kMaxPathBytes = 1000; // terminator included
inline constexpr int kMaxChannels = 64;
inline constexpr int kMaxTakeFiles = 100;
inline constexpr int kInfoTextBytes = 200;
// Notes that name a file: its name (at most 255 bytes) and a reason.
inline constexpr int kNoteTextBytes = 512;
// A track name of the recording as an output's name carries it: at most 64 bytes.
inline constexpr int kTrackNameBytes = 65; // terminator included
// The bext chunk's originator field: 32 bytes.
inline constexpr int kOriginatorBytes = 33;
inline constexpr uint32_t kHeaderScanBytes = 10240;
inline constexpr uint32_t kMinFileBytes = 45;
inline constexpr uint32_t kSourceBufferBytes = 4194304;

// Output types: channels per output file.
inline constexpr int kTypeMono = 0;
inline constexpr int kTypePairs = 1;
inline constexpr int kTypeAll = 2;

// Output formats.
inline constexpr int kFormatWav = 0;
inline constexpr int kFormatCaf = 1;

// Task states as GetEntryState answers them.
enum EntryState : int {
    kStateReady = 0,
    kStateNoDestination = 1,
    kStateCannotPair = 2,
    kStateConverting = 3,
    kStateDone = 4,
    kStateFailed = 5,
};

// Error codes; GetErrorString gives their messages.
enum ErrorCode : int {
    kErrorNone = 0,
    kErrorInputRead = 1,
    kErrorNoMemory = 2,
    kErrorFollowerFormat = 3,
    kErrorOutputWrite = 4,
    kErrorOutputCreate = 5,
    kErrorTableFull = 6,
    kErrorOpenInput = 7,
    kErrorInputTooSmall = 8,
    kErrorIncompatibleWav = 9,
    kErrorNameInUse = 10,
};

// Conversion states, the answers of ConversionStep.
enum ConversionState : int {
    kConvIdle = 0,
    kConvStartTask = 1,
    kConvConvert = 3,
    kConvFinishTask = 4,
    kConvNextTask = 5,
    kConvRunOver = 6,
};

// Kinds of GetInfoStrings.
enum InfoKind : int {
    kInfoFormat = 0,
    kInfoTime = 1,
    kInfoSizes = 2,
    kInfoState = 3,
};

} // namespace morvex
