// Several runs at once in one folder, each on its own files, give the same
// files and lines as the same runs one after another; runs that rewrite the
// same file take turns, so that no update is lost.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support.hpp"

namespace {

constexpr int kImages = 6;

std::string image(int i) { return "img" + std::to_string(i) + ".fits"; }

// One command line per image for one step of the job.
std::vector<std::vector<std::string>> step(const std::string& program, int first_channel_arg_style) {
    std::vector<std::vector<std::string>> lines;
    for (int i = 0; i < kImages; ++i) {
        if (first_channel_arg_style == 0) {
            lines.push_back({program, image(i)});
        } else {  // boxpatch on channel b or c, a box of its own per image
            const std::string channel = "img" + std::to_string(i) + (i % 2 ? ".b.fits" : ".c.fits");
            lines.push_back({program, "-b", std::to_string(10 + i), std::to_string(40 + 3 * i), "5",
                             std::to_string(200 + i), channel});
        }
    }
    return lines;
}

std::string quoted(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& w : words) line += "'" + w + "' ";
    return line;
}

// Runs the command lines in `folder`, all at once or one after another; each
// line's output goes to log/<step><n>.
void run_step(const std::string& folder, const std::string& name, const std::vector<std::vector<std::string>>& lines,
              bool at_once) {
    std::string script = "fail=0; pids=;";
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string command = quoted(lines[n]) + "> ../log-" + folder.substr(folder.rfind('/') + 1) + "/" +
                                    name + std::to_string(n) + " 2>&1";
        script += at_once ? " " + command + " & pids=\"$pids $!\";" : " " + command + " || fail=1;";
    }
    if (at_once) script += " for p in $pids; do wait $p || fail=1; done;";
    script += " exit $fail";
    const test::RunResult r = test::run("/bin/sh", {"-c", script}, {folder});
    ASSERT_EQ(r.status, 0) << name << (at_once ? " at once" : " in turn") << ": " << r.output << r.errors;
}

TEST(Concurrency, RunsAtOnceInOneFolderMatchRunsInTurn) {
    test::TempDir dir;
    const std::string folders[] = {dir.file("in-turn"), dir.file("at-once")};
    for (const std::string& folder : folders) {
        test::run("/bin/mkdir", {folder, folder.substr(0, folder.rfind('/')) + "/log-" +
                                             folder.substr(folder.rfind('/') + 1)});
        for (int i = 0; i < kImages; ++i) {
            const int width = 512 - 4 * i, height = 256 + 41 * i;
            std::vector<double> values(static_cast<size_t>(width) * height);
            for (size_t k = 0; k < values.size(); ++k) values[k] = static_cast<double>((k * (i + 3)) % 30011) - 15000;
            test::write_file(folder + "/" + image(i), test::fits_file(i % 2 ? 16 : -32, width, height, values));
        }
    }
    const std::pair<std::string, std::vector<std::vector<std::string>>> steps[] = {
        {"split", step(test::programs::QUADSPLIT, 0)},
        {"patch", step(test::programs::BOXPATCH, 1)},
        {"merge", step(test::programs::QUADMERGE, 0)},
    };
    for (const auto& [name, lines] : steps) {
        run_step(folders[0], name, lines, false);
        run_step(folders[1], name, lines, true);
    }
    // Files and every program's lines are the same.
    const std::string logs[] = {dir.file("log-in-turn"), dir.file("log-at-once")};
    for (int k = 0; k < 2; ++k) {
        const std::string a = k ? logs[0] : folders[0], b = k ? logs[1] : folders[1];
        const std::vector<std::string> names = test::list_dir(a);
        ASSERT_EQ(names, test::list_dir(b));
        ASSERT_EQ(names.size(), k ? 3u * kImages : 5u * kImages);
        for (const std::string& n : names)
            EXPECT_EQ(test::read_file(a + "/" + n), test::read_file(b + "/" + n)) << n;
    }
}

// A 1024 x 512 image of 2 MiB and its four channel files, which quadmerge
// puts back over pixels of other values.
std::vector<std::pair<std::string, std::string>> rewrite_inputs(int seed) {
    std::vector<double> values(1024 * 512);
    for (size_t k = 0; k < values.size(); ++k) values[k] = static_cast<double>((k * 7 + seed) % 1000) / 8.0;
    std::vector<std::pair<std::string, std::string>> files{{"img.fits", test::fits_file(-32, 1024, 512, values)}};
    values.resize(256 * 512);
    for (const char letter : {'a', 'b', 'c', 'd'}) {
        for (size_t k = 0; k < values.size(); ++k) values[k] = static_cast<double>((k * 3 + letter) % 501);
        files.emplace_back(std::string("img.") + letter + ".fits", test::fits_file(-32, 256, 512, values));
    }
    return files;
}

