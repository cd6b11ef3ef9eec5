#pragma once
// The telnet protocol of a client, without I/O: bytes from the server go in,
// events come out. Data, negotiation and subnegotiation are reported as they
// are parsed; the client's answers come out as Send events, to be written to
// the connection in the order given.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Telnet {
constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240, EOR = 239;
constexpr unsigned char OptBinary = 0, OptEcho = 1, OptSuppressGoAhead = 3, OptSendLocation = 23, OptTerminalType = 24,
                        OptEndOfRecord = 25;
constexpr unsigned char SubIs = 0, SubSend = 1;
}  // namespace Telnet

struct TTelnetEvent {
    enum Type {
        Data,            // bytes: data for the owner
        Send,            // bytes: an answer for the server
        Negotiation,     // verb, option: a verb received
        Subnegotiation,  // bytes: what stood between IAC SB and IAC SE, 255 undoubled
        EndOfRecord,     // IAC EOR
        Command,         // option: a command dropped with its IAC (NOP, AYT ...)
        LocalEcho,       // the server spoke about ECHO; see LocalEcho()
        SendLocation,    // the location is about to be sent; it may be set now
        TermType,        // the terminal type is about to be sent; it may be set now
    };
    Type type;
    std::string_view bytes;
    unsigned char verb = 0;
    unsigned char option = 0;
};

class TTelnetParser {
public:
    using EventHandler = std::function<void(const TTelnetEvent&)>;
    // Longer subnegotiations are dropped whole.
    static constexpr size_t kMaxSubnegotiation = 4096;

    explicit TTelnetParser(EventHandler handler);

    void Feed(std::string_view bytes);
    // Forgets a command left unfinished by an earlier connection.
    void Reset();

    const std::string& TermType() const { return termType_; }
    void SetTermType(const std::string& value) { termType_ = value; }
    const std::string& Location() const { return location_; }
    void SetLocation(const std::string& value) { location_ = value; }
    bool LocalEcho() const { return localEcho_; }
    void SetLocalEcho(bool value) { localEcho_ = value; }
    bool Binary() const { return binary_; }
    bool SuppressGoAhead() const { return suppressGoAhead_; }
    bool TermTypeOrEorAgreed() const { return termTypeOrEorAgreed_; }

private:
    void Emit(TTelnetEvent::Type type, std::string_view bytes = {}, unsigned char verb = 0, unsigned char option = 0);
    void Reply(unsigned char verb, unsigned char option);
    void SendSubnegotiation(std::string_view body);
    void Answer(unsigned char verb, unsigned char option);
    void AfterIac(unsigned char b);
    void AddToSubnegotiation(unsigned char b);
    void EndSubnegotiation();

    EventHandler handler_;
    std::string termType_ = "VT100";
    std::string location_ = "TNCNX";
    bool localEcho_ = false;
    bool binary_ = false;
    bool suppressGoAhead_ = false;
    bool termTypeOrEorAgreed_ = false;

    enum class State { Data, Iac, Verb, Subnegotiation, SubnegotiationIac };
    State state_ = State::Data;
    unsigned char verb_ = 0;
    bool subnegotiationTooLong_ = false;
    std::string subnegotiation_;
};

// Data for the telnet wire: every 255 byte doubled, so that the server takes
// it as data and not as the start of a command.
std::string TelnetEscapeIAC(std::string_view bytes);
