// morvex-split end to end on generated takes: every output of every type and format for takes of
// 8 to 32 bits and 1 to 64 channels, runs that must convert nothing, outputs in the way, folders
// of takes, where outputs go, --end, --info's checks, --json and a stdout that cannot be written.
#include "SplitHarness.h"
#include "TempDir.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>

using namespace harness;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Each line of --json output parsed by a real JSON parser (a line that is no JSON throws).
std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    for (const std::string& line : Lines(text)) {
        objects.push_back(nlohmann::json::parse(line));
    }
    return objects;
}

// Gives the files of a take the names `rename` makes of theirs (in the same folder).
void RenameTake(Take& take, const std::function<std::string(std::string)>& rename) {
    for (std::string& path : take.Paths) {
        const fs::path from(path);
        path = (from.parent_path() / rename(from.filename().string())).string();
        fs::rename(from, path);
    }
}

std::string LowerCase(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

// Runs morvex-split with the fault shim preloaded and its faults set in `faults`.
Outcome RunWithFaults(const std::vector<std::string>& args, EnvValues faults) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    faults.emplace_back("LD_PRELOAD", MORVEX_FAULT_SHIM_PATH);
    // Sanitizer runtimes need not come first then.
    faults.emplace_back("ASAN_OPTIONS", std::string("verify_asan_link_order=0") +
                                            (asan ? std::string(":") + asan : ""));
    const ScopedEnv env(faults);
    return RunSplit(args);
}

// A file the engine refuses: more channels than a take may have.
void WriteRefusedFile(const std::string& path) {
    testtake::WavFormat format;
    format.channels = morvex::kMaxChannels + 32;
    testtake::WriteFile(path, testtake::MakeWav(format, testtake::PatternSamples(10, 1, 2, 7)));
}

class Interop : public testing::TestWithParam<std::tuple<int, int>> {};

// Two files cut inside a frame and half a frame at the end: each output holds every complete
// frame, byte for byte and as libsndfile reads it. Two takes pass a 4 MiB source block.
TEST_P(Interop, EveryOutputHoldsItsChannelsOfEveryCompleteFrame) {
    const auto [bits, channels] = GetParam();
    const int frameBytes = channels * ((bits + 7) / 8);
    const uint32_t frames = bits == 16 && channels == 2    ? 1200000
                            : bits == 24 && channels == 16 ? 120000
                                                           : 701;
    TempDir dir;
    const Take take = WriteTake(dir.Path(), 1, channels, bits, frames,
                                {static_cast<size_t>(frameBytes) * (frames / 2) + 1},
                                static_cast<uint32_t>(frameBytes / 2));
    for (const char* type : {"mono", "pairs", "all"}) {
        for (const char* format : {"wav", "caf"}) {
            const std::string base = dir.File(std::string(type) + "_" + format);
            SCOPED_TRACE(base);
            const Outcome run = RunSplit({"-t", type, "-f", format, take.Paths[0], base});
            const int perFile = type[0] == 'm' ? 1 : type[0] == 'p' ? 2 : channels;
            const bool caf = format[0] == 'c';
            if (channels % perFile != 0) {
                EXPECT_EQ(run.Exit, 1);
                EXPECT_TRUE(Says(run.Err, "odd channel count"));
                EXPECT_FALSE(testtake::FileExists(OutputName(base, 0, caf)));
                continue;
            }
            ASSERT_EQ(run.Exit, 0) << run.Err;
            std::string listed;
            for (int first = 0; first < channels; first += perFile) {
                listed += OutputName(base, first, caf) + "\n";
                EXPECT_TRUE(
                    Holds(OutputName(base, first, caf), take, first, perFile, take.Frames()));
            }
            EXPECT_EQ(run.Out, listed);
            EXPECT_FALSE(testtake::FileExists(OutputName(base, channels, caf)));
        }
    }
}

std::string InteropName(const testing::TestParamInfo<Interop::ParamType>& param) {
    return std::to_string(std::get<0>(param.param)) + "bit_" +
           std::to_string(std::get<1>(param.param)) + "ch";
}

INSTANTIATE_TEST_SUITE_P(Cli, Interop,
                         testing::Combine(testing::Values(8, 12, 16, 24, 32),
                                          testing::Values(1, 2, 3, 16, 64)),
                         InteropName);