void put(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, bytes] : files) test::write_file(dir + "/" + name, bytes);
}

const std::vector<std::string> kPatchLeft{test::programs::BOXPATCH, "-b", "100", "300", "10", "400", "img.fits"};
const std::vector<std::string> kPatchRight{test::programs::BOXPATCH, "-b", "600", "900", "50", "500", "img.fits"};
const std::vector<std::string> kMerge{test::programs::QUADMERGE, "img.fits"};

// img.fits after the runs one after another.
std::string serially(const std::vector<std::vector<std::string>>& runs) {
    test::TempDir dir;
    put(dir.path(), rewrite_inputs(0));
    for (const auto& run : runs)
        EXPECT_EQ(test::run(run[0], std::vector<std::string>(run.begin() + 1, run.end()), {dir.path()}).status, 0);
    return test::read_file(dir.file("img.fits"));
}

// Two boxes patched in one file at once, and a patch and a merge of one
// image at once, many times: the file is always what one of the serial
// orders gives (without the lock one update was lost nearly every time).
TEST(Concurrency, RewritersOfOneFileTakeTurns) {
    const std::string both_boxes = serially({kPatchLeft, kPatchRight});
    ASSERT_EQ(both_boxes, serially({kPatchRight, kPatchLeft}));
    const std::string merge_orders[] = {serially({kPatchLeft, kMerge}), serially({kMerge, kPatchLeft})};
    const std::pair<std::vector<std::string>, std::vector<std::string>> pairs[] = {{kPatchLeft, kPatchRight},
                                                                                   {kPatchLeft, kMerge}};
    test::TempDir dir;
    for (int round = 0; round < 40; ++round) {
        const auto& [first, second] = pairs[round % 2];
        put(dir.path(), rewrite_inputs(0));
        test::Process a = test::start(first[0], std::vector<std::string>(first.begin() + 1, first.end()), {dir.path()});
        test::Process b = test::start(second[0], std::vector<std::string>(second.begin() + 1, second.end()), {dir.path()});
        EXPECT_EQ(test::finish(a).status, 0);
        EXPECT_EQ(test::finish(b).status, 0);
        const std::string result = test::read_file(dir.file("img.fits"));
        if (round % 2 == 0) {
            EXPECT_TRUE(result == both_boxes) << "round " << round << ": a box was lost";
        } else {
            EXPECT_TRUE(result == merge_orders[0] || result == merge_orders[1]) << "round " << round << ": an update was lost";
        }
    }
}

// While another process holds the lock, boxpatch says so once on standard
// error and waits. The holder then puts a new file in place: boxpatch must
// patch that one, not the old file it first opened. A SIGTERM while waiting
// ends it as during a write, with nothing changed.
TEST(Concurrency, AWaitingRewriterSaysSoAndWorksOnTheNewFile) {
    test::TempDir dir, next;
    put(dir.path(), rewrite_inputs(0));
    put(next.path(), rewrite_inputs(5));
    const std::string expected = [&] {
        test::TempDir ref;
        put(ref.path(), rewrite_inputs(5));
        test::run(kPatchLeft[0], std::vector<std::string>(kPatchLeft.begin() + 1, kPatchLeft.end()), {ref.path()});
        return test::read_file(ref.file("img.fits"));
    }();
    const std::string path = dir.file("img.fits");
    const std::vector<std::string> args(kPatchLeft.begin() + 1, kPatchLeft.end());

    int holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    test::Process p = test::start(kPatchLeft[0], args, {dir.path()});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(::rename(next.file("img.fits").c_str(), path.c_str()), 0);
    ::close(holder);
    const test::RunResult r = test::finish(p, 10000);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.errors, "boxpatch: waiting for another program to finish rewriting img.fits\n");
    EXPECT_TRUE(test::read_file(path) == expected) << "the file that replaced the old one was not the one patched";

    holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    test::Process waiting = test::start(kPatchLeft[0], args, {dir.path()});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(waiting.pid, SIGTERM);
    EXPECT_EQ(test::finish(waiting, 10000).status, 128 + SIGTERM);
    ::close(holder);
    EXPECT_TRUE(test::read_file(path) == expected);
    EXPECT_EQ(test::list_dir(dir.path()).size(), 5u);
}

}  // namespace
