#pragma once

#include "cli/mqtt/outboundmessage.h"
#include "protocol/telemetry.h"

#include <QList>
#include <optional>

// Home Assistant's MQTT discovery: one retained config message per entity, so that a
// board appears as a device. Sensors (homeassistant/sensor/) for its state of charge,
// pack voltage, current, lowest and highest cell, cell spread, the temperatures its
// layout carries and each of its cellCount cells, read from the telemetry topic's JSON
// (the record format's keys), and each cell's resistance, read from the health topic's JSON; binary
// sensors (homeassistant/binary_sensor/, device class "problem") for each protection flag of a
// layout 2 board, and with withAlarm one for "any alarm", read from the alarm topic.
//
// Every entity a board could have gets a message: those it does not offer get an empty
// retained one, which removes what an earlier run left (a layout 2 board's flags, an
// alarm entity of a run with limits). Without a layout (no frame has told it yet) the
// messages are those of the alarm entity only.
QList<OutboundMessage> homeAssistantDiscovery(const QByteArray &prefix, const QByteArray &board,
                                              std::optional<TelemetryLayout> layout, int cellCount,
                                              bool withAlarm);
