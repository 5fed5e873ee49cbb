// Helpers for the tests: temporary folders, FITS files built byte by byte
// (independently of the library), running the programs as processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fits.hpp"
#include "program_paths.hpp"

namespace test {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents.
class TempDir {
public:
    TempDir();
    explicit TempDir(const std::string& base);  // under `base` instead
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
std::vector<std::string> list_dir(const std::string& path);

// One 80-character card: `text` padded with blanks (or cut).
std::string card(const std::string& text);
// A value card "KEYWORD = value" with the value right-justified to column 30.
std::string value_card(const std::string& keyword, const std::string& value);

// Header blocks holding `cards` in order, padded with blank cards to a whole
// number of blocks. The caller includes END where wanted.
std::string header_blocks(const std::vector<std::string>& cards);

// The standard cards SIMPLE, BITPIX, NAXIS, NAXIS1, NAXIS2.
std::vector<std::string> basic_cards(int bitpix, long naxis1, long naxis2);

// Big-endian items for BITPIX 8, 16, 32, -32 or -64 from values (integers
// are taken as they are, no wrapping), then zero bytes to a whole block.
std::string data_blocks(int bitpix, const std::vector<double>& values);

// A whole image file: basic cards, `extra` cards, END, then the data.
std::string fits_file(int bitpix, long naxis1, long naxis2, const std::vector<double>& values,
                      const std::vector<std::string>& extra = {});

// Basic cards with any BITPIX, END and one block of zero data: an image of
// an item type that the tests cannot encode, or that has none.
std::string image_of_bitpix(int bitpix, long naxis1, long naxis2);

// A header chain holding `text` (a whole number of blocks), freed with
// fits_free_header.
HeaderBlock* chain_from(const std::string& text);

// The library's output on stdout while `action` runs.
template <typename Action>
std::string captured_stdout(Action action);

// A plane for tests, zero at start (each is 256 MiB of address space, touched only
// where used).
ImagePlane& plane_a();
ImagePlane& plane_b();

struct RunResult {
    int status = -1;     // exit status, or -1 if the program did not exit normally
    std::string output;  // standard output
    std::string errors;  // standard error
    bool timed_out = false;  // killed after RunOptions::timeout_ms
};

struct RunOptions {
    std::string cwd;              // folder to run in (default: current)
    int64_t file_size_limit = -1; // RLIMIT_FSIZE in bytes, -1 for none
    int timeout_ms = 0;           // kill the program after this long; 0 for never
    int uid = -1;                 // run as this user, in the group of the same number (root only)
};

// A program started and not yet waited for.
struct Process {
    int pid = -1;
    int out_fd = -1;
    int err_fd = -1;
};

// Starts `program` with `args`; finish() collects it.
Process start(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});

// Collects stdout, stderr and the exit status of a started program, killing
// it once timeout_ms have passed (when not 0).
RunResult finish(Process& process, int timeout_ms = 0);

// Runs `program` with `args`, collecting stdout, stderr and exit status.
RunResult run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});


}  // namespace test

#include <gtest/gtest.h>

template <typename Action>
std::string test::captured_stdout(Action action) {
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}
