#include "support.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test {

namespace {

void remove_tree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(path.c_str(), 0700);
        for (const std::string& name : list_dir(path)) remove_tree(path + "/" + name);
        ::rmdir(path.c_str());
    } else {
        ::unlink(path.c_str());
    }
}

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void append_be(std::string& out, uint64_t bits, int size) {
    for (int i = size - 1; i >= 0; --i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

// Reads both pipes until both are closed, so neither can fill up and stall
// the child. With a deadline (ms since the epoch of steady_clock, 0 for
// none) the child is killed when it has not closed them by then.
bool drain(int out_fd, int err_fd, std::string& out, std::string& err, pid_t pid, int64_t deadline_ms) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = 2;
    bool killed = false;
    char buf[4096];
    while (open_count > 0) {
        int wait_ms = -1;
        if (deadline_ms > 0 && !killed) wait_ms = static_cast<int>(std::max<int64_t>(0, deadline_ms - now_ms()));
        const int ready = ::poll(fds, 2, wait_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return killed;
        }
        if (ready == 0) {  // deadline passed
            ::kill(pid, SIGKILL);
            killed = true;
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    return killed;
}

}  // namespace

TempDir::TempDir() : TempDir([] {
    const char* base = std::getenv("TMPDIR");
    return std::string(base && *base ? base : "/tmp");
}()) {}

TempDir::TempDir(const std::string& base) {
    std::string templ = base + "/fitsquad-test-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() { remove_tree(path_); }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string card(const std::string& text) {
    std::string c = text.substr(0, CARD_LEN);
    c.resize(CARD_LEN, ' ');
    return c;
}

std::string value_card(const std::string& keyword, const std::string& value) {
    std::string c = keyword;
    c.resize(8, ' ');
    c += "= ";
    if (value.size() < 20) c += std::string(20 - value.size(), ' ');
    return card(c + value);
}

std::string header_blocks(const std::vector<std::string>& cards) {
    std::string out;
    for (const std::string& c : cards) out += card(c);
    const size_t blocks = std::max<size_t>(1, (out.size() + FITS_BLOCK - 1) / FITS_BLOCK);
    out.resize(blocks * FITS_BLOCK, ' ');
    return out;
}

std::vector<std::string> basic_cards(int bitpix, long naxis1, long naxis2) {
    return {value_card("SIMPLE", "T"), value_card("BITPIX", std::to_string(bitpix)),
            value_card("NAXIS", "2"), value_card("NAXIS1", std::to_string(naxis1)),
            value_card("NAXIS2", std::to_string(naxis2))};
}

std::string data_blocks(int bitpix, const std::vector<double>& values) {
    std::string out;
    for (double v : values) {
        switch (bitpix) {
        case 8: out.push_back(static_cast<char>(static_cast<uint8_t>(v))); break;
        case 16: append_be(out, static_cast<uint16_t>(static_cast<int16_t>(v)), 2); break;
        case 32: append_be(out, static_cast<uint32_t>(static_cast<int32_t>(v)), 4); break;
        case -32: {
            const float f = static_cast<float>(v);
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            append_be(out, bits, 4);
            break;
        }
        case -64: {
            uint64_t bits;
            std::memcpy(&bits, &v, 8);
            append_be(out, bits, 8);
            break;
        }
        default: throw std::invalid_argument("no test encoding for this BITPIX");
        }
    }
    out.resize((out.size() + FITS_BLOCK - 1) / FITS_BLOCK * FITS_BLOCK, '\0');
    return out;
}

std::string fits_file(int bitpix, long naxis1, long naxis2, const std::vector<double>& values,
                      const std::vector<std::string>& extra) {
    std::vector<std::string> cards = basic_cards(bitpix, naxis1, naxis2);
    cards.insert(cards.end(), extra.begin(), extra.end());
    cards.push_back(card("END"));
    return header_blocks(cards) + data_blocks(bitpix, values);
}

std::string image_of_bitpix(int bitpix, long naxis1, long naxis2) {
    std::vector<std::string> cards = basic_cards(bitpix, naxis1, naxis2);
    cards.push_back(card("END"));
    return header_blocks(cards) + std::string(FITS_BLOCK, '\0');
}

HeaderBlock* chain_from(const std::string& text) {
    HeaderBlock* first = nullptr;
    HeaderBlock** slot = &first;
    for (size_t at = 0; at < text.size(); at += FITS_BLOCK) {
        *slot = new HeaderBlock{nullptr, {}};
        std::memcpy((*slot)->cards, text.data() + at, FITS_BLOCK);
        slot = &(*slot)->link;
    }
    return first;
}

namespace {

// Mapped rather than static: the leak checker of the sanitizer build scans
// every static array at exit, which would cost seconds per test for 512 MiB.
ImagePlane& mapped_plane() {
    void* p = ::mmap(nullptr, sizeof(ImagePlane), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::runtime_error("cannot map an image plane");
    return *static_cast<ImagePlane*>(p);
}

}  // namespace

ImagePlane& plane_a() {
    static ImagePlane& plane = mapped_plane();
    return plane;
}

ImagePlane& plane_b() {
    static ImagePlane& plane = mapped_plane();
    return plane;
}

Process start(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out_pipe[1], STDOUT_FILENO);
        ::dup2(err_pipe[1], STDERR_FILENO);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        const int null_in = ::open("/dev/null", O_RDONLY);
        if (null_in >= 0) ::dup2(null_in, STDIN_FILENO);
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(127);
        // Leak-checker settings meant for the programs rather than the tests.
        if (const char* lsan = std::getenv("FITSQUAD_PROGRAM_LSAN_OPTIONS")) ::setenv("LSAN_OPTIONS", lsan, 1);
        if (options.file_size_limit >= 0) {
            const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                               static_cast<rlim_t>(options.file_size_limit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
        }
        if (options.uid >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(options.uid) != 0 || ::setuid(options.uid) != 0))
            ::_exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    return Process{pid, out_pipe[0], err_pipe[0]};
}

RunResult finish(Process& process, int timeout_ms) {
    RunResult result;
    const int64_t deadline = timeout_ms > 0 ? now_ms() + timeout_ms : 0;
    result.timed_out = drain(process.out_fd, process.err_fd, result.output, result.errors, process.pid, deadline);
    ::close(process.out_fd);
    ::close(process.err_fd);
    int wstatus = 0;
    ::waitpid(process.pid, &wstatus, 0);
    process = Process{};
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return result;
}

RunResult run(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    Process process = start(program, args, options);
    return finish(process, options.timeout_ms);
}

}  // namespace test
