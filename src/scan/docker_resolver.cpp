#include "scan/docker_resolver.h"

#include <algorithm>
#include <optional>
#include <string>

#include "base/text.h"
#include "scan/docker_container_list.h"
#include "scan/docker_engine_location.h"
#include "scan/docker_ps_listing.h"
#include "scan/unix_http.h"

namespace halvo {
namespace {

bool looksLikeDocker(const ProcessMetadata& metadata) {
    std::string text = metadata.executablePath;
    text += ' ';
    text += metadata.workingDirectory.value_or("");
    for (const auto& argument : metadata.arguments) {
        text += ' ';
        text += argument;
    }
    return toLower(text).find("docker") != std::string::npos;
}

std::vector<DockerContainer> askClient(std::chrono::milliseconds bound) {
    const CommandResult result =
        runCommand("/usr/bin/env",
                   {"docker", "ps", "--no-trunc", "--format", std::string(kDockerPsFormat)}, bound);
    if (!result.output || result.status != 0) {
        return {};
    }
    return parseDockerPs(decodeUtf8Lossy(*result.output));
}

}  // namespace

DockerResolver::DockerResolver(std::chrono::milliseconds bound) : bound_(bound) {}

const std::vector<DockerContainer>& DockerResolver::containers(DockerListing& listing) const {
    if (listing.asked) {
        return listing.containers;
    }
    listing.asked = true;
    // The socket answers in a millisecond; the Go client takes tens of them
    // to start, on every scan. An engine that answers but gives no list (one
    // that wants a client of its own version) is left to the client; one that
    // does not answer would not answer it either.
    const auto deadline = std::chrono::steady_clock::now() + bound_;
    if (const std::optional<std::string> socket = dockerEngineSocket()) {
        const auto answer = httpGetOverUnixSocket(*socket, kContainerListTarget, bound_);
        if (!answer) {
            return listing.containers;
        }
        if (auto list = answer->status == 200 ? parseContainerList(answer->body) : std::nullopt) {
            listing.containers = std::move(*list);
            return listing.containers;
        }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left > std::chrono::milliseconds::zero()) {
        listing.containers = askClient(left);
    }
    return listing.containers;
}

std::unordered_map<int64_t, DockerContext> DockerResolver::dockerContexts(
    const std::vector<PortMetadata>& elements, DockerListing& listing) {
    std::set<int64_t> selected;
    for (const auto& [metadata, port] : elements) {
        if (looksLikeDocker(metadata)) {
            selected.insert(port);
        }
    }
    if (selected.empty()) {
        return {};
    }
    auto contexts = contextsOfPorts(containers(listing), selected);
    for (int64_t port : selected) {
        contexts.try_emplace(port);
    }
    return contexts;
}

std::vector<PublishedPort> DockerResolver::publishedPorts(DockerListing& listing) {
    // A remote engine may have been asked for the contexts of a local
    // process that looks like Docker; its ports still are not ours.
    if (dockerEngineRemote() || (!listing.asked && !dockerEnginePlausible())) {
        return {};
    }
    return publishedPortsOf(containers(listing));
}

std::unordered_map<int64_t, DockerContext> contextsOfPorts(
    const std::vector<DockerContainer>& containers, const std::set<int64_t>& ports) {
    std::unordered_map<int64_t, DockerContext> contexts;
    for (const DockerContainer& container : containers) {
        for (int64_t port : ports) {
            if (container.tcpPorts.contains(port)) {
                contexts.insert_or_assign(port, container.context);
            }
        }
    }
    return contexts;
}

std::vector<PublishedPort> publishedPortsOf(const std::vector<DockerContainer>& containers) {
    // From the last container back, each taking the ports no later one took:
    // every port is visited once, however many containers publish it.
    PortRangeSet taken;
    std::vector<std::pair<int64_t, const DockerContainer*>> owners;
    for (auto container = containers.rbegin(); container != containers.rend(); ++container) {
        if (!container->context.containerName) {
            continue;
        }
        for (const PortRange& range : container->tcpPorts.ranges()) {
            for (const PortRange& fresh : taken.addNew(range)) {
                for (int64_t port = fresh.first; port <= fresh.last; ++port) {
                    owners.emplace_back(port, &*container);
                }
            }
        }
    }
    std::sort(owners.begin(), owners.end());
    std::vector<PublishedPort> published;
    published.reserve(owners.size());
    for (const auto& [port, container] : owners) {
        published.push_back({port, container->context, container->command});
    }
    return published;
}

}  // namespace halvo
