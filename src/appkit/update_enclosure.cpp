#include "appkit/update_enclosure.h"

#include <fcntl.h>
#include <sodium.h>

#include <charconv>
#include <filesystem>

#include "base/file_reading.h"
#include "base/text.h"

namespace halvo {
namespace {

// Exactly `size` bytes of standard base64, or nothing.
std::optional<std::string> decodeBase64(std::string_view text, size_t size) {
    std::string bytes(size, '\0');
    size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), size, text.data(),
                          text.size(), nullptr, &decoded, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size() || decoded != size) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

std::string_view describe(TAVUpdateFault fault) {
    switch (fault) {
        case TAVUpdateFault::invalidLength:
            return "the feed announces no valid length for the file";
        case TAVUpdateFault::unsupportedType:
            return "the feed offers a file that is not a Debian package";
        case TAVUpdateFault::invalidSignature:
            return "the feed gives no valid signature for the file";
        case TAVUpdateFault::noPublicKey:
            return "this build has no key to verify updates with";
        case TAVUpdateFault::unreadable:
            return "the downloaded file cannot be read";
        case TAVUpdateFault::wrongLength:
            return "the downloaded file is not the length the feed announces";
        case TAVUpdateFault::signatureMismatch:
            return "the downloaded file is not signed by the maker";
    }
    return "the file was refused";
}

std::variant<TAVUpdateEnclosure, TAVUpdateFault> TAVUpdateEnclosure::parse(
    std::string url, std::string_view length, std::string_view type, std::string_view edSignature) {
    TAVUpdateEnclosure enclosure{std::move(url), 0, {}};
    length = trimWhiteSpace(length);
    const auto [end, error] =
        std::from_chars(length.data(), length.data() + length.size(), enclosure.length);
    if (error != std::errc() || end != length.data() + length.size() || enclosure.length == 0 ||
        enclosure.length > kUpdateSizeCap) {
        return TAVUpdateFault::invalidLength;
    }
    if (trimWhiteSpace(type) != kDebianPackageType) {
        return TAVUpdateFault::unsupportedType;
    }
    std::optional<std::string> signature =
        decodeBase64(trimWhiteSpace(edSignature), crypto_sign_BYTES);
    if (!signature) {
        return TAVUpdateFault::invalidSignature;
    }
    enclosure.signature = std::move(*signature);
    return enclosure;
}

std::optional<TAVUpdateFault> verifyUpdateFile(const std::string& path,
                                               const TAVUpdateEnclosure& enclosure,
                                               std::string_view publicKey) {
    if (sodium_init() < 0) {
        return TAVUpdateFault::unreadable;
    }
    const std::optional<std::string> key = decodeBase64(publicKey, crypto_sign_PUBLICKEYBYTES);
    if (!key) {
        return TAVUpdateFault::noPublicKey;
    }
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        return TAVUpdateFault::unreadable;
    }
    if (size != enclosure.length) {
        return TAVUpdateFault::wrongLength;
    }
    const std::optional<std::string> bytes =
        readAll(UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)));
    if (!bytes) {
        return TAVUpdateFault::unreadable;
    }
    if (bytes->size() != enclosure.length) {
        return TAVUpdateFault::wrongLength;
    }
    if (enclosure.signature.size() != crypto_sign_BYTES ||
        crypto_sign_verify_detached(
            reinterpret_cast<const unsigned char*>(enclosure.signature.data()),
            reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size(),
            reinterpret_cast<const unsigned char*>(key->data())) != 0) {
        return TAVUpdateFault::signatureMismatch;
    }
    return std::nullopt;
}

}  // namespace halvo
