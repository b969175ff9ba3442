// Reading an update feed: an RSS document whose items announce versions with
// attributes of the sparkle: namespace, and choosing the newest item the user may install.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVersionNumber>

#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

namespace halvo {

// An item's <enclosure> as the feed gives it, checked only when downloaded.
struct AppcastEnclosure {
    QUrl url;
    QString length;
    QString type;
    QString edSignature;  // sparkle:edSignature
};

struct AppcastItem {
    QString version;        // sparkle:version
    QString shortVersion;   // sparkle:shortVersionString
    QString channel;        // sparkle:channel; empty for the default channel
    QUrl releaseNotesLink;  // sparkle:releaseNotesLink when it is https, else empty
    std::optional<AppcastEnclosure> enclosure;  // when it names a file

    // The version a user reads, and the one compared with the running build:
    // the short version string, else the version.
    QString displayVersion() const { return shortVersion.isEmpty() ? version : shortVersion; }
};

// The items of `xml`, where versions may be child elements of the item or
// attributes of its enclosure; or why the document was refused. A document
// with a DTD is refused whole, so no entity is ever expanded or fetched.
std::variant<std::vector<AppcastItem>, QString> readAppcast(const QByteArray& xml);

// The item with the highest version above `running`, among items of the
// default channel and of `allowedChannels`; items whose version does not read
// as numbers are passed over.
std::optional<AppcastItem> newestUpdate(const std::vector<AppcastItem>& items,
                                        const std::set<std::string>& allowedChannels,
                                        const QVersionNumber& running);

}  // namespace halvo
