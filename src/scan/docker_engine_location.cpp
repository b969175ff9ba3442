#include "scan/docker_engine_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "base/file_reading.h"
#include "base/text.h"

namespace halvo {
namespace {

// The engine's socket when DOCKER_HOST is unset and the context the default one.
constexpr const char* kDefaultSocket = "/var/run/docker.sock";

bool exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

bool onPath(std::string_view name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) {
        return false;
    }
    for (std::string_view dir : splitNonEmpty(path, ':')) {
        const std::string candidate = std::string(dir) + "/" + std::string(name);
        if (access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

// The docker context in use when DOCKER_HOST is unset, if it is not the
// default one: DOCKER_CONTEXT, else "currentContext" in the client's
// config.json. Such a context names its own endpoint, which may be another
// machine's; the local ones besides the default (rootless, Docker Desktop)
// publish through processes of the user's, which are rows already.
bool otherContext() {
    if (const char* name = std::getenv("DOCKER_CONTEXT"); name != nullptr && *name != '\0') {
        return std::string_view(name) != "default";
    }
    std::string config;
    if (const char* folder = std::getenv("DOCKER_CONFIG"); folder != nullptr && *folder != '\0') {
        config = std::string(folder) + "/config.json";
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        config = std::string(home) + "/.docker/config.json";
    } else {
        return false;
    }
    const std::optional<std::string> text =
        readAll(UniqueFd(open(config.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)));
    if (!text) {
        return false;
    }
    constexpr std::string_view kKey = "\"currentContext\"";
    const size_t key = text->find(kKey);
    if (key == std::string::npos) {
        return false;
    }
    const size_t value = text->find_first_not_of(" \t\r\n:", key + kKey.size());
    return value != std::string::npos && text->compare(value, 2, "\"\"") != 0 &&
           text->compare(value, 9, "\"default\"") != 0;
}

}  // namespace

bool dockerEngineRemote() {
    const char* variable = std::getenv("DOCKER_HOST");
    if (variable == nullptr || *variable == '\0') {
        return false;
    }
    std::string_view host = variable;
    if (host.starts_with("unix://")) {
        return false;
    }
    if (!host.starts_with("tcp://")) {
        return true;
    }
    host.remove_prefix(6);
    host = host.substr(0, host.find('/'));
    const size_t colon = host.starts_with('[') ? host.find(']') + 1 : host.rfind(':');
    host = host.substr(0, colon);
    return host != "localhost" && !host.starts_with("127.") && host != "[::1]";
}

bool dockerEnginePlausible() {
    // The cheap questions first: on a machine without an engine a scan pays
    // a stat call, not a walk of PATH and a read of the client's config.
    const char* host = std::getenv("DOCKER_HOST");
    if (host != nullptr && *host != '\0') {
        return !dockerEngineRemote() && onPath("docker");
    }
    return exists(kDefaultSocket) && !otherContext() && onPath("docker");
}

std::optional<std::string> dockerEngineSocket() {
    const char* host = std::getenv("DOCKER_HOST");
    if (host != nullptr && *host != '\0') {
        const std::string_view value = host;
        if (!value.starts_with("unix://")) {
            return std::nullopt;
        }
        // The client reads "unix://" alone as the default socket.
        return value.size() > 7 ? std::string(value.substr(7)) : std::string(kDefaultSocket);
    }
    if (otherContext()) {
        return std::nullopt;
    }
    return std::string(kDefaultSocket);
}

}  // namespace halvo
