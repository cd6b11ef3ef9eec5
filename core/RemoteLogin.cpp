#include "core/RemoteLogin.h"

TLoginDecision TLoginLine::Take(std::string_view bytes, const std::function<TLoginPasswords()>& passwords)
{
    if (decision_ != TLoginDecision::Wait)
        return decision_;
    // Only the bytes that can still end the line within the limit are kept.
    const size_t room = kLimit - text_.size();
    const size_t cr = bytes.substr(0, room).find('\r');
    if (cr == std::string_view::npos) {
        text_.append(bytes.substr(0, room));
        if (text_.size() >= kLimit)
            decision_ = TLoginDecision::TooLong;
        return decision_;
    }
    text_.append(bytes.substr(0, cr));
    const TLoginPasswords known = passwords();
    if (!known.Full.empty() && text_ == known.Full)
        decision_ = TLoginDecision::Full;
    else if (!known.Viewer.empty() && text_ == known.Viewer)
        decision_ = TLoginDecision::Viewer;
    else
        decision_ = TLoginDecision::Wrong;
    return decision_;
}

void TLoginLine::Clear()
{
    text_.clear();
    decision_ = TLoginDecision::Wait;
}
