#include "net/SocketApi.h"
#include "net/WSocketErrors.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace SockApi;

namespace {

struct Mapping {
    int from;
    int to;
    const char* name;  // Microsoft's name of the number
};

}  // namespace

TEST(SocketApi, ErrnoMapsToTheNumberWindowsGives)
{
    const Mapping table[] = {
        {0, 0, "no error"},
        {EINTR, 10004, "WSAEINTR"},
        {EACCES, 10013, "WSAEACCES"},
        {EPERM, 10013, "WSAEACCES"},
        {EFAULT, 10014, "WSAEFAULT"},
        {EINVAL, 10022, "WSAEINVAL"},
        {EMFILE, 10024, "WSAEMFILE"},
        {ENFILE, 10024, "WSAEMFILE"},
        {EAGAIN, 10035, "WSAEWOULDBLOCK"},
        {EINPROGRESS, 10035, "WSAEWOULDBLOCK, as a non-blocking connect reports it"},
        {EALREADY, 10037, "WSAEALREADY"},
        {EBADF, 10038, "WSAENOTSOCK"},
        {ENOTSOCK, 10038, "WSAENOTSOCK"},
        {EDESTADDRREQ, 10039, "WSAEDESTADDRREQ"},
        {EMSGSIZE, 10040, "WSAEMSGSIZE"},
        {EPROTOTYPE, 10041, "WSAEPROTOTYPE"},
        {ENOPROTOOPT, 10042, "WSAENOPROTOOPT"},
        {EPROTONOSUPPORT, 10043, "WSAEPROTONOSUPPORT"},
        {ESOCKTNOSUPPORT, 10044, "WSAESOCKTNOSUPPORT"},
        {EOPNOTSUPP, 10045, "WSAEOPNOTSUPP"},
        {EPFNOSUPPORT, 10046, "WSAEPFNOSUPPORT"},
        {EAFNOSUPPORT, 10047, "WSAEAFNOSUPPORT"},
        {EADDRINUSE, 10048, "WSAEADDRINUSE"},
        {EADDRNOTAVAIL, 10049, "WSAEADDRNOTAVAIL"},
        {ENETDOWN, 10050, "WSAENETDOWN"},
        {ENONET, 10050, "WSAENETDOWN"},
        {ENETUNREACH, 10051, "WSAENETUNREACH"},
        {ENETRESET, 10052, "WSAENETRESET"},
        {ECONNABORTED, 10053, "WSAECONNABORTED"},
        {EPROTO, 10053, "WSAECONNABORTED"},
        {ECONNRESET, 10054, "WSAECONNRESET"},
        {EPIPE, 10054, "WSAECONNRESET"},
        {ENOBUFS, 10055, "WSAENOBUFS"},
        {ENOMEM, 10055, "WSAENOBUFS"},
        {EISCONN, 10056, "WSAEISCONN"},
        {ENOTCONN, 10057, "WSAENOTCONN"},
        {ESHUTDOWN, 10058, "WSAESHUTDOWN"},
        {ETOOMANYREFS, 10059, "WSAETOOMANYREFS"},
        {ETIMEDOUT, 10060, "WSAETIMEDOUT"},
        {ECONNREFUSED, 10061, "WSAECONNREFUSED"},
        {ELOOP, 10062, "WSAELOOP"},
        {ENAMETOOLONG, 10063, "WSAENAMETOOLONG"},
        {EHOSTDOWN, 10064, "WSAEHOSTDOWN"},
        {EHOSTUNREACH, 10065, "WSAEHOSTUNREACH"},
        {ENOTEMPTY, 10066, "WSAENOTEMPTY"},
        {EUSERS, 10068, "WSAEUSERS"},
        {EDQUOT, 10069, "WSAEDQUOT"},
        {ESTALE, 10070, "WSAESTALE"},
        {EREMOTE, 10071, "WSAEREMOTE"},
        {EIO, EIO, "none: the errno itself"},
    };
    for (const Mapping& m : table)
        EXPECT_EQ(MapErrno(m.from), m.to) << "errno " << m.from << " should be " << m.name;
}

TEST(SocketApi, EveryMappedErrnoHasADescription)
{
    for (int e = 1; e < 134; ++e) {
        int code = MapErrno(e);
        if (code != e) {
            EXPECT_NE(WSocketErrorDesc(code), "Not a WinSock error") << "errno " << e << " maps to " << code;
        }
    }
}

TEST(SocketApi, AcceptErrorsOfOneConnectionHaveNames)
{
    // The network errors that Linux accept() passes on from the pending
    // connection, and would-block: all must land on a named code.
    const int pending[] = {EAGAIN,   ECONNABORTED, EPROTO,    ENOPROTOOPT,  EOPNOTSUPP,
                           ENETDOWN, ENONET,       EHOSTDOWN, EHOSTUNREACH, ENETUNREACH};
    const int named[] = {ErrWouldBlock, ErrConnAborted,    ErrNoProtocolOption, ErrOpNotSupported,
                         ErrNetDown,    ErrNetUnreachable, ErrHostDown,         ErrHostUnreachable};
    for (int e : pending)
        EXPECT_NE(std::find(std::begin(named), std::end(named), MapErrno(e)), std::end(named)) << "errno " << e;
    EXPECT_EQ(ErrNetDown, 10050);
    EXPECT_EQ(ErrNoProtocolOption, 10042);
    EXPECT_EQ(ErrOpNotSupported, 10045);
    EXPECT_EQ(ErrNetUnreachable, 10051);
    EXPECT_EQ(ErrHostDown, 10064);
    EXPECT_EQ(ErrHostUnreachable, 10065);
}

TEST(SocketApi, ResolverErrorsMapToTheLookupNumbers)
{
    EXPECT_EQ(MapResolverError(EAI_NONAME), 11001);  // WSAHOST_NOT_FOUND
    EXPECT_EQ(MapResolverError(EAI_AGAIN), 11002);   // WSATRY_AGAIN
    EXPECT_EQ(MapResolverError(EAI_FAIL), 11003);    // WSANO_RECOVERY
    EXPECT_EQ(MapResolverError(EAI_NODATA), 11004);  // WSANO_DATA
    EXPECT_EQ(MapResolverError(EAI_MEMORY), 10055);  // WSAENOBUFS
    errno = ECONNREFUSED;
    EXPECT_EQ(MapResolverError(EAI_SYSTEM), 10061);
}
