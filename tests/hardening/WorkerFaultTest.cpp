// Faults at the worker: a full disk, a take changed between adding and converting, outputs that
// cannot be placed, and a stop in every state. Whatever happens, the sources stay as they were,
// a failed or stopped task leaves no output, and the run goes on with the next task.
#include "HardeningUtil.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace hardening;
using morvex::kConvRunOver;

namespace {

std::vector<Bytes> Snapshot(const std::vector<std::string>& paths) {
    std::vector<Bytes> contents;
    for (const std::string& path : paths) {
        contents.push_back(ReadAll(path));
    }
    return contents;
}

// Two directories: the takes in one, the outputs in the other, so a listing of the outputs
// shows everything a run left.
struct Dirs {
    TempDir Root;
    std::string In = Root.File("in");
    std::string Out = Root.File("out");
    Dirs() {
        std::filesystem::create_directory(In);
        std::filesystem::create_directory(Out);
    }
};

} // namespace

// Writes come up short for real (a file size limit, with SIGXFSZ ignored as morvex-split does):
// one task fails while converting, one while writing its last data; both lose their outputs
// with error 4, and the third task of the run still converts.
TEST(WorkerFaults, DiskFullFailsTheTaskAndTheRunGoesOn) {
    Dirs dirs;
    // Mono outputs of 2 channels get 2 MiB buffers: take A's first flush already passes the
    // 1 MiB limit, take B's outputs pass it only with the last write of the task.
    const Take a = WriteTake(dirs.In, 1, 2, 16, 1200000, {2000001});
    const Take b = WriteTake(dirs.In, 2, 2, 16, 600000);
    const Take c = WriteTake(dirs.In, 3, 2, 16, 1000, {1999});
    std::vector<std::string> sources = a.Paths;
    sources.insert(sources.end(), b.Paths.begin(), b.Paths.end());
    sources.insert(sources.end(), c.Paths.begin(), c.Paths.end());
    const std::vector<Bytes> before = Snapshot(sources);

    CMorvexWorker worker;
    AddTask(worker, 0, a.Paths[0], dirs.Out + "/a", morvex::kTypeMono, morvex::kFormatWav);
    AddTask(worker, 1, b.Paths[0], dirs.Out + "/b", morvex::kTypeMono, morvex::kFormatCaf);
    AddTask(worker, 2, c.Paths[0], dirs.Out + "/c", morvex::kTypeAll, morvex::kFormatWav);

    int report[3][2] = {}; // per task: error code, state of the step that failed
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        worker.StartConversion(3);
        for (int state = morvex::kConvNextTask; state != kConvRunOver;) {
            int entry = 0;
            const int before_step = state;
            state = worker.ConversionStep();
            worker.GetConversionInfo(nullptr, &entry);
            if (entry >= 0 && entry < 3 && report[entry][0] == 0 &&
                worker.Entry(entry).ErrorState != 0) {
                report[entry][0] = worker.Entry(entry).ErrorState;
                report[entry][1] = before_step;
            }
        }
        const bool written = ::write(pipeFds[1], report, sizeof report) == sizeof report;
        ::_exit(written && worker.Entry(2).fConversionDone ? 0 : 1);
    }
    ::close(pipeFds[1]);
    ASSERT_EQ(::read(pipeFds[0], report, sizeof report), static_cast<ssize_t>(sizeof report));
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "task c was not converted";

    EXPECT_EQ(report[0][0], morvex::kErrorOutputWrite);
    EXPECT_EQ(report[0][1], morvex::kConvConvert);
    EXPECT_EQ(report[1][0], morvex::kErrorOutputWrite);
    EXPECT_EQ(report[1][1], morvex::kConvFinishTask);
    EXPECT_EQ(report[2][0], 0);
    EXPECT_EQ(ListDir(dirs.Out), std::vector<std::string>{"c_01.wav"});
    ExpectOutputHolds(dirs.Out + "/c_01.wav", c, 0, 2, c.Frames());
    EXPECT_EQ(Snapshot(sources), before);
}

