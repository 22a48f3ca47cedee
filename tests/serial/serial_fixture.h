// A port number mapped to a fresh pseudo-terminal, as --com N=/dev/pts/M does.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "com_table.h"
#include "pty_pair.h"
#include "runtime.h"

class PtyPort : public ::testing::Test {
protected:
    static constexpr int kPort = 7;

    void SetUp() override
    {
        tarvo::rt::clearComDevices();
        tarvo::rt::setComDevice(kPort, pty.slavePath());
    }
    void TearDown() override
    {
        for (int n : {kPort, kPort + 1})
            CloseCom(n);
        tarvo::rt::clearComDevices();
    }

    // The handshake's link setting unless told otherwise.
    int open(long baud = 19200, int parity = 0, int port = kPort)
    {
        return OpenComConfig(port, "", baud, parity, 8, 1, 256, 256);
    }

    // A ComRdByte on the open port, under way in another thread and waiting
    // (with this time-out) for a byte that does not come.
    std::future<int> blockedByteRead(double timeoutSeconds, int port = kPort)
    {
        EXPECT_EQ(SetComTime(port, timeoutSeconds), 0);
        auto reader = std::async(std::launch::async, [port] { return ComRdByte(port); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return reader;
    }

    PtyPair pty;
};
