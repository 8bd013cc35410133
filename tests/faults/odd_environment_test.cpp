// The library in a process set up unlike the "C" defaults: a locale with a comma for
// the decimal point, each rounding mode, a signal handler that interrupts blocked
// reads. Data must read and write exactly as in the "C" locale rounding to nearest.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cfenv>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/report.h"
#include "respmat/garray.h"
#include "respmat/matrix.h"
#include "respmat/owners.hpp"
#include "respmat/text.h"
#include "test_support.h"
#include "text/number_text.h"

namespace {

using namespace std::chrono_literals;
using respmat::testing::contents_of;
using respmat::testing::OwnedFile;
using respmat::testing::read_bytes;
using respmat::testing::TempDir;
using respmat::testing::write_bytes;

// A German locale (comma for a decimal point), generated into a scratch folder when
// the machine has none. Empty when it cannot be had.
const std::string &comma_locale() {
  static const TempDir folder;
  static const std::string name = [] {
    const std::string wanted = "de_DE.UTF-8";
    if (std::setlocale(LC_ALL, wanted.c_str()) == nullptr) {
      ::setenv("LOCPATH", folder.path().c_str(), 1);
      const std::string make = "localedef -i de_DE -f UTF-8 '" + folder.file(wanted) + "' >/dev/null 2>&1";
      static_cast<void>(std::system(make.c_str()));
    }
    const bool found = std::setlocale(LC_ALL, wanted.c_str()) != nullptr;
    std::setlocale(LC_ALL, "C");
    return found ? wanted : std::string();
  }();
  return name;
}

// Everything the conversions give in the current locale and rounding mode: the bits
// read from `texts`, and `M` written, printed and formatted.
std::string convert_all(const std::vector<std::string> &texts, const Matrix M) {
  std::string out;
  for (const std::string &text : texts)
    out += std::to_string(std::bit_cast<std::uint64_t>(
               respmat::detail::parse_number(text.data(), text.data() + text.size()))) + ' ';
  OwnedFile file(std::tmpfile());
  matrix_write_text(M, file.get(), 0, "%.16lg", ",");
  matrix_write_csv(M, file.get(), 1);
  out += contents_of(file.get());
  testing::internal::CaptureStdout();
  matrix_print(M, " %lg");
  matrix_print_map(M, 0.1);
  out += testing::internal::GetCapturedStdout();
  char text[respmat::detail::kMaxG16Length];
  for (int k = 0; k < matrix_rows(M) * matrix_cols(M); ++k)
    out.append(text, respmat::detail::format_g16(M[k / matrix_cols(M)][k % matrix_cols(M)], text));
  return out;
}

TEST(NumberConventions, NoLocaleOrRoundingModeChangesAConversion) {
  if (comma_locale().empty()) GTEST_SKIP() << "no comma-decimal locale: localedef or Debian's locales package is missing";
  std::vector<std::string> texts = {"0.5", "+0.5", "+1,5", "-1,25e3", "0x1.8p1", "1e400", "4.9e-325"};
  for (const char *name : {"atof-semantics.txt", "parse-number-fxx-more-test-cases.txt"}) {
    std::ifstream in(std::string(RESPMAT_TEST_DATA_DIR "/floats/") + name);
    for (std::string line; std::getline(in, line);) texts.push_back(line.substr(line.rfind(' ') + 1));
  }
  std::mt19937_64 rng(13);
  const respmat::OwnedMatrix M(matrix_alloc(30, 40));
  for (int k = 0; k < 30 * 40; ++k) {
    const double x = k < 40 ? (k - 20) * 0.1 : std::bit_cast<double>(rng());
    M.get()[k / 40][k % 40] = x;
    char text[40];
    std::snprintf(text, sizeof text, k % 2 ? "%.17g" : "%a", x);
    texts.push_back(text);
  }
  const std::string expected = convert_all(texts, M.get());
  for (const bool comma : {false, true})
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
      if (comma) std::setlocale(LC_ALL, comma_locale().c_str());
      std::fesetround(mode);
      char probe[16];  // the C library's own conversions do change
      std::snprintf(probe, sizeof probe, "%.0f %.1f", 0.5, 0.25);
      const std::string converted = convert_all(texts, M.get());
      std::fesetround(FE_TONEAREST);
      std::setlocale(LC_ALL, "C");
      EXPECT_TRUE(converted == expected) << (comma ? "comma locale" : "C locale") << ", mode " << mode;
      if (comma && mode == FE_UPWARD) {
        EXPECT_STREQ(probe, "1 0,3");
      }
    }
}