// --end names the last file to convert by the number in its name or by its name (in any letter
// case, with or without its folder); the frame that file's end cuts is left out. A take started
// from its second file counts from 02.
TEST(Cli, EndNamesTheLastFileByNumberOrName) {
    TempDir dir;
    const Take take = WriteTake(dir.Path(), 3, 2, 24, 900, {1001, 3002});
    const std::vector<std::string> ends = {"2", "02", "MKZ03_02.WAV", "mkz03_02.wav",
                                           dir.File("MKZ03_02.WAV")};
    for (size_t i = 0; i < ends.size(); ++i) {
        SCOPED_TRACE(ends[i]);
        const std::string base = dir.File("part" + std::to_string(i));
        const Outcome run = RunSplit({"--end", ends[i], take.Paths[0], base});
        ASSERT_EQ(run.Exit, 0) << run.Err;
        EXPECT_TRUE(Holds(OutputName(base, 0, false), take, 0, 1, 3002 / 6));
        EXPECT_TRUE(Holds(OutputName(base, 1, false), take, 1, 1, 3002 / 6));
    }

    const Outcome fromSecond = RunSplit({"-i", "-e", "2", take.Paths[1], dir.File("second")});
    EXPECT_EQ(fromSecond.Exit, 0) << fromSecond.Err;
    EXPECT_TRUE(Says(fromSecond.Out, "Convert: MKZ03_02.WAV to MKZ03_02.WAV (--end 2)"));

    for (const char* none : {"0", "4", "MKZ03_04.WAV", "MKZ04_02.WAV"}) {
        const Outcome run = RunSplit({"-e", none, take.Paths[0], dir.File("none")});
        EXPECT_EQ(run.Exit, 1) << none;
        EXPECT_TRUE(Says(run.Err, std::string("--end ") + none + " names no file of the take " +
                                      "(its files are MKZ03_01.WAV to MKZ03_03.WAV (--end 1 to " +
                                      "3))"));
    }
    EXPECT_FALSE(testtake::FileExists(dir.File("none_01.wav")));
    EXPECT_TRUE(Says(RunSplit({"--help"}).Out, "-e 3 for MKZ01_03.WAV"));
}

// The files of a take are named as its start file is, whatever the separators, a prefix or the
// letter case (beside the recorder's ".WAV" found for a start file renamed ".wav"): -i, --json and
// --end know each by the name it has, and a folder of them is a take.
TEST(Cli, TakeFilesGoByTheirOwnNames) {
    const std::vector<std::function<std::string(std::string, size_t)>> renames = {
        [](std::string name, size_t) { return name.replace(5, 1, "-"); },
        [](std::string name, size_t) { return "Gig " + name.replace(8, 1, "~"); },
        [](std::string name, size_t k) { return k == 0 ? name.substr(0, 9) + "wav" : name; },
    };
    for (const auto& rename : renames) {
        TempDir in, out;
        Take take = WriteTake(in.Path(), 4, 2, 16, 600, {801, 1601});
        size_t k = 0;
        RenameTake(take, [&](std::string name) { return rename(std::move(name), k++); });
        const std::string second = fs::path(take.Paths[1]).filename();
        SCOPED_TRACE(second);

        const Outcome info = RunSplit({"-i", take.Paths[0], out.File("i")});
        EXPECT_EQ(info.Exit, 0) << info.Err;
        EXPECT_TRUE(Says(
            info.Out, "Files:   3 in the take: " + fs::path(take.Paths[0]).filename().string() +
                          " " + second + " " + fs::path(take.Paths[2]).filename().string() + "\n"));

        const Outcome run = RunSplit({"--json", "-e", second, in.Path(), out.Path()});
        ASSERT_EQ(run.Exit, 0) << run.Err;
        const std::vector<nlohmann::json> objects = JsonLines(run.Out);
        ASSERT_EQ(objects.size(), 1U) << run.Out;
        EXPECT_EQ(objects[0]["inputs"], nlohmann::json({take.Paths[0], take.Paths[1]}));
        const std::string stem = fs::path(take.Paths[0]).stem();
        for (int channel = 0; channel < 2; ++channel) {
            EXPECT_TRUE(Holds(OutputName(out.File(stem + "/" + stem), channel, false), take,
                              channel, 1, 1601 / 4));
        }
    }
}

