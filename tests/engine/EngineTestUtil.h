#pragma once

#include "MorvexWorker.h"
#include "TestTake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Shared by the engine suites: takes of any declared size, adding tasks, running whole lists.
namespace enginetest {

using testtake::Bytes;

inline testtake::WavFormat Format(uint16_t channels, uint16_t bits, uint32_t rate = 48000) {
    testtake::WavFormat format;
    format.channels = channels;
    format.bitsPerSample = bits;
    format.sampleRate = rate;
    return format;
}

// A small file whose data chunk declares `declaredBytes`, for tasks of any size on paper.
inline void WriteDeclared(const std::string& path, const testtake::WavFormat& format,
                          uint32_t declaredBytes) {
    testtake::WavLayout layout;
    layout.dataSizeFromBody = false;
    layout.dataSizeOverride = declaredBytes;
    testtake::WriteFile(path, testtake::MakeWav(format, Bytes(64, 0), layout));
}

// Adds the task at `index` and gives it a destination, type and format.
inline void AddTask(CMorvexWorker& worker, int index, const std::string& start,
                    const std::string& base, int type = 0, int format = 0) {
    ASSERT_EQ(worker.SetStartFile(index, start.c_str()), 0) << start;
    if (!base.empty()) {
        ASSERT_EQ(worker.SetDestinationBaseFile(index, base.c_str(), index), 1);
    }
    worker.SetDestinationType(index, type);
    worker.SetDestinationFormat(index, format);
}

// Starts a run over `count` tasks and steps it to its end; answers every step's answer.
inline std::vector<int> RunAll(CMorvexWorker& worker, int count) {
    std::vector<int> answers;
    worker.StartConversion(count);
    for (int i = 0; i < 100000; ++i) {
        answers.push_back(worker.ConversionStep());
        if (answers.back() == morvex::kConvRunOver) {
            return answers;
        }
    }
    ADD_FAILURE() << "run did not end";
    return answers;
}

inline std::string OutputName(const std::string& base, int number, int format) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "_%02d.%s", number, format == 1 ? "caf" : "wav");
    return base + suffix;
}

} // namespace enginetest
