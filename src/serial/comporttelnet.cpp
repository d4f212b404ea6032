#include "serial/comporttelnet.h"

// Telnet (RFC 854) with the COM port option (RFC 2217), as far as a client of a
// serial port server needs it.
//
// The option is the client's: it says WILL COM-PORT-OPTION, and the server's DO
// agrees. The line settings then go as subnegotiations, IAC SB 44 <command> <value>
// IAC SE, and the server answers each with the command's code plus 100 and the value
// it has set. Binary transmission is asked for both ways: without it a strict server
// would take the board's CR as a Telnet end of line and eat a NUL after it. Every
// other option the server offers or asks for is refused, echo above all, which would
// send the tool's commands back at it. ser2net opens with its own offers (WILL ECHO,
// DO BINARY, DO COM-PORT-OPTION, ...) before it has read the client's, so an answer
// is only sent when it changes the state of an option: two ends that each answer
// every answer would negotiate for ever.
//
// What the server sends is bounded: a subnegotiation longer than any the option knows,
// or one that opens another before it has ended, ends the decoding for good. The
// bytes after it are neither kept nor taken for the board's, and the line closes.

namespace {

constexpr uchar Iac = 255;
constexpr uchar Dont = 254;
constexpr uchar Do = 253;
constexpr uchar Wont = 252;
constexpr uchar Will = 251;
constexpr uchar Sb = 250;
constexpr uchar Se = 240;

constexpr uchar Binary = 0;
constexpr uchar SuppressGoAhead = 3;
constexpr uchar ComPortOption = 44;

// Client to server; the server's answer is the code plus ServerOffset.
constexpr uchar SetBaudRate = 1;
constexpr uchar SetDataSize = 2;
constexpr uchar SetParity = 3;
constexpr uchar SetStopSize = 4;
constexpr uchar SetControl = 5;
constexpr uchar ServerOffset = 100;

constexpr uchar DataBits8 = 8;
constexpr uchar ParityNone = 1;
constexpr uchar StopBits1 = 1;
constexpr uchar NoFlowControl = 1;

bool accepted(uchar option)
{
    return option == Binary || option == SuppressGoAhead;
}

QByteArray subnegotiation(uchar command, const QByteArray &value)
{
    QByteArray bytes;
    bytes.append(char(Iac)).append(char(Sb)).append(char(ComPortOption)).append(char(command));
    bytes.append(ComPortTelnet::escape(value));
    bytes.append(char(Iac)).append(char(Se));
    return bytes;
}

QByteArray rateValue(qint32 rate)
{
    const quint32 r = quint32(rate);
    const char bytes[] = {char(r >> 24), char(r >> 16), char(r >> 8), char(r)};
    return QByteArray(bytes, sizeof bytes);
}

} // namespace

ComPortTelnet::ComPortTelnet(qint32 baudRate) : wantedRate(baudRate)
{
    askedWill[ComPortOption] = askedWill[Binary] = askedDo[Binary] = true;
}

QByteArray ComPortTelnet::opening() const
{
    const char bytes[] = {char(Iac), char(Will), char(ComPortOption),
                          char(Iac), char(Will), char(Binary),
                          char(Iac), char(Do),   char(Binary)};
    return QByteArray(bytes, sizeof bytes);
}

QByteArray ComPortTelnet::escape(const QByteArray &data)
{
    if (!data.contains(char(Iac)))
        return data;
    QByteArray escaped;
    escaped.reserve(data.size() + 8);
    for (const char c : data) {
        escaped.append(c);
        if (uchar(c) == Iac)
            escaped.append(c);
    }
    return escaped;
}

