// A small read-only FUSE file system for tests: a tree of folders and files
// given on the command line, in which chosen entries' listing, stat or read
// sleep a while, as on a slow or hung network mount.
//
//   corvalent_slow_fs MOUNT_POINT [--delay-ms N] [--never-answer] [--log FILE]
//       [--source NAME] [--folder PATH]... [--file PATH=BYTES]...
//       [--slow-list PATH]... [--slow-stat PATH]... [--slow-read PATH]...
//       [--slow-statfs PATH]... [--gone-at-open PATH]...
//
// PATHs are relative to the root; "." is the root itself. Folders above a
// listed entry exist without being listed. Every file holds the same byte
// pattern, so files of one size are duplicates. The file system reports 1 GiB,
// half of it free. A sleeping call ends early, with EINTR, when its caller is
// killed or interrupted, and with EIO when the file system is unmounted or
// this program is asked to end (SIGTERM). With --never-answer a sleeping call
// ignores its caller's interrupt and sleeps until that end, as on a hard
// network mount whose server is gone. Opening a --gone-at-open file fails
// with ENOENT, though its stat answers. --source names the mount's source in
// the mount table ("/dev/sdz1" makes it look like a disk). With --log, each
// slow call appends "begin KIND PATH PROCESS" and "end KIND PATH PROCESS"
// lines, PROCESS being the caller's process id. The program stays in the
// foreground and ends with its parent.

#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <fuse_lowlevel.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Node {
    bool folder = true;
    off_t size = 0;
    std::vector<std::string> children;
};

