// Where the Docker engine this machine's client talks to is, read from the
// client's environment and configuration as the client reads them: whether
// one may run here at all, whether it is another machine's, and the unix
// socket to ask it through.
#pragma once

#include <optional>
#include <string>

namespace halvo {

// Whether asking Docker can find containers that publish ports here: `docker`
// is on PATH (it stops them) and a local engine is plausible (DOCKER_HOST
// names a unix socket or a loopback address, or, with no DOCKER_HOST and the
// default docker context, /var/run/docker.sock exists). A few stat calls, so
// that a machine without an engine never pays for asking.
bool dockerEnginePlausible();

// Whether DOCKER_HOST names an engine on another machine (tcp://build-box:2376,
// ssh://build-box): the ports its containers publish are not this machine's.
bool dockerEngineRemote();

// The unix socket to ask the engine through: DOCKER_HOST's unix:// path, or,
// with no DOCKER_HOST and the default docker context, /var/run/docker.sock.
// None for a TCP host or another docker context: `docker ps` is asked then.
std::optional<std::string> dockerEngineSocket();

}  // namespace halvo