// A take cut short by a file that looks like part of it, or started from a later file while an
// earlier one is missing, converts what it has and says so: on stderr, in -i, in --json's
// "warning", and with exit 3 (a failed task still makes it 1, see JsonDescribesEveryTask). Sizes
// are counted in MB of 2^20 bytes, as the window counts GB of 2^30.
TEST(Cli, TakeWarningsEndInExitThree) {
    constexpr size_t kMiB = 1 << 20;
    TempDir in, out;
    // Four files of 4 channels of 16 bits, cut inside frames; the last two hold 3 MiB.
    const Take take = WriteTake(in.Path(), 2, 4, 16, 393466, {1001, 2003, 2003 + kMiB + 5}, 3);
    fs::remove(take.Paths[1]);
    ASSERT_EQ(::mkfifo(in.File("MKZ02_05.WAV").c_str(), 0600), 0);
    const std::string warning = "MKZ02_05.WAV is not part of the take: not a regular file. Frame "
                                "phase unknown: MKZ02_02.WAV, an earlier file of the take: it is "
                                "missing. The split starts at the first byte of audio.";

    const Outcome info = RunSplit({"-i", take.Paths[2], out.File("i")});
    EXPECT_EQ(info.Exit, 0) << info.Err;
    EXPECT_TRUE(Says(info.Out, "  Warning: " + warning + "\n"));

    const Outcome run = RunSplit({"--json", take.Paths[2], out.File("w")});
    EXPECT_EQ(run.Exit, 3) << run.Err;
    EXPECT_TRUE(Says(run.Err, "morvex-split: warning: " + take.Paths[2] + ": " + warning + "\n"));
    EXPECT_TRUE(Says(run.Err, ": Conversion done. 3.0 MB in "));
    EXPECT_TRUE(Says(run.Err, "1 of them with a take warning"));
    const std::vector<nlohmann::json> objects = JsonLines(run.Out);
    ASSERT_EQ(objects.size(), 1U) << run.Out;
    EXPECT_EQ(objects[0]["state"], "done");
    EXPECT_EQ(objects[0]["warning"], warning);
    EXPECT_EQ(objects[0]["inputs"], nlohmann::json({take.Paths[2], take.Paths[3]}));
    Take rest = take;
    rest.Stream.erase(rest.Stream.begin(), rest.Stream.begin() + 2003);
    for (int channel = 0; channel < 4; ++channel) {
        EXPECT_TRUE(
            Holds(OutputName(out.File("w"), channel, false), rest, channel, 1, 3 * kMiB / 8));
    }
}

// Usage errors end with 2, tasks that cannot be added or started with 1 and the reason, and
// analysing only with 0: none of them writes a file.
TEST(Cli, RunsThatConvertNothing) {
    // Arguments ("START" and "BASE" stand for the take and an output base), exit code, and what it
    // says on stdout or stderr.
    using Case = std::tuple<std::vector<std::string>, int, std::string>;
    const std::vector<Case> cases = {
        {{}, 2, "required"},
        {{"START"}, 2, "needs an OUTPUT_BASE"},
        {{"-t", "stereo", "START", "BASE"}, 2, "stereo"},
        {{"-e", "", "START", "BASE"}, 2, "--end"},
        {{"-e", "1234", "START", "BASE"}, 2, "--end"},
        {{"nothing.wav", "BASE"},
         1,
         "nothing.wav: Can not open selected input file. (No such file or directory)"},
        {{"-e", "3", "START", "BASE"}, 1, "--end 3 names no file of the take"},
        {{"START", "BASE", "nothing.wav", "BASE2"}, 1, "nothing converted"},
        {{"-t", "pairs", "START", "BASE"}, 1, "Mismatch: 2 channel format / odd channel count."},
        {{"START", "BASE", "START", "BASE.wav"}, 1, "Output file name is already in use."},
        {{"-i", "START", "BASE"}, 0, "Files:   2 in the take: MKZ01_01.WAV MKZ01_02.WAV"},
    };
    TempDir dir;
    const Take take = WriteTake(dir.Path(), 1, 3, 16, 300, {401});
    for (const auto& [given, exit, says] : cases) {
        std::vector<std::string> args;
        for (const std::string& arg : given) {
            args.push_back(arg == "START"            ? take.Paths[0]
                           : arg.starts_with("BASE") ? dir.File("u" + arg.substr(4))
                                                     : arg);
        }
        const Outcome run = RunSplit(args);
        SCOPED_TRACE(run.Out + run.Err);
        EXPECT_EQ(run.Exit, exit);
        EXPECT_TRUE(Says(run.Out + run.Err, says));
        EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"MKZ01_01.WAV", "MKZ01_02.WAV"}));
    }
}

