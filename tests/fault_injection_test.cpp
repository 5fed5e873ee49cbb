// The programs under failures while they write: a disk that fills up, a
// read-only folder, files that may be written but not replaced, targets that
// are symbolic links, a failed flush or lock, a process interrupted by a
// signal or killed at random points. Whatever happens, every file is either as it was or exactly what
// an undisturbed run writes, and no temporary file is left behind except by
// a killed process (named ".<name>.<pid>.tmp" with its pid).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support.hpp"

namespace {

using Files = std::map<std::string, std::string>;  // name -> bytes, regular files of one folder

Files files_of(const std::string& dir) {
    Files files;
    for (const std::string& name : test::list_dir(dir)) {
        struct stat st {};
        if (::lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            files[name] = test::read_file(dir + "/" + name);
    }
    return files;
}

void put_files(const std::string& dir, const Files& files) {
    for (const auto& [name, bytes] : files) test::write_file(dir + "/" + name, bytes);
}

std::vector<double> ramp(long n1, long n2, int seed) {
    std::vector<double> v(static_cast<size_t>(n1 * n2));
    for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>((i * 7 + static_cast<size_t>(seed)) % 1000) / 4.0;
    return v;
}

// One program and the files it works on.
struct Job {
    const char* name;
    const char* program;
    std::vector<std::string> args;
    long naxis1, naxis2;  // of the image
};

// The image img.fits and its four channel files (quadmerge needs them; the
// others leave or replace them).
Files inputs(const Job& job) {
    Files files{{"img.fits", test::fits_file(-32, job.naxis1, job.naxis2, ramp(job.naxis1, job.naxis2, 1))}};
    const char letters[] = "abcd";
    for (int c = 0; c < 4; ++c)
        files[std::string("img.") + letters[c] + ".fits"] =
            test::fits_file(-32, job.naxis1 / 4, job.naxis2, ramp(job.naxis1 / 4, job.naxis2, c + 2));
    return files;
}

// What an undisturbed run leaves; `took` receives how long the run took.
Files reference(const Job& job, std::chrono::microseconds* took = nullptr) {
    test::TempDir dir;
    put_files(dir.path(), inputs(job));
    const auto t0 = std::chrono::steady_clock::now();
    const test::RunResult r = test::run(job.program, job.args, {dir.path()});
    if (took) *took = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0);
    EXPECT_EQ(r.status, 0) << r.output;
    return files_of(dir.path());
}

// Every file is as it was or as the undisturbed run left it; a failed run of
// an in-place writer changes nothing. Temporary files are allowed only from
// `killed_pid` (and are removed).
// Returns how many temporary files a killed process left.
int expect_old_or_new(const std::string& dir, const Files& before, const Files& after_ok, int status,
                      bool in_place, int killed_pid = 0) {
    int leftovers = 0;
    const std::string leftover_end = "." + std::to_string(killed_pid) + ".tmp";
    for (const auto& [name, bytes] : files_of(dir)) {
        if (killed_pid > 0 && name[0] == '.' && name.size() > leftover_end.size() &&
            name.compare(name.size() - leftover_end.size(), leftover_end.size(), leftover_end) == 0) {
            ::unlink((dir + "/" + name).c_str());
            ++leftovers;
            continue;
        }
        const auto old = before.find(name);
        const auto made = after_ok.find(name);
        const bool is_old = old != before.end() && old->second == bytes;
        const bool is_new = made != after_ok.end() && made->second == bytes;
        EXPECT_TRUE(is_old || is_new) << name << " is neither the old nor the new file";
        if (status == 1 && in_place) {
            EXPECT_TRUE(is_old) << name << " changed by a failed run";
        }
    }
    return leftovers;
}

const Job kJobs[] = {
    {"boxpatch", test::programs::BOXPATCH, {"-b", "2", "250", "2", "100", "img.fits"}, 256, 128},
    {"quadmerge", test::programs::QUADMERGE, {"img.fits"}, 256, 128},
    {"quadsplit", test::programs::QUADSPLIT, {"img.fits"}, 256, 128},
};

void PrintTo(const Job& job, std::ostream* os) { *os << job.name; }

bool in_place(const Job& job) { return std::string(job.name) != "quadsplit"; }

// A tmpfs of a given size mounted on a fresh folder, for root only.
class SmallDisk {
public:
    explicit SmallDisk(size_t bytes) {
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = ::geteuid() == 0 && ::mount("tmpfs", dir_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& path() const { return dir_.path(); }
    bool make_read_only() {
        return ::mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    test::TempDir dir_;
    bool mounted_ = false;
};

const char* const kNoMount = "note: not root (or no tmpfs mount allowed): disk-full and read-only tests skipped";

class Faults : public testing::TestWithParam<Job> {};

// The disk fills while the files are written: a filler file leaves from
// nothing to more than enough room, so the write fails at every stage.
TEST_P(Faults, DiskFillsWhileWriting) {
    const Job& job = GetParam();
    const Files before = inputs(job);
    const Files after_ok = reference(job);
    constexpr size_t kDisk = 1 << 20;
    size_t input_bytes = 0;
    for (const auto& [name, bytes] : before) input_bytes += bytes.size();
    for (const size_t room : {0, 4096, 16384, 65536, 131072, 262144}) {
        SCOPED_TRACE("room " + std::to_string(room));
        SmallDisk disk(kDisk);
        if (!disk.mounted()) GTEST_SKIP() << kNoMount;
        put_files(disk.path(), before);
        test::write_file(disk.path() + "/filler", std::string(kDisk - input_bytes - room, 'f'));
        Files start = files_of(disk.path());
        const test::RunResult r = test::run(job.program, job.args, {disk.path()});
        EXPECT_TRUE(r.status == 0 || (r.status == 1 && r.output.find("wf:") != std::string::npos)) << r.output;
        EXPECT_EQ(r.errors, "");
        Files expected_ok = after_ok;
        expected_ok["filler"] = start["filler"];
        expect_old_or_new(disk.path(), start, expected_ok, r.status, in_place(job));
        if (room == 0 || room == 262144) {
            EXPECT_EQ(r.status, room == 0 ? 1 : 0);
        }
    }
}

// A folder mounted read-only: the run fails with a wf line and nothing changes.
TEST_P(Faults, ReadOnlyFolder) {
    const Job& job = GetParam();
    SmallDisk disk(1 << 20);
    if (!disk.mounted()) GTEST_SKIP() << kNoMount;
    put_files(disk.path(), inputs(job));
    ASSERT_TRUE(disk.make_read_only());
    const test::RunResult r = test::run(job.program, job.args, {disk.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("wf: Error opening file for writing\n"), std::string::npos) << r.output;
    EXPECT_EQ(files_of(disk.path()), inputs(job));
    if (!in_place(job)) {
        // quadsplit still names every channel file, each after its line.
        std::string named;
        for (const char c : std::string("abcd"))
            named += std::string("wf: Error opening file for writing\nimg.") + c + ".fits\n";
        EXPECT_EQ(r.output, named);
    }
}

// Every file the program writes is a symbolic link into another folder: the
// files linked to are replaced, the links stay, and nothing is left over.
TEST_P(Faults, TargetsAreSymbolicLinks) {
    const Job& job = GetParam();
    test::TempDir dir;
    const std::string real = dir.file("real");
    ASSERT_EQ(::mkdir(real.c_str(), 0755), 0);
    put_files(real, inputs(job));
    for (const auto& [name, bytes] : inputs(job)) ASSERT_EQ(::symlink(("real/" + name).c_str(), dir.file(name).c_str()), 0);

    const test::RunResult r = test::run(job.program, job.args, {dir.path()});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(files_of(real), reference(job));
    for (const auto& [name, bytes] : inputs(job)) {
        char target[64] = {};
        EXPECT_GT(::readlink(dir.file(name).c_str(), target, sizeof target - 1), 0) << name;
        EXPECT_EQ(std::string(target), "real/" + name);
    }
    EXPECT_EQ(test::list_dir(dir.path()).size(), inputs(job).size() + 1);
}

// Files that an ordinary user may write but not replace: in a folder of
// root's that the user may not write, or root's files in a sticky folder.
// No temporary file can be put beside them (or renamed over them), and they
// are never written in place, where a failure would leave them damaged: the
// write is refused and every file stays as it was.
TEST_P(Faults, FilesThatCannotBeReplacedAreRefused) {
    const Job& job = GetParam();
    if (::geteuid() != 0) GTEST_SKIP() << "not root: cannot run the programs as another user";
    constexpr int kNobody = 65534;
    for (const mode_t folder_mode : {0755, 01777}) {
        SCOPED_TRACE("folder mode " + std::to_string(folder_mode));
        test::TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), folder_mode), 0);
        put_files(dir.path(), inputs(job));
        for (const auto& [name, bytes] : inputs(job)) ASSERT_EQ(::chmod(dir.file(name).c_str(), 0666), 0);
        const test::RunResult r = test::run(job.program, job.args, {dir.path(), -1, 0, kNobody});
        if (r.status == 126 || r.status == 127) GTEST_SKIP() << "the program cannot be run as user nobody here";
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("wf: Error opening file for writing\n"), std::string::npos) << r.output;
        EXPECT_EQ(files_of(dir.path()), inputs(job));
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, Faults, testing::ValuesIn(kJobs),
                         [](const testing::TestParamInfo<Job>& info) { return std::string(info.param.name); });

// A system call that fails under the program, made to fail by strace: the
// flush to stable storage (EIO), the rewriter's lock (EINVAL; ENOLCK where
// the file system has no locks) and the clone of the old file (refused, or
// out of space part way). A failed flush or lock is a failed write; the
// others change nothing.
struct Injection {
    const char* name;
    const char* call;
    const char* error;
    bool write_fails;  // for the programs that make that call
};

const Injection kInjections[] = {
    {"FlushFails", "fsync", "EIO", true},
    {"LockFails", "flock", "EINVAL", true},
    {"NoLocksHere", "flock", "ENOLCK", false},
    {"CloneRefused", "ioctl", "EOPNOTSUPP", false},
    {"CloneOutOfSpace", "ioctl", "ENOSPC", false},
};

void PrintTo(const Injection& injection, std::ostream* os) { *os << injection.name; }

class Injected : public testing::TestWithParam<std::tuple<Job, Injection>> {};

bool have_strace() { return test::run("/bin/sh", {"-c", "command -v strace"}).status == 0; }

// The job run in `dir` with strace failing `call` as `fault` says (strace's
// inject syntax: "error=EIO", "error=EIO:when=2").
test::RunResult run_failing(const Job& job, const std::string& call, const std::string& fault, const std::string& dir) {
    std::vector<std::string> args{"-f", "-qq", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                                  "inject=" + call + ":" + fault, job.program};
    // Under the sanitizers the leak check at exit needs ptrace, which strace holds.
    if (const char* asan = std::getenv("ASAN_OPTIONS"))
        args.insert(args.begin(), {"-E", std::string("ASAN_OPTIONS=") + asan + ":detect_leaks=0"});
    args.insert(args.end(), job.args.begin(), job.args.end());
    return test::run("/usr/bin/strace", args, {dir});
}

TEST_P(Injected, FailedFlushOrLockKeepsTheOldFiles) {
    const auto& [job, injection] = GetParam();
    if (!have_strace()) GTEST_SKIP() << "strace is not installed";
    test::TempDir dir;
    put_files(dir.path(), inputs(job));
    const test::RunResult r = run_failing(job, injection.call, std::string("error=") + injection.error, dir.path());
    // quadsplit only reads its image: it takes no lock.
    const bool fails = injection.write_fails && !(std::string(injection.call) == "flock" && !in_place(job));
    if (fails) {
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("wf:"), std::string::npos) << r.output;
        EXPECT_EQ(files_of(dir.path()), inputs(job));
    } else {
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(files_of(dir.path()), reference(job));
    }
    EXPECT_EQ(test::list_dir(dir.path()).size(), inputs(job).size());
}

// The rewriters flush the file, rename it, then flush the folder. When only
// the folder's flush fails, the rename is done: the failure is reported and
// the file is already the new one, whole.
TEST(Injected, FolderFlushFailsAfterTheRename) {
    if (!have_strace()) GTEST_SKIP() << "strace is not installed";
    for (const Job& job : kJobs) {
        if (!in_place(job)) continue;
        test::TempDir dir;
        put_files(dir.path(), inputs(job));
        const test::RunResult r = run_failing(job, "fsync", "error=EIO:when=2", dir.path());
        EXPECT_EQ(r.status, 1) << job.name;
        EXPECT_NE(r.output.find("wf:  Error writing FITS file"), std::string::npos) << r.output;
        EXPECT_EQ(files_of(dir.path()), reference(job)) << job.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, Injected, testing::Combine(testing::ValuesIn(kJobs), testing::ValuesIn(kInjections)),
                         [](const testing::TestParamInfo<std::tuple<Job, Injection>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// Whether a temporary file of process `pid` appeared in `dir` within `limit`.
bool temp_file_appears(const std::string& dir, int pid, std::chrono::microseconds limit) {
    const std::string end = "." + std::to_string(pid) + ".tmp";
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const std::string& name : test::list_dir(dir))
            if (name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return false;
}

// A large image (2048 x 1024, 8 MiB) and a process killed at random points:
// half of the kills anywhere in the run, half once its first temporary file
// has appeared. Each file is the old or the new one whole, and only the
// killed process's temporary file may be left.
class Killed : public testing::TestWithParam<Job> {};

TEST_P(Killed, AtRandomPointsLeavesOldOrNewFiles) {
    Job job = GetParam();
    job.naxis1 = 2048;
    job.naxis2 = 1024;
    const Files before = inputs(job);
    std::chrono::microseconds full_run{};
    const Files after_ok = reference(job, &full_run);

    std::mt19937 rng(7);
    std::uniform_real_distribution<double> at(0.0, 1.0);
    test::TempDir dir;
    constexpr int kKills = 8;
    int interrupted_writes = 0;
    for (int trial = 0; trial < kKills; ++trial) {
        put_files(dir.path(), before);
        const bool while_writing = trial % 2 == 1;
        const auto delay = std::chrono::microseconds(
            static_cast<int64_t>(static_cast<double>(full_run.count()) * at(rng) / (while_writing ? 8 : 1)));
        SCOPED_TRACE(std::string(while_writing ? "writing, then " : "") + std::to_string(delay.count()) + " us");
        test::Process p = test::start(job.program, job.args, {dir.path()});
        const int pid = p.pid;
        if (while_writing) temp_file_appears(dir.path(), pid, 4 * full_run);
        std::this_thread::sleep_for(delay);
        ::kill(pid, SIGKILL);
        const test::RunResult r = test::finish(p);
        interrupted_writes += expect_old_or_new(dir.path(), before, after_ok, r.status, in_place(job), pid) > 0;
    }
    std::printf("%s: %d kills, %d while a file was being written\n", job.name, kKills, interrupted_writes);
    // The leftovers deleted, a run to the end leaves exactly the new files.
    put_files(dir.path(), before);
    EXPECT_EQ(test::run(job.program, job.args, {dir.path()}).status, 0);
    EXPECT_EQ(files_of(dir.path()), after_ok);
}

INSTANTIATE_TEST_SUITE_P(Programs, Killed, testing::ValuesIn(kJobs),
                         [](const testing::TestParamInfo<Job>& info) { return std::string(info.param.name); });

// SIGINT, SIGTERM or SIGHUP while a file is being written: the temporary
// files are removed, the old files stay and the status is 128 + the signal.
// A run that finishes before the signal arrives must have written the new
// files; the signal is sent again until it meets a write.
class Interrupted : public testing::TestWithParam<std::tuple<Job, int>> {};

TEST_P(Interrupted, RemovesTheTemporaryFilesAndKeepsTheOldOnes) {
    Job job = std::get<0>(GetParam());
    const int signal_number = std::get<1>(GetParam());
    job.naxis1 = 2048;
    job.naxis2 = 2048;
    const Files before = inputs(job);
    std::chrono::microseconds full_run{};
    const Files after_ok = reference(job, &full_run);
    test::TempDir dir;
    int interrupted = 0;
    for (int trial = 0; trial < 10 && interrupted == 0; ++trial) {
        put_files(dir.path(), before);
        test::Process p = test::start(job.program, job.args, {dir.path()});
        const bool writing = temp_file_appears(dir.path(), p.pid, 4 * full_run);
        ::kill(p.pid, signal_number);
        const test::RunResult r = test::finish(p);
        if (!writing || r.status == 0) {
            EXPECT_EQ(files_of(dir.path()), after_ok);
            continue;
        }
        EXPECT_EQ(r.status, 128 + signal_number);
        EXPECT_EQ(files_of(dir.path()), before);
        EXPECT_EQ(test::list_dir(dir.path()).size(), before.size());
        ++interrupted;
    }
    EXPECT_EQ(interrupted, 1) << "no signal met a write in 10 runs";
}

INSTANTIATE_TEST_SUITE_P(Programs, Interrupted,
                         testing::Combine(testing::ValuesIn(kJobs), testing::Values(SIGINT, SIGTERM, SIGHUP)),
                         [](const testing::TestParamInfo<std::tuple<Job, int>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
