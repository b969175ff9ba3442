// A user's entry in the password database.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace halvo {

struct UserAccount {
    std::string name;  // the login name; may be empty
    std::string home;  // the home folder as the database has it; may be empty
};

// getpwuid_r with a buffer that grows for large entries; nothing when the
// uid has no entry or the lookup fails.
std::optional<UserAccount> userAccount(uid_t uid);

}  // namespace halvo
