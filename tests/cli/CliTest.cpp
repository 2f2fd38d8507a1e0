// morvex-split end to end on generated takes, outputs read back by bytes and by libsndfile.
#include "SplitHarness.h"
#include "TempDir.h"

#include <nlohmann/json.hpp>

#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>

using namespace harness;

namespace {

namespace fs = std::filesystem;

// Each line of --json output parsed by a real JSON parser (a line that is no JSON throws).
std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        objects.push_back(nlohmann::json::parse(line));
    }
    return objects;
}

// A file the engine refuses: more channels than a take may have.
void WriteRefusedFile(const std::string& path) {
    const testtake::WavFormat format{.channels = morvex::kMaxChannels + 32};
    testtake::WriteFile(path, testtake::MakeWav(format, testtake::PatternSamples(10, 1, 2, 7)));
}

class Interop : public testing::TestWithParam<std::tuple<int, int>> {};

// Each output holds every complete frame of its channels: a take cut inside a frame, ending in half
// a frame, and for two of them longer than a 4 MiB source block.
TEST_P(Interop, EveryOutputHoldsItsChannelsOfEveryCompleteFrame) {
    // Type, format, base given and base taken: ".wav" or the format's extension goes in any case; a
    // base ending in "/" is a folder, made with its parents, for outputs named as the start file.
    const std::tuple<const char*, const char*, const char*, const char*> runs[] = {
        {"mono", "wav", "m.WAV", "m"},
        {"mono", "caf", "new/", "new/MKZ01_01"},
        {"pairs", "wav", "p.caf", "p.caf"},
        {"pairs", "caf", "p.Caf", "p"},
        {"all", "wav", "a/b/c/", "a/b/c/MKZ01_01"},
        {"all", "caf", "a.wav", "a"}};
    const auto [bits, channels] = GetParam();
    const int frameBytes = channels * ((bits + 7) / 8);
    const uint32_t frames = bits == 16 && channels == 2    ? 1200000
                            : bits == 24 && channels == 16 ? 120000
                                                           : 701;
    TempDir dir;
    const Take take = WriteTake(dir.Path(), 1, channels, bits, frames,
                                {static_cast<size_t>(frameBytes) * (frames / 2) + 1},
                                static_cast<uint32_t>(frameBytes / 2));
    for (const auto& [type, format, given, base] : runs) {
        SCOPED_TRACE(given);
        const int perFile = type[0] == 'm' ? 1 : type[0] == 'p' ? 2 : channels;
        const Outcome run = RunSplit({"-t", type, "-f", format, take.Paths[0], dir.File(given)});
        if (channels % perFile != 0) {
            continue; // refused: see RunsThatConvertNothing
        }
        ASSERT_EQ(run.Exit, 0) << run.Err;
        std::string listed;
        for (int first = 0; first < channels; first += perFile) {
            const std::string output = OutputName(dir.File(base), first, format[0] == 'c');
            listed += output + "\n";
            EXPECT_TRUE(Holds(output, take, first, perFile, take.Frames()));
        }
        EXPECT_EQ(run.Out, listed);
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, Interop,
                         testing::Combine(testing::Values(8, 12, 16, 24, 32),
                                          testing::Values(1, 2, 3, 16, 64)));

// A take's files go by their own names (a prefix, any separator and letter case): -i lists them;
// --end names the last by its number as the names count, or its name in any case, with its folder.
TEST(Cli, TakeFilesAndEndGoByTheirOwnNames) {
    TempDir in;
    Take take = WriteTake(in.Path(), 4, 2, 16, 600, {801, 1601}); // cut inside frames
    for (size_t k = 0; k < take.Paths.size(); ++k) {
        const std::string path =
            in.File("gig mkz04~0" + std::to_string(k + 1) + (k ? ".WAV" : ".wav"));
        fs::rename(take.Paths[k], path);
        take.Paths[k] = path;
    }
    const Outcome info = RunSplit({"-i", "-e", "2", take.Paths[1], in.File("i")});
    EXPECT_TRUE(Says(info.Out, "Files:   2 in the take: gig mkz04~02.WAV gig mkz04~03.WAV\n"
                               "  Convert: gig mkz04~02.WAV to gig mkz04~02.WAV (--end 2)\n"));
    for (const std::string& end :
         {std::string("2"), std::string("02"), std::string("GIG MKZ04~02.wav"), take.Paths[1]}) {
        TempDir out;
        SCOPED_TRACE(end);
        const Outcome run = RunSplit({"--json", "-e", end, in.Path(), out.Path()});
        ASSERT_EQ(run.Exit, 0) << run.Err;
        EXPECT_EQ(JsonLines(run.Out).at(0)["inputs"],
                  nlohmann::json({take.Paths[0], take.Paths[1]}));
        // The frame that the end file's end cuts is left out.
        EXPECT_TRUE(Holds(out.File("gig mkz04~01/gig mkz04~01_02.wav"), take, 1, 1, 1601 / 4));
    }
}

// Usage errors exit with 2, tasks that cannot be added or started with 1, -i with 0; none writes.
TEST(Cli, RunsThatConvertNothing) {
    // Arguments (START: the take, BASE: an output base, EMPTY: a folder), exit code, what it says.
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{}, 2, "required"},
        {{"START"}, 2, "needs an OUTPUT_BASE"},
        {{"-t", "stereo", "START", "BASE"}, 2, "stereo"},
        {{"-e", "", "START", "BASE"}, 2, "--end"},
        {{"-e", "1234", "START", "BASE"}, 2, "--end"},
        {{"nothing.wav", "BASE"}, 1, "nothing.wav: Can not open selected input file. (No such"},
        {{"EMPTY", "BASE"}, 1, ": no take in this folder"},
        {{"-e", "3", "START", "BASE"},
         1,
         "no file of the take (its files are MKZ01_01.WAV to MKZ01_02.WAV (--end 1 to 2))"},
        {{"-e", "0", "START", "BASE"}, 1, "--end 0 names no file"},
        {{"-e", "MKZ02_02.WAV", "START", "BASE"}, 1, "--end MKZ02_02.WAV names no file"},
        {{"START", "BASE", "nothing.wav", "BASE2"}, 1, "nothing converted"},
        {{"-t", "pairs", "START", "BASE"}, 1, "Mismatch: 2 channel format / odd channel count."},
        {{"-c", "2-1", "START", "BASE"}, 2, "--channels: not a list of channels from 1 to 64: 2-1"},
        {{"-c", "2,4", "START", "BASE"}, 1, "_01.WAV: --channels 2,4: the take has 3 channel"},
        {{"START", "BASE", "START", "BASE.wav"}, 1, "Output file name is already in use."},
        {{"-i", "START", "BASE"}, 0, "Files:   2 in the take: MKZ01_01.WAV MKZ01_02.WAV"},
    };
    TempDir dir, empty;
    const Take take = WriteTake(dir.Path(), 1, 3, 16, 300, {401});
    for (const auto& [given, exit, says] : cases) {
        std::vector<std::string> args;
        for (const std::string& arg : given) {
            args.push_back(arg == "START"            ? take.Paths[0]
                           : arg == "EMPTY"          ? empty.Path()
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

// An output that cannot be created blocks -i and fails its task, naming the reason: what is in the
// way keeps every byte, the task's other outputs go, and the next task converts.
TEST(Cli, OutputsInTheWay) {
    // The base under the output folder, what is in the way (nullptr: nothing) and what it links to
    // (nullptr: it is a file), the reason -i gives ("": none) and a run's (nullptr: no run).
    const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
        {"new/deeper/", nullptr, nullptr, "", nullptr},
        {"t", "t_02.wav", nullptr, "t_02.wav: File exists)", "t_02.wav: File exists)"},
        {"t", "t_03.wav", "target", "t_03.wav: File exists)", "t_03.wav: File exists)"},
        {"t", "t_02.wav", "gone", "t_02.wav: File exists)", "t_02.wav: File exists)"},
        {"missing/t", nullptr, nullptr, "missing: No such file or directory)",
         "missing/t_01.wav: No such file or directory)"},
        {"file/t", "file", nullptr, "file: Not a directory)", "file/t_01.wav: Not a directory)"},
        {"file/deeper/", "file", nullptr, "file/deeper: cannot be created: ", nullptr}};
    for (const auto& [base, inTheWay, linkTo, infoSays, runSays] : cases) {
        TempDir in, out, next;
        SCOPED_TRACE(base + std::string(" ") + (inTheWay ? inTheWay : ""));
        const Take take = WriteTake(in.Path(), 1, 3, 24, 2000, {3001});
        const Take other = WriteTake(in.Path(), 2, 2, 16, 500);
        const Bytes blocker = testtake::PatternSamples(100, 1, 3, 99);
        testtake::WriteFile(out.File("target"), blocker);
        if (linkTo != nullptr) {
            fs::create_symlink(out.File(linkTo), out.File(inTheWay));
        } else if (inTheWay != nullptr) {
            testtake::WriteFile(out.File(inTheWay), blocker);
        }
        const std::vector<std::string> names = ListDir(out.Path());
        const std::string cannot = "Output file can not be created. (" + out.Path() + "/";

        const Outcome info = RunSplit({"-i", take.Paths[0], out.File(base)});
        const bool blocked = infoSays[0] != '\0';
        EXPECT_EQ(info.Exit, blocked ? 1 : 0);
        EXPECT_TRUE(Says(info.Out, blocked ? "State:   Blocked: " + cannot + infoSays
                                           : "State:   File(s) prepared for conversion.\n"));
        EXPECT_TRUE(Says(info.Err, blocked ? take.Paths[0] + ": " + cannot + infoSays : ""));
        EXPECT_EQ(ListDir(out.Path()), names);
        if (runSays != nullptr) {
            const Outcome run =
                RunSplit({take.Paths[0], out.File(base), other.Paths[0], next.Path()});
            EXPECT_EQ(run.Exit, 1);
            EXPECT_TRUE(Says(run.Err, take.Paths[0] + ": " + cannot + runSays));
            EXPECT_EQ(ListDir(out.Path()), names);
            for (const std::string& name : names) { // a dangling link has no bytes
                const std::string path = out.File(name);
                EXPECT_TRUE(!fs::exists(path) || testtake::ReadFile(path) == blocker) << name;
            }
            EXPECT_TRUE(Holds(next.File("MKZ02_01_02.wav"), other, 1, 1, other.Frames()));
        }
    }

    // More audio than the file system holds: sparse files whose headers claim 4 GB each.
    TempDir in, out;
    struct statvfs disk {};
    ASSERT_EQ(::statvfs(in.Path().c_str(), &disk), 0);
    constexpr uint32_t kClaimed = 4000000000U;
    const auto files = static_cast<int>(uint64_t{disk.f_bavail} * disk.f_frsize / kClaimed + 2);
    if (files > morvex::kMaxTakeFiles) {
        GTEST_SKIP() << "the file system has more room than a take can fill";
    }
    const testtake::WavLayout claiming{.dataSize = kClaimed};
    for (int n = 1; n <= files; ++n) {
        const std::string path = in.File(testtake::SchemeName(9, n));
        testtake::WriteFile(path, testtake::MakeWav(testtake::WavFormat{}, {}, claiming));
        fs::resize_file(path, fs::file_size(path) + kClaimed);
    }
    const Outcome run = RunSplit({"-i", in.File(testtake::SchemeName(9, 1)), out.File("big")});
    EXPECT_TRUE(Says(run.Out, "State:   Blocked: Output file can not be created. (" + out.Path() +
                                  ": " + std::strerror(ENOSPC) + " ("));
}

// A folder as START converts each take in it, in name order, 30 at a time, into a folder of its
// own; a refused file is named, and other files and a take's followers are no takes.
TEST(Cli, FolderOfTakes) {
    TempDir in, out;
    std::vector<Take> takes = {WriteTake(in.Path(), 1, 2, 16, 500, {1001}),
                               WriteTake(in.Path(), 2, 3, 24, 400, {1801})};
    for (int number = 10; number < 10 + 2 * morvex::kMaxEntries; ++number) {
        takes.push_back(WriteTake(in.Path(), number, 1, 8, 40 + number));
    }
    WriteRefusedFile(in.File("MKZ04_01.WAV"));
    testtake::WriteFile(in.File("notes.wav"), testtake::ReadFile(takes[0].Paths[0]));
    fs::create_symlink(in.File("gone"), in.File("MKZ07_01.WAV"));
    fs::create_symlink(in.File("MKZ08_01.WAV"), in.File("MKZ08_01.WAV")); // a loop
    ASSERT_EQ(::mkfifo(in.File("MKZ09_01.WAV").c_str(), 0600), 0);

    // Paths are printed without the "." steps and doubled slashes they were given with.
    const std::string outFolder = out.File("split/cards/");
    const Outcome run = RunSplit({in.Path() + "/./", out.Path() + "//split/./cards/"});

    EXPECT_EQ(run.Exit, 1);
    EXPECT_TRUE(Says(run.Err, in.File("MKZ04_01.WAV") +
                                  ": Selected input file has incompatible WAV format. (" +
                                  std::to_string(morvex::kMaxChannels + 32) + " channels"));
    EXPECT_TRUE(Says(run.Err, in.File("MKZ09_01.WAV") +
                                  ": Can not open selected input file. (not a regular file)"));
    std::string listed; // no other file converts as a take of its own
    for (const Take& take : takes) {
        const std::string name = fs::path(take.Paths[0]).stem();
        for (int channel = 0; channel < take.Format.channels; ++channel) {
            const std::string output = OutputName(outFolder + name + "/" + name, channel, false);
            EXPECT_TRUE(Holds(output, take, channel, 1, take.Frames()));
            listed += output + "\n";
        }
    }
    EXPECT_EQ(run.Out, listed);
    const std::string count = std::to_string(takes.size());
    EXPECT_TRUE(Says(run.Err, "[" + count + "/" + count + "]"));
}

// --json prints one object per task, with -i also of refused and blocked ones. A take's warning
// shows on stderr, in -i and --json and ends the run with 3. Sizes count MB of 2^20 bytes.
TEST(Cli, JsonAndWarningsDescribeEveryTask) {
    TempDir in, out;
    const Take take = WriteTake(in.Path(), 1, 2, 24, 1 << 19, {1501}); // 3 MiB
    const Take other = WriteTake(in.Path(), 2, 1, 16, 300);
    WriteRefusedFile(in.File("MKZ01_03.WAV")); // the take's next name, another format
    const std::string warning = "MKZ01_03.WAV is not part of the take";
    EXPECT_TRUE(Says(RunSplit({"-i", take.Paths[0], out.File("i")}).Out, "Warning: " + warning));

    const Outcome warned = RunSplit({"--json", take.Paths[0], out.File("t")});
    EXPECT_EQ(warned.Exit, 3);
    EXPECT_TRUE(Says(warned.Err, "morvex-split: warning: " + take.Paths[0] + ": " + warning));
    EXPECT_TRUE(Says(warned.Err, ": Conversion done. 3.0 MB in "));
    EXPECT_TRUE(Says(warned.Err, "1 of them with a take warning"));
    const nlohmann::json done = JsonLines(warned.Out).at(0);
    EXPECT_EQ(std::tuple(done["state"], done["format"]["channels"], done["format"]["bits"],
                         done["format"]["sample_rate"], done["frames"], done["inputs"]),
              std::tuple("done", 2, 24, 48000, take.Frames(), nlohmann::json(take.Paths)));
    EXPECT_EQ(done["outputs"], nlohmann::json({out.File("t_01.wav"), out.File("t_02.wav")}));
    EXPECT_TRUE(done["error"].is_null());
    EXPECT_TRUE(Says(done["warning"].get<std::string>(), warning));

    testtake::WriteFile(out.File("o_01.wav"), {1, 2, 3});
    const Outcome failed =
        RunSplit({"--json", take.Paths[0], out.File("f"), other.Paths[0], out.File("o")});
    EXPECT_EQ(failed.Exit, 1); // a failed task outweighs a warning
    const std::vector<nlohmann::json> two = JsonLines(failed.Out);
    ASSERT_EQ(two.size(), 2U) << failed.Out;
    EXPECT_EQ(two[1]["task"], 2);
    EXPECT_EQ(two[1]["error"]["details"], nlohmann::json({out.File("o_01.wav") + ": File exists"}));

    // A name with quotes and a byte that is no UTF-8: the line stays valid JSON.
    const std::string oddName = in.File("odd \"name\" \xff.wav");
    WriteRefusedFile(oddName);
    const Outcome info = RunSplit({"--json", "-i", "-e", "1", oddName, out.File("r"), take.Paths[0],
                                   out.File("t2"), other.Paths[0], out.File("o")});
    EXPECT_EQ(info.Exit, 1);
    const std::vector<nlohmann::json> looked = JsonLines(info.Out);
    ASSERT_EQ(looked.size(), 3U) << info.Out;
    EXPECT_EQ(
        std::tuple(looked[0]["state"], looked[0]["start"], looked[0]["error"]["code"]),
        std::tuple("refused", in.File("odd \"name\" \uFFFD.wav"), morvex::kErrorIncompatibleWav));
    EXPECT_EQ(std::tuple(looked[1]["state"], looked[1]["inputs"], looked[1]["frames"]),
              std::tuple("ready", nlohmann::json({take.Paths[0]}), 1501 / 6));
    EXPECT_EQ(looked[2]["state"], "blocked");
    EXPECT_EQ(looked[2]["error"]["details"],
              nlohmann::json({out.File("o_01.wav") + ": File exists"}));
}

// A stdout that cannot be written (a full device) fails the run though every output was written.
TEST(Cli, StdoutThatCannotBeWrittenFailsTheRun) {
    TempDir in, out;
    const Take take = WriteTake(in.Path(), 1, 2, 16, 300);
    for (const std::string& args :
         {"--json '" + take.Paths[0] + "' '" + out.File("a") + "'", std::string("--help")}) {
        const std::string command =
            "'" MORVEX_SPLIT_PATH "' " + args + " >/dev/full 2>'" + out.File("err") + "'";
        SCOPED_TRACE(command);
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        const Bytes err = testtake::ReadFile(out.File("err"));
        EXPECT_TRUE(Says(std::string(err.begin(), err.end()), "standard output"));
    }
    EXPECT_TRUE(Holds(out.File("a_01.wav"), take, 0, 1, take.Frames()));
}

// A failed task names the file and the system's reason, and any output it could not delete.
TEST(Cli, AFailedTaskNamesTheFileAndTheReason) {
    TempDir in, out;
    const Take take = WriteTake(in.Path(), 1, 2, 16, 300);
    const char* asan = std::getenv("ASAN_OPTIONS");
    // Every fdatasync fails, and the unlink of f_02.wav; sanitizers need not come first then.
    const ScopedEnv faults({{"MORVEX_FAULT_SYNC", "1"},
                            {"MORVEX_FAULT_UNLINK", "f_02"},
                            {"LD_PRELOAD", MORVEX_FAULT_SHIM_PATH},
                            {"ASAN_OPTIONS", std::string("verify_asan_link_order=0") +
                                                 (asan ? std::string(":") + asan : "")}});
    const Outcome run = RunSplit({"--json", take.Paths[0], out.File("f")});
    EXPECT_EQ(run.Exit, 1);
    EXPECT_TRUE(Says(run.Err, take.Paths[0] + ": Output file can not be written. (" +
                                  out.File("f_01.wav") + ": Input/output error)"));
    EXPECT_TRUE(Says(run.Err, "morvex-split: " + out.File("f_02.wav") + ": could not be deleted"));
    const nlohmann::json failed = JsonLines(run.Out).at(0);
    EXPECT_EQ(failed["state"], "failed");
    EXPECT_EQ(failed["error"]["code"], morvex::kErrorOutputWrite);
    EXPECT_EQ(failed["error"]["details"],
              nlohmann::json({out.File("f_01.wav") + ": Input/output error",
                              out.File("f_02.wav") + ": could not be deleted"}));
    EXPECT_EQ(ListDir(out.Path()), std::vector<std::string>{"f_02.wav"});
}

} // namespace

// --join makes one take of files of any names, read in the order given: frames cut across the
// files come out whole, -e counts the files given, --json lists them in that order, and a file of
// another format refuses the whole run, named with the reason.
TEST(Cli, JoinTakesFilesOfAnyNamesInTheOrderGiven) {
    TempDir dir;
    Take take = WriteTake(dir.Path(), 7, 4, 24, 900, {1001, 3002, 7003});
    for (std::string& path : take.Paths) { // MKZ07_0N.WAV -> 0000000N.WAV
        const fs::path from(path);
        path = (from.parent_path() / ("000000" + from.filename().string().substr(6))).string();
        fs::rename(from, path);
    }
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
    EXPECT_FALSE(fs::exists(OutputName(dir.File("y"), 0, false)));
}

// -c converts the channels chosen under their own numbers and counts only them; --skip-silent
// deletes outputs of digital silence (a pair only when both channels are) and names them.
TEST(Cli, ChannelSelectionAndSilentOutputs) {
    TempDir in, out;
    const std::string sparse = in.File(testtake::SchemeName(5, 1)); // claims 4e9 bytes of audio
    testtake::WriteFile(sparse, testtake::MakeWav({8, 16}, {}, {.dataSize = 4000000000U}));
    fs::resize_file(sparse, fs::file_size(sparse) + 4000000000U);
    const Outcome info = RunSplit({"-i", "-t", "pairs", "-c", "3-6", sparse, out.File("s")});
    EXPECT_TRUE(
        Says(info.Out, "Sizes:   0.93 GB per file, 1.86 GB total\n  Outputs: 2 pairs file(s): " +
                           out.File("s_03.wav") + " " + out.File("s_05.wav") + "\n"));
    const Bytes zero(2); // channels 5, 6 and 8 silent; 0.2 MB, 0.1 MB of five channels
    const Take take = WriteSilentTake(in.Path(), 1, {.channels = 8}, 13000, {4001},
                                      {{}, {}, {}, {}, zero, zero, {}, zero});
    const Outcome mono =
        RunSplit({"--json", "--skip-silent", "-c", "4-8", take.Paths[0], out.File("m")});
    ASSERT_EQ(mono.Exit, 0) << mono.Err;
    EXPECT_TRUE(Says(mono.Err, take.Paths[0] + ": skipped silent channels 5, 6, 8\n"));
    EXPECT_TRUE(Says(mono.Err, ": Conversion done. 0.1 MB in "));
    const nlohmann::json json = JsonLines(mono.Out).at(0);
    EXPECT_EQ(json["skipped"], nlohmann::json({5, 6, 8}));
    EXPECT_EQ(json["outputs"], nlohmann::json({out.File("m_04.wav"), out.File("m_07.wav")}));
    const Outcome pairs =
        RunSplit({"-q", "-t", "pairs", "--skip-silent", "-c", "3-8", take.Paths[0], out.File("p")});
    EXPECT_EQ(std::tuple(pairs.Exit, pairs.Out + pairs.Err), std::tuple(0, "")); // -q: quiet
    EXPECT_EQ(ListDir(out.Path()),
              (std::vector<std::string>{"m_04.wav", "m_07.wav", "p_03.wav", "p_07.wav"}));
}

// --track-names names outputs after the iXML's tracks, made safe; -i and --json show the bext's
// time reference and originator and the track names, and nothing new for a take without them.
TEST(Cli, TrackNamesAndMetadata) {
    TempDir in, out;
    const testtake::WavLayout layout{
        .chunksBeforeData =
            testtake::Cat({BextChunk("REC-8", 48000 * 3723 + 100, ""), // 01:02:03 and 100 samples
                           IxmlChunk("S", {Track(1, 1, "Kick In"), Track(3, 3, "Vox: Lead")})})};
    const Take take = WriteTake(in.Path(), 2, 3, 24, 500, {}, 0, layout);
    const Take plain = WriteTake(in.Path(), 3, 3, 24, 500);
    const Outcome info =
        RunSplit({"-i", take.Paths[0], out.File("i"), plain.Paths[0], out.File("j")});
    EXPECT_TRUE(Says(info.Out, "\n  TimeRef: 178704100 samples (01:02:03)\n  Origin:  REC-8\n"
                               "  Tracks:  1 \"Kick In\", 3 \"Vox: Lead\"\n  Sizes:"));
    const std::vector<std::string> names = {out.File("t_01_Kick In.caf"), out.File("t_02.caf"),
                                            out.File("t_03_Vox_ Lead.caf")};
    const Outcome json = RunSplit({"-i", "--json", "--track-names", "-f", "caf", take.Paths[0],
                                   out.File("t"), plain.Paths[0], out.File("j")});
    const std::vector<nlohmann::json> tasks = JsonLines(json.Out);
    ASSERT_EQ(tasks.size(), 2U) << json.Out;
    EXPECT_EQ(tasks[0]["metadata"], nlohmann::json::parse(R"({"time_reference":178704100,
        "time":"01:02:03","originator":"REC-8","tracks":{"1":"Kick In","3":"Vox: Lead"}})"));
    EXPECT_EQ(tasks[0]["outputs"], nlohmann::json(names));
    EXPECT_FALSE(tasks[1].contains("metadata") || tasks[0].contains("skipped"));
    const Outcome run = RunSplit({"--track-names", "-f", "caf", take.Paths[0], out.File("t")});
    EXPECT_EQ(std::tuple(run.Exit, run.Out),
              std::tuple(0, names[0] + "\n" + names[1] + "\n" + names[2] + "\n"));
}
