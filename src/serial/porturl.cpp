#include "serial/porturl.h"

#include <QUrl>

QString PortUrl::hostAndPort() const
{
    const QString shownHost =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shownHost + QLatin1Char(':') + QString::number(port);
}

bool PortUrl::isUrl(const QString &name)
{
    return name.contains(QLatin1String("://"));
}

std::optional<PortUrl> PortUrl::parse(const QString &text, QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<PortUrl> {
        if (error)
            *error = QStringLiteral("%1: %2").arg(text, why);
        return std::nullopt;
    };
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return fail(QStringLiteral("not a URL (%1)").arg(url.errorString()));
    PortUrl parsed;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("rfc2217"))
        parsed.protocol = Protocol::Rfc2217;
    else if (scheme == QLatin1String("tcp"))
        parsed.protocol = Protocol::RawTcp;
    else
        return fail(QStringLiteral("unknown scheme \"%1\"; a port URL is rfc2217://HOST:PORT or "
                                   "tcp://HOST:PORT")
                        .arg(url.scheme()));
    if (url.host().isEmpty())
        return fail(QStringLiteral("no host; write %1://HOST:PORT").arg(scheme));
    // A port server serves each serial port on a TCP port of its own, so there is no
    // default to fall back on.
    if (url.port() <= 0)
        return fail(QStringLiteral("no port; write %1://%2:PORT").arg(scheme, url.host()));
    if (!url.path().isEmpty() && url.path() != QLatin1String("/"))
        return fail(QStringLiteral("a port URL has no path"));
    if (!url.userInfo().isEmpty() || url.hasQuery() || url.hasFragment())
        return fail(QStringLiteral("a port URL is only scheme://HOST:PORT"));
    parsed.host = url.host();
    parsed.port = quint16(url.port());
    return parsed;
}
