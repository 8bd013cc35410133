// The library in a process set up unlike the "C" defaults: a locale that writes a
// comma for the decimal point, each floating-point rounding mode, and a signal
// handler that lets signals interrupt blocked reads. Data files must read and write
// exactly as they do in the "C" locale rounding to nearest, with no signal around.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <locale.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cfenv>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/driver.h"
#include "respmat/garray.h"
#include "respmat/matrix.h"
#include "respmat/owners.hpp"
#include "respmat/text.h"
#include "test_support.h"
#include "text/number_text.h"

namespace {

using respmat::testing::contents_of;
using respmat::testing::read_bytes;
using respmat::testing::OwnedFile;
using respmat::testing::TempDir;
using respmat::testing::write_bytes;

std::uint64_t bits_of(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}

// A German locale, generated into a scratch folder when the machine has none: its
// decimal point is a comma. Empty when it cannot be had.
const std::string &comma_locale() {
  static const TempDir folder;
  static const std::string name = [] {
    const char *const wanted = "de_DE.UTF-8";
    if (locale_t installed = ::newlocale(LC_ALL_MASK, wanted, locale_t{})) {
      ::freelocale(installed);
      return std::string(wanted);
    }
    const std::string command = "localedef -i de_DE -f UTF-8 '" + folder.file(wanted) + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == -1) return std::string();
    ::setenv("LOCPATH", folder.path().c_str(), 1);
    locale_t generated = ::newlocale(LC_ALL_MASK, wanted, locale_t{});
    if (generated == locale_t{}) return std::string();
    ::freelocale(generated);
    return std::string(wanted);
  }();
  return name;
}

struct Environment {
  bool comma;
  int rounding;
  std::string describe() const {
    const char *mode = rounding == FE_UPWARD     ? "upward"
                       : rounding == FE_DOWNWARD ? "downward"
                       : rounding == FE_TOWARDZERO ? "toward zero"
                                                   : "to nearest";
    return std::string(comma ? comma_locale() : "C") + ", rounding " + mode;
  }
};

std::vector<Environment> odd_environments() {
  std::vector<Environment> all;
  for (const bool comma : {false, true})
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO})
      if (comma || mode != FE_TONEAREST) all.push_back({comma, mode});
  return all;
}

// The process locale and rounding mode of `environment` for the scope, and the "C"
// locale rounding to nearest again afterwards.
class InEnvironment {
 public:
  explicit InEnvironment(const Environment &environment) {
    if (environment.comma) std::setlocale(LC_ALL, comma_locale().c_str());
    std::fesetround(environment.rounding);
  }
  InEnvironment(const InEnvironment &) = delete;
  InEnvironment &operator=(const InEnvironment &) = delete;
  ~InEnvironment() {
    std::fesetround(FE_TONEAREST);
    std::setlocale(LC_ALL, "C");
  }
};

class NumberConventions : public testing::Test {
 protected:
  void SetUp() override {
    if (comma_locale().empty())
      GTEST_SKIP() << "no comma-decimal locale: localedef or the de_DE locale sources "
                      "(Debian package locales) are missing";
    // The environments really change the C library's own conversions.
    const InEnvironment comma({true, FE_UPWARD});
    char text[16];
    std::snprintf(text, sizeof text, "%.0f %.1f", 0.5, 0.25);
    ASSERT_STREQ(text, "1 0,3");
  }
};

struct Sample {
  std::string text;
  std::uint64_t bits;
};

// Texts with the value the "C" locale gives them rounding to nearest: the vector
// files, random values in several printf forms, and forms that a comma locale reads
// otherwise.
std::vector<Sample> parse_samples() {
  std::vector<Sample> samples;
  for (const char *name : {"atof-semantics.txt", "atof-c99-extensions.txt"}) {
    std::ifstream in(std::string(RESPMAT_TEST_DATA_DIR "/floats/") + name);
    for (std::string line; std::getline(in, line);)
      if (line.size() >= 17 && line.find("nan") == std::string::npos)
        samples.push_back({line.substr(17), std::strtoull(line.substr(0, 16).c_str(), nullptr, 16)});
  }
  for (const char *name : {"parse-number-fxx-more-test-cases.txt", "parse-number-fxx-lemire-fast-float.txt"}) {
    std::ifstream in(std::string(RESPMAT_TEST_DATA_DIR "/floats/") + name);
    for (std::string line; std::getline(in, line);)
      samples.push_back({line.substr(31), std::strtoull(line.substr(14, 16).c_str(), nullptr, 16)});
  }
  std::mt19937_64 rng(13);
  const char *formats[] = {"%.17g", "%+.17g", "%a", " %.25e", "%.40g", "%.3f"};
  for (int trial = 0; trial < 30000; ++trial) {
    double x;
    const std::uint64_t raw = rng();
    std::memcpy(&x, &raw, sizeof x);
    if (std::isnan(x)) continue;
    char text[96];
    std::snprintf(text, sizeof text, formats[trial % std::size(formats)], x);
    samples.push_back({text, bits_of(std::strtod(text, nullptr))});
  }
  for (const char *text : {"0.5", "+0.5", "+1,5", "0,5", "-1,25e3", "1e400", "4.9e-325"})
    samples.push_back({text, bits_of(std::strtod(text, nullptr))});
  return samples;
}

