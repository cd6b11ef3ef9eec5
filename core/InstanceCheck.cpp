#include "core/InstanceCheck.h"

#include <cctype>
#include <climits>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExecutableOf(const std::string& procEntry)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink((procEntry + "/exe").c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};  // a process we may not look at is skipped
    std::string path(target, size_t(n));
    // The kernel marks an executable replaced on disk.
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    return path;
}

}  // namespace

int CountProcessesNamed(const std::string& name, uid_t user, const std::string& procRoot)
{
    DIR* dir = ::opendir(procRoot.c_str());
    if (!dir)
        return 0;
    int count = 0;
    const std::string prefix = procRoot + '/';
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this function's own.
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view pid = entry->d_name;
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0])))
            continue;
        const std::string process = std::string(prefix).append(pid);
        struct stat owner {};
        if (::stat(process.c_str(), &owner) != 0 || owner.st_uid != user)
            continue;
        if (BaseName(ExecutableOf(process)) == name)
            ++count;
    }
    ::closedir(dir);
    return count;
}

bool IsAnotherInstanceRunning()
{
    const std::string self = BaseName(ExecutableOf("/proc/self"));
    return !self.empty() && CountProcessesNamed(self, ::getuid()) > 1;
}
