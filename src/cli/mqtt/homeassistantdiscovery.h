#pragma once

#include "cli/mqtt/outboundmessage.h"

#include <QList>

// Home Assistant's MQTT discovery: one retained config message per sensor under
// homeassistant/sensor/, so that a board appears as a device with its state of
// charge, pack voltage, current, lowest and highest cell, cell spread and
// temperatures, read from the telemetry topic's JSON (the record format's keys).
QList<OutboundMessage> homeAssistantDiscovery(const QByteArray &prefix, const QByteArray &board);
