#include "kill/stop_command.h"

#include "base/text.h"

namespace halvo {
namespace {

// pm2 colours its messages even into a pipe.
std::string withoutColours(std::string_view text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && !(text[i] >= '@' && text[i] <= '~')) {
                ++i;
            }
            continue;
        }
        plain += text[i];
    }
    return plain;
}

}  // namespace

KillOutcome stopOutcome(const CommandResult& result, const std::string& which,
                        std::string_view tool) {
    const std::string failed = "Could not stop " + which + ": ";
    if (!result.output) {
        return KillOutcome::failed(failed + std::string(tool) +
                                   " did not answer in time or could not be started");
    }
    if (result.status == 0) {
        return KillOutcome::killed();
    }
    const std::string errors = withoutColours(result.errors);
    std::string_view reason = trimWhiteSpace(errors);
    reason = trimWhiteSpace(reason.substr(0, reason.find('\n')));
    return KillOutcome::failed(
        failed + (reason.empty()
                      ? std::string(tool) + " exited with status " + std::to_string(result.status)
                      : decodeUtf8Lossy(reason)));
}

}  // namespace halvo
