#include "store/MediaDirectoryScan.h"

#include <filesystem>
#include <thread>

namespace ovalis {

namespace {

namespace fs = std::filesystem;

void add(const fs::directory_entry &entry, MediaDirectoryScan *scan)
{
    std::error_code code;
    if (!entry.is_directory(code) || entry.is_symlink(code)) {
        scan->files.push_back(entry.path().native());
        return;
    }
    bool hasEntries = false;
    for (fs::directory_iterator it(entry.path(), fs::directory_options::skip_permission_denied, code), end;
         !code && it != end; it.increment(code)) {
        hasEntries = true;
        add(*it, scan);
    }
    if (!hasEntries && !code)
        scan->emptyFolders.push_back(entry.path().native());
}

} // namespace

MediaDirectoryScan MediaDirectoryScan::of(const QString &folder)
{
    MediaDirectoryScan scan;
    std::vector<fs::directory_entry> top;
    std::error_code code;
    for (fs::directory_iterator it(folder.toStdString(), fs::directory_options::skip_permission_denied, code), end;
         !code && it != end; it.increment(code))
        top.push_back(*it);
    const auto walk = [&top](size_t first, MediaDirectoryScan *part) {
        for (size_t i = first; i < top.size(); i += 2)
            add(top[i], part);
    };
    MediaDirectoryScan other;
    std::thread helper(walk, 1, &other);
    walk(0, &scan);
    helper.join();
    scan.files.insert(scan.files.end(), other.files.begin(), other.files.end());
    scan.emptyFolders.insert(scan.emptyFolders.end(), other.emptyFolders.begin(), other.emptyFolders.end());
    return scan;
}

} // namespace ovalis
