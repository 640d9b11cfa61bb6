#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "../TestSupport.h"
#include "platform/FileSystem.h"
#include "platform/PropertyList.h"

using namespace vesk::platform;
using vesk::test::ScratchDir;

TEST(FileSystem, ExistenceFollowsSymbolicLinks) {
    ScratchDir dir;
    const std::string file = dir.write("a.jpg", "x");
    std::filesystem::create_symlink(file, dir.file("good"));
    std::filesystem::create_symlink(dir.file("gone"), dir.file("dangling"));
    EXPECT_TRUE(fileExists(file));
    EXPECT_TRUE(fileExists(dir.path().string()));
    EXPECT_TRUE(fileExists(dir.file("good")));
    EXPECT_FALSE(fileExists(dir.file("dangling")));
    EXPECT_FALSE(fileExists(""));
    EXPECT_TRUE(isDirectory(dir.path().string()));
    EXPECT_FALSE(isDirectory(file));
}

TEST(FileSystem, PathPieces) {
    EXPECT_EQ(pathExtension("/a/b.JPG"), "JPG");
    EXPECT_EQ(pathExtension("/a/b.tar.gz"), "gz");
    EXPECT_EQ(pathExtension("/a.d/b"), "");
    EXPECT_EQ(pathExtension("/a/b."), "");
    EXPECT_EQ(pathExtension("/a/.hidden"), "");
    EXPECT_EQ(pathExtension("/a/x.bundle/"), "bundle");
    EXPECT_EQ(deletingLastPathComponent("/a/b/c.jpg"), "/a/b");
    EXPECT_EQ(deletingLastPathComponent("/a"), "/");
    EXPECT_EQ(deletingLastPathComponent("a"), "");
    vesk::test::ScopedEnv home("HOME", "/home/u/");
    EXPECT_EQ(expandTilde("~/Desktop/testexif.jpg"), "/home/u/Desktop/testexif.jpg");
    EXPECT_EQ(expandTilde("~"), "/home/u/");
    EXPECT_EQ(expandTilde("/x/~/y"), "/x/~/y");
    EXPECT_EQ(expandTilde("~other/x"), "~other/x");
}

TEST(FileSystem, AtomicWriteReplacesALinkInsteadOfFollowingIt) {
    ScratchDir dir;
    const std::string victim = dir.write("victim", "keep me");
    const std::string target = dir.file("usercomment.xml");
    std::filesystem::create_symlink(victim, target);
    ASSERT_FALSE(atomicWriteFile(target, "new text"));
    EXPECT_EQ(vesk::test::readFile(victim), "keep me");
    EXPECT_FALSE(std::filesystem::is_symlink(target));
    EXPECT_EQ(vesk::test::readFile(target), "new text");
}

// Writes without a flush swap the new file in (scratch files) or rename it
// over the old one (the defaults store); either way whatever stood there
// before must go, a link is replaced, not followed, and a folder stays.
TEST(FileSystem, UnflushedWritesReplaceFilesAndLinksButNotFolders) {
    const std::vector<std::pair<const char*, AtomicWriteOptions>> cases = {
        {"swap", {.privateDirOnly = true, .durable = false}},
        {"rename", {.durable = false, .swapExisting = false}},
    };
    for (const auto& [what, options] : cases) {
        SCOPED_TRACE(what);
        ScratchDir dir;
        const std::string target = dir.file("usercomment.xml");
        ASSERT_FALSE(atomicWriteFile(target, "first", options));
        ASSERT_FALSE(atomicWriteFile(target, "second, longer", options));
        EXPECT_EQ(vesk::test::readFile(target), "second, longer");
        struct stat st{};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);

        const std::string victim = dir.write("victim", "keep me");
        std::filesystem::remove(target);
        std::filesystem::create_symlink(victim, target);
        ASSERT_FALSE(atomicWriteFile(target, "third", options));
        EXPECT_FALSE(std::filesystem::is_symlink(target));
        EXPECT_EQ(vesk::test::readFile(victim), "keep me");

        std::filesystem::remove(target);
        std::filesystem::create_directory(target);
        dir.write("usercomment.xml/inside", "kept");
        EXPECT_TRUE(atomicWriteFile(target, "fourth", options));
        EXPECT_EQ(vesk::test::readFile(dir.file("usercomment.xml/inside")), "kept");

        // No side file is left behind by any of them.
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
        EXPECT_EQ(entries, 2u);  // the folder and the victim
    }
}

TEST(FileSystem, PrivateWritesRefuseSharedFolders) {
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0777);
    auto error = atomicWriteFile(dir.file("f"), "x", {.privateDirOnly = true});
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("writable by others"), std::string::npos);
    EXPECT_FALSE(fileExists(dir.file("f")));
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_FALSE(atomicWriteFile(dir.file("f"), "x", {.privateDirOnly = true}));
}

TEST(PropertyList, ReadsXmlAndBinaryAndRefusesJunk) {
    const std::string xml =
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>n</key><integer>-5</integer>"
        "<key>l</key><array><real>1.5</real><true/></array></dict></plist>";
    auto v = parsePropertyList(xml);
    ASSERT_TRUE(v && v->is<Dictionary>());
    EXPECT_EQ(v->get<Dictionary>()->at("n"), Value(-5));
    EXPECT_EQ(v->get<Dictionary>()->at("l"), Value(Array{Value(1.5), Value(true)}));
    EXPECT_EQ(parsePropertyList(toXmlPropertyList(*v)), v);
    EXPECT_FALSE(parsePropertyList("plain words"));
    EXPECT_FALSE(parsePropertyList(""));
    EXPECT_FALSE(parsePropertyList(std::string("bplist00\xff\xff", 10)));
}

TEST(FolderLock, HoldsAgainstOtherProcessesUntilItGoes) {
    ScratchDir dir;
    // Only async-signal-safe calls in the child: the test process may have threads.
    const auto childCanLock = [&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int fd = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::_exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    {
        const FolderLock lock(dir.path().string());
        EXPECT_TRUE(lock.locked());
        EXPECT_FALSE(childCanLock());
    }
    EXPECT_TRUE(childCanLock());
    EXPECT_FALSE(FolderLock(dir.file("missing")).locked());
}
