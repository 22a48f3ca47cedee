#include "run_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace tarvo::recorded {

namespace {

// The run's own part of a file name, "" for data.txt and "-20261207-180233"
// for data-20261207-180233.txt, when `name` is the data file, the report or
// the description of a run; false for any other name.
bool runSuffix(const std::string& name, std::string& suffix)
{
    static const struct {
        const char* stem;
        const char* ext;
    } kinds[] = {{"data", ".txt"}, {"config", ".txt"}, {"run", ".json"}};
    for (const auto& k : kinds) {
        const std::string stem = k.stem, ext = k.ext;
        if (name.size() < stem.size() + ext.size() || name.compare(0, stem.size(), stem) != 0 ||
            name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
            continue;
        suffix = name.substr(stem.size(), name.size() - stem.size() - ext.size());
        if (suffix.empty() || suffix[0] == '-')
            return true;
    }
    return false;
}

bool isFile(const fs::path& p)
{
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

std::string keptRuns(const fs::path& folder)
{
    std::vector<std::string> kept;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::string suffix;
        if (name.rfind("data-", 0) == 0 && runSuffix(name, suffix))
            kept.push_back(name);
    }
    std::sort(kept.begin(), kept.end());
    std::string list;
    for (const auto& k : kept)
        list += (list.empty() ? "" : ", ") + k;
    return list;
}

}  // namespace

bool findRun(const std::string& path, RunFiles& out, std::string& why)
{
    out = RunFiles{};
    std::error_code ec;
    const fs::path p(path);
    const fs::file_status st = fs::status(p, ec);
    if (!fs::exists(st)) {
        why = "no such file or folder";
        return false;
    }
    fs::path folder;
    std::string suffix;
    if (fs::is_directory(st)) {
        folder = p;
        if (!isFile(folder / "data.txt")) {
            const std::string kept = keptRuns(folder);
            why = "no data.txt in this folder" +
                  (kept.empty() ? std::string() : " (runs kept here: " + kept + ")");
            return false;
        }
    } else {
        folder = p.parent_path();
        if (!runSuffix(p.filename().string(), suffix)) {
            out.data = path;  // a data file of another name: nothing beside it is its own
            return true;
        }
    }
    const auto at = [&](const std::string& name) {
        return folder.empty() ? fs::path(name) : folder / name;
    };
    const fs::path data = at("data" + suffix + ".txt");
    if (!isFile(data)) {
        why = "no " + data.filename().string() + " beside it";
        return false;
    }
    out.data = data.string();
    if (isFile(at("config" + suffix + ".txt")))
        out.report = at("config" + suffix + ".txt").string();
    if (isFile(at("run" + suffix + ".json")))
        out.run = at("run" + suffix + ".json").string();
    return true;
}

}  // namespace tarvo::recorded