// A take that changed on disk after it was added fails with the code of what changed, leaves
// no output, and the next task converts.
TEST(WorkerFaults, TakeChangedAfterAdding) {
    struct Case {
        const char* Name;
        int File; // 0 the start file, 1 a follower
        std::function<void(const std::string& path)> Change;
        int Error;
    };
    testtake::WavFormat otherRate;
    otherRate.sampleRate = 44100;
    const Bytes garbage(200, 0x5a);
    const std::vector<Case> cases = {
        {"follower removed", 1, [](const std::string& p) { std::filesystem::remove(p); }, 1},
        {"follower too short", 1, [](const std::string& p) { std::filesystem::resize_file(p, 30); },
         1},
        {"follower became a directory", 1,
         [](const std::string& p) {
             std::filesystem::remove(p);
             std::filesystem::create_directory(p);
         },
         1},
        {"follower of another rate", 1,
         [&](const std::string& p) {
             testtake::WriteFile(p, testtake::MakeWav(otherRate, Bytes(400, 1)));
         },
         3},
        {"follower no longer a WAV", 1,
         [&](const std::string& p) { testtake::WriteFile(p, garbage); }, 3},
        {"start file no longer a WAV", 0,
         [&](const std::string& p) { testtake::WriteFile(p, garbage); }, 1},
        {"start file removed", 0, [](const std::string& p) { std::filesystem::remove(p); }, 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.Name);
        Dirs dirs;
        const Take take = WriteTake(dirs.In, 1, 2, 16, 3000, {4001, 8003});
        const Take good = WriteTake(dirs.In, 2, 2, 16, 500);
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], dirs.Out + "/t", morvex::kTypeMono, morvex::kFormatWav);
        AddTask(worker, 1, good.Paths[0], dirs.Out + "/g", morvex::kTypePairs, morvex::kFormatCaf);
        test.Change(take.Paths[static_cast<size_t>(test.File)]);
        RunAll(worker, 2);
        EXPECT_EQ(worker.Entry(0).ErrorState, test.Error);
        EXPECT_FALSE(worker.Entry(0).fConversionDone);
        EXPECT_EQ(worker.GetEntryState(0), morvex::kStateFailed);
        EXPECT_TRUE(worker.Entry(1).fConversionDone);
        EXPECT_EQ(ListDir(dirs.Out), std::vector<std::string>{"g_01.caf"});
    }
}

