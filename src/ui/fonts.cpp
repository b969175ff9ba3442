#include "ui/fonts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QStandardPaths>

namespace halvo::ui {

Q_LOGGING_CATEGORY(fontRegistration, "tav.ui.FontRegistration")

const QStringList& bundledFontNames() {
    static const QStringList names{QStringLiteral("Inter-VariableFont_opsz,wght"),
                                   QStringLiteral("Inter-Italic-VariableFont_opsz,wght"),
                                   QStringLiteral("DancingScript-VariableFont_wght")};
    return names;
}

namespace {

QString findFont(const QString& name, const QStringList& directories) {
    for (const char* extension : {"ttf", "otf"}) {
        for (const QString& dir : directories) {
            const QString path = QDir(dir).filePath(name + u'.' + QLatin1String(extension));
            if (QFileInfo(path).isFile()) {
                return path;
            }
        }
    }
    return {};
}

}  // namespace

QStringList registerFonts(const QStringList& directories) {
    QStringList files;
    for (const QString& name : bundledFontNames()) {
        const QString path = findFont(name, directories);
        if (path.isEmpty()) {
            qCInfo(fontRegistration).noquote() << "TAVUI font missing in bundle:" << name;
        } else {
            files.append(path);
        }
    }
    if (files.isEmpty()) {
        qCInfo(fontRegistration) << "TAVUI: no bundled fonts found; falling back to system fonts.";
        return files;
    }
    for (const QString& file : files) {
        if (QFontDatabase::addApplicationFont(file) < 0) {
            qCWarning(fontRegistration).noquote()
                << "TAVUI font registration warning:" << file << "could not be loaded";
        }
    }
    return files;
}

void registerFonts() {
    static const bool once = [] {
        QStringList directories;
        for (const QString& dir :
             QStandardPaths::standardLocations(QStandardPaths::AppDataLocation)) {
            directories.append(QDir(dir).filePath(QStringLiteral("fonts")));
        }
        directories.append(
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("fonts")));
        registerFonts(directories);
        return true;
    }();
    (void)once;
}

}  // namespace halvo::ui