// An output that cannot be created fails its task with error 5: whatever is in the way keeps
// every byte, the task's other outputs are removed, and the next task converts.
TEST(Cli, OutputsInTheWay) {
    enum Kind { kFile, kLinkToFile, kDanglingLink };
    // The base under the output directory, what is in the way (nullptr: nothing) and its kind.
    // The reason the error line gives after the engine's message comes last.
    const std::tuple<const char*, const char*, Kind, const char*> cases[] = {
        {"t", "t_02.wav", kFile, "t_02.wav: File exists)"},
        {"t", "t_03.wav", kLinkToFile, "t_03.wav: File exists)"},
        {"t", "t_02.wav", kDanglingLink, "t_02.wav: File exists)"},
        {"missing/t", nullptr, kFile, "missing/t_01.wav: No such file or directory)"},
        {"file/t", "file", kFile, "file/t_01.wav: Not a directory)"}};
    for (const auto& [base, inTheWay, kind, reason] : cases) {
        TempDir in, out, next;
        SCOPED_TRACE(base + std::string(" ") + (inTheWay ? inTheWay : ""));
        const Take take = WriteTake(in.Path(), 1, 3, 24, 2000, {3001});
        const Take other = WriteTake(in.Path(), 2, 2, 16, 500);
        if (inTheWay != nullptr) {
            testtake::WriteFile(out.File(kind == kFile ? inTheWay : "target"),
                                testtake::PatternSamples(100, 1, 3, 99));
            if (kind != kFile) {
                fs::create_symlink(out.File("target"), out.File(inTheWay));
            }
            if (kind == kDanglingLink) {
                fs::remove(out.File("target"));
            }
        }
        const auto snapshot = [&] { // names and bytes; a dangling link has none
            std::vector<std::pair<std::string, Bytes>> files;
            for (const std::string& name : ListDir(out.Path())) {
                const std::string path = out.File(name);
                files.emplace_back(name, fs::exists(path) ? testtake::ReadFile(path) : Bytes{});
            }
            return files;
        };
        const auto before = snapshot();

        // A directory as the base names the outputs after the start file.
        const Outcome run = RunSplit({take.Paths[0], out.File(base), other.Paths[0], next.Path()});

        EXPECT_EQ(run.Exit, 1);
        EXPECT_TRUE(Says(run.Err, take.Paths[0] + ": Output file can not be created. ("));
        EXPECT_TRUE(Says(run.Err, reason));
        EXPECT_EQ(snapshot(), before);
        EXPECT_TRUE(Holds(next.File("MKZ02_01_01.wav"), other, 0, 1, other.Frames()));
        EXPECT_TRUE(Holds(next.File("MKZ02_01_02.wav"), other, 1, 1, other.Frames()));
    }
}

// A folder as START converts every take in it, found in any letter case and with any separator,
// each into a folder of its own under the output folder (made with its parents). A file the
// engine refuses (a FIFO too) is named with the reason and the other takes still convert; files
// not named like the recorder's, and the followers of a take, are no takes of their own.
TEST(Cli, FolderOfTakes) {
    TempDir in, out;
    Take upper = WriteTake(in.Path(), 1, 2, 16, 500, {1001});
    Take lower = WriteTake(in.Path(), 2, 3, 24, 400, {1801});
    RenameTake(lower, LowerCase);
    Take mixed = WriteTake(in.Path(), 3, 1, 16, 300);
    RenameTake(mixed, [](const std::string&) { return std::string("Mkz03_01.Wav"); });
    WriteRefusedFile(in.File("MKZ04_01.WAV"));
    Take dashed = WriteTake(in.Path(), 5, 2, 16, 200, {401});
    RenameTake(dashed, [](std::string name) { return name.replace(5, 1, "-"); });
    testtake::WriteFile(in.File("notes.wav"), testtake::ReadFile(upper.Paths[0]));
    fs::create_symlink(in.File("gone"), in.File("MKZ07_01.WAV"));
    fs::create_symlink(in.File("MKZ08_01.WAV"), in.File("MKZ08_01.WAV")); // a loop
    ASSERT_EQ(::mkfifo(in.File("MKZ09_01.WAV").c_str(), 0600), 0);

    // Paths are printed without the "." steps and doubled slashes they were given with.
    const std::string outFolder = out.File("split/cards/");
    const Outcome run = RunSplit({in.Path() + "/./", out.Path() + "//split/./cards/"});

    EXPECT_EQ(run.Exit, 1);
    // The reason follows the engine's message: the channel count refused.
    EXPECT_TRUE(Says(run.Err, in.File("MKZ04_01.WAV") +
                                  ": Selected input file has incompatible WAV format. (" +
                                  std::to_string(morvex::kMaxChannels + 32) + " channels"));
    EXPECT_TRUE(Says(run.Err, in.File("MKZ07_01.WAV") +
                                  ": Can not open selected input file. (No such file or "
                                  "directory)"));
    EXPECT_TRUE(Says(run.Err, in.File("MKZ08_01.WAV") + ": Can not open selected input file. ("));
    EXPECT_TRUE(Says(run.Err, in.File("MKZ09_01.WAV") +
                                  ": Can not open selected input file. (not a regular file)"));
    const auto output = [&](const std::string& take, int channel) {
        return OutputName(outFolder + take + "/" + take, channel, false);
    };
    std::string listed;
    for (const auto& [name, take] : {std::pair<std::string, const Take*>{"MKZ01_01", &upper},
                                     {"mkz02_01", &lower},
                                     {"Mkz03_01", &mixed},
                                     {"MKZ05-01", &dashed}}) {
        for (int channel = 0; channel < take->Format.channels; ++channel) {
            EXPECT_TRUE(Holds(output(name, channel), *take, channel, 1, take->Frames()));
            listed += output(name, channel) + "\n";
        }
    }
    EXPECT_EQ(run.Out, listed);
    EXPECT_EQ(ListDir(outFolder),
              (std::vector<std::string>{"MKZ01_01", "MKZ05-01", "Mkz03_01", "mkz02_01"}));

    const Outcome empty = RunSplit({out.Path(), out.File("none/")});
    EXPECT_EQ(empty.Exit, 1);
    EXPECT_TRUE(Says(empty.Err, out.Path() + ": no take in this folder"));
}

