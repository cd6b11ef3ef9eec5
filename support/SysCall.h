#pragma once
// The one place that retries system calls interrupted by a signal.
#include <cerrno>
#include <string>
#include <system_error>

// Runs call() again for as long as it fails with EINTR (a result of -1 and errno EINTR).
// Never wrap close(): on Linux the descriptor is gone even when close() reports EINTR.
template <class Call>
auto RetryEintr(Call&& call) -> decltype(call())
{
    for (;;) {
        const auto result = call();
        if (!(result == -1 && errno == EINTR))
            return result;
    }
}

// The system's text for an errno value; safe on any thread, unlike strerror().
inline std::string ErrnoText(int error) { return std::generic_category().message(error); }
