#include "base/error_text.h"

#include <cstring>

namespace halvo {
namespace {

// strerror_r exists in a GNU flavour (returns the text) and an XSI one (fills
// the buffer); strerror itself is not safe across threads.
[[maybe_unused]] const char* errorTextOf(const char* text, const char*) {
    return text;
}
[[maybe_unused]] const char* errorTextOf(int rc, const char* buffer) {
    return rc == 0 ? buffer : "Unknown error";
}

}  // namespace

std::string errorText(int error) {
    char buffer[256] = {};
    return errorTextOf(strerror_r(error, buffer, sizeof(buffer)), buffer);
}

}  // namespace halvo
