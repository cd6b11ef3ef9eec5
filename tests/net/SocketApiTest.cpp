#include "net/SocketApi.h"
#include "net/WSocketErrors.h"

#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <netdb.h>
#include <utility>

using namespace SockApi;

TEST(SocketApi, ErrnoMapsToTheNumberWindowsGives)
{
    // The numbers of Microsoft's list; an errno without one stays itself.
    // clang-format off
    const std::pair<int, int> table[] = {
        {0, 0},                  {EINTR, 10004},          {EACCES, 10013},         {EPERM, 10013},
        {EFAULT, 10014},         {EINVAL, 10022},         {EMFILE, 10024},         {ENFILE, 10024},
        {EAGAIN, 10035},         {EINPROGRESS, 10035},    {EALREADY, 10037},       {EBADF, 10038},
        {ENOTSOCK, 10038},       {EDESTADDRREQ, 10039},   {EMSGSIZE, 10040},       {EPROTOTYPE, 10041},
        {ENOPROTOOPT, 10042},    {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},
        {EPFNOSUPPORT, 10046},   {EAFNOSUPPORT, 10047},   {EADDRINUSE, 10048},     {EADDRNOTAVAIL, 10049},
        {ENETDOWN, 10050},       {ENONET, 10050},         {ENETUNREACH, 10051},    {ENETRESET, 10052},
        {ECONNABORTED, 10053},   {EPROTO, 10053},         {ECONNRESET, 10054},     {EPIPE, 10054},
        {ENOBUFS, 10055},        {ENOMEM, 10055},         {EISCONN, 10056},        {ENOTCONN, 10057},
        {ESHUTDOWN, 10058},      {ETOOMANYREFS, 10059},   {ETIMEDOUT, 10060},      {ECONNREFUSED, 10061},
        {ELOOP, 10062},          {ENAMETOOLONG, 10063},   {EHOSTDOWN, 10064},      {EHOSTUNREACH, 10065},
        {ENOTEMPTY, 10066},      {EUSERS, 10068},         {EDQUOT, 10069},         {ESTALE, 10070},
        {EREMOTE, 10071},        {EIO, EIO},
    };
    // clang-format on
    for (auto [from, to] : table)
        EXPECT_EQ(MapErrno(from), to) << "errno " << from;
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
