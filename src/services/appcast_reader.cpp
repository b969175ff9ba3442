#include "services/appcast_reader.h"

#include <QXmlStreamReader>

namespace halvo {
namespace {

const QString kSparkle = QStringLiteral("http://www.andymatuschak.org/xml-namespaces/sparkle");

// Reads one <item>; the reader stands on its start element.
AppcastItem readItem(QXmlStreamReader& xml) {
    AppcastItem item;
    while (xml.readNextStartElement()) {
        if (xml.namespaceUri() == kSparkle) {
            const QString text = xml.readElementText().trimmed();
            if (xml.name() == u"version") {
                item.version = text;
            } else if (xml.name() == u"shortVersionString") {
                item.shortVersion = text;
            } else if (xml.name() == u"channel") {
                item.channel = text;
            } else if (xml.name() == u"releaseNotesLink") {
                const QUrl link(text, QUrl::StrictMode);
                if (link.scheme() == u"https" && !link.host().isEmpty()) {
                    item.releaseNotesLink = link;
                }
            }
            continue;
        }
        if (xml.name() == u"enclosure" && xml.namespaceUri().isEmpty()) {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (attributes.hasAttribute(QStringLiteral("url"))) {
                item.enclosure = AppcastEnclosure{
                    QUrl(attributes.value(QStringLiteral("url")).trimmed().toString(),
                         QUrl::StrictMode),
                    attributes.value(QStringLiteral("length")).toString(),
                    attributes.value(QStringLiteral("type")).toString(),
                    attributes.value(kSparkle, QStringLiteral("edSignature")).toString()};
            }
            // An element beside the enclosure says the same and wins.
            if (item.version.isEmpty()) {
                item.version =
                    attributes.value(kSparkle, QStringLiteral("version")).trimmed().toString();
            }
            if (item.shortVersion.isEmpty()) {
                item.shortVersion = attributes.value(kSparkle, QStringLiteral("shortVersionString"))
                                        .trimmed()
                                        .toString();
            }
        }
        xml.skipCurrentElement();
    }
    return item;
}

}  // namespace

std::variant<std::vector<AppcastItem>, QString> readAppcast(const QByteArray& bytes) {
    QXmlStreamReader xml(bytes);
    std::vector<AppcastItem> items;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
            case QXmlStreamReader::DTD:
                return QStringLiteral("the feed declares a DTD");
            case QXmlStreamReader::EntityReference:
                return QStringLiteral("the feed refers to an undeclared entity");
            case QXmlStreamReader::StartElement:
                if (xml.name() == u"item") {
                    items.push_back(readItem(xml));
                }
                break;
            default:
                break;
        }
    }
    if (xml.hasError()) {
        return QStringLiteral("the feed is not well-formed XML (%1, line %2)")
            .arg(xml.errorString())
            .arg(xml.lineNumber());
    }
    return items;
}

std::optional<AppcastItem> newestUpdate(const std::vector<AppcastItem>& items,
                                        const std::set<std::string>& allowedChannels,
                                        const QVersionNumber& running) {
    std::optional<AppcastItem> newest;
    // Normalised, so that 1.2 and 1.2.0 are the same version.
    QVersionNumber newestVersion = running.normalized();
    for (const AppcastItem& item : items) {
        if (!item.channel.isEmpty() && !allowedChannels.contains(item.channel.toStdString())) {
            continue;
        }
        const QVersionNumber version =
            QVersionNumber::fromString(item.displayVersion()).normalized();
        if (!version.isNull() && version > newestVersion) {
            newest = item;
            newestVersion = version;
        }
    }
    return newest;
}

}  // namespace halvo
