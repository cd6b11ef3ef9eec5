#include "net/TelnetParser.h"

using namespace Telnet;

TTelnetParser::TTelnetParser(EventHandler handler) : handler_(std::move(handler)) {}

void TTelnetParser::Reset()
{
    state_ = State::Data;
    verb_ = 0;
    subnegotiationTooLong_ = false;
    subnegotiation_.clear();
}

void TTelnetParser::Emit(TTelnetEvent::Type type, std::string_view bytes, unsigned char verb, unsigned char option)
{
    if (handler_)
        handler_(TTelnetEvent{type, bytes, verb, option});
}

void TTelnetParser::Reply(unsigned char verb, unsigned char option)
{
    const char reply[3] = {char(IAC), char(verb), char(option)};
    Emit(TTelnetEvent::Send, std::string_view(reply, 3));
}

void TTelnetParser::SendSubnegotiation(std::string_view body)
{
    std::string out;
    out.reserve(body.size() + 4);
    out += char(IAC);
    out += char(SB);
    out += body;
    out += char(IAC);
    out += char(SE);
    Emit(TTelnetEvent::Send, out);
}

void TTelnetParser::Feed(std::string_view bytes)
{
    size_t run = std::string_view::npos;  // start of plain data not yet reported
    auto flush = [&](size_t end) {
        if (run != std::string_view::npos && end > run)
            Emit(TTelnetEvent::Data, bytes.substr(run, end - run));
        run = std::string_view::npos;
    };
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto b = (unsigned char)bytes[i];
        switch (state_) {
        case State::Verb:
            state_ = State::Data;
            subnegotiation_.clear();
            subnegotiationTooLong_ = false;
            Answer(verb_, b);
            break;
        case State::Subnegotiation:
            if (b == IAC)
                state_ = State::SubnegotiationIac;
            else
                AddToSubnegotiation(b);
            break;
        case State::SubnegotiationIac:
            if (b == SE) {
                state_ = State::Data;
                EndSubnegotiation();
            } else if (b == IAC) {
                state_ = State::Subnegotiation;
                AddToSubnegotiation(b);
            } else {
                // A command inside: the subnegotiation was broken off, drop it.
                subnegotiation_.clear();
                subnegotiationTooLong_ = false;
                AfterIac(b);
            }
            break;
        case State::Data:
            if (b == IAC) {
                flush(i);
                state_ = State::Iac;
            } else if (run == std::string_view::npos) {
                run = i;
            }
            break;
        case State::Iac:
            AfterIac(b);
            break;
        }
    }
    flush(bytes.size());
}

void TTelnetParser::AfterIac(unsigned char b)
{
    state_ = State::Data;
    if (b == EOR) {
        Emit(TTelnetEvent::EndOfRecord);
    } else if (b == SB) {
        state_ = State::Subnegotiation;
    } else if (b == IAC) {
        Emit(TTelnetEvent::Data, "\xff");
    } else if (b >= WILL) {
        verb_ = b;
        state_ = State::Verb;
    } else {
        Emit(TTelnetEvent::Command, {}, 0, b);
    }
}

void TTelnetParser::AddToSubnegotiation(unsigned char b)
{
    if (subnegotiation_.size() < kMaxSubnegotiation)
        subnegotiation_ += char(b);
    else
        subnegotiationTooLong_ = true;
}

void TTelnetParser::EndSubnegotiation()
{
    std::string body;
    body.swap(subnegotiation_);
    if (subnegotiationTooLong_) {
        subnegotiationTooLong_ = false;
        return;
    }
    Emit(TTelnetEvent::Subnegotiation, body);
    if (body.size() >= 2 && (unsigned char)body[0] == OptTerminalType && (unsigned char)body[1] == SubSend) {
        Emit(TTelnetEvent::TermType);
        std::string is{char(OptTerminalType), char(SubIs)};
        SendSubnegotiation(is + termType_);
    }
}

void TTelnetParser::Answer(unsigned char verb, unsigned char option)
{
    Emit(TTelnetEvent::Negotiation, {}, verb, option);
    switch (option) {
    case OptBinary:
        if (verb == WILL) {
            Reply(DO, OptBinary);
            binary_ = true;
        } else if (verb == WONT) {
            binary_ = false;
        }
        break;
    case OptEcho:
        if (verb == WILL) {
            Reply(DO, OptEcho);
            localEcho_ = false;
        } else if (verb == WONT) {
            localEcho_ = true;
        }
        Emit(TTelnetEvent::LocalEcho);
        break;
    case OptSuppressGoAhead:
        if (verb == WILL) {
            Reply(DO, OptSuppressGoAhead);
            suppressGoAhead_ = true;
        }
        break;
    case OptSendLocation:
        if (verb == DO) {
            Reply(WILL, OptSendLocation);
            Emit(TTelnetEvent::SendLocation);
            SendSubnegotiation(std::string(1, char(OptSendLocation)) + location_);
        }
        break;
    case OptTerminalType:
    case OptEndOfRecord:
        if (verb == DO) {
            Reply(WILL, option);
            termTypeOrEorAgreed_ = true;
        }
        break;
    default:
        Reply(verb == WILL ? DONT : WONT, option);
        break;
    }
}

std::string TelnetEscapeIAC(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 64);
    for (char c : bytes) {
        out += c;
        if ((unsigned char)c == IAC)
            out += c;
    }
    return out;
}
