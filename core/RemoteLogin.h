#pragma once
// The password line of a remote client, without I/O: bytes in as they arrive,
// a decision out once the line is complete. The line ends at the first
// carriage return; a line feed does not end it. An empty password means that
// access level is off.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

enum class TLoginDecision {
    Wait,     // no carriage return yet
    Full,     // the full-access password
    Viewer,   // the viewer password
    Wrong,    // any other line
    TooLong,  // no carriage return within the limit
};

struct TLoginPasswords {
    std::string Full;
    std::string Viewer;
};

class TLoginLine {
public:
    // A line must end within this many bytes, its carriage return included.
    static constexpr size_t kLimit = 256;

    // Adds what the client sent. The passwords are asked for only when the line
    // completes, so an edit made meanwhile counts. Once decided, the line is
    // spent: later bytes give the same decision and are not kept.
    TLoginDecision Take(std::string_view bytes, const std::function<TLoginPasswords()>& passwords);
    // A new connection starts with an empty line.
    void Clear();
    bool Decided() const { return decision_ != TLoginDecision::Wait; }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
    TLoginDecision decision_ = TLoginDecision::Wait;
};
