// A port number mapped to a fresh pseudo-terminal, as --com N=/dev/pts/M does.
#pragma once

#include <gtest/gtest.h>

#include "com_table.h"
#include "pty_pair.h"
#include "runtime.h"

class PtyPort : public ::testing::Test {
protected:
    static constexpr int kPort = 7;

    void SetUp() override {
        tarvo::rt::clearComDevices();
        tarvo::rt::setComDevice(kPort, pty.slavePath());
    }
    void TearDown() override {
        for (int n : {kPort, kPort + 1}) CloseCom(n);
        tarvo::rt::clearComDevices();
    }

    // The handshake's link setting unless told otherwise.
    int open(long baud = 19200, int parity = 0, int port = kPort) {
        return OpenComConfig(port, "", baud, parity, 8, 1, 256, 256);
    }

    PtyPair pty;
};
