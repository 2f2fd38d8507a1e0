#include "TempDir.h"
#include "TestTake.h"
#include "TzFileHandler.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

using testtake::Bytes;

namespace {

size_t OpenDescriptors() {
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

class FileHandlerTest : public ::testing::Test {
protected:
    TempDir dir;
    CTzFileHandler files;
};

// The engine relies on Create never touching an existing file: that is how an output name in use
// fails its task without destroying the file.
TEST_F(FileHandlerTest, CreateRefusesExistingNamesAndPathsWithoutDirectory) {
    const std::string path = dir.File("taken.wav");
    testtake::WriteFile(path, Bytes(123, 0x5A));
    EXPECT_EQ(files.Create(path.c_str()), 0U);
    EXPECT_EQ(testtake::ReadFile(path), Bytes(123, 0x5A));

    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path()); // so a wrongly made bare name lands in the temp dir
    EXPECT_EQ(files.Create("bare-name.wav"), 0U);
    std::filesystem::current_path(cwd);
    EXPECT_FALSE(testtake::FileExists(dir.File("bare-name.wav")));
    EXPECT_EQ(files.Create("/no-directory-part.wav"), 0U);
    EXPECT_EQ(files.Create(dir.File("missing-dir/x.wav").c_str()), 0U);
}

TEST_F(FileHandlerTest, CreatedFileIsEmptyAndDeletedByTheSamePath) {
    const std::string path = dir.File("new.wav");
    const uint32_t ref = files.Create(path.c_str());
    ASSERT_NE(ref, 0U);
    EXPECT_EQ(files.Close(ref), 1);
    EXPECT_TRUE(testtake::ReadFile(path).empty());
    EXPECT_EQ(files.Delete(path.c_str()), 1);
    EXPECT_FALSE(testtake::FileExists(path));
    EXPECT_EQ(files.Delete(path.c_str()), 0);
}

// Overwriting the header space at the end of a task must neither truncate nor extend the file.
TEST_F(FileHandlerTest, SeekBackOverwritesInPlaceAndReadsStopAtTheEnd) {
    const std::string path = dir.File("data.bin");
    const uint32_t out = files.Create(path.c_str());
    ASSERT_NE(out, 0U);
    const Bytes body = testtake::PatternSamples(250, 1, 4);
    ASSERT_EQ(files.Write(out, body.data(), 1000), 1000U);
    const Bytes header(80, 0xEE);
    EXPECT_EQ(files.Seek(out, 0), 1);
    EXPECT_EQ(files.Write(out, header.data(), 80), 80U);
    files.Close(out);

    Bytes expected = body;
    std::copy(header.begin(), header.end(), expected.begin());
    EXPECT_EQ(testtake::ReadFile(path), expected);

    testtake::WriteFile(path, Bytes(100, 7));
    const uint32_t in = files.Open(path.c_str(), CTzFileHandler::kModeRead);
    ASSERT_NE(in, 0U);
    Bytes buffer(10240);
    EXPECT_EQ(files.Read(in, buffer.data(), 10240), 100U);
    EXPECT_EQ(files.Read(in, buffer.data(), 10240), 0U);
    EXPECT_EQ(files.Seek(in, 98), 1);
    EXPECT_EQ(files.Read(in, buffer.data(), 10), 2U);
    files.Close(in);
}

// A reference is what the worker keeps per output; two alike would mix up outputs.
TEST_F(FileHandlerTest, ReferencesArePositiveAndUniqueAmongOpenFiles) {
    std::vector<uint32_t> refs;
    for (int i = 0; i < 40; ++i) {
        refs.push_back(files.Create(dir.File("o" + std::to_string(i)).c_str()));
    }
    refs.push_back(files.Open(dir.File("o0").c_str(), CTzFileHandler::kModeRead));
    const std::set<uint32_t> distinct(refs.begin(), refs.end());
    EXPECT_EQ(distinct.size(), refs.size());
    EXPECT_EQ(distinct.count(0U), 0U);
    for (uint32_t ref : refs) {
        EXPECT_EQ(files.Close(ref), 1);
    }
}

// A directory or FIFO dropped on the list must be refused at once, never hang the window.
TEST_F(FileHandlerTest, OpenAndFindAcceptOnlyExistingRegularFiles) {
    const std::string path = dir.File("here.wav");
    testtake::WriteFile(path, Bytes(10, 1));
    EXPECT_EQ(files.Find(path.c_str()), 1);
    EXPECT_EQ(files.Find(dir.File("gone.wav").c_str()), 0);
    EXPECT_EQ(files.Open(dir.File("gone.wav").c_str(), CTzFileHandler::kModeRead), 0U);
    EXPECT_EQ(files.Open(dir.Path().c_str(), CTzFileHandler::kModeRead), 0U);

    const std::string fifo = dir.File("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(files.Open(fifo.c_str(), CTzFileHandler::kModeRead), 0U);
    EXPECT_EQ(files.Find(fifo.c_str()), 0);

    const size_t open = OpenDescriptors();
    EXPECT_EQ(files.Find(path.c_str()), 1);
    EXPECT_EQ(OpenDescriptors(), open);
}

} // namespace
