// What /proc/PID/cgroup and /proc/PID/environ may hold: a unit is a service
// or scope named in the cgroup path, never a slice, and a pm2 app has a name,
// a numeric id and an absolute home; every name is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"
#include "check.h"
#include "scan/supervisor_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto unit = halvo::unitFromCgroup(text)) {
        FUZZ_CHECK(unit->kind == halvo::Supervisor::Kind::systemd);
        FUZZ_CHECK(halvo::isValidUtf8(unit->name));
        FUZZ_CHECK(unit->name.ends_with(".service") || unit->name.ends_with(".scope"));
        FUZZ_CHECK(unit->name.find('/') == std::string::npos);
        FUZZ_CHECK(unit->name.find('\n') == std::string::npos);
        FUZZ_CHECK(!halvo::isValidUtf8(text) || text.find("/" + unit->name) != text.npos);
        FUZZ_CHECK(text.find("user@") != text.npos);
    }

    if (const auto app = halvo::pm2AppFromEnvironment(text)) {
        FUZZ_CHECK(app->kind == halvo::Supervisor::Kind::pm2);
        FUZZ_CHECK(!app->name.empty() && halvo::isValidUtf8(app->name));
        FUZZ_CHECK(app->pm2Home.starts_with('/') && halvo::isValidUtf8(app->pm2Home));
        FUZZ_CHECK(halvo::parseUint64(app->pm2Id).has_value());
        FUZZ_CHECK(app->name.find('\0') == std::string::npos);
        FUZZ_CHECK(!halvo::isValidUtf8(text) || text.find("name=" + app->name) != text.npos);
    }
    return 0;
}
