#pragma once

#include <QByteArray>
#include <QString>

struct EngineSettings;

// Large files from a cache: a file above a size is not sent from here but from the same
// path under a base URL (an nginx cache, a CDN, an object store), so one server can
// point many machines at a cache near them. The one decision for the HTTP answer (a
// 302), the menu's URLs and the UEFI HTTP boot URL alike. TFTP is never redirected.
namespace HttpRedirect {

struct Settings {
    QString base;            // [Http] Redirect; empty: off
    qint64 aboveBytes = 0;   // [Http] RedirectAboveBytes
    bool operator==(const Settings&) const = default;
};
Settings SettingsOf(const EngineSettings& s);

// The base as it goes into a Location header, without a trailing '/'; empty when the
// text is no absolute http or https URL with a host and without a query or fragment
// (the redirect is then off: a bad setting never sends clients to a wrong place).
QByteArray Base(const QString& base);

// Where a file of `size` bytes is fetched from instead, `path` being its name under the
// working folder ('/' between folders, raw bytes): the base plus the path with every
// byte but unreserved ones and '/' percent-encoded. Empty: served here.
QByteArray Target(const Settings& s, const QByteArray& path, qint64 size);

} // namespace HttpRedirect
