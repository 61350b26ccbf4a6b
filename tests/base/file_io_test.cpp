#include "base/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "support/midi_builder.h"

namespace pitchloom {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::namesIn;

const Bytes kSong = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96};

Bytes contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

class FileWriting : public testing::Test {
protected:
    void SetUp() override {
        dir = test::makeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    std::string dir;
};

TEST_F(FileWriting, TheTemporaryFileIsNeverOpenedThroughALinkPlantedUnderItsName) {
    const std::string victim = dir + "/victim";
    put(victim, {'k', 'e', 'e', 'p'});
    ASSERT_EQ(::symlink(victim.c_str(), (dir + "/.planted").c_str()), 0);
    std::vector<std::string> names = {".planted", ".free"};
    FileWriter writer([&names] { return std::exchange(names.front(), names.back()); });
    ASSERT_TRUE(writer.open(dir + "/out.mid").ok());
    ASSERT_TRUE(writer.write(kSong).ok());
    ASSERT_TRUE(writer.commit().ok());
    EXPECT_EQ(contentOf(victim), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(S_ISLNK(statOf(dir + "/.planted").st_mode));
    EXPECT_EQ(contentOf(dir + "/out.mid"), kSong);
    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{".planted", "out.mid", "victim"}));
}

TEST_F(FileWriting, AnyNameTheFileSystemTakesCanBeWritten) {
    const std::string longest = dir + "/" + std::string(251, 'n') + ".mid";  // 255 characters
    EXPECT_TRUE(writeFile(longest, kSong).ok());
    EXPECT_EQ(contentOf(longest), kSong);
    const FileStatus tooLong = writeFile(dir + "/" + std::string(256, 'n'), kSong);
    EXPECT_EQ(tooLong.reason(), "File name too long");
}

TEST_F(FileWriting, AReplacedFileKeepsWhatItWas) {
    const std::string song = dir + "/song.mid";
    put(song, {1, 2, 3});
    ASSERT_EQ(::chmod(song.c_str(), 0640), 0);
    const bool superuser = ::geteuid() == 0;
    if (superuser) {
        ASSERT_EQ(::chown(song.c_str(), 1234, 2345), 0);
    }
    ASSERT_TRUE(writeFile(song, kSong).ok());
    EXPECT_EQ(contentOf(song), kSong);
    EXPECT_EQ(statOf(song).st_mode & 07777, 0640u);
    if (superuser) {
        EXPECT_EQ(statOf(song).st_uid, 1234u);
        EXPECT_EQ(statOf(song).st_gid, 2345u);
    }

    // A link writes the file it points to and stays a link.
    const std::string link = dir + "/link.mid";
    ASSERT_EQ(::symlink("song.mid", link.c_str()), 0);
    ASSERT_TRUE(writeFile(link, Bytes{9, 9}).ok());
    EXPECT_TRUE(S_ISLNK(statOf(link).st_mode));
    EXPECT_EQ(contentOf(song), (Bytes{9, 9}));

    // Hard links stay one file.
    const std::string other = dir + "/other-name.mid";
    ASSERT_EQ(::link(song.c_str(), other.c_str()), 0);
    ASSERT_TRUE(writeFile(other, kSong).ok());
    EXPECT_EQ(contentOf(song), kSong);
    EXPECT_EQ(statOf(song).st_ino, statOf(other).st_ino);

    // A read-only file is refused and left alone, whoever asks.
    ASSERT_EQ(::chmod(song.c_str(), 0444), 0);
    const FileStatus refused = writeFile(song, Bytes{7});
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.reason(), superuser ? "the file is read-only" : "Permission denied");
    EXPECT_EQ(contentOf(song), kSong);

    EXPECT_EQ(namesIn(dir), (std::vector<std::string>{"link.mid", "other-name.mid", "song.mid"}));
}

