// The system's words for an error number.
#pragma once

#include <string>

namespace halvo {

// strerror's text, safe to call from any thread.
std::string errorText(int error);

}  // namespace halvo
