// Makes a seeded tree of small files for the side-by-side benchmarks:
// `corvalent_make_tree FOLDER FILES [SEED]`. Folders of ten subfolders of a
// hundred files each, a few levels deeper here and there, sizes from 0 to
// 64 KiB, one file in fifty a copy of another (duplicates to find) and one in
// two hundred a hard link. The same arguments always make the same tree; an
// existing tree with a matching stamp is kept.
//
// `corvalent_make_tree --chain FOLDER DEPTH` makes a chain of DEPTH folders,
// each opened from the one above so that no path limit applies, and
// `--siblings FOLDER COUNT` that many empty folders side by side: the two
// shapes of one count of folders.
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The chain or row of folders, or nothing when FOLDER already holds it.
int makeShape(const std::string& shape, const fs::path& root, long count)
{
    const std::string stamp = shape + " " + std::to_string(count) + "\n";
    std::ifstream existing(root / ".complete");
    if (std::string line; std::getline(existing, line) && line + "\n" == stamp) return 0;
    std::error_code error;
    fs::remove_all(root, error);
    fs::create_directories(root);
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (long i = 0; i < count && fd >= 0; ++i) {
        const auto name = shape == "--chain" ? std::string("d") : "d" + std::to_string(i);
        if (::mkdirat(fd, name.c_str(), 0755) != 0) break;
        if (shape != "--chain") continue;
        const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    if (fd < 0) {
        std::perror(root.c_str());
        return 1;
    }
    ::close(fd);
    std::ofstream(root / ".complete") << stamp;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && (std::string(argv[1]) == "--chain" || std::string(argv[1]) == "--siblings"))
        return makeShape(argv[1], argv[2], std::stol(argv[3]));
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: corvalent_make_tree FOLDER FILES [SEED]\n";
        return 2;
    }
    const fs::path root = argv[1];
    const long files = std::stol(argv[2]);
    const unsigned seed = argc == 4 ? static_cast<unsigned>(std::stoul(argv[3])) : 1;
    const std::string stamp = std::to_string(files) + " files, seed " + std::to_string(seed) + "\n";
    {
        std::ifstream existing(root / ".complete");
        std::string line;
        if (std::getline(existing, line) && line + "\n" == stamp) return 0;
    }
    std::error_code error;
    fs::remove_all(root, error);

    std::mt19937 random(seed);
    std::vector<char> content(64 * 1'024);
    for (auto& byte : content) byte = static_cast<char>(random());
    std::vector<fs::path> made;
    made.reserve(static_cast<std::size_t>(files));
    for (long index = 0; index < files; ++index) {
        const long top = index / 1'000;
        const long middle = index / 100 % 10;
        fs::path folder = root / ("top" + std::to_string(top)) / ("sub" + std::to_string(middle));
        if (top % 7 == 3) folder /= "deeper/still";
        if (index % 100 == 0) fs::create_directories(folder);
        const auto path = folder / ("file" + std::to_string(index % 100) + ".dat");
        if (index % 200 == 199 && !made.empty()) {
            fs::create_hard_link(made[random() % made.size()], path);
            continue;
        }
        // Copies start from the same offset and length, so they are equal.
        const bool copy = index % 50 == 49;
        const std::size_t length = copy ? 20'000 : random() % content.size();
        const std::size_t offset = copy ? 0 : random() % (content.size() - length + 1);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || ::write(fd, content.data() + offset, length) != static_cast<ssize_t>(length)) {
            std::perror(path.c_str());
            return 1;
        }
        ::close(fd);
        made.push_back(path);
    }
    std::ofstream(root / ".complete") << stamp;
    return 0;
}
