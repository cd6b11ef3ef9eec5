#pragma once
// The one place that retries system calls interrupted by a signal.
#include <cerrno>

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
