// The settings tarvo keeps between runs go under $XDG_CONFIG_HOME: a test
// program that runs the window in its own process points that at a folder of
// its own, so no test reads or writes the user's settings, or another test's.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

// Makes the folder once per process (removed when the process ends) and
// returns it.
inline const std::string& usePrivateConfigHome()
{
    struct Home {
        std::string path;
        Home()
        {
            std::string tmpl =
                (std::filesystem::temp_directory_path() / "tarvo-config-XXXXXX").string();
            if (mkdtemp(tmpl.data()))
                path = tmpl;
            // A folder that cannot be made still keeps the user's own out of reach.
            setenv("XDG_CONFIG_HOME", path.empty() ? "/nonexistent/tarvo-test" : path.c_str(), 1);
        }
        ~Home()
        {
            std::error_code ec;
            if (!path.empty())
                std::filesystem::remove_all(path, ec);
        }
    };
    static const Home home;
    return home.path;
}
