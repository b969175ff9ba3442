// The /proc/PID files the scan reads: cmdline, comm and a descriptor's link,
// read through a private proc root so that the real reading paths run, and
// the stat and status texts, with the process tree's fields of stat.
// Arguments are valid text without NULs, and an all-valid command line comes
// back whole; a socket inode is digits of the link; names are valid text.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/text.h"
#include "check.h"
#include "scan/proc_process_table.h"
#include "scan/process_resolver.h"
#include "scan/process_tree.h"

namespace {

constexpr int32_t kPid = 1;

// A private proc root holding one process directory, removed at exit.
class ProcRoot final {
  public:
    ProcRoot() {
        const char* shm = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : nullptr;
        std::string pattern =
            (shm ? std::string(shm) : std::filesystem::temp_directory_path().string()) +
            "/halvo-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        root_ = pattern;
        std::filesystem::create_directories(root_ / std::to_string(kPid) / "fd");
    }
    ~ProcRoot() { std::filesystem::remove_all(root_); }

    std::string path() const { return root_.string(); }
    std::string file(const char* name) const {
        return (root_ / std::to_string(kPid) / name).string();
    }

  private:
    std::filesystem::path root_;
};

void write(const std::string& path, std::string_view bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
    close(fd);
}

void checkArguments(std::string_view bytes, const std::vector<std::string>& arguments) {
    std::string_view trimmed = bytes;
    while (!trimmed.empty() && trimmed.back() == '\0') {
        trimmed.remove_suffix(1);
    }
    std::string joined;
    for (size_t i = 0; i < arguments.size(); ++i) {
        FUZZ_CHECK(arguments[i].find('\0') == std::string::npos);
        FUZZ_CHECK(halvo::isValidUtf8(arguments[i]));
        joined += i > 0 ? std::string(1, '\0') : std::string();
        joined += arguments[i];
    }
    if (halvo::isValidUtf8(trimmed)) {
        FUZZ_CHECK(joined == trimmed);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ProcRoot root;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    write(root.file("cmdline"), bytes);
    checkArguments(bytes, halvo::ProcessResolver(root.path()).readArguments(kPid));

    halvo::ProcFsProcessTable table(root.path());
    write(root.file("comm"), bytes);
    if (const auto name = table.processName(kPid)) {
        FUZZ_CHECK(bytes.starts_with(*name) && name->find('\0') == std::string::npos);
    }
    const std::string link = root.file("fd/3");
    unlink(link.c_str());
    const std::string target(bytes.substr(0, bytes.find('\0')));
    if (!target.empty() && target.size() < 4096 && symlink(target.c_str(), link.c_str()) == 0) {
        const auto inodes = table.socketInodes(kPid);
        FUZZ_CHECK(inodes && inodes->size() <= 1);
        if (!inodes->empty()) {
            FUZZ_CHECK(target.find(std::to_string(inodes->front())) != std::string::npos);
        }
    }

    // The start time is a field after the last ")", so it is digits of the text.
    if (const auto ticks = halvo::parseStatStartTicks(bytes)) {
        FUZZ_CHECK(bytes.find(std::to_string(*ticks)) != std::string_view::npos);
    }
    if (const auto uid = halvo::parseStatusEffectiveUid(bytes)) {
        FUZZ_CHECK(bytes.find("Uid:") != std::string_view::npos);
    }
    // The tree's fields come after the name too; the name is shown, so it is text.
    if (const auto entry = halvo::parseStatTreeFields(bytes)) {
        FUZZ_CHECK(halvo::isValidUtf8(entry->name));
    }
    return 0;
}