// More takes than the engine's table holds run 30 at a time, in name order, and every one of them
// converts.
TEST(Cli, ManyTakesRunInBatches) {
    constexpr int kTakes = morvex::kMaxEntries * 2 + 3;
    TempDir in, out;
    std::vector<Take> takes;
    for (int number = kTakes; number >= 1; --number) {
        takes.push_back(WriteTake(in.Path(), number, 1, 8, 40 + number));
    }
    std::reverse(takes.begin(), takes.end());

    const Outcome run = RunSplit({in.Path(), out.Path()});

    ASSERT_EQ(run.Exit, 0) << run.Err;
    std::vector<std::string> listed;
    for (int number = 1; number <= kTakes; ++number) {
        const std::string name = fs::path(takes[number - 1].Paths[0]).stem();
        listed.push_back(OutputName(out.File(name + "/" + name), 0, false));
        EXPECT_TRUE(Holds(listed.back(), takes[number - 1], 0, 1, takes[number - 1].Frames()));
    }
    EXPECT_EQ(Lines(run.Out), listed);
    EXPECT_TRUE(Says(run.Err, "[" + std::to_string(kTakes) + "/" + std::to_string(kTakes) + "]"));
}

// Where the outputs of a named take go: a base ending in "/" is a folder, made with its parents
// when missing; the format's extension at the end of a base is dropped in any letter case.
TEST(Cli, WhereOutputsGo) {
    // Format, the base under the output folder, and the first output under it.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"caf", "G.caf", "G_01.caf"},
        {"caf", "G.CAF", "G_01.caf"},
        {"caf", "G.wav", "G_01.caf"},
        {"wav", "G.WAV", "G_01.wav"},
        {"wav", "G.caf", "G.caf_01.wav"},
        {"wav", "new/", "new/MKZ01_01_01.wav"},
        {"caf", "a/b/c/", "a/b/c/MKZ01_01_01.caf"}};
    TempDir in;
    const Take take = WriteTake(in.Path(), 1, 2, 16, 300, {601});
    for (const auto& [format, base, first] : cases) {
        SCOPED_TRACE(base);
        TempDir out;
        const Outcome run = RunSplit({"-f", format, take.Paths[0], out.File(base)});
        ASSERT_EQ(run.Exit, 0) << run.Err;
        const std::string firstOutput = out.File(first);
        const std::string second = firstOutput.substr(0, firstOutput.size() - 6) + "02" +
                                   firstOutput.substr(firstOutput.size() - 4);
        EXPECT_EQ(run.Out, firstOutput + "\n" + second + "\n");
        EXPECT_TRUE(Holds(firstOutput, take, 0, 1, take.Frames()));
        EXPECT_TRUE(Holds(second, take, 1, 1, take.Frames()));
    }
}

