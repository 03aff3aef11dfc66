// Collecting time of the folder walker against `find DIR -type f`, both with a warm cache.
//   bench_walk FOLDER [ROUNDS]
// Builds a deterministic tree of about 200,000 files in FOLDER the first time and reuses it after.

#include "CandidateTable.h"
#include "FolderWalker.h"
#include "SearchHost.h"

#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char **environ;

namespace {

constexpr int FanOut = 6;          // subfolders per folder
constexpr int Levels = 5;          // folder levels below the top
constexpr int FilesPerFolder = 21; // 9,331 folders: 195,951 files
constexpr int ChainDepth = 100;    // one narrow chain, a file at each level
constexpr const char *Marker = "/.twinfold-bench-tree-1";

class NullHost final : public SearchHost
{
public:
    void enterPhase(SearchPhase, const QString &) override {}
    void setProgress(int) override {}
    void pumpEvents() override {}
    bool stopRequested() override { return false; }
    void showMessage(const QString &, const QString &) override {}
    bool askYesNo(const QString &, const QString &) override { return true; }
};

bool writeFile(const std::string &path, std::size_t length)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::string contents(length, 'x');
    for (std::size_t i = 0; i < length; ++i)
        contents[i] = static_cast<char>('a' + (path.size() + i) % 26);
    const bool ok = ::write(fd, contents.data(), length) == static_cast<ssize_t>(length);
    return ::close(fd) == 0 && ok;
}

bool fillFolder(const std::string &folder, int level, std::size_t &files)
{
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        return false;
    for (int i = 0; i < FilesPerFolder; ++i, ++files)
        // Most files empty (no disk blocks); every seventh holds a few bytes.
        // Every tenth name is not plain ASCII, as in real photo folders.
        if (!writeFile(folder + (i % 10 == 3 ? "/\u00e9t\u00e9-" : "/file") + std::to_string(i) + ".jpg",
                       files % 7 == 0 ? 1 + files % 64 : 0))
            return false;
    if (level == Levels)
        return true;
    for (int i = 0; i < FanOut; ++i)
        if (!fillFolder(folder + "/dir" + std::to_string(i), level + 1, files))
            return false;
    return true;
}

bool buildTree(const std::string &root)
{
    if (::access((root + Marker).c_str(), F_OK) == 0)
        return true;
    std::fprintf(stderr, "building the tree in %s ...\n", root.c_str());
    std::size_t files = 0;
    if (!fillFolder(root, 0, files))
        return false;
    std::string chain = root + "/chain";
    for (int depth = 0; depth < ChainDepth; ++depth, chain += "/c") {
        if (::mkdir(chain.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (!writeFile(chain + "/f", 0))
            return false;
        ++files;
    }
    std::fprintf(stderr, "%zu files\n", files);
    return writeFile(root + Marker, 0);
}

using Clock = std::chrono::steady_clock;

// find as asked, and find made to stat every file as the walker must (size and identity).
double runFind(const std::string &root, bool withStat)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char *plain[] = {"find", root.c_str(), "-type", "f", nullptr};
    const char *statting[] = {"find", root.c_str(), "-type", "f", "-printf", "%s %i\n", nullptr};
    const char **argv = withStat ? statting : plain;
    const auto start = Clock::now();
    pid_t pid = 0;
    int status = 0;
    const bool ran = posix_spawnp(&pid, "find", &actions, nullptr, const_cast<char **>(argv), environ) == 0
        && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const auto end = Clock::now();
    posix_spawn_file_actions_destroy(&actions);
    return ran ? std::chrono::duration<double, std::milli>(end - start).count() : -1;
}

double runWalk(const std::string &root, std::size_t &collected)
{
    NullHost host;
    CandidateTable table;
    const auto start = Clock::now();
    AnalyzeFolder(QString::fromStdString(root), table, host);
    const auto end = Clock::now();
    collected = table.count();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [ROUNDS]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!buildTree(root)) {
        std::fprintf(stderr, "cannot build the tree in %s\n", root.c_str());
        return 1;
    }

    std::size_t collected = 0;
    runFind(root, false); // warm the cache
    runWalk(root, collected);
    std::vector<double> walks, finds, statFinds;
    for (int i = 0; i < rounds; ++i) {
        finds.push_back(runFind(root, false));
        statFinds.push_back(runFind(root, true));
        walks.push_back(runWalk(root, collected));
    }
    if (std::min(*std::min_element(finds.begin(), finds.end()), *std::min_element(statFinds.begin(), statFinds.end()))
        < 0) {
        std::fprintf(stderr, "find failed\n");
        return 1;
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double walk = median(walks), find = median(finds), statFind = median(statFinds);
    std::printf("files collected              %zu\n", collected);
    std::printf("walker                       %8.1f ms\n", walk);
    std::printf("find -type f                 %8.1f ms   walker/find %.2f\n", find, walk / find);
    std::printf("find -type f -printf '%%s %%i' %8.1f ms   walker/find %.2f\n", statFind, walk / statFind);
    std::printf("peak memory                  %ld MiB (medians of %d rounds, warm cache)\n", usage.ru_maxrss / 1024,
                rounds);
    return 0;
}