TEST_F(NumberConventions, TextReadsAsTheSameValuesInEveryLocaleAndRoundingMode) {
  const std::vector<Sample> samples = parse_samples();
  ASSERT_GT(samples.size(), 30000u);
  TempDir dir;
  const std::string path = dir.file("fields.csv");
  write_bytes(path, "0.5,+0.5,+1,5,0x1.8p1,2.2250738585072011e-308\n");
  for (const Environment &environment : odd_environments()) {
    SCOPED_TRACE(environment.describe());
    const InEnvironment odd(environment);
    for (const Sample &sample : samples)
      ASSERT_EQ(bits_of(respmat::detail::parse_number(sample.text.data(),
                                                      sample.text.data() + sample.text.size())),
                sample.bits)
          << sample.text;
    const respmat::OwnedMatrix M(matrix_load_text(path.c_str(), 0, ",", 0, nullptr));
    ASSERT_TRUE(M);
    ASSERT_EQ(matrix_cols(M.get()), 6);
    const double expected[] = {0.5, 0.5, 1.0, 5.0, 3.0, 2.2250738585072009e-308};
    for (int c = 0; c < 6; ++c) EXPECT_EQ(bits_of(M.get()[0][c]), bits_of(expected[c])) << c;
  }
}

std::string printed(const char *format, double x) {
  char text[64];
  std::snprintf(text, sizeof text, format, x);
  return text;
}

// What each printing operation gives for `M` in the "C" locale rounding to nearest.
struct PrintedForms {
  std::string csv, tabbed, shown, fast_csv;
};

PrintedForms print_all(const Matrix M) {
  PrintedForms forms;
  OwnedFile csv(std::tmpfile()), tabbed(std::tmpfile());
  matrix_write_text(M, csv.get(), 0, "%.16lg", ",");
  matrix_write_text(M, tabbed.get(), 1, "%lg", "\t");
  forms.csv = contents_of(csv.get());
  forms.tabbed = contents_of(tabbed.get());
  testing::internal::CaptureStdout();
  matrix_print(M, " %.6e");
  matrix_print_map(M, 0.1);
  forms.shown = testing::internal::GetCapturedStdout();
  OwnedFile fast(std::tmpfile());
  matrix_write_csv(M, fast.get(), 0);
  forms.fast_csv = contents_of(fast.get());
  return forms;
}

TEST_F(NumberConventions, NumbersPrintAsInTheCLocaleRoundingToNearestWhateverIsSet) {
  constexpr int kRows = 40, kCols = 50;
  const respmat::OwnedMatrix M(matrix_alloc(kRows, kCols));
  std::mt19937_64 rng(29);
  std::vector<std::string> expected_g16;
  for (int r = 0; r < kRows; ++r)
    for (int c = 0; c < kCols; ++c) {
      const std::uint64_t raw = rng();
      double x;
      std::memcpy(&x, &raw, sizeof x);
      if (r % 2 == 1) x = std::ldexp(static_cast<double>(raw >> 11), static_cast<int>(raw % 120) - 100);
      if (r == 0) x = (c - 25) * 0.1;  // near the map's threshold and with halfway digits
      M.get()[r][c] = x;
      expected_g16.push_back(printed("%.16lg", x));
    }
  const PrintedForms expected = print_all(M.get());
  ASSERT_EQ(expected.fast_csv, expected.csv);
  for (const Environment &environment : odd_environments()) {
    SCOPED_TRACE(environment.describe());
    const InEnvironment odd(environment);
    char text[respmat::detail::kMaxG16Length];
    for (int k = 0; k < kRows * kCols; ++k) {
      const double x = M.get()[k / kCols][k % kCols];
      ASSERT_EQ(std::string(text, respmat::detail::format_g16(x, text)), expected_g16[k]);
    }
    const PrintedForms odd_forms = print_all(M.get());
    EXPECT_EQ(odd_forms.csv, expected.csv);
    EXPECT_EQ(odd_forms.tabbed, expected.tabbed);
    EXPECT_EQ(odd_forms.shown, expected.shown);
    EXPECT_EQ(odd_forms.fast_csv, expected.fast_csv);
  }
}

