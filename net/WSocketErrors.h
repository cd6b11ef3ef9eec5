#pragma once
// What TWSocket reports: the exception it raises, and the description of each
// error code.
#include <stdexcept>
#include <string>

class ESocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The description of a socket error code ("Not a WinSock error" when unknown).
std::string WSocketErrorDesc(int code);