// Outputs that cannot be created fail the task with error 5 before any data is written; what
// was in the way stays as it was, and the outputs already created are removed.
TEST(WorkerFaults, OutputsThatCannotBeCreated) {
    struct Case {
        const char* Name;
        std::function<std::string(const Dirs&)> Prepare; // answers the base path
    };
    const Bytes precious = testtake::PatternSamples(100, 1, 3, 99);
    const std::vector<Case> cases = {
        {"missing directory", [](const Dirs& d) { return d.Out + "/missing/t"; }},
        {"directory is a file",
         [](const Dirs& d) {
             testtake::WriteFile(d.Out + "/file", Bytes(10, 1));
             return d.Out + "/file/t";
         }},
        {"an output name exists",
         [&](const Dirs& d) {
             testtake::WriteFile(d.Out + "/t_02.wav", precious);
             return d.Out + "/t";
         }},
        {"an output name is a dangling link",
         [](const Dirs& d) {
             std::filesystem::create_symlink(d.Out + "/target", d.Out + "/t_02.wav");
             return d.Out + "/t";
         }},
        {"an output name links to a file",
         [&](const Dirs& d) {
             testtake::WriteFile(d.Out + "/target", precious);
             std::filesystem::create_symlink(d.Out + "/target", d.Out + "/t_03.wav");
             return d.Out + "/t";
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.Name);
        Dirs dirs;
        const Take take = WriteTake(dirs.In, 1, 3, 24, 2000);
        const std::string base = test.Prepare(dirs);
        const std::vector<std::string> present = ListDir(dirs.Out);
        std::vector<Bytes> contents; // empty for a dangling link
        for (const std::string& name : present) {
            contents.push_back(ReadAll(dirs.Out + "/" + name));
        }
        CMorvexWorker worker;
        AddTask(worker, 0, take.Paths[0], base, morvex::kTypeMono, morvex::kFormatWav);
        AddTask(worker, 1, take.Paths[0], dirs.In + "/g", morvex::kTypeAll, morvex::kFormatWav);
        RunAll(worker, 2);
        EXPECT_EQ(worker.Entry(0).ErrorState, morvex::kErrorOutputCreate);
        EXPECT_TRUE(worker.Entry(1).fConversionDone);
        ASSERT_EQ(ListDir(dirs.Out), present);
        for (size_t i = 0; i < present.size(); ++i) {
            EXPECT_EQ(ReadAll(dirs.Out + "/" + present[i]), contents[i]) << present[i];
        }
    }
}

// A stop in any state of the machine leaves no output of the running task, keeps the outputs of
// the tasks done before it, leaves the task's record untouched, and a new run converts it whole.
TEST(WorkerFaults, StopInEveryState) {
    struct Case {
        int State;      // stop right after a step of task 1 that answered this
        int Occurrence; // ... for the n-th time
    };
    const std::vector<Case> cases = {{morvex::kConvStartTask, 1},
                                     {morvex::kConvConvert, 1},
                                     {morvex::kConvConvert, 2},
                                     {morvex::kConvFinishTask, 1},
                                     {morvex::kConvNextTask, 1}};
    // Task 1: three files of 2.4 MB, cut inside frames; the 2 MiB output buffers are flushed once
    // before the last file is reached.
    TempDir sourceDir;
    const Take first = WriteTake(sourceDir.Path(), 1, 2, 16, 1000);
    const Take take = WriteTake(sourceDir.Path(), 2, 2, 24, 1200000, {2400001, 4800002});
    const std::vector<Bytes> before = Snapshot(take.Paths);
    for (const Case& test : cases) {
        SCOPED_TRACE("state " + std::to_string(test.State) + " #" +
                     std::to_string(test.Occurrence));
        Dirs dirs;
        CMorvexWorker worker;
        AddTask(worker, 0, first.Paths[0], dirs.Out + "/a", morvex::kTypeAll, morvex::kFormatWav);
        AddTask(worker, 1, take.Paths[0], dirs.Out + "/b", morvex::kTypeMono, morvex::kFormatCaf);

        worker.StartConversion(2);
        int seen = 0;
        bool stopped = false;
        for (int state = morvex::kConvNextTask; state != kConvRunOver && !stopped;) {
            state = worker.ConversionStep();
            int entry = -1;
            worker.GetConversionInfo(nullptr, &entry);
            if (entry == 1 && state == test.State && ++seen == test.Occurrence) {
                worker.StopConversion();
                stopped = true;
            }
        }
        ASSERT_TRUE(stopped);
        EXPECT_EQ(worker.ConversionStep(), kConvRunOver);
        EXPECT_EQ(worker.Entry(1).ErrorState, 0);
        const bool task1Done = test.State == morvex::kConvNextTask;
        EXPECT_EQ(worker.Entry(1).fConversionDone, task1Done);
        std::vector<std::string> expected = {"a_01.wav"};
        if (task1Done) {
            expected.insert(expected.end(), {"b_01.caf", "b_02.caf"});
        }
        EXPECT_EQ(ListDir(dirs.Out), expected);
        if (!task1Done) {
            RunAll(worker, 2);
            ASSERT_TRUE(worker.Entry(1).fConversionDone);
        }
        ExpectOutputHolds(dirs.Out + "/b_02.caf", take, 1, 1, take.Frames());
    }
    EXPECT_EQ(Snapshot(take.Paths), before);
}
