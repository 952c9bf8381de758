// Plays another local user who can write into the output folder while a batch converts:
//   linkracer DIR VICTIM MODE
// It walks DIR and every folder below it (never following a link) over and over, and swaps
// each name that MODE picks for a symbolic link to VICTIM, each name once:
//   work     hidden work files (".*.wt-XXXXXX*"), as soon as they appear
//   outputs  the files there when it started, and every empty file that appears later
//            (claims), so an output a job has put in place is left as it is
//   folders  every folder that appears below DIR: moved aside to NAME.moved, then the link
// VICTIM is a file for work and outputs, a folder for folders. "ready" goes to standard
// output after the first walk, then one line per swap. It runs until it is terminated.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopping = 0;

void onTerm(int)
{
    stopping = 1;
}

bool isWorkFile(const std::string &name)
{
    const size_t marker = name.find(".wt-");
    return name.size() > 1 && name[0] == '.' && marker != std::string::npos;
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Racer
{
    std::string victim;
    std::string mode;
    std::set<std::string> done; // swapped, or there at the start (outputs)
    bool firstWalk = true;

    void swap(const std::string &path, bool folder)
    {
        done.insert(path);
        if (folder) {
            if (::rename(path.c_str(), (path + ".moved").c_str()) != 0)
                return;
        } else if (::unlink(path.c_str()) != 0) {
            return;
        }
        if (::symlink(victim.c_str(), path.c_str()) == 0)
            std::printf("swapped %s\n", path.c_str());
        std::fflush(stdout);
    }

    void walk(const std::string &dir)
    {
        DIR *stream = ::opendir(dir.c_str());
        if (!stream)
            return;
        std::vector<std::string> names;
        while (const dirent *item = ::readdir(stream)) {
            const std::string name = item->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(stream);
        for (const std::string &name : names) {
            const std::string path = dir + '/' + name;
            struct stat st;
            if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode))
                continue;
            const bool folder = S_ISDIR(st.st_mode);
            if (folder && mode == "folders" && !done.count(path) && !endsWith(name, ".moved")) {
                swap(path, true);
                continue;
            }
            if (folder) {
                walk(path);
                continue;
            }
            if (done.count(path) || !S_ISREG(st.st_mode))
                continue;
            if (mode == "work" && isWorkFile(name))
                swap(path, false);
            else if (mode == "outputs" && !isWorkFile(name) && (firstWalk || st.st_size == 0))
                swap(path, false);
        }
    }
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: linkracer DIR VICTIM work|outputs|folders\n");
        return 2;
    }
    std::signal(SIGTERM, onTerm);
    Racer racer;
    racer.victim = argv[2];
    racer.mode = argv[3];
    while (!stopping) {
        racer.walk(argv[1]);
        if (racer.firstWalk) {
            racer.firstWalk = false;
            std::printf("ready\n");
            std::fflush(stdout);
        }
        ::usleep(200);
    }
    return 0;
}