// Feeds the named pipe `path` from a thread of its own: `first`, then signals that
// interrupt the calling thread's read while it waits for more, then `rest`. Gives up
// when no reader opens the pipe within seconds.
std::jthread interrupted_feed(const std::string &path, std::string first, std::string rest) {
  ::mkfifo(path.c_str(), 0600);
  return std::jthread([path, first, rest, reader = ::pthread_self()] {
    int fd = -1;
    for (int wait = 0; fd < 0 && wait < 5000; ++wait, std::this_thread::sleep_for(1ms))
      fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0 || ::fcntl(fd, F_SETFL, 0) != 0 || ::write(fd, first.data(), first.size()) < 0) return;
    for (int k = 0; k < 20; ++k, std::this_thread::sleep_for(5ms)) ::pthread_kill(reader, SIGUSR1);
    static_cast<void>(::write(fd, rest.data(), rest.size()));
    ::close(fd);
  });
}

TEST(InterruptedReads, ReadersAndTheToolGoOnAfterASignal) {
  // Handled without SA_RESTART, SIGUSR1 makes a read waiting for data fail with EINTR.
  struct sigaction interrupt = {}, saved_usr1, saved_pipe;
  interrupt.sa_handler = [](int) {};
  sigaction(SIGUSR1, &interrupt, &saved_usr1);
  interrupt.sa_handler = SIG_IGN;  // a reader that gives up must not kill the feeder
  sigaction(SIGPIPE, &interrupt, &saved_pipe);
  TempDir dir;
  const std::string a = dir.file("a"), b = dir.file("b"), output = dir.file("er.csv");
  {
    const std::jthread feed = interrupted_feed(a, "x,y", "\nz\n");
    const respmat::OwnedStringTable table(table_read(a.c_str(), ",", 0, nullptr));
    EXPECT_TRUE(table && carray_count(table.get()) == 2);
  }
  std::remove(a.c_str());
  {
    // A 1 x 2 binary matrix whose second element the interruption cuts in half.
    const std::jthread feed = interrupted_feed(a, std::string("\1\0\0\0\2\0\0\0\0\0\0\0\0\0\xf0\x3f\0\0\0\0", 20),
                                               std::string("\0\0\0\x40", 4));
    OwnedFile stream(std::fopen(a.c_str(), "rb"));
    const respmat::OwnedMatrix M(matrix_read_bin(stream.get()));
    EXPECT_TRUE(M && M.get()[0][1] == 2.0);
  }
  std::remove(a.c_str());
  {
    const std::jthread feed = interrupted_feed(a, "\x83", "\x81xyz");
    OwnedFile stream(std::fopen(a.c_str(), "rb"));
    GrowArray ga;
    EXPECT_TRUE(garray_read_short(&ga, stream.get()) && std::string(static_cast<char *>(ga.data), 3) == "xyz");
    garray_release(&ga);
  }
  std::remove(a.c_str());
  const respmat::DriverPaths paths{a.c_str(), b.c_str(), output.c_str()};
  OwnedFile out(std::tmpfile()), err(std::tmpfile());
  int status;
  {
    const std::jthread response = interrupted_feed(a, "1,", "1\n"), phases = interrupted_feed(b, "0\n", "0.25\n");
    status = respmat::run_driver(paths, out.get(), err.get());
  }
  EXPECT_EQ(status, respmat::kExitOk) << contents_of(err.get());
  const std::string written = read_bytes(output);
  std::remove(a.c_str());
  std::remove(b.c_str());
  write_bytes(a, "1,1\n");
  write_bytes(b, "0\n0.25\n");
  ASSERT_EQ(respmat::run_driver(paths, out.get(), err.get()), respmat::kExitOk);
  EXPECT_EQ(written, read_bytes(output));
  sigaction(SIGUSR1, &saved_usr1, nullptr);
  sigaction(SIGPIPE, &saved_pipe, nullptr);
}

}  // namespace
