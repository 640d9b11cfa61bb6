// SPDX-License-Identifier: GPL-3.0-or-later
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

// Whether a program is installed here; the checks that need it are skipped otherwise.
bool have(const char* program) { return sh(std::string("command -v ") + program).status == 0; }

TEST(Package, BuildsInstallsAndPassesTheValidators) {
    ScratchDir dir;
    const std::string out = dir.file("out"), root = dir.file("root");
    // A real address, as a maintainer sets it: the default one is a placeholder.
    const auto built = sh("'" VESK_CPACK_COMMAND "' --config '" VESK_BINARY_DIR
                          "/CPackConfig.cmake' -G DEB -B '" + out +
                          "' -D 'CPACK_PACKAGE_CONTACT=Jane Doe <jane.doe@debian.org>'");
    ASSERT_EQ(built.status, 0) << built.out;

    // Each package: what it must hold, what it must depend on, and what it must not.
    struct Package {
        const char* name;
        std::vector<std::string> files;
        std::vector<std::string> depends, mustNotDepend;
    };
    std::vector<Package> packages = {
        {"vesk-info",
         {"./usr/bin/vesk-info", "./usr/share/man/man1/vesk-info.1.gz",
          "./usr/share/bash-completion/completions/vesk-info", "./usr/share/zsh/vendor-completions/_vesk-info",
          "./usr/share/doc/vesk-info/copyright", "./usr/share/doc/vesk-info/changelog.gz"},
         // What it links, as dpkg-shlibdeps found it, and libheif, which it loads.
         {"libexiv2", "libplist", "libheif1", "file"},
         {"libqt6", "vesk "}},
    };
    if (VESK_WITH_GUI)
        packages.push_back({"vesk",
                            {"./usr/bin/vesk", "./usr/share/man/man1/vesk.1.gz", "./usr/share/applications/vesk.desktop",
                             "./usr/share/icons/hicolor/48x48/apps/vesk.png",
                             "./usr/share/icons/hicolor/scalable/apps/vesk.svg",
                             "./usr/share/metainfo/org.vesk.vesk.metainfo.xml", "./usr/share/doc/vesk/copyright",
                             "./usr/share/doc/vesk/changelog.gz"},
                            {"libqt6widgets6", "libexiv2", "libheif1", "file", "hicolor-icon-theme"},
                            {}});
    // A sanitizer build brings its own allocator and leaves _FORTIFY_SOURCE out.
    if (!VESK_SANITIZED) packages[0].depends.push_back("libmimalloc");
    std::vector<std::string> debs;
    for (const auto& p : packages) {
        SCOPED_TRACE(p.name);
        std::string deb;
        for (const auto& e : std::filesystem::directory_iterator(out))
            if (e.path().filename().string().starts_with(std::string(p.name) + "_") && e.path().extension() == ".deb")
                deb = e.path().string();
        ASSERT_FALSE(deb.empty()) << built.out;
        debs.push_back(deb);
        const auto contents = sh("dpkg-deb --contents '" + deb + "'");
        ASSERT_EQ(contents.status, 0) << contents.out;
        for (const auto& f : p.files) EXPECT_NE(contents.out.find(" " + f + "\n"), std::string::npos) << f;
        EXPECT_EQ(contents.out.find("/usr/local"), std::string::npos) << contents.out;
        const auto depends = sh("dpkg-deb --field '" + deb + "' Depends");
        for (const auto& d : p.depends) EXPECT_NE(depends.out.find(d), std::string::npos) << depends.out;
        for (const auto& d : p.mustNotDepend) EXPECT_EQ(depends.out.find(d), std::string::npos) << depends.out;
        ASSERT_EQ(sh("dpkg-deb --extract '" + deb + "' '" + root + "'").status, 0);
        if (!VESK_SANITIZED && have("hardening-check")) {
            // Debian 12's C start files carry no IBT/SHSTK note, so no program
            // linked here can be marked for control-flow protection, although
            // it is built with it (see the README's packaging notes).
            const auto hardened = sh("hardening-check --nocfprotection '" + root + "/usr/bin/" + p.name + "'");
            EXPECT_EQ(hardened.status, 0) << hardened.out;
        }
    }
    // lintian, where it is installed, says nothing but the notes the
    // README's packaging notes explain.
    if (have("lintian")) {
        std::string all;
        for (const auto& deb : debs) all += " '" + deb + "'";
        const auto lint = sh("lintian --pedantic --tag-display-limit 0" + all +
                             " 2>&1 | grep -v -e 'running with root privileges' || true");
        EXPECT_EQ(lint.out, "") << lint.out;
    }

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
                          "appstreamcli validate --pedantic --no-net '" + root +
                              "/usr/share/metainfo/org.vesk.vesk.metainfo.xml' >'" + dir.file("v") +
                              "'; s=$?; grep -v 'Validation was successful' '" + dir.file("v") + "'; exit $s",
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
        EXPECT_EQ(r.out, c.mustHold);
    }
}
