#include "lines.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

std::string hex(const std::vector<uint8_t>& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::vector<uint8_t> unhex(const std::string& s)
{
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

// Connected to the server, or INVALID_SOCKET after a test failure.
SOCKET connectToServer()
{
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const char* port = std::getenv("TARVO_LINES");
    if (!started || !port || !*port) {
        ADD_FAILURE() << "TARVO_LINES is not set: run the Windows tests through "
                         "tests/windows/wine-run.sh, which starts tarvo-lines";
        return INVALID_SOCKET;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    if (s == INVALID_SOCKET || connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ADD_FAILURE() << "cannot reach tarvo-lines on port " << port;
        if (s != INVALID_SOCKET)
            closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

}  // namespace

RemoteLine::RemoteLine(const std::string& request) : sock_(connectToServer())
{
    if (sock_ == INVALID_SOCKET)
        return;
    com_ = call(request);
}

RemoteLine::~RemoteLine()
{
    if (sock_ != INVALID_SOCKET)
        closesocket(sock_);
}

std::string RemoteLine::call(const std::string& request)
{
    if (sock_ == INVALID_SOCKET)
        return {};
    const std::string out = request + "\n";
    for (std::size_t done = 0; done < out.size();) {
        const int n = send(sock_, out.data() + done, static_cast<int>(out.size() - done), 0);
        if (n <= 0) {
            ADD_FAILURE() << "tarvo-lines went away";
            return {};
        }
        done += static_cast<std::size_t>(n);
    }
    std::string reply;
    for (char buf[65536];;) {
        const int n = recv(sock_, buf, sizeof buf, 0);
        if (n <= 0) {
            ADD_FAILURE() << "tarvo-lines went away";
            return {};
        }
        reply.append(buf, static_cast<std::size_t>(n));
        if (reply.back() == '\n')
            break;
    }
    reply.pop_back();
    if (reply.rfind("ok", 0) != 0) {
        ADD_FAILURE() << "tarvo-lines: " << request.substr(0, 40) << ": " << reply;
        return {};
    }
    return reply.size() > 3 ? reply.substr(3) : std::string();
}

void RemoteLine::write(const std::vector<uint8_t>& bytes) { call("write " + hex(bytes)); }

std::vector<uint8_t> RemoteLine::read(std::size_t n, double seconds)
{
    return unhex(call("read " + std::to_string(n) + " " +
                      std::to_string(static_cast<long>(seconds * 1000))));
}

void RemoteLine::hangUp() { call("hangup"); }

std::string RemoteLine::stopBoard(int* exitStatus)
{
    const std::string reply = call("stop");
    const auto space = reply.find(' ');
    if (exitStatus)
        *exitStatus = reply.empty() ? -1 : std::atoi(reply.c_str());
    if (space == std::string::npos)
        return {};
    const auto log = unhex(reply.substr(space + 1));
    return std::string(log.begin(), log.end());
}
