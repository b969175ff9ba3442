#include "base/user_account.h"

#include <pwd.h>

#include <cerrno>
#include <vector>

namespace halvo {

std::optional<UserAccount> userAccount(uid_t uid) {
    std::vector<char> buffer(1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < 1024 * 1024) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (error != 0 || found == nullptr) {
            return std::nullopt;
        }
        return UserAccount{found->pw_name ? found->pw_name : "",
                           found->pw_dir ? found->pw_dir : ""};
    }
}

}  // namespace halvo
