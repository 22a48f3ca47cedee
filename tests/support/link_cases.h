// Bytes and link settings through the serial layer, as cases shared by every
// platform's test: a port number mapped to a line whose far end the test
// holds (serial_fixture.h). Each platform's test file instantiates them over
// its far end: a class with
//
//   static void leaveCooked(PtyPair& pty);
//       leaves on the line what a previous program might have: flow
//       control, character translation
//   static void send(PtyPair& pty, const std::vector<uint8_t>& bytes,
//                    const std::atomic<bool>& stop);
//       sends the bytes from the far end; gives up once `stop` is set
//   static constexpr long kStreamBaud;
//   static constexpr std::size_t kStreamBytes;
//       the rate and length of a stream several times the port's buffer
//
// and includes this header once.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "../serial/serial_fixture.h"

namespace link_cases {

template <class FarEnd>
class Link : public PtyPort {
};

TYPED_TEST_SUITE_P(Link);

TYPED_TEST_P(Link, EveryByteValuePassesBothWaysOnAPortLeftCooked)
{
    const int kPort = PtyPort::kPort;
    PtyPair& pty = this->pty;
    TypeParam::leaveCooked(pty);
    ASSERT_EQ(this->open(), 0) << tarvo::rt::lastComError(kPort);

    for (int b = 0; b < 256; ++b)
        ASSERT_EQ(ComWrtByte(kPort, b), 1);
    EXPECT_EQ(pty.read(256, 5.0), allByteValues());

    // From the board: once in one block read, once byte by byte; NUL, XON,
    // XOFF, CR and LF among them must neither vanish nor change.
    pty.write(allByteValues());
    pty.write(allByteValues());
    std::vector<uint8_t> block(256);
    ASSERT_EQ(ComRd(kPort, block.data(), 256), 256);
    EXPECT_EQ(block, allByteValues());
    std::vector<uint8_t> single;
    for (int i = 0; i < 256; ++i) {
        const int b = ComRdByte(kPort);
        ASSERT_GE(b, 0) << "byte " << i << ": " << ComErrorText(b);
        single.push_back(static_cast<uint8_t>(b));
    }
    EXPECT_EQ(single, allByteValues());
    // Nothing came back to the board: no echo.
    EXPECT_TRUE(pty.read(1, 0.2).empty());
}

TYPED_TEST_P(Link, AStreamLongerThanThePortBufferArrivesWholeAndInOrder)
{
    const int kPort = PtyPort::kPort;
    ASSERT_EQ(this->open(TypeParam::kStreamBaud, 2), 0) << tarvo::rt::lastComError(kPort);
    constexpr std::size_t kTotal = TypeParam::kStreamBytes;  // several refills of the 64 KiB buffer
    auto pattern = [](std::size_t i) { return static_cast<uint8_t>(i * 7 + i / 251); };
    std::vector<uint8_t> bytes(kTotal);
    for (std::size_t i = 0; i < kTotal; ++i)
        bytes[i] = pattern(i);
    std::atomic<bool> stop{false};
    std::thread board([&] { TypeParam::send(this->pty, bytes, stop); });
    std::size_t good = 0;
    for (std::size_t i = 0; i < kTotal; ++i) {
        const int b = ComRdByte(kPort);
        if (b != pattern(i)) {
            ADD_FAILURE() << "byte " << i << " is " << b << ", expected " << int(pattern(i));
            break;
        }
        ++good;
    }
    stop = true;
    if (good < kTotal)
        CloseCom(kPort);  // lets a far end blocked in its write go
    board.join();
    EXPECT_EQ(good, kTotal);
}

TYPED_TEST_P(Link, SevenDataBitsAreRefusedWhereTheDeviceCannotTakeThem)
{
    // A pty always carries 8 bits: the setting does not take, the open
    // reports it and leaves nothing open.
    const int kPort = PtyPort::kPort;
    EXPECT_EQ(OpenComConfig(kPort, "", 19200, 0, 7, 1, 256, 256), COM_ERR_CONFIG);
    const std::string error = tarvo::rt::lastComError(kPort);
    EXPECT_NE(error.find("data bits"), std::string::npos) << error;
    EXPECT_EQ(ComRdByte(kPort), COM_ERR_NOT_OPEN);
    EXPECT_EQ(this->open(), 0);  // the device is free again
}

REGISTER_TYPED_TEST_SUITE_P(Link, EveryByteValuePassesBothWaysOnAPortLeftCooked,
                            AStreamLongerThanThePortBufferArrivesWholeAndInOrder,
                            SevenDataBitsAreRefusedWhereTheDeviceCannotTakeThem);

}  // namespace link_cases
