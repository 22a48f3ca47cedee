// A temporary folder of files for the readers' tests, on every system.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

class Folder {
public:
    Folder()
    {
        std::mt19937_64 rng(std::random_device{}() ^
                            uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
        path_ =
            std::filesystem::temp_directory_path() / ("tarvo-recorded-" + std::to_string(rng()));
        std::filesystem::create_directories(path_);
    }
    ~Folder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string path() const { return path_.string(); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string write(const std::string& name, const std::string& bytes, bool append = false) const
    {
        std::ofstream out(file(name),
                          std::ios::binary | (append ? std::ios::app : std::ios::trunc));
        out << bytes;
        return file(name);
    }

private:
    std::filesystem::path path_;
};

// The whole of a file ("" when there is none).
inline std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
