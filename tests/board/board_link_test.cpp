// tarvo-board's links, piece by piece on real descriptors: the pty link's
// view of the recorder's opens, closes, flushes and writes, and the output
// that goes on a line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "board_streams.h"
#include "link_output.h"
#include "pty_link.h"

using namespace std::chrono_literals;
using tarvo::board::BoardModel;
using tarvo::board::LinkOutput;
using tarvo::board::PtyLink;
using Access = PtyLink::Access;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes kBlock2000 = tarvo::board::test::bytes(tarvo::board::test::k6ch2000);

// Whether `fd` becomes readable within 5 s.
bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
}

Bytes drain(int fd)
{
    Bytes out;
    uint8_t buf[4096];
    while (readable(fd)) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 100) != 1)
            break;
    }
    return out;
}

}  // namespace

TEST(PtyLink, CountsTheRecordersOpenersFromTheFirstOpenToTheLastClose)
{
    PtyLink link;
    ASSERT_TRUE(link.open(""));
    std::vector<Access> seen;
    const auto note = [&](Access a) { seen.push_back(a); };

    // inotify merges an event into an identical one not read yet: each open
    // is read before the next, as the board's loop does.
    const int first = open(link.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(first, 0);
    ASSERT_TRUE(readable(link.watchFd()));
    EXPECT_FALSE(link.takeAccess(note));
    const int second = open(link.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(second, 0);
    ASSERT_TRUE(readable(link.watchFd()));
    EXPECT_FALSE(link.takeAccess(note));
    EXPECT_EQ(seen, (std::vector<Access>{Access::FirstOpen, Access::Open}));
    EXPECT_EQ(link.openers(), 2);

    close(first);
    ASSERT_TRUE(readable(link.watchFd()));
    link.takeAccess(note);
    EXPECT_EQ(link.openers(), 1);
    close(second);
    ASSERT_TRUE(readable(link.watchFd()));
    EXPECT_FALSE(link.takeAccess(note)) << "no exclusive use was left";
    EXPECT_EQ(seen, (std::vector<Access>{Access::FirstOpen, Access::Open, Access::LastClose}));
    EXPECT_EQ(link.openers(), 0);
}

TEST(PtyLink, TheRecordersWritesAndItsFlushArriveAsPackets)
{
    PtyLink link;
    ASSERT_TRUE(link.open(""));
    const int port = open(link.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(port, 0);
    Bytes data;
    ASSERT_EQ(write(port, "AB", 2), 2);
    ASSERT_TRUE(readable(link.fd()));
    EXPECT_EQ(link.readPacket(&data), PtyLink::Packet::Data);
    EXPECT_EQ(data, (Bytes{'A', 'B'}));

    tcflush(port, TCIFLUSH);
    ASSERT_TRUE(readable(link.fd()));
    EXPECT_EQ(link.readPacket(&data), PtyLink::Packet::Flush);
    EXPECT_EQ(link.readPacket(&data), PtyLink::Packet::None);
    close(port);
}

TEST(PtyLink, WhatTheRecorderHasNotReadCanBeWithdrawn)
{
    PtyLink link;
    ASSERT_TRUE(link.open(""));
    ASSERT_EQ(write(link.fd(), "xyz", 3), 3);
    // Written bytes reach the slave's queue asynchronously.
    for (int i = 0; i < 500 && link.unread() < 3; ++i)
        usleep(10000);
    EXPECT_EQ(link.unread(), 3);
    link.withdrawUnread();
    EXPECT_EQ(link.unread(), 0);
}

TEST(PtyLink, TheSymlinkPointsAtTheSlaveUntilTheLinkCloses)
{
    const std::string name = "/tmp/tarvo-link-test-" + std::to_string(getpid());
    {
        PtyLink link;
        ASSERT_TRUE(link.open(name));
        char target[256] = {};
        ASSERT_GT(readlink(name.c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), link.slavePath());
    }
    EXPECT_NE(access(name.c_str(), F_OK), 0);
}

TEST(LinkOutput, TheHandshakeGoesOutFirstThenTheRecordsUpToTheLimit)
{
    tarvo::board::Faults flood;
    flood.flood = true;
    flood.noise = true;
    BoardModel model(flood);
    LinkOutput output(model, 5);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    FILE* dump = std::tmpfile();
    ASSERT_NE(dump, nullptr);

    output.take();
    EXPECT_FALSE(output.handshakeWritten());
    output.write(pipeFds[1], dump);
    EXPECT_TRUE(output.allWritten());
    EXPECT_EQ(drain(pipeFds[0]), BoardModel(flood).takeOutput()) << "the noise";

    model.lineBreak();
    model.takeOutput();
    model.receive(kBlock2000.data(), kBlock2000.size());
    model.receive(&tarvo::board::kStartByte, 1);
    output.received();
    output.take();
    output.write(pipeFds[1], dump);
    const Bytes sent = drain(pipeFds[0]);
    const Bytes records = tarvo::board::test::recordBytes(model, 1, 5);
    ASSERT_GE(sent.size(), records.size());
    EXPECT_EQ(Bytes(sent.end() - std::ptrdiff_t(records.size()), sent.end()), records)
        << "after the checksum";
    EXPECT_EQ(sent.size(), records.size() + 1);
    EXPECT_TRUE(output.recordsDone());
    EXPECT_FALSE(output.moreToFlood());

    output.take();
    EXPECT_EQ(model.log().back(), "done after record 5");
    std::fflush(dump);
    std::rewind(dump);
    Bytes dumped(records.size() + 1);
    EXPECT_EQ(std::fread(dumped.data(), 1, dumped.size(), dump), records.size()) << "records only";
    dumped.resize(records.size());
    EXPECT_EQ(dumped, records);
    std::fclose(dump);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

TEST(LinkOutput, APacedStreamWaitsForItsNextRecord)
{
    BoardModel model = tarvo::board::test::streamingBoard(kBlock2000);
    LinkOutput output(model, 0);
    output.received();  // the start byte anchors the schedule
    const auto before = LinkOutput::Clock::now();
    output.take();
    EXPECT_GE(model.recordNumber(), 1u);
    EXPECT_FALSE(output.recordsWritten());
    // The records due by now are out: the next one falls due later.
    const auto due = output.nextDue();
    ASSERT_TRUE(due);
    EXPECT_GT(*due, before);
    output.dropRecords();
    EXPECT_TRUE(output.recordsWritten());
}
