#pragma once

#include "cli/mqtt/mqttcredentials.h"
#include "cli/mqtt/mqtturl.h"

#include <QString>

// How every board's connection reaches the broker and what it sends besides the data.
struct BrokerSettings
{
    MqttUrl url;
    MqttCredentials credentials;
    QString caFile; // mqtts: the CA certificates to trust; empty: the system's
    int qos = 1;    // of telemetry and text; status and discovery always go at 1
    // Per board. At 10 frames/s the default is ten minutes of frames.
    qsizetype queueCapacity = 6000;
    bool homeAssistant = false;
    // The boards' frames are judged: their events and alarm topics are published, and
    // Home Assistant gets an "any alarm" sensor.
    bool alarms = false;
    int keepAliveSeconds = 30; // also how long a connection attempt may take
};
