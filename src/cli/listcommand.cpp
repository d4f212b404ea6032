#include "exitstatus.h"
#include "serial/serialenumerator.h"
#include "subcommand.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <cstdio>

namespace {

const SubcommandHelp Help{
    "list", "[--json]", "Lists the serial ports present, in the order the window lists them.",
    "One line per port: path, USB vendor:product, serial number and description, with\n"
    "\"-\" where the system knows nothing.\n"
    "\n"
    "Examples:\n"
    "  keldro-cli list\n"
    "  keldro-cli list --json | jq -r '.[] | select(.usb_id == \"0403:6001\") | .path'\n"};

struct ListedPort
{
    QString path, description, usbId, serialNumber;
};

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

int runList(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON array of objects with the keys port, "
                                                 "path, description, usb_id and serial_number."));
    parser.addOption(json);
    if (const auto status = parseSubcommand(parser, arguments, Help))
        return *status;
    if (!parser.positionalArguments().isEmpty())
        return usageError(Help, QStringLiteral("list takes no port"));

    // The enumerator does not keep serial numbers; Qt's own list has them.
    QHash<QString, QString> serialNumbers;
    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : system)
        serialNumbers.insert(info.portName(), info.serialNumber());

    QJsonArray array;
    QByteArray table = QStringLiteral("%1  %2  %3  %4\n")
                           .arg(QStringLiteral("PATH"), -16)
                           .arg(QStringLiteral("USB ID"), -9)
                           .arg(QStringLiteral("SERIAL"), -12)
                           .arg(QStringLiteral("DESCRIPTION"))
                           .toLocal8Bit();
    for (const PortInfo &port : SerialEnumerator::getPorts()) {
        const QString usbId = port.vendorID || port.productID
                                  ? QStringLiteral("%1:%2")
                                        .arg(port.vendorID, 4, 16, QLatin1Char('0'))
                                        .arg(port.productID, 4, 16, QLatin1Char('0'))
                                  : QString();
        const QString serial = serialNumbers.value(port.portName);
        array.append(QJsonObject{{QStringLiteral("port"), port.portName},
                                 {QStringLiteral("path"), port.physName},
                                 {QStringLiteral("description"), orNull(port.friendName)},
                                 {QStringLiteral("usb_id"), orNull(usbId)},
                                 {QStringLiteral("serial_number"), orNull(serial)}});
        table += QStringLiteral("%1  %2  %3  %4\n")
                     .arg(port.physName, -16)
                     .arg(orDash(usbId), -9)
                     .arg(orDash(serial), -12)
                     .arg(orDash(port.friendName))
                     .toLocal8Bit();
    }
    if (parser.isSet(json))
        table = QJsonDocument(array).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(table.constData(), 1, size_t(table.size()), stdout);
    return Done;
}
