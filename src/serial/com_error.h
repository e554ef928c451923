#pragma once
// The serial port reports every failure with EComError: the operating
// system's error code and text, or code 0 and one of the component's own texts.

#include <cstdint>
#include <exception>
#include <string>

class EComError : public std::exception {
public:
    EComError(int32_t Code, std::string Message);

    const char* what() const noexcept override { return FMessage.c_str(); }
    const std::string& Message() const { return FMessage; }

    // errno on POSIX (GetLastError on Windows); 0 for the component's own errors.
    int32_t ErrorCode;

private:
    std::string FMessage;
};

// What an OnError handler turns an error into when it answers caAbort: an
// exception the application's standard handling drops without showing it.
class EComAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// The component's own texts.
inline constexpr const char* SClosedPort = "Can't perform this operation on a closed port";
inline constexpr const char* SOpenPort = "Can't perform this operation on an open port";
inline constexpr const char* SNoThread = "Can't create thread";
inline constexpr const char* STimeout = "Timeout";