TEST_F(FileWriting, AGroupPutsItsFilesInPlaceOnlyWhenFlushed) {
    const std::string kept = dir + "/kept.mid";
    put(kept, {1, 2, 3});
    ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
    const std::string linked = dir + "/linked.mid";
    put(linked, {4});
    ASSERT_EQ(::link(linked.c_str(), (dir + "/twin.mid").c_str()), 0);
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    {
        CommitGroup group;
        const auto openBefore = openFiles();
        ASSERT_TRUE(writeFile(dir + "/new.mid", kSong, {PipeWait::No, &group}).ok());
        ASSERT_TRUE(writeFile(kept, Bytes{7}, {PipeWait::No, &group}).ok());
        // Waiting files hold no descriptor: a collection's workers would run out of them.
        EXPECT_EQ(openFiles(), openBefore);
        // A file with links is written in place at once; it is not the group's to hold.
        ASSERT_TRUE(writeFile(linked, Bytes{5, 5}, {PipeWait::No, &group}).ok());
        EXPECT_EQ(group.waiting(), 2u);
        EXPECT_EQ(contentOf(kept), (Bytes{1, 2, 3}));
        EXPECT_FALSE(fs::exists(dir + "/new.mid"));
        EXPECT_EQ(contentOf(dir + "/twin.mid"), (Bytes{5, 5}));

        const std::vector<FileStatus> results = group.flush();
        ASSERT_EQ(results.size(), 2u);
        EXPECT_TRUE(results[0].ok() && results[1].ok());
        EXPECT_EQ(group.waiting(), 0u);
        EXPECT_EQ(contentOf(dir + "/new.mid"), kSong);
        EXPECT_EQ(contentOf(kept), Bytes{7});
        EXPECT_EQ(statOf(kept).st_mode & 07777, 0640u);

        // Still waiting when the group ends: dropped, the old file untouched.
        ASSERT_TRUE(writeFile(kept, Bytes{8, 8}, {PipeWait::No, &group}).ok());
    }
    EXPECT_EQ(contentOf(kept), Bytes{7});
    EXPECT_EQ(namesIn(dir),
              (std::vector<std::string>{"kept.mid", "linked.mid", "new.mid", "twin.mid"}));
}

TEST_F(FileWriting, PipesAndDevicesAreWrittenAndNeverReplaced) {
    const std::string fifo = dir + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const FileStatus nobodyReads = writeFile(fifo, kSong);
    EXPECT_EQ(nobodyReads.reason(), "nothing reads from the pipe");
    Bytes received;
    std::thread reader([&] { received = contentOf(fifo); });
    EXPECT_TRUE(writeFile(fifo, kSong, PipeWait::Yes).ok());
    reader.join();
    EXPECT_EQ(received, kSong);
    EXPECT_TRUE(S_ISFIFO(statOf(fifo).st_mode));

    const std::string null = dir + "/null";
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_TRUE(writeFile(null, kSong).ok());
        EXPECT_TRUE(S_ISCHR(statOf(null).st_mode));
    }
    EXPECT_EQ(writeFile("/dev/full", kSong).reason(), "No space left on device");
    EXPECT_TRUE(S_ISCHR(statOf("/dev/full").st_mode));
    EXPECT_EQ(writeFile(dir, kSong).reason(), "Is a directory");
}

TEST_F(FileWriting, AFailedWriteSaysWhyAndLeavesNothingBehind) {
    EXPECT_EQ(writeFile(dir + "/missing/out.mid", kSong).reason(), "No such file or directory");
    FileWriter writer;
    ASSERT_TRUE(writer.open(dir + "/out.mid").ok());
    ASSERT_TRUE(writer.write(kSong).ok());
    writer.abort();
    EXPECT_TRUE(namesIn(dir).empty());
}

TEST(FileReading, OnlyRegularFilesAreReadAndEveryRefusalSaysWhy) {
    const std::string dir = test::makeTempDir("file-reading");
    EXPECT_EQ(readFile(dir + "/none.mid", 100).status.reason(), "No such file or directory");
    EXPECT_EQ(readFile(dir, 100).status.reason(), "Is a directory");
    EXPECT_EQ(readFile("/dev/zero", 100).status.reason(), "not a regular file");
    put(dir + "/empty.mid", {});
    const FileContents empty = readFile(dir + "/empty.mid", 100);
    EXPECT_TRUE(empty.status.ok());
    EXPECT_TRUE(empty.bytes.empty());
    put(dir + "/song.mid", kSong);
    EXPECT_EQ(readFile(dir + "/song.mid", 4).bytes, (Bytes{'M', 'T', 'h', 'd'}));
    EXPECT_EQ(FileStatus::failed("the file is empty").about("a.mid"), "a.mid: the file is empty");
}

}  // namespace
}  // namespace pitchloom
