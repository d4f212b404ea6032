#pragma once

#include "cli/mqtt/outboundmessage.h"

#include <QList>

// Home Assistant's MQTT discovery: one retained config message per entity, so that a
// board appears as a device. Sensors (homeassistant/sensor/) for its state of charge,
// pack voltage, current, lowest and highest cell, cell spread, temperatures and each of
// its cellCount cells, read from the telemetry topic's JSON (the record format's keys),
// and for each cell's resistance, read from the health topic's JSON;
// binary sensors (homeassistant/binary_sensor/, device class "problem") for each
// protection flag, and with withAlarm one for "any alarm", read from the alarm topic.
QList<OutboundMessage> homeAssistantDiscovery(const QByteArray &prefix, const QByteArray &board,
                                              int cellCount, bool withAlarm);