// --info checks that every output could be created and names what would fail, with the system's
// reason, on stderr and in its State line: it exits 1 then, and writes nothing in any case (a
// folder to make is not made).
TEST(Cli, InfoChecksEveryOutput) {
    // The base under the output folder, and what stderr says (nothing: exit 0).
    const std::pair<const char*, const char*> cases[] = {
        {"t", ""},
        {"missing/t", "missing: No such file or directory"},
        {"file/t", "file: Not a directory"},
        {"taken", "taken_02.wav: File exists"},
        {"new/deeper/", ""},
        {"file/deeper/", "deeper: cannot be created: "},
    };
    TempDir in;
    const Take take = WriteTake(in.Path(), 1, 3, 16, 300);
    for (const auto& [base, says] : cases) {
        SCOPED_TRACE(base);
        TempDir out;
        testtake::WriteFile(out.File("file"), {1, 2, 3});
        testtake::WriteFile(out.File("taken_02.wav"), {1, 2, 3});
        const Outcome run = RunSplit({"-i", take.Paths[0], out.File(base)});
        EXPECT_EQ(run.Exit, says[0] == '\0' ? 0 : 1);
        EXPECT_TRUE(Says(run.Out, "Outputs: 3 mono file(s)"));
        // The State line tells what the exit status does.
        EXPECT_TRUE(Says(run.Out, says[0] == '\0'
                                      ? "State:   File(s) prepared for conversion.\n"
                                      : "State:   Blocked: Output file can not be created. (" +
                                            out.Path() + "/"));
        if (says[0] != '\0') {
            EXPECT_TRUE(Says(run.Err, take.Paths[0] + ": Output file can not be created. (" +
                                          out.Path() + "/"));
            EXPECT_TRUE(Says(run.Err, says));
            EXPECT_TRUE(Says(run.Out.substr(run.Out.find("State:")), says));
        }
        EXPECT_EQ(ListDir(out.Path()), (std::vector<std::string>{"file", "taken_02.wav"}));
    }

    // More audio than the file system holds: sparse files whose headers claim 4 GB each.
    struct statvfs disk {};
    ASSERT_EQ(::statvfs(in.Path().c_str(), &disk), 0);
    constexpr uint32_t kClaimed = 4000000000U;
    const auto files = static_cast<int>(uint64_t{disk.f_bavail} * disk.f_frsize / kClaimed + 2);
    if (files > morvex::kMaxTakeFiles) {
        GTEST_SKIP() << "the file system has more room than a take can fill";
    }
    testtake::WavLayout claiming;
    claiming.dataSize = kClaimed;
    for (int n = 1; n <= files; ++n) {
        const std::string path = in.File(testtake::SchemeName(9, n));
        testtake::WriteFile(path, testtake::MakeWav(take.Format, {}, claiming));
        fs::resize_file(path, fs::file_size(path) + kClaimed);
    }
    TempDir out;
    const Outcome run = RunSplit({"-i", in.File(testtake::SchemeName(9, 1)), out.File("big")});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_TRUE(Says(run.Out, "State:   Blocked: Output file can not be created. (" + out.Path() +
                                  ": " + std::strerror(ENOSPC) + " ("));
}

