// `cpack -G DEB` over this build: the package holds what a Debian system
// expects, declares its libraries, and runs from where it unpacks.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../TestSupport.h"

using vesk::test::ScratchDir;

namespace {

struct Run {
    int status;
    std::string out;
};

// Standard output and error together, for the message when a step fails.
Run sh(const std::string& cmd) {
    ScratchDir io;
    const int raw = std::system(("( " + cmd + " ) >'" + io.file("out") + "' 2>&1").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, vesk::test::readFile(io.file("out"))};
}

}  // namespace

TEST(Package, BuildsInstallsAndPassesTheValidators) {
    ScratchDir dir;
    const std::string out = dir.file("out"), root = dir.file("root");
    const auto built =
        sh("'" VESK_CPACK_COMMAND "' --config '" VESK_BINARY_DIR "/CPackConfig.cmake' -G DEB -B '" + out + "'");
    ASSERT_EQ(built.status, 0) << built.out;
    std::string deb;
    for (const auto& e : std::filesystem::directory_iterator(out))
        if (e.path().extension() == ".deb") deb = e.path().string();
    ASSERT_FALSE(deb.empty()) << built.out;

    const auto contents = sh("dpkg-deb --contents '" + deb + "'");
    ASSERT_EQ(contents.status, 0) << contents.out;
    std::vector<std::string> files = {"./usr/bin/vesk-info", "./usr/share/man/man1/vesk-info.1.gz",
                                      "./usr/share/bash-completion/completions/vesk-info",
                                      "./usr/share/zsh/vendor-completions/_vesk-info"};
    if (VESK_WITH_GUI) {
        files.insert(files.end(), {"./usr/bin/vesk", "./usr/share/man/man1/vesk.1.gz",
                                   "./usr/share/applications/vesk.desktop",
                                   "./usr/share/icons/hicolor/scalable/apps/vesk.svg",
                                   "./usr/share/metainfo/org.vesk.Vesk.metainfo.xml"});
    }
    for (const auto& f : files) EXPECT_NE(contents.out.find(" " + f + "\n"), std::string::npos) << f;
    EXPECT_EQ(contents.out.find("/usr/local"), std::string::npos) << contents.out;

    // The libraries it links, as dpkg-shlibdeps found them, and libheif, which it loads.
    const auto depends = sh("dpkg-deb --field '" + deb + "' Depends");
    for (const char* lib : {"libexiv2", "libplist", "libheif1", "file"}) EXPECT_NE(depends.out.find(lib), std::string::npos) << depends.out;

    ASSERT_EQ(sh("dpkg-deb --extract '" + deb + "' '" + root + "'").status, 0);
    const auto version = sh("'" + root + "/usr/bin/vesk-info' --version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vesk-info 0.", 0), 0u) << version.out;

    struct Check {
        const char* what;
        std::string cmd, mustHold;
    };
    std::vector<Check> checks = {
        {"manual page renders without warnings",
         "LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '" + root + "/usr/share/man/man1/vesk-info.1.gz' 2>&1 >/dev/null",
         ""},
        {"bash completes the options",
         "bash -c 'source \"$0\"; COMP_WORDS=(vesk-info --rec); COMP_CWORD=1; _vesk_info; echo \"${COMPREPLY[*]}\"' '" +
             root + "/usr/share/bash-completion/completions/vesk-info'",
         "--recursive\n"},
    };
    if (VESK_WITH_GUI) {
        checks.push_back({"desktop entry", "desktop-file-validate '" + root + "/usr/share/applications/vesk.desktop'", ""});
        checks.push_back({"metainfo",
                          "appstreamcli validate --no-net '" + root +
                              "/usr/share/metainfo/org.vesk.Vesk.metainfo.xml' >/dev/null",
                          ""});
        checks.push_back({"window's manual page",
                          "LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l '" + root +
                              "/usr/share/man/man1/vesk.1.gz' 2>&1 >/dev/null",
                          ""});
    }
    for (const auto& c : checks) {
        SCOPED_TRACE(c.what);
        const auto r = sh(c.cmd);
        EXPECT_EQ(r.status, 0) << r.out;
        if (c.mustHold.empty()) {
            EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.out, c.mustHold);
        }
    }
}
