#include "inspector/ViewController.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>

#include "inspector/InfoKeys.h"
#include "platform/Dispatch.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/macho/Bundle.h"
#include "platform/Utf8.h"

extern char** environ;
#include "platform/PropertyList.h"
#include "platform/image/ImageSource.h"

namespace vesk {

using platform::nslog;

namespace {

bool equalsIgnoringCase(const std::string& a, const char* b) {
    const std::string_view bv(b);
    return a.size() == bv.size() &&
           std::equal(a.begin(), a.end(), bv.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// The architecture table: a code matches a row by equality only.
struct ArchitectureRow {
    std::int32_t code;
    const char* logText;
};

constexpr ArchitectureRow kArchitectureTable[] = {
    {7, "NSBundleExecutableArchitectureI386"},
    {18, "NSBundleExecutableArchitecturePPC"},
    {16777223, "NSBundleExecutableArchitectureX86_64"},
    {16777234, "NSBundleExecutableArchitecturePPC64"},
    // Apple silicon; the platform's own list of executable architectures names it.
    {0x0100000C, "NSBundleExecutableArchitectureARM64"},
};
constexpr const char* kUnknownArchitecture = "Unknown_Architecture";

std::string architectureLogText(std::int32_t code) {
    for (const auto& row : kArchitectureTable)
        if (row.code == code) return row.logText;
    return kUnknownArchitecture;
}

// Each report entry is its log text followed by one blank.
std::string architectureReportEntry(std::int32_t code) { return architectureLogText(code) + " "; }

// bundleWithPath: + executableArchitectures, logged as "supported architectures = %@".
std::optional<std::vector<std::int32_t>> loggedArchitectures(const std::string& path) {
    std::optional<std::vector<std::int32_t>> codes;
    if (auto bundle = platform::Bundle::bundleWithPath(path)) codes = bundle->executableArchitectures();
    std::optional<platform::Value> list;
    if (codes) {
        platform::Array numbers;
        for (const std::int32_t code : *codes) numbers.emplace_back(static_cast<std::int64_t>(code));
        list = platform::Value(std::move(numbers));
    }
    nslog("supported architectures = %@", {platform::describe(list)});
    return codes;
}

// A path that begins with "-" would reach a tool as an option; "./" keeps it
// naming the same file.
std::string asToolOperand(const std::string& path) { return path.starts_with('-') ? "./" + path : path; }

// Every lookup in a missing dictionary finds nothing.
const platform::Dictionary* subDictionary(const platform::Dictionary* properties, const char* key) {
    if (!properties) return nullptr;
    auto it = properties->find(key);
    return it == properties->end() ? nullptr : it->second.get<platform::Dictionary>();
}

// addEntriesFromDictionary: of each present sub-dictionary, in order.
platform::Dictionary mergeSubDictionaries(const platform::Dictionary* properties,
                                          std::initializer_list<const char*> keys) {
    platform::Dictionary merged;
    for (const char* key : keys)
        if (const auto* d = subDictionary(properties, key))
            for (const auto& [k, v] : *d) merged[k] = v;
    return merged;
}

}  // namespace

std::shared_ptr<ViewController> ViewController::create(std::shared_ptr<platform::UserDefaults> store,
                                                       platform::NotificationCenter* center) {
    return std::shared_ptr<ViewController>(new ViewController(std::move(store), center));
}

ViewController::ViewController(std::shared_ptr<platform::UserDefaults> store, platform::NotificationCenter* center)
    : store_(store ? std::move(store) : platform::standardUserDefaults()),
      center_(center ? center : &platform::NotificationCenter::defaultCenter()) {}

ViewController::~ViewController() {
    nslog("%@->%@...", {description(), "dealloc"});
    center_->removeObserver(this);
}

std::string ViewController::description() const { return platform::objectDescription("ViewController", this); }

void ViewController::viewWillAppear() {}

void ViewController::viewDidLoad() {
    clearInfo();
    center_->addObserver(this, platform::kAddFromFileNotification,
                         [this](const platform::Notification& note) { handleAddFromFileNotification(note); });
    nslog("self.view.window.firstResponder = %@",
          {windowHost_ ? windowHost_->firstResponderDescription() : std::string("(null)")});
    nslog("self.ibDoubleClickButton = %@",
          {ibDoubleClickButton_ ? ibDoubleClickButton_->description() : std::string("(null)")});
    if (ibDoubleClickButton_) ibDoubleClickButton_->setDelegate(weak_from_this());
}

void ViewController::setRepresentedObject(const std::optional<platform::Value>& /*object*/) {
    nslog("%@->%@...", {description(), "setRepresentedObject:"});
}

void ViewController::handleAddFromFileNotification(const platform::Notification& notification) {
    nslog("Inside %@ => %@... notification.object = %@",
          {description(), "handleAddFromFileNotification:", platform::describe(notification.object)});
    if (!notification.object) return;
    const auto* list = notification.object->get<platform::Array>();
    if (!list || list->empty()) return;

    const platform::Value& first = list->front();
    Path path;
    if (const auto* url = first.get<platform::Url>())
        path = url->path;
    else if (const auto* text = first.get<std::string>())
        path = *text;

    const std::string ext = path ? platform::pathExtension(*path) : std::string();
    if (equalsIgnoringCase(ext, "bundle")) {
        performGetBundleInfo(path);
    } else if (equalsIgnoringCase(ext, "dylib")) {
        performGetDylibInfo(path);
    } else if (path) {
        // The task keeps the controller and the path alive until it has run.
        platform::mainQueue().async([self = shared_from_this(), path] { self->performGetImageInfo(path); });
    }
}

void ViewController::openDocument() {
    nslog("%@->%@...", {description(), "openDocument:"});
    const auto panel = windowHost_ ? windowHost_->makeOpenPanel() : nullptr;
    if (!panel) return;
    panel->setAllowedFileTypes({"jpg", "tiff"});
    panel->setTitle("Select JPEG or TIFF File");
    panel->beginSheetModal([center = center_](int result, std::vector<std::string> paths) {
        // Posted from the global queue, so the routing runs there too.
        platform::globalQueue().async([center, result, paths = std::move(paths)] {
            if (result != OpenPanel::kOKResult) return;
            platform::Array urls;
            for (const auto& path : paths) urls.emplace_back(platform::Url{path});
            center->post(platform::kAddFromFileNotification, platform::Value(std::move(urls)));
        });
    });
}

void ViewController::ibGetExifInfo() { performGetImageInfo(platform::expandTilde("~/Desktop/testexif.jpg")); }

std::string ViewController::defaultOpenToolPath() {
#if defined(__APPLE__)
    return "/usr/bin/open";
#else
    return "/usr/bin/xdg-open";
#endif
}

void ViewController::ibRevealInFinder(const std::string& path) {
    std::string folder = platform::expandTilde(path);
    if (!platform::isDirectory(folder)) {
        folder = platform::deletingLastPathComponent(folder);
        if (!platform::isDirectory(folder)) return;
    }
    const auto output = runCommand({openToolPath_, asToolOperand(folder)});
    nslog("returnstring = %@", {output ? *output : std::string("(null)")});
}

void ViewController::ibHandleDoubleClick(MyDoubleClickButton* sender) {
    nslog("%@->%@...sender=%@",
          {description(), "ibHandleDoubleClick:", sender ? sender->description() : std::string("(null)")});
    if (const auto path = store_->get(prefCurFilePath)) ibRevealInFinder(*path);
}

void ViewController::clearInfo() {
    for (const auto& field : kInfoFields) store_->remove(field.key);
    store_->remove(prefCurFilePath);
}

bool ViewController::beginReport(const Path& path) {
    if (!path || !platform::fileExists(*path)) return false;
    clearInfo();
    store_->set(prefCurFilePath, *path);
    return true;
}

namespace {

constexpr std::size_t kMaxToolOutput = 512000;

// Owns one descriptor; closes it when the scope ends, whichever way it ends.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Moves a descriptor above the standard three, so that the child's dup2 onto
// standard output always makes a new descriptor (a dup2 onto itself would keep
// close-on-exec and leave the tool without an output).
bool moveAboveStandardStreams(int& fd) {
    if (fd > STDERR_FILENO) return true;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    fd = moved;
    return moved >= 0;
}

// Both ends close-on-exec from the start: a child that another thread starts
// meanwhile must inherit neither, or this pipe would never see its end.
bool openOutputPipe(FileDescriptor& readEnd, FileDescriptor& writeEnd) {
    int fds[2];
#if defined(__APPLE__)
    // No pipe2 here; POSIX_SPAWN_CLOEXEC_DEFAULT covers the children we start.
    if (::pipe(fds) != 0) return false;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#else
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
#endif
    const bool ok0 = moveAboveStandardStreams(fds[0]);
    const bool ok1 = moveAboveStandardStreams(fds[1]);
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return ok0 && ok1;
}

// A spawn attribute that gives the tool default signal handling and an empty
// signal mask, whatever this process ignores or blocks: a tool that inherited
// an ignored SIGPIPE could write for ever once we stop reading.
class SpawnAttributes {
public:
    SpawnAttributes() {
        ok_ = ::posix_spawnattr_init(&attr_) == 0;
        if (!ok_) return;
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#if defined(__APPLE__)
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
        ok_ = ::posix_spawnattr_setsigmask(&attr_, &none) == 0 && ::posix_spawnattr_setsigdefault(&attr_, &all) == 0 &&
              ::posix_spawnattr_setflags(&attr_, flags) == 0;
    }
    ~SpawnAttributes() { ::posix_spawnattr_destroy(&attr_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    const posix_spawnattr_t* get() const { return &attr_; }

private:
    posix_spawnattr_t attr_;
    bool ok_ = false;
};

class SpawnFileActions {
public:
    // The tool's standard output becomes `writeEnd`; its standard input and
    // standard error stay ours.
    explicit SpawnFileActions(int writeEnd) {
        ok_ = ::posix_spawn_file_actions_init(&actions_) == 0;
        if (!ok_) return;
        ok_ = ::posix_spawn_file_actions_adddup2(&actions_, writeEnd, STDOUT_FILENO) == 0;
#if defined(__APPLE__)
        ok_ = ok_ && ::posix_spawn_file_actions_addinherit_np(&actions_, STDIN_FILENO) == 0 &&
              ::posix_spawn_file_actions_addinherit_np(&actions_, STDERR_FILENO) == 0;
#endif
    }
    ~SpawnFileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    bool ok() const { return ok_; }
    const posix_spawn_file_actions_t* get() const { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
    bool ok_ = false;
};

// Reads one attempt at the pipe: >0 bytes read, 0 at the end, -1 on a read error.
ssize_t readOnce(int fd, char* buffer, std::size_t capacity) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, capacity);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// True once the child has ended and been reaped.
bool reapIfEnded(pid_t pid) {
    int status = 0;
    pid_t r;
    while ((r = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    return r == pid || r < 0;
}

void waitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// How often the reader looks whether the tool itself has ended.
constexpr int kChildCheckMillis = 100;

// Reads the tool's output into `buffer` until `capacity` bytes, the end of the
// output or a read error. The output also counts as ended once the tool has
// exited and what it left in the pipe is read: a program it started in the
// background (xdg-open starting a file manager) may hold the pipe open for as
// long as it runs, and the caller must not wait for that. Sets `reaped` when
// the child was waited for here.
std::size_t readOutput(int fd, pid_t pid, char* buffer, std::size_t capacity, bool& reaped) {
    std::size_t total = 0;
    while (total < capacity) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kChildCheckMillis);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0) {
            const ssize_t n = readOnce(fd, buffer + total, capacity - total);
            if (n <= 0) break;
            total += static_cast<std::size_t>(n);
            continue;
        }
        if (!reapIfEnded(pid)) continue;
        reaped = true;
        // Whatever the tool wrote before it ended is in the pipe already.
        if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0) break;
        while (total < capacity) {
            const ssize_t n = readOnce(fd, buffer + total, capacity - total);
            if (n <= 0) break;
            total += static_cast<std::size_t>(n);
        }
        break;
    }
    return total;
}

}  // namespace

std::optional<std::string> runCommand(const std::vector<std::string>& command) {
    if (command.empty() || !command.front().starts_with('/')) return std::nullopt;
    // An argument holding a zero byte could only reach the tool cut short.
    for (const auto& arg : command)
        if (arg.find('\0') != std::string::npos) return std::nullopt;

    std::vector<std::string> args(command);
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    FileDescriptor readEnd, writeEnd;
    if (!openOutputPipe(readEnd, writeEnd)) return std::nullopt;
    const SpawnAttributes attributes;
    const SpawnFileActions actions(writeEnd.get());
    if (!attributes.ok() || !actions.ok()) return std::nullopt;

    pid_t pid = -1;
    if (::posix_spawn(&pid, argv.front(), actions.get(), attributes.get(), argv.data(), environ) != 0)
        return std::nullopt;
    // Only the child may hold the write end, so that its exit ends our reading.
    writeEnd.reset();

    // One zeroed buffer per call, one byte larger than the most ever read, so
    // that it always ends in a zero byte.
    const auto buffer = std::make_unique<char[]>(kMaxToolOutput + 1);
    bool reaped = false;
    const std::size_t count = readOutput(readEnd.get(), pid, buffer.get(), kMaxToolOutput, reaped);

    std::optional<std::string> text;
    if (count > 0) {
        const std::string_view bytes(buffer.get());
        if (platform::utf8::isValid(bytes)) text = std::string(bytes);
    }
    // Closing first: a tool still writing gets SIGPIPE instead of blocking on a full pipe.
    readEnd.reset();
    if (!reaped) waitForChild(pid);
    return text;
}

void ViewController::performGetDylibInfo(const Path& path) {
    if (!beginReport(path)) return;
    store_->set(prefTextViewString1, "");
    const auto description = runCommand({"/usr/bin/file", asToolOperand(*path)});
    store_->set(prefTextViewString1, description ? *description : std::string("Unable to get info from this camera..."));
}

void ViewController::performGetBundleInfo(const Path& path) {
    if (!beginReport(path)) return;
    store_->set(prefTextViewString1, "");
    std::string report;
    if (const auto codes = loggedArchitectures(*path)) {
        for (const std::int32_t code : *codes) {
            nslog("%@", {architectureLogText(code)});
            report += architectureReportEntry(code) + "\n";
        }
    }
    store_->set(prefTextViewString1, report);
}

bool ViewController::isModuleAtPath(const Path& path, std::int32_t type) {
    if (!path || !platform::fileExists(*path)) return false;
    const auto codes = loggedArchitectures(*path);
    if (!codes) return false;
    for (const std::int32_t code : *codes) {
        nslog("%@", {architectureLogText(code)});
        // The code itself is compared, so a code the table does not name still matches.
        if (code == type) return true;
    }
    return false;
}

void ViewController::performGetImageInfo(const Path& path) {
    if (!beginReport(path)) return;

    std::optional<platform::Value> infoValue;
    std::optional<platform::Value> allKeys;
    if (auto read = exif(*path)) {
        platform::Array keys;
        for (const auto& entry : *read) keys.emplace_back(entry.first);
        allKeys = platform::Value(std::move(keys));
        infoValue = platform::Value(std::move(*read));
    }
    // Every lookup below reads the one copy the report owns.
    const platform::Dictionary* info = infoValue ? infoValue->get<platform::Dictionary>() : nullptr;
    // Rendered once: the log line and field 1 show the same text.
    const std::string infoText = platform::describe(infoValue);
    nslog("exif info = %@", {infoText});
    nslog("exif info.allkeys = %@", {platform::describe(allKeys)});

    if (infoValue) store_->set(prefTextViewString1, infoText);

    store_->set(prefTextViewString2, platform::describe(platform::Value(mergedExifDictionary(info))));

    if (const auto* exifDict = subDictionary(info, platform::kImagePropertyExifDictionary)) {
        if (auto it = exifDict->find("UserComment"); it != exifDict->end()) {
            // A comment that is not text is written as its Dictionary text.
            const auto* text = it->second.get<std::string>();
            const std::string comment = text ? *text : platform::describe(it->second);
            const std::string commentPath =
                platform::appendingPathComponent(platform::temporaryDirectory(), "usercomment.xml");
            // In the window image reports never overlap, all running on the
            // main thread; vesk-info's workers each have a main queue of their
            // own, so the shared file is written and read back by one at a time.
            static std::mutex commentFileMutex;
            std::lock_guard commentFileLock(commentFileMutex);
            if (auto error = platform::atomicWriteFile(commentPath, comment, {.privateDirOnly = true, .durable = false})) {
                nslog("writing error = %@", {*error});
            } else {
                std::optional<platform::Value> uc;
                if (auto d = platform::dictionaryWithContentsOfFile(commentPath)) uc = platform::Value(std::move(*d));
                const std::string ucText = platform::describe(uc);
                nslog("uc = %@", {ucText});
                store_->set(prefTextViewString3, ucText);
            }
        }
    }

    if (const auto* jfif = subDictionary(info, platform::kImagePropertyJFIFDictionary))
        store_->set(prefTextViewString4, platform::describe(platform::Value(*jfif)));
    if (const auto* tiff = subDictionary(info, platform::kImagePropertyTIFFDictionary))
        store_->set(prefTextViewString5, platform::describe(platform::Value(*tiff)));

    // The maker dictionary always exists, so an image without maker notes
    // shows the empty dictionary's text.
    store_->set(prefTextViewString6, platform::describe(platform::Value(makerNoteDictionary(info))));
}

platform::Dictionary ViewController::mergedExifDictionary(const platform::Dictionary* properties) {
    return mergeSubDictionaries(properties,
                                {platform::kImagePropertyExifDictionary, platform::kImagePropertyExifAuxDictionary});
}

platform::Dictionary ViewController::makerNoteDictionary(const platform::Dictionary* properties) {
    return mergeSubDictionaries(
        properties, {platform::kImagePropertyMakerNikonDictionary, platform::kImagePropertyMakerCanonDictionary,
                     platform::kImagePropertyMakerAppleDictionary, platform::kImagePropertyMakerFujiDictionary,
                     platform::kImagePropertyMakerPentaxDictionary});
}

std::optional<platform::Dictionary> ViewController::exif(const std::string& path) {
    // fileURLWithPath: has no URL for an empty path.
    if (path.empty()) return std::nullopt;
    const auto source = platform::ImageSource::createWithPath(path);
    if (!source) {
        nslog("Error: file name : %@ - Status: %d",
              {path, std::to_string(platform::imageSourceGetStatus(nullptr))});
        return std::nullopt;
    }
    return source->copyPropertiesAtIndex(0);
}

}  // namespace vesk