// --json prints one object per task for scripts, read here by a real JSON parser: the files read,
// the format, frames, outputs, state, a take's warning and the error with the system's reason.
// The warning, of a file with the take's next name that is not part of it, is on stderr too.
TEST(Cli, JsonDescribesEveryTask) {
    TempDir in, out;
    const Take take = WriteTake(in.Path(), 1, 2, 24, 700, {1501});
    const Take other = WriteTake(in.Path(), 2, 1, 16, 300);
    testtake::WavFormat mono; // MKZ01_03.WAV: the next name, another format
    mono.channels = 1;
    testtake::WriteTake(in.Path(), 1, 3, mono, testtake::PatternSamples(100, 1, 2), {});
    testtake::WriteFile(out.File("o_01.wav"), {1, 2, 3});

    const Outcome run =
        RunSplit({"--json", take.Paths[0], out.File("t"), other.Paths[0], out.File("o")});

    EXPECT_EQ(run.Exit, 1);
    EXPECT_TRUE(Says(run.Err, "morvex-split: warning: " + take.Paths[0] +
                                  ": MKZ01_03.WAV is not part of the take"));
    const std::vector<nlohmann::json> objects = JsonLines(run.Out);
    ASSERT_EQ(objects.size(), 2U) << run.Out;
    const nlohmann::json& done = objects[0];
    EXPECT_EQ(done["task"], 1);
    EXPECT_EQ(done["state"], "done");
    EXPECT_EQ(done["inputs"], nlohmann::json(take.Paths));
    EXPECT_EQ(done["format"]["channels"], 2);
    EXPECT_EQ(done["format"]["bits"], 24);
    EXPECT_EQ(done["format"]["sample_rate"], 48000);
    EXPECT_EQ(done["frames"], take.Frames());
    EXPECT_EQ(done["outputs"], nlohmann::json({out.File("t_01.wav"), out.File("t_02.wav")}));
    EXPECT_TRUE(done["error"].is_null());
    EXPECT_TRUE(Says(done["warning"].get<std::string>(), "MKZ01_03.WAV"));
    EXPECT_TRUE(Holds(out.File("t_02.wav"), take, 1, 1, take.Frames()));
    const nlohmann::json& failed = objects[1];
    EXPECT_EQ(failed["state"], "failed");
    EXPECT_EQ(failed["error"]["code"], morvex::kErrorOutputCreate);
    EXPECT_EQ(failed["error"]["details"], nlohmann::json({out.File("o_01.wav") + ": File exists"}));

    // Looking only: a refused file, a take that could convert and one whose outputs are in the
    // way, with the names of the files read and the frames they hold.
    // A name with quotes and a byte that is no UTF-8: the line stays valid JSON.
    const std::string oddName = in.File("odd \"name\" \xff.wav");
    WriteRefusedFile(oddName);
    const Outcome info = RunSplit({"--json", "-i", "-e", "1", oddName, out.File("r"), take.Paths[0],
                                   out.File("t2"), other.Paths[0], out.File("o")});
    EXPECT_EQ(info.Exit, 1);
    const std::vector<nlohmann::json> looked = JsonLines(info.Out);
    ASSERT_EQ(looked.size(), 3U) << info.Out;
    EXPECT_EQ(looked[0]["state"], "refused");
    EXPECT_EQ(looked[0]["start"], in.File("odd \"name\" \uFFFD.wav"));
    EXPECT_EQ(looked[0]["error"]["code"], morvex::kErrorIncompatibleWav);
    EXPECT_EQ(looked[1]["state"], "ready");
    EXPECT_EQ(looked[1]["inputs"], nlohmann::json({take.Paths[0]}));
    EXPECT_EQ(looked[1]["frames"], 1501 / 6);
    EXPECT_EQ(looked[2]["state"], "blocked");
    EXPECT_EQ(looked[2]["error"]["details"],
              nlohmann::json({out.File("o_01.wav") + ": File exists"}));
    EXPECT_EQ(ListDir(out.Path()), (std::vector<std::string>{"o_01.wav", "t_01.wav", "t_02.wav"}));
}

// A stdout that cannot be written (a full device) fails the run though every output was
// written: the list of them is lost. The same holds for --info, --json and --help.
TEST(Cli, StdoutThatCannotBeWrittenFailsTheRun) {
    TempDir in, out, streams;
    const Take take = WriteTake(in.Path(), 1, 2, 16, 300);
    const std::vector<std::vector<std::string>> runs = {{take.Paths[0], out.File("a")},
                                                        {"-i", take.Paths[0], out.File("b")},
                                                        {"--json", take.Paths[0], out.File("c")},
                                                        {"--help"}};
    for (const std::vector<std::string>& args : runs) {
        std::string command = "'" MORVEX_SPLIT_PATH "'";
        for (const std::string& arg : args) {
            command += " '" + arg + "'";
        }
        command += " >/dev/full 2>'" + streams.File("err") + "'";
        SCOPED_TRACE(command);
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const Bytes err = testtake::ReadFile(streams.File("err"));
        EXPECT_TRUE(Says(std::string(err.begin(), err.end()), "standard output"));
    }
    EXPECT_TRUE(Holds(out.File("a_01.wav"), take, 0, 1, take.Frames()));
    EXPECT_TRUE(Holds(out.File("c_02.wav"), take, 1, 1, take.Frames()));
}

