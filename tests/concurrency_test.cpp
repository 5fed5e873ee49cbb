// Several runs at once in one folder, each on its own files, give the same
// files and lines as the same runs one after another.
#include <string>
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

}  // namespace
