// Where the XDG desktop portal answers on the session bus; each of its
// interfaces (settings, global shortcuts) is asked at the same address.
#pragma once

#include <QString>

namespace halvo::portal {

inline const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");

}  // namespace halvo::portal
