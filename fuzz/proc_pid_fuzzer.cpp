// The /proc/PID files the resolver reads: cmdline, read through a private
// proc root so that the real reading path runs, and the stat and status
// texts. Arguments are valid text without NULs, and an all-valid command
// line comes back whole.
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
#include "scan/process_resolver.h"

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
        std::filesystem::create_directory(root_ / std::to_string(kPid));
    }
    ~ProcRoot() { std::filesystem::remove_all(root_); }

    std::string path() const { return root_.string(); }
    std::string cmdline() const { return (root_ / std::to_string(kPid) / "cmdline").string(); }

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

    write(root.cmdline(), bytes);
    checkArguments(bytes, halvo::ProcessResolver(root.path()).readArguments(kPid));

    // The start time is a field after the last ")", so it is digits of the text.
    if (const auto ticks = halvo::parseStatStartTicks(bytes)) {
        FUZZ_CHECK(bytes.find(std::to_string(*ticks)) != std::string_view::npos);
    }
    if (const auto uid = halvo::parseStatusEffectiveUid(bytes)) {
        FUZZ_CHECK(bytes.find("Uid:") != std::string_view::npos);
    }
    return 0;
}