// A task that fails names the file and the system's reason after the engine's message; an output
// that cannot be deleted afterwards is named too, on stderr and in --json.
TEST(Cli, AFailedTaskNamesTheFileAndTheReason) {
    TempDir in;
    // The follower fails past the header bytes that adding the task reads.
    const Take take = WriteTake(in.Path(), 1, 2, 16, 6000, {12001});
    const std::string failAt = std::to_string(morvex::kHeaderScanBytes + 1000);
    {
        TempDir out;
        const Outcome run =
            RunWithFaults({"--json", take.Paths[0], out.File("f")},
                          {{"MORVEX_FAULT_SYNC", "1"}, {"MORVEX_FAULT_UNLINK", "f_02"}});
        EXPECT_EQ(run.Exit, 1);
        EXPECT_TRUE(Says(run.Err, take.Paths[0] + ": Output file can not be written. (" +
                                      out.File("f_01.wav") + ": Input/output error)"));
        EXPECT_TRUE(
            Says(run.Err, "morvex-split: " + out.File("f_02.wav") + ": could not be deleted"));
        const std::vector<nlohmann::json> objects = JsonLines(run.Out);
        ASSERT_EQ(objects.size(), 1U) << run.Out;
        EXPECT_EQ(objects[0]["state"], "failed");
        EXPECT_EQ(objects[0]["error"]["code"], morvex::kErrorOutputWrite);
        EXPECT_EQ(objects[0]["error"]["details"],
                  nlohmann::json({out.File("f_01.wav") + ": Input/output error",
                                  out.File("f_02.wav") + ": could not be deleted"}));
        EXPECT_EQ(ListDir(out.Path()), std::vector<std::string>{"f_02.wav"});
    }
    {
        TempDir out;
        const Outcome run = RunWithFaults(
            {take.Paths[0], out.File("r")},
            {{"MORVEX_FAULT_READ_FILE", take.Paths[1]}, {"MORVEX_FAULT_READ_AT", failAt}});
        EXPECT_EQ(run.Exit, 1);
        EXPECT_TRUE(Says(run.Err, take.Paths[0] + ": Input file can not be read. (" +
                                      take.Paths[1] + ": Input/output error)"));
        EXPECT_TRUE(ListDir(out.Path()).empty());
    }
}

} // namespace

// --join makes one take of files of any names, read in the order given: frames cut across the
// files come out whole, -e counts the files given, --json lists them in that order, and a file of
// another format refuses the whole run, named with the reason.
TEST(Cli, JoinTakesFilesOfAnyNamesInTheOrderGiven) {
    TempDir dir;
    Take take = WriteTake(dir.Path(), 7, 4, 24, 900, {1001, 3002, 7003});
    RenameTake(take, [](const std::string& name) { return "000000" + name.substr(6); });
    const std::vector<std::string>& f = take.Paths; // 00000001.WAV ... 00000004.WAV
    const std::string all = dir.File("all"), two = dir.File("two");
    const Outcome run =
        RunSplit({"-t", "pairs", "-f", "caf", "--join", all, f[0], f[1], f[2], f[3]});
    ASSERT_EQ(run.Exit, 0) << run.Err;
    EXPECT_TRUE(Holds(OutputName(all, 0, true), take, 0, 2, take.Frames()));
    EXPECT_TRUE(Holds(OutputName(all, 2, true), take, 2, 2, take.Frames()));
    const Outcome end = RunSplit({"--join", two, f[0], f[1], f[2], f[3], "-e", "2"});
    ASSERT_EQ(end.Exit, 0) << end.Err;
    EXPECT_TRUE(Holds(OutputName(two, 3, false), take, 3, 1, 3002 / 12));

    const Outcome info = RunSplit({"-i", "--json", "--join", dir.File("x"), f[1], f[0]});
    ASSERT_EQ(info.Exit, 0) << info.Err;
    const nlohmann::json task = JsonLines(info.Out).at(0);
    EXPECT_EQ(task["inputs"], nlohmann::json({f[1], f[0]}));
    EXPECT_EQ(task["frames"], 3002 / 12);

    const std::string other = dir.File("other.wav");
    testtake::WriteFile(other, testtake::MakeWav({4, 16}, testtake::PatternSamples(9, 4, 2)));
    const Outcome refused = RunSplit({"--json", "--join", dir.File("y"), f[0], other, f[2]});
    EXPECT_EQ(refused.Exit, 1);
    EXPECT_TRUE(Says(refused.Err, other + ": its format differs from the start file's"));
    const nlohmann::json json = JsonLines(refused.Out).at(0);
    EXPECT_EQ(json["state"], "refused");
    EXPECT_EQ(json["inputs"], nlohmann::json({f[0], other, f[2]}));
    EXPECT_FALSE(testtake::FileExists(OutputName(dir.File("y"), 0, false)));
}
