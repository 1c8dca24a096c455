#include "engine/http/HttpRedirect.h"

#include "engine/config/EngineSettings.h"

#include <QUrl>

namespace HttpRedirect {

Settings SettingsOf(const EngineSettings& s) {
    return {s.httpRedirect, s.httpRedirectAboveBytes};
}

QByteArray Base(const QString& base) {
    const QUrl url(base.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return {};
    QByteArray encoded = url.toEncoded();
    while (encoded.endsWith('/'))
        encoded.chop(1);
    return encoded;
}

QByteArray Target(const Settings& s, const QByteArray& path, qint64 size) {
    if (size <= s.aboveBytes || path.isEmpty())
        return {};
    const QByteArray base = Base(s.base);
    if (base.isEmpty())
        return {};
    QByteArray relative = path;
    while (relative.startsWith('/'))
        relative.remove(0, 1);
    return base + '/' + relative.toPercentEncoding("/");
}

} // namespace HttpRedirect
