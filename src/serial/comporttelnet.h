#pragma once

#include <QByteArray>
#include <QtGlobal>

// The client's side of a Telnet connection to a serial port server that speaks the
// COM port option (RFC 2217), as a value: bytes from the server go in, the board's
// bytes and the answers the server is owed come out. No socket, no timing.
class ComPortTelnet
{
public:
    // The longest subnegotiation a server may send. The COM port option's are a few
    // bytes (a rate answer is six) or a server's signature, a name and a version;
    // anything far longer is a server gone wrong, and keeping it would let it fill
    // the memory.
    static constexpr int MaxSubnegotiationBytes = 64;

    explicit ComPortTelnet(qint32 baudRate = 115200);

    // What the client sends on connecting: the options it asks for.
    QByteArray opening() const;
    // The board's bytes as they go on the wire: each 0xFF doubled.
    static QByteArray escape(const QByteArray &data);

    // Takes the server's bytes as they came, cut anywhere, and returns the board's
    // bytes among them. Answers to the server's requests collect in takeReplies().
    // After a malformed subnegotiation nothing more is taken: see isMalformed().
    QByteArray decode(const QByteArray &bytes);
    // Asks for another rate: sent at once once the option is agreed, else with the
    // other settings when it is.
    void setBaudRate(qint32 rate);
    // Asks the server for the rate it has set. It answers once it has handled every
    // byte sent before the question, which makes the answer a barrier: see
    // rateAnswers().
    void askBaudRate();
    // What has to go to the server now; emptied by the call.
    QByteArray takeReplies();

    bool comPortRefused() const { return refused; }
    // The rate the server has set on its port, 0 until it has said so.
    qint32 confirmedBaudRate() const { return confirmedRate; }
    qint32 wantedBaudRate() const { return wantedRate; }
    // How many times the server has told its rate, to each setting and each question.
    int rateAnswers() const { return answers; }
    // The server sent a subnegotiation over MaxSubnegotiationBytes, or began one
    // within another: the connection cannot be trusted to carry the board's bytes.
    bool isMalformed() const { return state == State::Malformed; }

private:
    enum class State { Data, Command, Option, Sub, SubCommand, Malformed };

    void handleOption(uchar verb, uchar option);
    void handleSub();
    void malformed();
    void sendSettings();
    void sendCommand(uchar verb, uchar option);

    State state = State::Data;
    uchar verb = 0;
    QByteArray sub;
    QByteArray replies;
    qint32 wantedRate;
    qint32 confirmedRate = 0;
    int answers = 0;
    bool refused = false;
    // Options this end does (WILL) and the server does (its WILL), and those this end
    // has asked for and not yet heard about.
    bool ours[256] = {};
    bool theirs[256] = {};
    bool askedWill[256] = {};
    bool askedDo[256] = {};
};
