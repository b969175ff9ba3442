// The file an update feed offers (its <enclosure>) and the checks a downloaded
// copy must pass before anything installs it: the announced length and an
// Ed25519 signature of the whole file by the maker's key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace halvo {

// No update is ever larger than this, whatever its feed announces.
inline constexpr std::uint64_t kUpdateSizeCap = 64 * 1024 * 1024;
inline constexpr std::string_view kDebianPackageType = "application/vnd.debian.binary-package";

// Why an offered or downloaded update is refused; `describe` words it for the
// "Update download failed: " text.
enum class TAVUpdateFault {
    invalidLength,      // not a whole number of bytes from 1 to the cap
    unsupportedType,    // not a Debian package
    invalidSignature,   // not 64 bytes of base64
    noPublicKey,        // this build has no key to check with
    unreadable,         // the downloaded copy cannot be read
    wrongLength,        // the copy's length differs from the announced one
    signatureMismatch,  // the signature is not the maker's for this file
};
std::string_view describe(TAVUpdateFault fault);

struct TAVUpdateEnclosure {
    std::string url;  // as the feed gives it; the network side checks it
    std::uint64_t length = 0;
    std::string signature;  // the 64 raw bytes

    // From the enclosure's attributes as the feed gives them.
    static std::variant<TAVUpdateEnclosure, TAVUpdateFault> parse(std::string url,
                                                                  std::string_view length,
                                                                  std::string_view type,
                                                                  std::string_view edSignature);
};

// Nothing when the file at `path` is exactly the enclosure's length and is
// signed by `publicKey` (32 bytes, base64); else the first check it fails.
std::optional<TAVUpdateFault> verifyUpdateFile(const std::string& path,
                                               const TAVUpdateEnclosure& enclosure,
                                               std::string_view publicKey);

}  // namespace halvo
