#pragma once

#include <QByteArray>
#include <QtGlobal>

// The client's side of a Telnet connection to a serial port server that speaks the
// COM port option (RFC 2217), as a value: bytes from the server go in, the board's
// bytes and the answers the server is owed come out. No socket, no timing.
class ComPortTelnet
{
public:
    explicit ComPortTelnet(qint32 baudRate = 115200);

    // What the client sends on connecting: the options it asks for.
    QByteArray opening() const;
    // The board's bytes as they go on the wire: each 0xFF doubled.
    static QByteArray escape(const QByteArray &data);

    // Takes the server's bytes as they came, cut anywhere, and returns the board's
    // bytes among them. Answers to the server's requests collect in pendingReplies().
    QByteArray decode(const QByteArray &bytes);
    // Asks for another rate: sent at once once the option is agreed, else with the
    // other settings when it is.
    void setBaudRate(qint32 rate);
    // What has to go to the server now; emptied by the call.
    QByteArray takeReplies();

    bool comPortRefused() const { return refused; }
    // The rate the server has set on its port, 0 until it has said so.
    qint32 confirmedBaudRate() const { return confirmedRate; }

private:
    enum class State { Data, Command, Option, Sub, SubCommand };

    void handleOption(uchar verb, uchar option);
    void handleSub();
    void sendSettings();
    void sendCommand(uchar verb, uchar option);

    State state = State::Data;
    uchar verb = 0;
    QByteArray sub;
    QByteArray replies;
    qint32 wantedRate;
    qint32 confirmedRate = 0;
    bool refused = false;
    // Options this end does (WILL) and the server does (its WILL), and those this end
    // has asked for and not yet heard about.
    bool ours[256] = {};
    bool theirs[256] = {};
    bool askedWill[256] = {};
    bool askedDo[256] = {};
};
