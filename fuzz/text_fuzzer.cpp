// The text helpers every parser leans on: repair always yields valid UTF-8
// and leaves valid text alone, case and canonical forms keep text valid, the
// fast ASCII lower-caser agrees with the plain one, and the number parsers
// agree with std::from_chars.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"
#include "check.h"

namespace {

template <typename Int>
std::optional<Int> fromChars(std::string_view text) {
    // from_chars takes no "+" and would stop at the first non-digit.
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    Int value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::string repaired = halvo::decodeUtf8Lossy(bytes);
    FUZZ_CHECK(halvo::isValidUtf8(repaired));
    FUZZ_CHECK(halvo::isValidUtf8(bytes) == (repaired == bytes));
    FUZZ_CHECK(halvo::isAscii(bytes) == std::all_of(bytes.begin(), bytes.end(), [](char c) {
                   return static_cast<unsigned char>(c) < 0x80;
               }));

    const std::string lower = halvo::toLower(repaired);
    FUZZ_CHECK(halvo::isValidUtf8(lower));
    FUZZ_CHECK(halvo::isValidUtf8(halvo::normalizeCanonical(repaired)));

    std::string fast(bytes);
    if (halvo::lowerAsciiInPlace(fast)) {
        std::string plain(bytes);
        for (char& c : plain) {
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
        }
        FUZZ_CHECK(fast == plain);
        FUZZ_CHECK(lower == plain);
    } else {
        FUZZ_CHECK(!halvo::isAscii(bytes));
    }

    FUZZ_CHECK(halvo::parseInt64(bytes) == fromChars<int64_t>(bytes));
    FUZZ_CHECK(halvo::parseInt32(bytes) == fromChars<int32_t>(bytes));
    if (bytes.empty() || bytes.front() != '+') {
        FUZZ_CHECK(halvo::parseUint64(bytes) == fromChars<uint64_t>(bytes));
    }
    return 0;
}