// A signal handled without SA_RESTART makes a read that is waiting for data fail with
// EINTR; while alive, SIGUSR1 is handled that way. A reader that gives up early
// closes its end of the pipe, which must fail the feeder's write, not kill the test.
class InterruptibleReads {
 public:
  InterruptibleReads() {
    struct sigaction action = {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &saved_usr1_);
    action.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &action, &saved_pipe_);
  }
  InterruptibleReads(const InterruptibleReads &) = delete;
  InterruptibleReads &operator=(const InterruptibleReads &) = delete;
  ~InterruptibleReads() {
    sigaction(SIGUSR1, &saved_usr1_, nullptr);
    sigaction(SIGPIPE, &saved_pipe_, nullptr);
  }

 private:
  struct sigaction saved_usr1_ = {};
  struct sigaction saved_pipe_ = {};
};

// Feeds a named pipe from a thread of its own: `first`, then a stream of signals to
// the reading thread while it waits for more, then `rest`, then the end of input.
class InterruptedFeed {
 public:
  InterruptedFeed(const std::string &path, std::string first, std::string rest)
      : reader_(::pthread_self()) {
    ::mkfifo(path.c_str(), 0600);
    feeder_ = std::thread([this, path, first = std::move(first), rest = std::move(rest)] {
      const int fd = open_when_read(path);
      if (fd < 0) return;
      write_all(fd, first);
      for (int k = 0; k < 20; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::pthread_kill(reader_, SIGUSR1);
      }
      write_all(fd, rest);
      ::close(fd);
    });
  }
  InterruptedFeed(const InterruptedFeed &) = delete;
  InterruptedFeed &operator=(const InterruptedFeed &) = delete;
  ~InterruptedFeed() { feeder_.join(); }

 private:
  // The write end, once the reader has opened the pipe; -1 when no reader comes (a
  // failing reader may give up before it opens this one).
  static int open_when_read(const std::string &path) {
    for (int attempt = 0; attempt < 5000; ++attempt) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) {
        ::fcntl(fd, F_SETFL, 0);
        return fd;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
  }

  static void write_all(int fd, const std::string &bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (wrote <= 0) return;
      done += static_cast<std::size_t>(wrote);
    }
  }

  pthread_t reader_;
  std::thread feeder_;
};

TEST(InterruptedReads, EveryReaderGoesOnAfterASignal) {
  const InterruptibleReads interruptible;
  TempDir dir;
  const std::string fifo = dir.file("feed");
  {
    const InterruptedFeed feed(fifo, "1,2", "\n3,4\n");
    const respmat::OwnedMatrix M(matrix_load_text(fifo.c_str(), 0, ",", 0, nullptr));
    EXPECT_TRUE(M && matrix_rows(M.get()) == 2);
  }
  std::remove(fifo.c_str());
  {
    const InterruptedFeed feed(fifo, "a,b", "\nc\n");
    const respmat::OwnedStringTable table(table_read(fifo.c_str(), ",", 0, nullptr));
    EXPECT_TRUE(table && carray_count(table.get()) == 2);
  }
  std::remove(fifo.c_str());
  {
    // Two doubles, the second cut in half by the interruption.
    const std::string matrix("\1\0\0\0\2\0\0\0\0\0\0\0\0\0\xf0\x3f\0\0\0\0", 20);
    const InterruptedFeed feed(fifo, matrix, std::string("\0\0\0\x40", 4));
    OwnedFile stream(std::fopen(fifo.c_str(), "rb"));
    const respmat::OwnedMatrix M(matrix_read_bin(stream.get()));
    EXPECT_TRUE(M && M.get()[0][1] == 2.0);
  }
  std::remove(fifo.c_str());
  {
    const InterruptedFeed feed(fifo, "\x83", "\x81xyz");
    OwnedFile stream(std::fopen(fifo.c_str(), "rb"));
    GrowArray ga;
    EXPECT_TRUE(garray_read_short(&ga, stream.get()) != nullptr &&
                std::string(static_cast<const char *>(ga.data), ga.count) == "xyz");
    garray_release(&ga);
  }
}

TEST(InterruptedReads, TheToolGoesOnAfterASignal) {
  const InterruptibleReads interruptible;
  TempDir dir;
  const std::string response = dir.file("response"), phases = dir.file("phases");
  const std::string output = dir.file("er.csv");
  const respmat::DriverPaths paths{response.c_str(), phases.c_str(), output.c_str()};
  OwnedFile out(std::tmpfile()), err(std::tmpfile());
  int status;
  {
    const InterruptedFeed response_feed(response, "1,", "1\n");
    const InterruptedFeed phases_feed(phases, "0\n", "0.25\n");
    status = respmat::run_driver(paths, out.get(), err.get());
  }
  EXPECT_EQ(status, respmat::kExitOk) << contents_of(err.get());
  const std::string written = read_bytes(output);
  std::remove(response.c_str());
  std::remove(phases.c_str());
  write_bytes(response, "1,1\n");
  write_bytes(phases, "0\n0.25\n");
  ASSERT_EQ(respmat::run_driver(paths, out.get(), err.get()), respmat::kExitOk);
  EXPECT_EQ(written, read_bytes(output));
}

}  // namespace
