// Stands in for a recorder in the last-will test: connects one board, says it is
// online, and waits to be killed.
//   mqtt-status-holder URL BOARD
#include "cli/mqtt/mqttpublisher.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QString error;
    const std::optional<MqttUrl> url = MqttUrl::parse(app.arguments().value(1), &error);
    if (!url || argc != 3) {
        std::fprintf(stderr, "usage: mqtt-status-holder URL BOARD\n");
        return 2;
    }
    BrokerSettings settings;
    settings.url = *url;
    MqttPublisher publisher(settings);
    publisher.setStatus(app.arguments().at(2), true);
    return app.exec();
}