struct Tree {
    std::map<std::string, Node> nodes;  // by absolute path: "/", "/a", "/a/b"
    std::set<std::string> slowList, slowStat, slowRead, slowStatfs, goneAtOpen;
    std::chrono::milliseconds delay{30'000};
    bool neverAnswer = false;
    std::FILE* log = nullptr;
    std::mutex logLock;
};

Tree tree;

std::string absolute(const std::string& relative)
{
    std::string path = relative;
    while (!path.empty() && path.front() == '/') path.erase(0, 1);
    while (!path.empty() && path.back() == '/') path.pop_back();
    if (path.empty() || path == ".") return "/";
    return "/" + path;
}

std::string parentOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Adds `path` and every folder above it.
void add(const std::string& path, bool folder, off_t size)
{
    if (tree.nodes.count(path) != 0) return;
    tree.nodes[path] = Node{folder, size, {}};
    if (path == "/") return;
    const auto parent = parentOf(path);
    add(parent, true, 0);
    tree.nodes[parent].children.push_back(path.substr(path.rfind('/') + 1));
}

// The process of the calling thread: the kernel names the thread.
long callerProcess()
{
    const auto thread = fuse_get_context()->pid;
    std::ifstream status("/proc/" + std::to_string(thread) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("Tgid:")) return std::stol(line.substr(5));
    return thread;
}

void note(const char* what, const char* kind, const std::string& path, long process)
{
    if (tree.log == nullptr) return;
    const std::lock_guard lock(tree.logLock);
    std::fprintf(tree.log, "%s %s %s %ld\n", what, kind, path.c_str(), process);
    std::fflush(tree.log);
}

// Sleeps the configured time when `path` is in `slow`; 0, or the error that
// ended the sleep early.
int sleepIf(const std::set<std::string>& slow, const char* kind, const char* path)
{
    if (slow.count(path) == 0) return 0;
    const long process = callerProcess();
    note("begin", kind, path, process);
    const auto until = std::chrono::steady_clock::now() + tree.delay;
    int result = 0;
    fuse_session* session = fuse_get_session(fuse_get_context()->fuse);
    while (tree.neverAnswer || std::chrono::steady_clock::now() < until) {
        if (!tree.neverAnswer && fuse_interrupted()) {
            result = -EINTR;
            break;
        }
        if (fuse_session_exited(session)) {
            result = -EIO;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    note("end", kind, path, process);
    return result;
}

const Node* find(const char* path)
{
    const auto it = tree.nodes.find(path);
    return it == tree.nodes.end() ? nullptr : &it->second;
}

int getAttributes(const char* path, struct stat* attributes, fuse_file_info*)
{
    const Node* node = find(path);
    if (node == nullptr) return -ENOENT;
    if (const int error = sleepIf(tree.slowStat, "stat", path)) return error;
    *attributes = {};
    attributes->st_mode = node->folder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    attributes->st_nlink = node->folder ? 2 : 1;
    attributes->st_size = node->size;
    attributes->st_blocks = (node->size + 511) / 512;
    attributes->st_uid = ::getuid();
    attributes->st_gid = ::getgid();
    return 0;
}

int readFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags)
{
    const Node* node = find(path);
    if (node == nullptr) return -ENOENT;
    if (!node->folder) return -ENOTDIR;
    if (const int error = sleepIf(tree.slowList, "list", path)) return error;
    fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const auto& name : node->children) fill(buffer, name.c_str(), nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int figures(const char* path, struct statvfs* figures)
{
    if (find(path) == nullptr) return -ENOENT;
    if (const int error = sleepIf(tree.slowStatfs, "statfs", path)) return error;
    *figures = {};
    figures->f_bsize = figures->f_frsize = 4096;
    figures->f_blocks = 262'144;
    figures->f_bfree = figures->f_bavail = 131'072;
    figures->f_namemax = 255;
    return 0;
}

int openFile(const char* path, fuse_file_info* info)
{
    const Node* node = find(path);
    if (node == nullptr) return -ENOENT;
    if (node->folder) return -EISDIR;
    if (tree.goneAtOpen.count(path) != 0) return -ENOENT;
    if ((info->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    return 0;
}

int readFile(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info*)
{
    const Node* node = find(path);
    if (node == nullptr) return -ENOENT;
    if (const int error = sleepIf(tree.slowRead, "read", path)) return error;
    if (offset >= node->size) return 0;
    const auto count = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(size), node->size - offset));
    for (size_t i = 0; i < count; ++i) buffer[i] = static_cast<char>('a' + (offset + i) % 26);
    return static_cast<int>(count);
}

int usage(const char* message)
{
    std::fprintf(stderr, "corvalent_slow_fs: %s\n", message);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    // Never outlive the test that started this program.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (argc < 2) return usage("no mount point");
    const std::string mountPoint = argv[1];
    std::string source = "corvalent_slow_fs";
    add("/", true, 0);
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--never-answer") {
            tree.neverAnswer = true;
            continue;
        }
        if (i + 1 >= argc) return usage(("no value for " + option).c_str());
        const std::string value = argv[++i];
        if (option == "--delay-ms") {
            tree.delay = std::chrono::milliseconds(std::stoll(value));
        } else if (option == "--log") {
            tree.log = std::fopen(value.c_str(), "a");
            if (tree.log == nullptr) return usage(("cannot open " + value).c_str());
        } else if (option == "--source") {
            if (value.empty() || value.find_first_of(", ") != std::string::npos)
                return usage("--source takes a plain name");
            source = value;
        } else if (option == "--folder") {
            add(absolute(value), true, 0);
        } else if (option == "--file") {
            const auto equals = value.rfind('=');
            if (equals == std::string::npos) return usage("--file takes PATH=BYTES");
            add(absolute(value.substr(0, equals)), false, std::stoll(value.substr(equals + 1)));
        } else if (option == "--slow-list") {
            tree.slowList.insert(absolute(value));
        } else if (option == "--slow-stat") {
            tree.slowStat.insert(absolute(value));
        } else if (option == "--slow-read") {
            tree.slowRead.insert(absolute(value));
        } else if (option == "--slow-statfs") {
            tree.slowStatfs.insert(absolute(value));
        } else if (option == "--gone-at-open") {
            tree.goneAtOpen.insert(absolute(value));
        } else {
            return usage(("unknown option " + option).c_str());
        }
    }

    fuse_operations operations{};
    operations.getattr = getAttributes;
    operations.readdir = readFolder;
    operations.open = openFile;
    operations.read = readFile;
    operations.statfs = figures;

    // Foreground, many threads (sleeping calls must not hold the others), no
    // attribute or entry caching (every stat reaches this program), and
    // unmounted by fusermount3 should this program be killed.
    std::vector<std::string> arguments = {
        "corvalent_slow_fs", mountPoint, "-f", "-o",
        "ro,auto_unmount,fsname=" + source + ",subtype=corvalent_slow_fs,"
        "attr_timeout=0,entry_timeout=0,negative_timeout=0,max_idle_threads=64,max_threads=256"};
    std::vector<char*> pointers;
    for (auto& argument : arguments) pointers.push_back(argument.data());
    return fuse_main(static_cast<int>(pointers.size()), pointers.data(), &operations, nullptr);
}
