#include "faults.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

std::unique_ptr<Proc> spawnWrapped(Recording& rec, const std::string& script,
                                   const std::vector<std::string>& wrapper,
                                   const std::string& bindir)
{
    fs::create_directories(rec.work());
    {
        std::ofstream s(rec.dir.file("script.txt"));
        s << script;
    }
    // Readable by another user, as tarvo may run as one.
    fs::permissions(rec.dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    fs::permissions(rec.dir.file("script.txt"), fs::perms::owner_read | fs::perms::owner_write |
                                                    fs::perms::group_read | fs::perms::others_read);
    std::vector<std::string> argv = wrapper;
    const std::string tarvo = bindir.empty() ? binpath("tarvo") : bindir + "/tarvo";
    for (const std::string& a :
         {tarvo, std::string("-platform"), std::string("offscreen"), std::string("--com"),
          "1=" + rec.device, std::string("--script"), rec.dir.file("script.txt")})
        argv.push_back(a);
    return std::make_unique<Proc>(argv, rec.work());
}

std::unique_ptr<Proc> startRun(Recording& rec, const Panel& p, const std::string& actions)
{
    rec.startBoard();
    std::unique_ptr<Proc> tarvo = rec.spawn(p.lines() + actions);
    if (!messageShown(*tarvo))
        return nullptr;
    return tarvo;
}

std::vector<std::string> unprivileged()
{
    if (geteuid() != 0)
        return {};
    // nobody, with a home of its own: Qt and fontconfig look there.
    return {"/usr/bin/env",  "HOME=/tmp",     "XDG_RUNTIME_DIR=", "/usr/bin/setpriv",
            "--reuid=65534", "--regid=65534", "--clear-groups",   "--"};
}

std::string publicCopy(const TempDir& dir)
{
    const std::string bin = dir.file("bin");
    fs::create_directories(bin);
    fs::copy_file(binpath("tarvo"), bin + "/tarvo", fs::copy_options::overwrite_existing);
    fs::copy_file(binpath("tarvo.uir"), bin + "/tarvo.uir", fs::copy_options::overwrite_existing);
    for (const std::string& p : {dir.path(), bin, bin + "/tarvo"})
        ::chmod(p.c_str(), 0755);
    ::chmod((bin + "/tarvo.uir").c_str(), 0644);
    return bin;
}

Compared compareWithBoard(const std::string& data, const std::vector<std::string>& sent)
{
    Compared c;
    c.sent = sent.size();
    std::vector<std::string> lines = splitlines(data);
    if (!data.empty() && data.back() != '\n') {
        c.partialTail = true;
        const std::string tail = lines.back();
        lines.pop_back();
        EXPECT_LT(lines.size(), sent.size()) << "an incomplete line after every record sent";
        if (lines.size() < sent.size()) {
            EXPECT_EQ(sent[lines.size()].rfind(tail, 0), 0u)
                << "the incomplete last line '" << tail << "' is no start of '"
                << sent[lines.size()] << "'";
        }
    }
    EXPECT_LE(lines.size(), sent.size()) << "more lines than records sent";
    for (size_t k = 0; k < lines.size() && k < sent.size(); k++)
        if (lines[k] != sent[k]) {
            ADD_FAILURE() << "line " << k + 1 << " is '" << lines[k] << "', the board sent '"
                          << sent[k] << "'";
            return c;
        }
    c.whole = lines.size();
    return c;
}

long recordsWhenClosed(const Recording& rec, double seconds)
{
    static const std::regex idle("idle after (\\d+) records");
    long n = -1;
    waitUntil(
        [&] {
            std::smatch m;
            const std::string log = rec.boardLog();
            if (!std::regex_search(log, m, idle))
                return false;
            n = std::stol(m[1]);
            return true;
        },
        seconds);
    return n;
}

void figures(const std::string& name, double seconds, const std::string& details)
{
    std::printf("[ fault    ] %s: %.2f s; %s\n", name.c_str(), seconds, details.c_str());
    std::fflush(stdout);
}