QByteArray ComPortTelnet::decode(const QByteArray &bytes)
{
    QByteArray data;
    data.reserve(bytes.size());
    for (const char c : bytes) {
        const uchar b = uchar(c);
        switch (state) {
        case State::Malformed:
            return data;
        case State::Data:
            if (b == Iac)
                state = State::Command;
            else
                data.append(c);
            break;
        case State::Command:
            state = State::Data;
            if (b == Iac) {
                data.append(c);
            } else if (b >= Will && b <= Dont) {
                verb = b;
                state = State::Option;
            } else if (b == Sb) {
                sub.clear();
                state = State::Sub;
            }
            // NOP, GA, data mark and the rest carry nothing for the board.
            break;
        case State::Option:
            handleOption(verb, b);
            state = State::Data;
            break;
        case State::Sub:
            if (b == Iac)
                state = State::SubCommand;
            else if (sub.size() < MaxSubnegotiationBytes)
                sub.append(c);
            else
                malformed();
            break;
        case State::SubCommand:
            if (b == Sb) {
                malformed();
            } else if (b == Iac) {
                if (sub.size() < MaxSubnegotiationBytes) {
                    sub.append(c);
                    state = State::Sub;
                } else {
                    malformed();
                }
            } else {
                // SE, or a server that broke off its subnegotiation: either way it
                // ends here.
                if (b == Se)
                    handleSub();
                state = State::Data;
            }
            break;
        }
    }
    return data;
}

void ComPortTelnet::setBaudRate(qint32 rate)
{
    wantedRate = rate;
    if (ours[ComPortOption])
        replies += subnegotiation(SetBaudRate, rateValue(rate));
}

void ComPortTelnet::askBaudRate()
{
    // Rate 0 asks for the rate the server has, and changes nothing.
    if (ours[ComPortOption])
        replies += subnegotiation(SetBaudRate, rateValue(0));
}

QByteArray ComPortTelnet::takeReplies()
{
    QByteArray out;
    out.swap(replies);
    return out;
}

void ComPortTelnet::handleOption(uchar verb, uchar option)
{
    switch (verb) {
    case Will:
        if (!accepted(option)) {
            sendCommand(Dont, option);
        } else if (!theirs[option]) {
            theirs[option] = true;
            if (!askedDo[option])
                sendCommand(Do, option);
        }
        askedDo[option] = false;
        break;
    case Wont:
        if (theirs[option] && !askedDo[option])
            sendCommand(Dont, option);
        theirs[option] = false;
        askedDo[option] = false;
        break;
    case Do:
        if (!accepted(option) && option != ComPortOption) {
            sendCommand(Wont, option);
        } else if (!ours[option]) {
            ours[option] = true;
            if (!askedWill[option])
                sendCommand(Will, option);
            if (option == ComPortOption)
                sendSettings();
        }
        askedWill[option] = false;
        break;
    case Dont:
        if (option == ComPortOption)
            refused = true;
        if (ours[option] && !askedWill[option])
            sendCommand(Wont, option);
        ours[option] = false;
        askedWill[option] = false;
        break;
    }
}

void ComPortTelnet::handleSub()
{
    if (sub.size() < 2 || uchar(sub.at(0)) != ComPortOption)
        return;
    const uchar code = uchar(sub.at(1));
    if (code == ServerOffset + SetBaudRate && sub.size() >= 6) {
        const auto byte = [this](int i) { return quint32(uchar(sub.at(i))); };
        confirmedRate = qint32(byte(2) << 24 | byte(3) << 16 | byte(4) << 8 | byte(5));
        ++answers;
    }
    // Line and modem state notifications tell the tool nothing it acts on.
}

void ComPortTelnet::malformed()
{
    state = State::Malformed;
    sub.clear();
    sub.squeeze();
}

void ComPortTelnet::sendSettings()
{
    // The rate last: its answer, the one the tool waits for, then says that the
    // server has taken all of them.
    replies += subnegotiation(SetDataSize, QByteArray(1, char(DataBits8)));
    replies += subnegotiation(SetParity, QByteArray(1, char(ParityNone)));
    replies += subnegotiation(SetStopSize, QByteArray(1, char(StopBits1)));
    replies += subnegotiation(SetControl, QByteArray(1, char(NoFlowControl)));
    replies += subnegotiation(SetBaudRate, rateValue(wantedRate));
}

void ComPortTelnet::sendCommand(uchar verb, uchar option)
{
    replies.append(char(Iac)).append(char(verb)).append(char(option));
}
