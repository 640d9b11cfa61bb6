// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <sys/stat.h>

#include <chrono>
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
    EXPECT_EQ(lastPathComponent("/a/b/c.jpg"), "c.jpg");
    EXPECT_EQ(lastPathComponent("a/b//"), "b");
    EXPECT_EQ(lastPathComponent("/"), "/");
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

TEST(FileSystem, PrivateWritesRefuseFoldersOpenToOthers) {
    ScratchDir dir;
    ::chmod(dir.path().c_str(), 0755);  // others may look in, though not write
    auto error = atomicWriteFile(dir.file("f"), "x", {.privateDirOnly = true});
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("open to others"), std::string::npos);
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
        const FolderLock lock(dir.path().string(), std::chrono::milliseconds(100));
        EXPECT_TRUE(lock.locked());
        EXPECT_FALSE(childCanLock());
    }
    EXPECT_TRUE(childCanLock());
    EXPECT_FALSE(FolderLock(dir.file("missing"), std::chrono::milliseconds(100)).locked());
}

namespace {

// What stands at a candidate place of the temporary directory.
enum class Place { Unset, Private, OpenToAll, GroupWritable, Readable, LinkToPrivate, Foreign, Missing, File, Relative };

// Makes `kind` at `path`; false when this user cannot make it (a folder of
// another owner needs root).
bool makePlace(Place kind, const std::string& path) {
    namespace fs = std::filesystem;
    switch (kind) {
    case Place::Unset:
    case Place::Missing:
    case Place::Relative:
        return true;
    case Place::Private:
        return ::mkdir(path.c_str(), 0700) == 0;
    case Place::OpenToAll:
        return ::mkdir(path.c_str(), 0700) == 0 && ::chmod(path.c_str(), 01777) == 0;
    case Place::GroupWritable:
        return ::mkdir(path.c_str(), 0700) == 0 && ::chmod(path.c_str(), 0770) == 0;
    case Place::Readable:
        return ::mkdir(path.c_str(), 0700) == 0 && ::chmod(path.c_str(), 0755) == 0;
    case Place::LinkToPrivate:
        return ::mkdir((path + ".real").c_str(), 0700) == 0 && ::symlink((path + ".real").c_str(), path.c_str()) == 0;
    case Place::Foreign:
        return ::geteuid() == 0 && ::mkdir(path.c_str(), 0700) == 0 && ::chown(path.c_str(), 65534, 65534) == 0;
    case Place::File:
        return ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0600)) == 0;
    }
    return false;
}

}  // namespace

// $TMPDIR, then $XDG_RUNTIME_DIR, then /tmp/vesk-UID, then a fresh folder:
// the first that is a private folder of the user's own.
TEST(TemporaryDirectory, TheFirstPrivateCandidateIsChosen) {
    enum Pick { Tmpdir, Runtime, User, Fresh };
    struct Case {
        const char* what;
        Place tmpdir, runtime, user;
        Pick pick;
    };
    const std::vector<Case> cases = {
        {"private TMPDIR", Place::Private, Place::Private, Place::Private, Tmpdir},
        {"shared TMPDIR (1777)", Place::OpenToAll, Place::Private, Place::Private, Runtime},
        {"group-writable TMPDIR", Place::GroupWritable, Place::Private, Place::Private, Runtime},
        {"TMPDIR others may read (0755)", Place::Readable, Place::Private, Place::Private, Runtime},
        {"TMPDIR a link", Place::LinkToPrivate, Place::Private, Place::Private, Runtime},
        {"TMPDIR of another user", Place::Foreign, Place::Private, Place::Private, Runtime},
        {"TMPDIR missing", Place::Missing, Place::Private, Place::Private, Runtime},
        {"TMPDIR a file", Place::File, Place::Private, Place::Private, Runtime},
        {"TMPDIR unset", Place::Unset, Place::Private, Place::Private, Runtime},
        {"runtime dir relative", Place::OpenToAll, Place::Relative, Place::Private, User},
        {"runtime dir shared", Place::OpenToAll, Place::OpenToAll, Place::Private, User},
        {"runtime dir unset, user folder made", Place::Unset, Place::Unset, Place::Missing, User},
        {"user folder open to all", Place::OpenToAll, Place::Unset, Place::OpenToAll, Fresh},
        {"user folder a link", Place::OpenToAll, Place::Unset, Place::LinkToPrivate, Fresh},
        {"user folder of another user", Place::OpenToAll, Place::Unset, Place::Foreign, Fresh},
        {"user folder a file", Place::Unset, Place::Unset, Place::File, Fresh},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const std::string tmpdir = dir.file("tmpdir"), runtime = dir.file("runtime"), user = dir.file("vesk-uid");
        ::mkdir(dir.file("fresh").c_str(), 0700);
        if (!makePlace(c.tmpdir, tmpdir) || !makePlace(c.runtime, runtime) || !makePlace(c.user, user)) {
            ASSERT_NE(::geteuid(), 0u);
            continue;  // another user's folder needs root to make
        }
        const auto value = [](Place kind, const std::string& path) -> std::optional<std::string> {
            if (kind == Place::Unset) return std::nullopt;
            return kind == Place::Relative ? "relative/runtime" : path;
        };
        vesk::test::ScopedEnv tmpEnv("TMPDIR", value(c.tmpdir, tmpdir));
        vesk::test::ScopedEnv runEnv("XDG_RUNTIME_DIR", value(c.runtime, runtime));
        std::string fresh;
        const std::string chosen = temporaryDirectory({user, dir.file("fresh")}, fresh);
        switch (c.pick) {
        case Tmpdir: EXPECT_EQ(chosen, tmpdir); break;
        case Runtime: EXPECT_EQ(chosen, runtime); break;
        case User: EXPECT_EQ(chosen, user); break;
        case Fresh:
            EXPECT_EQ(chosen, fresh);
            EXPECT_EQ(deletingLastPathComponent(chosen), dir.file("fresh"));
            // Made once: the next call keeps it.
            EXPECT_EQ(temporaryDirectory({user, dir.file("fresh")}, fresh), chosen);
            break;
        }
        // Whatever was chosen, the private writer takes it.
        EXPECT_FALSE(atomicWriteFile(appendingPathComponent(chosen, "usercomment.xml"), "x",
                                     {.privateDirOnly = true, .durable = false}));
        struct stat st{};
        ASSERT_EQ(::lstat(chosen.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 077, 0u);
    }
}

TEST(TemporaryDirectory, AFreshFolderIsMadeAgainWhenTheOldOneIsGone) {
    ScratchDir dir;
    vesk::test::ScopedEnv tmpEnv("TMPDIR", std::nullopt);
    vesk::test::ScopedEnv runEnv("XDG_RUNTIME_DIR", std::nullopt);
    const std::string user = dir.write("vesk-uid", "a file, not a folder");
    std::string fresh;
    const std::string first = temporaryDirectory({user, dir.path().string()}, fresh);
    ASSERT_EQ(first, fresh);
    std::filesystem::remove(first);
    const std::string second = temporaryDirectory({user, dir.path().string()}, fresh);
    EXPECT_NE(second, first);
    EXPECT_TRUE(isDirectory(second));
}
